// The filter's run from arguments to exit status: argument checks, the raster
// stream and the PPD, the queue's location and the job options, the page loop,
// the end of the job and the clean-up.
#pragma once

// Runs one job as the CUPS filter does; returns the exit status (0 done, 1 when
// the job could not be printed whole).  Every process-wide variable is reset at
// the start, so it may be called again in the same process.
int FilterMain(int argc, char *argv[]);
