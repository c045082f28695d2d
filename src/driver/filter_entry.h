// The filter's run from arguments to exit status: argument checks, the raster
// stream and the PPD, the queue's location and the job options, the page loop,
// the end of the job and the clean-up.
#pragma once

#include "driver/job.h"
#include "runtime/win_types.h"

// Runs one job as the CUPS filter does; returns the exit status (0 done, 1 when
// the job could not be printed whole).  Everything the job shares is made for
// the run, so it may be called again in the same process.
int FilterMain(int argc, char *argv[], const FilterSettings &settings = FilterSettings{});
