// Running the whole filter in process, as a fuzz entry does: its input, standard
// error and printer output in memory files; the standard error of a run that
// is a finding goes to stderr.txt in a scratch directory of this process
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

// Copies the last run's standard error to the scratch directory's stderr.txt;
// called before a finding ends the process (and by the sanitizers' death
// callback).
void KeepLastRunLog();

// Largest 8-bit page bitmap a fuzzed job may ask for.
constexpr unsigned long long kFuzzPageBytes = 1ull << 20;

}  // namespace fuzzentry
