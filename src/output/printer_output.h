// The printer connection of one job: standard output unless the job says
// otherwise, written whole or not at all, and the count of what went out.
#pragma once

#include <atomic>
#include <cstddef>

#include "runtime/cancel_signal.h"
#include "runtime/win_types.h"

struct PrinterOutput {
  int fd = 1;
  // How long a failed write waits for a cancel on its way (see WriteToPrinter).
  DWORD cancelGraceMs = kCancelGraceMs;
  // Bytes written so far (modulo 2^32); one writer at a time.
  DWORD count_bytes = 0;
  // Running total of PJL command text lengths, for the log.
  int outputSize = 0;
  // TRUE once a write has failed: nothing more is written.
  std::atomic<BOOL> failed{FALSE};
  // The output failed by a fault of its own, reported with an "ERROR:" line; not
  // set when a write failed after the job had been cancelled.
  std::atomic<BOOL> error{FALSE};
  // Page accounting: records sent so far, and how many times the printer prints
  // each (its own copies).
  std::atomic<unsigned> recordsSent{0};
  std::atomic<unsigned> copiesPerRecord{1};
};

// Writes all `len` bytes, retrying short and interrupted writes, and adds them to
// count_bytes.  On a real error it logs an "ERROR:" line once, remembers the
// failure and returns FALSE; later calls then write nothing and return FALSE.
// A write that fails once the job has been cancelled (SIGTERM has arrived, or
// arrives within cancelGraceMs) is expected: it is logged as a debug line and
// ends the output the same way, but is no error.
BOOL WriteToPrinter(PrinterOutput *out, const void *data, size_t len);

// TRUE once a write to the printer has failed: nothing more is written.
BOOL PrinterOutputFailed(const PrinterOutput *out);
// TRUE once the printer output has failed by an error (reported with an "ERROR:"
// line): the job can no longer be whole and fails.
BOOL PrinterOutputError(const PrinterOutput *out);

// Ends the printer output for a fault other than a failed write, one that leaves
// the job without a part it must hold (a page that cannot be compressed, say):
// writes the "ERROR:" line and then behaves as after a failed write, so that no
// further byte is written, the job gets no trailer and the filter exits with
// status 1.  Once the output has failed, later calls only log.
void FailPrinterOutput(PrinterOutput *out, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Every page record that reaches the printer is reported with "PAGE: n c": n
// counts the records sent in this job from 1, c is the number of times the
// printer prints each record, so that CUPS counts what comes out of the printer.
void SetPrinterCopiesPerRecord(PrinterOutput *out, unsigned copies);
// Called by whichever thread has just sent a whole record; one at a time.
void ReportPageSent(PrinterOutput *out);
