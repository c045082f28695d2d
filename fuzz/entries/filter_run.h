// Running the whole filter in process, as a fuzz entry does: its input, standard
// error and printer output in files of a scratch directory of this process
// (under $TMPDIR, else /tmp; left behind only when the process dies in a run).
#pragma once

#include <string>
#include <vector>

namespace fuzzentry {

struct FilterRunResult {
  int status = -1;
  std::string out;  // the printer job
  std::string err;  // standard error during the run
};

// Runs FilterMain on `raster` with `args` (argv[0] to argv[5]; the raster file
// is added as the seventh).  The destination lookup is off and pages are
// limited to kFuzzPageBytes during the run.
FilterRunResult RunFilterInProcess(const std::vector<std::string> &args, const std::string &raster);

// Largest 8-bit page bitmap a fuzzed job may ask for.
constexpr unsigned long long kFuzzPageBytes = 1ull << 20;

}  // namespace fuzzentry
