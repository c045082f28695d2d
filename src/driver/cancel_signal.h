// Cancelling the job.  CUPS sends the filter SIGTERM when its job is cancelled
// or held; the filter then stops taking pages, drops the pages in flight, lets a
// record already being written finish and closes the printer job.
//
// The signal handler only sets a flag and writes one byte to a pipe that is never
// read, so the pipe stays readable from then on.  Reads of the raster input wait
// on that pipe too, and a watcher thread wakes the slot waits once it fills.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "runtime/win_types.h"

// Installs the SIGTERM handler and starts the watcher thread.  Call once, from
// main, before the job starts.  FALSE (reported in the log) when the pipe or the
// thread cannot be made: the flag is still set by the signal, but a blocked read
// then waits for its input to end and slot waits for their next poll.
BOOL InstallCancelHandler();

// TRUE once SIGTERM has arrived.
BOOL CancelRequested();

// read(2) of up to `len` bytes that gives up as soon as the job is cancelled:
// then -1 with errno ECANCELED.  Interrupted reads are retried.
ssize_t ReadUnlessCancelled(int fd, void *buf, size_t len);
