// Lines for the CUPS scheduler besides the debug log: "ERROR:", "INFO:" and "PAGE:".
#pragma once

void ReportError(const char *format, ...) __attribute__((format(printf, 1, 2)));
void ReportInfo(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Page accounting.  Every page record that reaches the printer is reported with
// "PAGE: n c": n counts the records sent in this job from 1, c is the number of
// times the printer prints each record (its own copies), so that CUPS counts
// what comes out of the printer.  ResetPageReports starts a job with c = 1.
void ResetPageReports();
void SetPrinterCopiesPerRecord(unsigned copies);
// Called by whichever thread has just sent a whole record; one at a time.
void ReportPageSent();
