/* A clock for comparing printer jobs byte for byte, preloaded into the filter by
 * scripts/output-corpus.sh.  The wall clock starts at a fixed moment and moves
 * only when a poll() times out, by its timeout: the job header's date, time and
 * millisecond tick come out the same in every run, and a wait that counts its
 * time on the wall clock still ends.  (A frozen clock, as faketime gives, would
 * make such a wait last for ever.) */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <poll.h>
#include <stdatomic.h>
#include <sys/time.h>
#include <time.h>

static const long long kStartMs = 1772600767000LL; /* 2026-03-04 05:06:07 UTC */
static atomic_llong offsetMs;

static long long NowMs(void) { return kStartMs + atomic_load(&offsetMs); }

time_t time(time_t *t) {
  time_t now = (time_t)(NowMs() / 1000);
  if (t) *t = now;
  return now;
}

int gettimeofday(struct timeval *tv, void *tz) {
  (void)tz;
  long long ms = NowMs();
  tv->tv_sec = (time_t)(ms / 1000);
  tv->tv_usec = (suseconds_t)(ms % 1000 * 1000);
  return 0;
}

int clock_gettime(clockid_t id, struct timespec *ts) {
  static int (*real)(clockid_t, struct timespec *);
  if (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE) {
    long long ms = NowMs();
    ts->tv_sec = (time_t)(ms / 1000);
    ts->tv_nsec = (long)(ms % 1000 * 1000000);
    return 0;
  }
  if (!real) real = (int (*)(clockid_t, struct timespec *))dlsym(RTLD_NEXT, "clock_gettime");
  return real(id, ts);
}

int poll(struct pollfd *fds, nfds_t n, int timeout) {
  static int (*real)(struct pollfd *, nfds_t, int);
  if (!real) real = (int (*)(struct pollfd *, nfds_t, int))dlsym(RTLD_NEXT, "poll");
  int rc = real(fds, n, timeout);
  if (rc == 0 && timeout > 0) atomic_fetch_add(&offsetMs, timeout);
  return rc;
}
