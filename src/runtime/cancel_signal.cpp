#include "runtime/cancel_signal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "runtime/debug_log.h"
#include "runtime/detached_thread.h"
#include "runtime/win_helpers.h"

namespace {

std::atomic<BOOL> gCancelled{FALSE};
static_assert(std::atomic<BOOL>::is_always_lock_free, "the flag may be set in a signal handler");
// The pipe's ends; -1 until InstallCancelHandler made it.
std::atomic<int> gWakeRead{-1};
std::atomic<int> gWakeWrite{-1};

// The running job's wake-up; only the watcher thread calls it, never a handler.
struct WakeUp {
  std::mutex lock;
  void (*call)(void *) = nullptr;
  void *arg = nullptr;
};

WakeUp &JobWakeUp() {
  static WakeUp *wakeUp = new WakeUp;  // never destroyed: the watcher outlives main
  return *wakeUp;
}

// Sets the flag, then fills the pipe.  Async-signal-safe: an atomic store and
// write(2).
void MarkCancelled() {
  gCancelled.store(TRUE, std::memory_order_release);
  const int fd = gWakeWrite.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const char byte = 1;
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
  }
}

// The fallback when no watcher thread can run: a handler on whatever thread the
// signal lands; slot waits then see the flag at their next poll.
void OnTerminate(int) {
  const int saved = errno;
  MarkCancelled();
  errno = saved;
}

sigset_t TermSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  return set;
}

// Every other thread has SIGTERM blocked, so it waits here for this thread.
void *CancelWatcher(void *) {
  const sigset_t term = TermSet();
  int sig = 0;
  while (sigwait(&term, &sig) != 0 || sig != SIGTERM) {
  }
  MarkCancelled();
  DbgMsg("cancel::SIGTERM: no further pages are taken or sent");
  WakeUp &w = JobWakeUp();
  std::lock_guard<std::mutex> guard(w.lock);
  if (w.call != nullptr) w.call(w.arg);
  return nullptr;
}

}  // namespace

BOOL InstallCancelHandler() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    gWakeRead.store(fds[0], std::memory_order_relaxed);
    gWakeWrite.store(fds[1], std::memory_order_relaxed);
  } else {
    DbgMsg("cancel::pipe2 failed: %s, reads are not woken by a cancel", strerror(errno));
  }
  // Threads inherit the mask: from here on only the watcher takes SIGTERM, and
  // it takes it at once, wherever the other threads are.
  const sigset_t term = TermSet();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &term, &previous);
  const int rc = StartDetachedThread(CancelWatcher, nullptr);
  if (rc == 0) return TRUE;

  DbgMsg("cancel::no watcher thread (%s), SIGTERM goes to a handler", strerror(rc));
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnTerminate;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return FALSE;
}

void SetCancelWakeUp(void (*wakeUp)(void *), void *arg) {
  WakeUp &w = JobWakeUp();
  std::lock_guard<std::mutex> guard(w.lock);
  w.call = wakeUp;
  w.arg = arg;
}

BOOL CancelRequested() { return gCancelled.load(std::memory_order_acquire); }

BOOL CancelArrivesWithin(DWORD timeoutMs) {
  const int wake = gWakeRead.load(std::memory_order_relaxed);
  if (CancelRequested() || wake < 0) return CancelRequested();
  pollfd p = {wake, POLLIN, 0};
  const DWORD start = GetTickCount();
  for (DWORD waited = 0; waited < timeoutMs && !CancelRequested();
       waited = GetTickCount() - start) {
    const int n = poll(&p, 1, static_cast<int>(timeoutMs - waited));
    if (n > 0 || (n < 0 && errno != EINTR)) break;
  }
  return CancelRequested();
}

ssize_t ReadUnlessCancelled(int fd, void *buf, size_t len) {
  const int wake = gWakeRead.load(std::memory_order_relaxed);
  for (;;) {
    if (CancelRequested()) {
      errno = ECANCELED;
      return -1;
    }
    if (wake >= 0) {
      pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (p[1].revents != 0) continue;  // the flag is set by now
    }
    ssize_t n = read(fd, buf, len);
    if (n >= 0) return n;
    if (errno == EINTR || (errno == EAGAIN && wake >= 0)) continue;
    return -1;
  }
}
