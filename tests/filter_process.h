// Running the filter binary as the CUPS scheduler does, for the tests: queue name as
// argv[0], standard input and output in files of a scratch directory (or the
// faults a test plants there: a file-size limit, standard output closed, full or
// a pipe), standard error read as it comes, and a deadline.
#pragma once

#include <cups/raster.h>

#include <string>
#include <vector>

#include "test_raster.h"

namespace filtertest {

// A scratch directory, removed with its files at the end of the test.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;
  const std::string &path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct FilterResult {
  int status = -1;        // exit status, or -1 when the filter did not exit normally
  std::string out;        // standard output: the printer job
  std::string err;        // standard error: the CUPS status and debug lines
  bool timedOut = false;  // killed at the deadline
  int signal = 0;         // the signal that ended it, if any
};

struct FilterCall {
  std::vector<std::string> args;  // argv[0] (the queue) and the further arguments
  std::string stdinPath = "/dev/null";
  std::string stdoutPath;  // empty: a file in the scratch directory
  // NAME=VALUE entries; they replace this process's entries of the same names,
  // and this process's PPD is never passed on.
  std::vector<std::string> environment;
  int timeoutSeconds = 120;
  long long fileSizeLimit = -1;  // RLIMIT_FSIZE in bytes; -1: none
  bool closeStdout = false;      // standard output is a closed descriptor
  int stdoutFd = -1;             // standard output is this descriptor (a pipe, say)
};

FilterResult RunFilter(const ScratchDir &dir, const FilterCall &call);

// "exit 0", "exit 1", "killed by signal N", "hung (killed at the deadline)".
std::string HowItEnded(const FilterResult &r);

// The environment of a filter started by a test: this process's, less PPD and
// less the names `own` sets, then `own`.
std::vector<std::string> FilterEnvironment(const std::vector<std::string> &own);

// The usual six CUPS arguments for queue "zelvar", with the raster file as the
// seventh when `rasterPath` is not empty.
std::vector<std::string> JobArgs(const std::string &rasterPath, const std::string &options = "");

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
// Number of non-overlapping occurrences of `what` in `text`.
size_t Count(const std::string &text, const std::string &what);
// Whether `text` holds a log record's time stamp "[YYYY/MM/DD hh:mm:ss] " at `pos`.
bool TimeStampAt(const std::string &text, size_t pos);
// A valid raster page of the given size and depth, white apart from a dark block.
testraster::Page SamplePage(unsigned width, unsigned height, unsigned bits, bool twoColour = false);

}  // namespace filtertest
