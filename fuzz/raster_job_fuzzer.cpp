// libFuzzer target: fuzzentry::RasterJob.  A broken promise aborts, so libFuzzer keeps
// the input.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "filter_run.h"
#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string broken = fuzzentry::RasterJob(data, size);
  if (!broken.empty()) {
    fprintf(stderr, "zelvar fuzz (raster_job): %s\n", broken.c_str());
    fuzzentry::KeepLastRunLog();
    abort();
  }
  return 0;
}
