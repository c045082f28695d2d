// Lines for the CUPS scheduler besides the debug log: "ERROR:" and "INFO:" (the
// printer output reports "PAGE:").
#pragma once

void ReportError(const char *format, ...) __attribute__((format(printf, 1, 2)));
void ReportInfo(const char *format, ...) __attribute__((format(printf, 1, 2)));
