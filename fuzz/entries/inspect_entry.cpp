// Fuzz entry: the bytes are a printer job for the inspector.
#include <span>
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "job_parser.h"
#include "page_decoder.h"

namespace fuzzentry {

namespace {

// Pages up to this size are decoded, so that one input costs little memory.
constexpr uint64_t kDecodePixels = uint64_t{1} << 22;

bool Inside(std::span<const uint8_t> whole, std::span<const uint8_t> part) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

std::string InspectJob(const uint8_t *data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  inspect::ParsedJob job = inspect::ParseJob(bytes);
  if (job.size != size) return "size differs from the input's";
  if (job.error_offset > size) return "error offset beyond the input";
  if (job.ok != job.error.empty()) return "ok and error disagree";
  if (job.ok && !job.has_trailer) return "accepted without a trailer";
  for (const inspect::HeaderLine &line : job.header_lines)
    if (line.offset + line.text.size() > size) return "a header line beyond the input";

  for (size_t i = 0; i < job.pages.size(); ++i) {
    const inspect::PageRecord &page = job.pages[i];
    if (!Inside(bytes, page.data) || page.data.size() != page.compsize ||
        page.data_offset + page.compsize > size)
      return "page " + std::to_string(i + 1) + "'s data lies beyond the input";
    inspect::Bitmap bitmap;
    std::string error;
    if (inspect::DecodePage(page, &bitmap, &error, kDecodePixels)) {
      if (bitmap.width != page.page_width || bitmap.height != page.page_height ||
          bitmap.bits.size() != bitmap.linebyte * bitmap.height)
        return "page " + std::to_string(i + 1) + " decodes to another size";
      if (inspect::CountSetBits(bitmap) > uint64_t{bitmap.width} * bitmap.height)
        return "more set bits than pixels";
    } else if (error.empty()) {
      return "a page fails to decode without a reason";
    }
  }

  // A job accepted whole is no longer accepted one byte shorter or longer.
  if (job.ok && size > 0) {
    if (inspect::ParseJob(bytes.first(size - 1)).ok) return "accepted with its last byte cut";
    std::vector<uint8_t> longer(data, data + size);
    longer.push_back(0);
    if (inspect::ParseJob(longer).ok) return "accepted with a byte added";
  }
  return std::string();
}

}  // namespace fuzzentry
