#include "output/printer_output.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "runtime/cancel_signal.h"
#include "runtime/debug_log.h"
#include "runtime/status_messages.h"

DWORD count_bytes = 0;
int gOutputSize = 0;

static std::atomic<int> gPrinterFd{1};
static std::atomic<BOOL> gPrinterFailed{FALSE};
// The output failed by a fault of its own, reported with an "ERROR:" line; not
// set when a write failed after the job had been cancelled.
static std::atomic<BOOL> gPrinterError{FALSE};

void SetPrinterOutputFd(int fd) { gPrinterFd.store(fd, std::memory_order_relaxed); }

BOOL PrinterOutputFailed() { return gPrinterFailed.load(std::memory_order_acquire); }

BOOL PrinterOutputError() { return gPrinterError.load(std::memory_order_acquire); }

void ResetPrinterOutput() {
  gPrinterError.store(FALSE, std::memory_order_release);
  gPrinterFailed.store(FALSE, std::memory_order_release);
}

void FailPrinterOutput(const char *format, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  BOOL wasOk = FALSE;
  if (gPrinterFailed.compare_exchange_strong(wasOk, TRUE, std::memory_order_acq_rel)) {
    gPrinterError.store(TRUE, std::memory_order_release);
    ReportError("%s", text);
  } else
    DbgMsg("printer output already failed: %s", text);
}

BOOL WriteToPrinter(const void *data, size_t len) {
  // A printer connection that goes away must show as a failed write, not end the
  // filter by SIGPIPE before it can report the error.
  static std::once_flag ignorePipeSignal;
  std::call_once(ignorePipeSignal, [] { signal(SIGPIPE, SIG_IGN); });
  if (PrinterOutputFailed()) return FALSE;
  const char *p = static_cast<const char *>(data);
  size_t left = len;
  int fd = gPrinterFd.load(std::memory_order_relaxed);
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      // A cancelled job's backend is stopped together with the filter, so the
      // printer connection may close just before or after SIGTERM arrives here:
      // then the failed write is the cancel's doing and ends only the output.
      if (CancelArrivesWithin(kCancelGraceMs)) {
        gPrinterFailed.store(TRUE, std::memory_order_release);
        DbgMsg("WriteToPrinter::job cancelled, the printer connection is gone: %s", strerror(err));
        return FALSE;
      }
      gPrinterError.store(TRUE, std::memory_order_release);
      gPrinterFailed.store(TRUE, std::memory_order_release);
      ReportError("Unable to write print data: %s", strerror(err));
      return FALSE;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  count_bytes += static_cast<DWORD>(len);
  return TRUE;
}
