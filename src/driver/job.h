// What one job shares among its threads: the settings of the run, the printer
// output and its counters, the spool file, the ring of page slots and the image
// threads' gate.  FilterMain makes one per run and hands it to the threads;
// image threads hold it until they end, so it outlives the last of them.
#pragma once

#include <cstdint>

#include "driver/image_gate.h"
#include "driver/job_state.h"
#include "output/printer_output.h"
#include "output/spool_file.h"
#include "runtime/cancel_signal.h"
#include "runtime/win_types.h"

// How one run behaves where the job itself does not say: the filter binary
// keeps the defaults, a caller in the same process (a test, a fuzz entry) may
// not.
struct FilterSettings {
  // How long input that ends inside a header or a page, or a printer write that
  // fails, waits for a cancel on its way before it counts as an error.
  DWORD cancelGraceMs = kCancelGraceMs;
  // Where the printer job goes.
  int printerFd = 1;
  // Pages whose 8-bit bitmap (both planes) would take more bytes are refused like
  // any other page too large to read; 0 keeps the normal limit (32-bit sizes).
  uint64_t maxPageBytes = 0;
  // Whether the queue's location is asked of the CUPS destinations; without it
  // the location is empty and no CUPS server is asked.
  bool lookUpDestinations = true;
  // The switch directory of the debug log file; null for /tmp/VelPrinter.
  const char *logDir = nullptr;
};

struct Job {
  FilterSettings settings;
  PrinterOutput output;
  SpoolFile spool;
  JobRing ring;
  ImageGate gate;
};

// TRUE when no further page can reach the printer whole: the printer output or
// the spool file has failed.
inline BOOL OutputBroken(const Job *job) {
  return PrinterOutputFailed(&job->output) || SpoolFailed(&job->spool);
}
