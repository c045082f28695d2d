// The printer connection: standard output, written whole or not at all.
#pragma once

#include <cstddef>

#include "runtime/win_types.h"

// Bytes written to the printer so far (modulo 2^32); one writer at a time.
extern DWORD count_bytes;
// Running total of PJL command text lengths, for the log.
extern int gOutputSize;

// Where printer bytes go; standard output unless a test or front end says otherwise.
void SetPrinterOutputFd(int fd);

// Writes all `len` bytes, retrying short and interrupted writes, and adds them to
// count_bytes.  On a real error it logs an "ERROR:" line once, remembers the
// failure and returns FALSE; later calls then write nothing and return FALSE.
// A write that fails once the job has been cancelled (SIGTERM has arrived, or
// arrives within kCancelGraceMs) is expected: it is logged as a debug line and
// ends the output the same way, but is no error.
BOOL WriteToPrinter(const void *data, size_t len);

// TRUE once a write to the printer has failed: nothing more is written.
BOOL PrinterOutputFailed();
// TRUE once the printer output has failed by an error (reported with an "ERROR:"
// line): the job can no longer be whole and fails.
BOOL PrinterOutputError();

// Ends the printer output for a fault other than a failed write, one that leaves
// the job without a part it must hold (a page that cannot be compressed, say):
// writes the "ERROR:" line and then behaves as after a failed write, so that no
// further byte is written, the job gets no trailer and the filter exits with
// status 1.  Once the output has failed, later calls only log.
void FailPrinterOutput(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Forgets an earlier failure (for a new job in the same process).
void ResetPrinterOutput();
