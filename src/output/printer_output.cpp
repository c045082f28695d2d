#include "output/printer_output.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "runtime/debug_log.h"
#include "runtime/status_messages.h"

BOOL PrinterOutputFailed(const PrinterOutput *out) {
  return out->failed.load(std::memory_order_acquire);
}

BOOL PrinterOutputError(const PrinterOutput *out) {
  return out->error.load(std::memory_order_acquire);
}

void FailPrinterOutput(PrinterOutput *out, const char *format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  BOOL wasOk = FALSE;
  if (out->failed.compare_exchange_strong(wasOk, TRUE, std::memory_order_acq_rel)) {
    out->error.store(TRUE, std::memory_order_release);
    ReportError("%s", text);
  } else
    DbgMsg("printer output already failed: %s", text);
}

BOOL WriteToPrinter(PrinterOutput *out, const void *data, size_t len) {
  // A printer connection that goes away must show as a failed write, not end the
  // filter by SIGPIPE before it can report the error.
  static std::once_flag ignorePipeSignal;
  std::call_once(ignorePipeSignal, [] { signal(SIGPIPE, SIG_IGN); });
  if (PrinterOutputFailed(out)) return FALSE;
  const char *p = static_cast<const char *>(data);
  size_t left = len;
  while (left > 0) {
    ssize_t n = write(out->fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      // A cancelled job's backend is stopped together with the filter, so the
      // printer connection may close just before or after SIGTERM arrives here:
      // then the failed write is the cancel's doing and ends only the output.
      if (CancelArrivesWithin(out->cancelGraceMs)) {
        out->failed.store(TRUE, std::memory_order_release);
        DbgMsg("WriteToPrinter::job cancelled, the printer connection is gone: %s", strerror(err));
        return FALSE;
      }
      out->error.store(TRUE, std::memory_order_release);
      out->failed.store(TRUE, std::memory_order_release);
      ReportError("Unable to write print data: %s", strerror(err));
      return FALSE;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  out->count_bytes += static_cast<DWORD>(len);
  return TRUE;
}

void SetPrinterCopiesPerRecord(PrinterOutput *out, unsigned copies) {
  out->copiesPerRecord.store(copies < 1 ? 1 : copies, std::memory_order_relaxed);
}

void ReportPageSent(PrinterOutput *out) {
  unsigned n = out->recordsSent.fetch_add(1, std::memory_order_relaxed) + 1;
  char line[64];
  int len = snprintf(line, sizeof line, "PAGE: %u %u\n", n,
                     out->copiesPerRecord.load(std::memory_order_relaxed));
  if (len > 0) {
    ssize_t ignored = write(2, line, static_cast<size_t>(len));
    (void)ignored;
  }
}
