#include "libjbig_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "output/jbig_compress.h"
#include "output/jbig_libjbig.h"

namespace inspect {

std::string DifferenceFromLibjbig(const PageRecord &page, const Bitmap &bitmap) {
  // The encoder may write into its input (it clears bits past the width).
  std::vector<uint8_t> bits(bitmap.bits);
  JbigOutputArea area;
  if (bits.empty() || LibjbigCompress(bitmap.width, bitmap.height, bits.data(), &area, nullptr,
                                      kJbigOrder, kJbigOptions, 1) < 0)
    return "libjbig cannot encode the page";
  const size_t n = std::min(area.size, page.data.size());
  size_t at = 0;
  while (at < n && area.data[at] == page.data[at]) ++at;
  if (at == n && area.size == page.data.size()) return std::string();
  return "libjbig makes " + std::to_string(area.size) + " bytes of the page, its record holds " +
         std::to_string(page.data.size()) + "; the first difference is at byte " +
         std::to_string(at);
}

}  // namespace inspect
