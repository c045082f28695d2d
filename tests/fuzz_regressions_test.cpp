// Every input the fuzzers found a fault with (fuzz/regressions/) and every seed
// of their corpus (fuzz/corpus/) goes through the same entry as its fuzz target
// again, and must keep all the promises the target checks.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filter_process.h"
#include "fuzz_entries.h"

namespace {

struct Target {
  const char *name;
  std::string (*entry)(const uint8_t *, size_t);
};

const Target kTargets[] = {
    {"raster_job", fuzzentry::RasterJob},
    {"job_arguments", fuzzentry::JobArguments},
    {"inspect", fuzzentry::InspectJob},
    {"jbig_encoder", fuzzentry::JbigEncoders},
};

std::vector<std::string> FilesIn(const std::string &dir) {
  std::vector<std::string> files;
  if (DIR *d = opendir(dir.c_str())) {
    while (const dirent *e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

size_t Replay(const Target &t, const std::string &kind) {
  const std::vector<std::string> files =
      FilesIn(std::string(ZELVAR_SOURCE_DIR) + "/fuzz/" + kind + "/" + t.name);
  for (const std::string &file : files) {
    const std::string bytes = filtertest::ReadFile(file);
    const std::string broken =
        t.entry(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    EXPECT_EQ(broken, "") << t.name << ": " << file;
  }
  return files.size();
}

TEST(FuzzRegressions, EveryKeptFindingKeepsThePromisesOfItsTarget) {
  size_t replayed = 0;
  for (const Target &t : kTargets) replayed += Replay(t, "regressions");
  EXPECT_GT(replayed, 0u);
}

TEST(FuzzRegressions, EverySeedOfTheCorpusKeepsThePromisesOfItsTarget) {
  for (const Target &t : kTargets) EXPECT_GT(Replay(t, "corpus"), 3u) << t.name;
}

}  // namespace
