// Decoding a page record's data with libjbig's decoder, after putting back the
// image header the filter leaves out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job_parser.h"

namespace inspect {

// A 1-bit page: `height` rows of `linebyte` = ceil(width / 8) bytes, the leftmost
// pixel in the most significant bit, a set bit a dot of toner.
struct Bitmap {
  uint32_t width = 0;
  uint32_t height = 0;
  size_t linebyte = 0;
  std::vector<uint8_t> bits;
};

// Largest page the decoder is allowed to allocate, in pixels (a two-colour A3
// sheet at 1200 dpi is about 0.7e9).
constexpr uint64_t kDecodeMaxPixels = uint64_t{1} << 31;

// The 20-byte image header for a page stream as the filter encodes it: one plane,
// one layer, the whole page as one stripe, AT pixel fixed, order 0, TPBON.
std::array<uint8_t, 20> JbigHeaderFor(uint32_t width, uint32_t height);

// Decodes the page's data into `out`.  On failure returns false and says why in
// `error`.  Pages above `maxPixels` pixels are refused before anything is
// allocated.
bool DecodePage(const PageRecord &page, Bitmap *out, std::string *error,
                uint64_t maxPixels = kDecodeMaxPixels);

// Number of set bits of the page.
uint64_t CountSetBits(const Bitmap &bitmap);

}  // namespace inspect
