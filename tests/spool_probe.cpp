#include "spool_probe.h"

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

namespace spooltest {

std::string OpenSpoolFile(pid_t pid, const std::string &dir, std::string *linkTarget) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  const std::string prefix = dir + "/zelvar-spool-";
  std::string found;
  DIR *d = opendir(fds.c_str());
  if (d == nullptr) return found;
  while (const dirent *e = readdir(d)) {
    std::string path = fds + "/" + e->d_name;
    char target[PATH_MAX];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (std::string(target).rfind(prefix, 0) != 0) continue;
    found = path;
    if (linkTarget) *linkTarget = target;
    break;
  }
  closedir(d);
  return found;
}

}  // namespace spooltest
