// Running the filter binary with a deadline and with the faults a test plants
// around it: a limit on the size of files it writes, standard output closed or a
// pipe, a preloaded library.
#pragma once

#include <string>

#include "filter_process.h"

namespace filtertest {

struct BoundedCall {
  FilterCall call;
  int timeoutSeconds = 120;
  long long fileSizeLimit = -1;  // RLIMIT_FSIZE in bytes; -1: none
  bool closeStdout = false;      // standard output is a closed descriptor
  int stdoutFd = -1;             // standard output is this descriptor (a pipe, say)
};

struct BoundedResult : FilterResult {
  bool timedOut = false;  // killed at the deadline
  int signal = 0;         // the signal that ended it, if any
};

BoundedResult RunFilterBounded(const ScratchDir &dir, const BoundedCall &bc);

// "exit 0", "exit 1", "killed by signal N", "hung (killed after N s)".
std::string HowItEnded(const BoundedResult &r);

}  // namespace filtertest
