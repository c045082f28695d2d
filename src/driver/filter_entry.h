// The filter's run from arguments to exit status: argument checks, the raster
// stream and the PPD, the queue's location and the job options, the page loop,
// the end of the job and the clean-up.
#pragma once

#include "runtime/cancel_signal.h"
#include "runtime/win_types.h"

// How one run behaves where the job itself does not say: the filter binary
// keeps the defaults, a caller in the same process (a fuzz entry) may not.
struct FilterSettings {
  // How long input that ends inside a header or a page waits for a cancel on
  // its way before the cut counts as an error.
  DWORD cancelGraceMs = kCancelGraceMs;
};

// Runs one job as the CUPS filter does; returns the exit status (0 done, 1 when
// the job could not be printed whole).  Every process-wide variable is reset at
// the start, so it may be called again in the same process.
int FilterMain(int argc, char *argv[], const FilterSettings &settings = FilterSettings{});
