#include "job_check.h"

#include <span>

#include "libjbig_check.h"
#include "page_decoder.h"

namespace fuzzentry {

namespace {

// Pages up to this size are decoded; a fuzzed job stays well below it.
constexpr uint64_t kDecodePixels = uint64_t{1} << 26;

std::string FirstLines(const std::string &err) {
  size_t at = err.find("ERROR: ");
  return err.substr(at == std::string::npos ? 0 : at, 300);
}

}  // namespace

bool HasErrorLine(const std::string &err) {
  return err.rfind("ERROR: ", 0) == 0 || err.find("\nERROR: ") != std::string::npos;
}

std::string CheckFilterRun(const FilterRunResult &run, inspect::ParsedJob *jobOut) {
  if (run.status != 0 && run.status != 1)
    return "exit status " + std::to_string(run.status) + " is neither 0 nor 1";
  if (run.status == 1) {
    if (!HasErrorLine(run.err)) return "exit status 1 without an ERROR: line";
    return std::string();
  }
  if (HasErrorLine(run.err)) return "exit status 0 after an error: " + FirstLines(run.err);
  if (run.out.empty()) return std::string();

  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t *>(run.out.data()), run.out.size());
  inspect::ParsedJob job = inspect::ParseJob(bytes);
  if (!job.ok)
    return "exit status 0 with a malformed job: " + job.error + " at offset " +
           std::to_string(job.error_offset);
  if (job.pages.empty()) return "exit status 0 with a job of no page";
  for (size_t i = 0; i < job.pages.size(); ++i) {
    const inspect::PageRecord &page = job.pages[i];
    inspect::Bitmap bitmap;
    std::string error;
    if (static_cast<uint64_t>(page.page_width) * page.page_height > kDecodePixels) continue;
    if (!inspect::DecodePage(page, &bitmap, &error, kDecodePixels))
      return "page " + std::to_string(i + 1) + " does not decode: " + error;
    uint64_t dots = inspect::CountSetBits(bitmap);
    if (dots != page.blackDots)
      return "page " + std::to_string(i + 1) + " announces " + std::to_string(page.blackDots) +
             " black dots and holds " + std::to_string(dots);
    std::string difference = inspect::DifferenceFromLibjbig(page, bitmap);
    if (!difference.empty())
      return "page " + std::to_string(i + 1) + " is not libjbig's stream: " + difference;
  }
  if (jobOut) *jobOut = std::move(job);
  return std::string();
}

}  // namespace fuzzentry
