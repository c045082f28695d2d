#include "driver/cancel_signal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "driver/job_state.h"
#include "runtime/debug_log.h"

namespace {

std::atomic<BOOL> gCancelled{FALSE};
static_assert(std::atomic<BOOL>::is_always_lock_free, "the flag is set in a signal handler");
// The pipe's ends; -1 until InstallCancelHandler made it.
std::atomic<int> gWakeRead{-1};
std::atomic<int> gWakeWrite{-1};

// Async-signal-safe: an atomic store and write(2).
void OnTerminate(int) {
  const int saved = errno;
  gCancelled.store(TRUE, std::memory_order_release);
  const int fd = gWakeWrite.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const char byte = 1;
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

// Waits until the pipe is readable, that is until the job is cancelled.
void WaitForCancel(int fd) {
  pollfd p = {fd, POLLIN, 0};
  while (poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
}

void *CancelWatcher(void *) {
  WaitForCancel(gWakeRead.load(std::memory_order_relaxed));
  DbgMsg("cancel::SIGTERM: no further pages are taken or sent");
  // Every slot wait looks at the flag when it wakes.
  NotifySlotChange();
  return nullptr;
}

}  // namespace

BOOL InstallCancelHandler() {
  int fds[2];
  const bool piped = pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0;
  if (piped) {
    gWakeRead.store(fds[0], std::memory_order_relaxed);
    gWakeWrite.store(fds[1], std::memory_order_relaxed);
  } else {
    DbgMsg("cancel::pipe2 failed: %s", strerror(errno));
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnTerminate;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  if (sigaction(SIGTERM, &sa, nullptr) != 0) {
    DbgMsg("cancel::sigaction failed: %s", strerror(errno));
    return FALSE;
  }
  if (!piped) return FALSE;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t id;
  int rc = pthread_create(&id, &attr, CancelWatcher, nullptr);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    DbgMsg("cancel::no watcher thread: %s", strerror(rc));
    return FALSE;
  }
  return TRUE;
}

BOOL CancelRequested() { return gCancelled.load(std::memory_order_acquire); }

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
