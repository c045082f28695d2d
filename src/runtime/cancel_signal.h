// Cancelling the job.  CUPS sends the filter SIGTERM when its job is cancelled
// or held; the filter then stops taking pages, drops the pages in flight, lets a
// record already being written finish and closes the printer job.
//
// SIGTERM is blocked in every thread but a watcher, which waits for it, sets a
// flag, writes one byte to a pipe that is never read (so the pipe stays
// readable from then on) and calls the running job's wake-up, which wakes its
// waiting threads.  Reads of the raster input wait on that pipe too.  The flag
// and the pipe are the process's: a cancel ends whatever job the process runs.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "runtime/win_types.h"

// Blocks SIGTERM and starts the watcher thread.  Call once, from main, before
// any other thread starts (threads inherit the signal mask).  FALSE (reported
// in the log) when the watcher cannot start: a handler then sets the flag and
// fills the pipe, and waiting threads see the flag at their next poll.
BOOL InstallCancelHandler();

// The running job's wake-up: called by the watcher, once the flag is set, with
// `arg`.  A job sets it when it starts and clears it (null) before it ends;
// setting waits for a call under way to return.
void SetCancelWakeUp(void (*wakeUp)(void *), void *arg);

// TRUE once SIGTERM has arrived.
BOOL CancelRequested();

// How long input that ends early waits for a cancel on its way before the end
// counts as an error.  CUPS sends SIGTERM to the upstream filters too, just
// before this one, and a killed filter's end of the pipe closes: input cut
// short is the cancel's doing when the signal follows at once.
constexpr DWORD kCancelGraceMs = 250;

// Waits up to timeoutMs for the job to be cancelled; TRUE when it is.
BOOL CancelArrivesWithin(DWORD timeoutMs);

// read(2) of up to `len` bytes that gives up as soon as the job is cancelled:
// then -1 with errno ECANCELED.  Interrupted reads are retried.
ssize_t ReadUnlessCancelled(int fd, void *buf, size_t len);
