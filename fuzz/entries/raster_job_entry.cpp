// Fuzz entry: the bytes are the raster stream of a job.
#include <string>
#include <vector>

#include "filter_run.h"
#include "fuzz_entries.h"
#include "job_check.h"
#include "raster_pages.h"

namespace fuzzentry {

std::string RasterJob(const uint8_t *data, size_t size) {
  const std::string raster(reinterpret_cast<const char *>(data), size);
  FilterRunResult run =
      RunFilterInProcess({"zelvar", "42", "fuzz", "Fuzzed raster", "1", ""}, raster);
  inspect::ParsedJob job;
  std::string broken = CheckFilterRun(run, &job);
  if (!broken.empty() || run.status != 0) return broken;

  // A job that succeeded holds every page libcups's reader finds in the stream,
  // and a blank back page after an odd count of two-sided pages.
  RasterPages pages = CountRasterPages(raster);
  if (pages.lastCut) return "exit status 0 on a stream that ends inside a page";
  const size_t records = job.pages.size();
  if (run.out.empty()) {
    if (pages.whole != 0)
      return "exit status 0 and no output for a stream of " + std::to_string(pages.whole) +
             " pages";
    return std::string();
  }
  const bool blankBack = pages.firstDuplex && pages.whole % 2 == 1;
  if (records != pages.whole && !(blankBack && records == pages.whole + 1))
    return "the job holds " + std::to_string(records) + " pages, the stream " +
           std::to_string(pages.whole);
  return std::string();
}

}  // namespace fuzzentry
