// The promises every filter run keeps, checked on its exit status, standard
// error and printer output with the inspector's parser and libjbig's decoder.
#pragma once

#include <string>

#include "filter_run.h"
#include "job_parser.h"

namespace fuzzentry {

// Exit status 0 or 1; status 1 with an "ERROR:" line, status 0 without one and
// with either no output or a well-formed job whose every page decodes to the
// black-dot count its record announces and holds the very stream libjbig's
// encoder makes of it.  Empty when kept, else what was broken.
// `job` (may be null) receives the parsed job.
std::string CheckFilterRun(const FilterRunResult &run, inspect::ParsedJob *job);

// Whether `err` holds a line beginning with "ERROR: ".
bool HasErrorLine(const std::string &err);

}  // namespace fuzzentry
