// Finding a filter's spool file from outside: its name is removed as soon as it
// is created, so it is reached through the descriptor the process holds.
#pragma once

#include <sys/types.h>

#include <string>

namespace spooltest {

// "/proc/PID/fd/N" for the descriptor of process `pid` that holds a spool file
// created in `dir`, or "" when it holds none.  `linkTarget` (may be null)
// receives what the descriptor's link names.
std::string OpenSpoolFile(pid_t pid, const std::string &dir, std::string *linkTarget = nullptr);

}  // namespace spooltest
