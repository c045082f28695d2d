#include "runtime/status_messages.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include "runtime/control_escape.h"

namespace {

void Report(const char *prefix, const char *format, va_list ap) {
  char raw[2048], text[2048];
  vsnprintf(raw, sizeof raw, format, ap);
  EscapeControls(raw, text, sizeof text - 1);
  char line[sizeof text + 16];
  int n = snprintf(line, sizeof line, "%s: %s\n", prefix, text);
  if (n > 0) {
    size_t len = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
    ssize_t ignored = write(2, line, len);
    (void)ignored;
  }
}

}  // namespace

void ReportError(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  Report("ERROR", format, ap);
  va_end(ap);
}

void ReportInfo(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  Report("INFO", format, ap);
  va_end(ap);
}
