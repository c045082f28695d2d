// Fuzz entry: the bytes describe a 1-bit page, which the filter's own JBIG encoder
// and libjbig's must turn into the same bytes.
//
//   bytes 0-1  width - 1, little-endian (1 to 65536 pixels)
//   bytes 2-3  little-endian: bits 0-11 height - 1 (1 to 4096 rows, fewer when
//              the page would pass kMaxPixels, 2^17), bit 15 painter mode, bit 14
//              repeat
//   the rest   raw mode: the page's bytes row after row, then zeros, or the bytes
//              again with repeat;
//              painter mode: steps of 3 bytes on a white page, from its first
//              pixel in reading order: skip (bytes 0-1, little-endian) white
//              pixels, then paint the 8 pixels of byte 2; a skip of 0xFFFF
//              instead copies the row above into the current row and moves to
//              the next row's start.
// Long white runs, typical rows and pages wide enough for context 0 to climb its
// whole ladder of states take a few bytes in painter mode.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_entries.h"
#include "output/jbig_compress.h"
#include "output/jbig_encoder.h"
#include "output/jbig_libjbig.h"

namespace fuzzentry {

namespace {

constexpr uint64_t kMaxPixels = uint64_t{1} << 17;

struct FuzzPage {
  uint32_t width = 0, height = 0;
  size_t linebyte = 0;
  std::vector<uint8_t> bits;

  void Set(uint64_t at) {
    const uint64_t x = at % width, y = at / width;
    bits[y * linebyte + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
};

FuzzPage PageFrom(const uint8_t *data, size_t size) {
  FuzzPage p;
  p.width = 1 + (data[0] | data[1] << 8);
  const unsigned field = data[2] | data[3] << 8;
  p.height = std::min<uint32_t>(1 + (field & 0xFFF), std::max<uint64_t>(1, kMaxPixels / p.width));
  p.linebyte = (p.width + 7) / 8;
  p.bits.assign(p.linebyte * p.height, 0);
  const uint8_t *body = data + 4;
  const size_t n = size - 4;
  if (!(field & 0x8000)) {
    const bool repeat = field & 0x4000;
    for (size_t i = 0; i < p.bits.size() && (i < n || (repeat && n > 0)); ++i)
      p.bits[i] = body[i % n];
  } else {
    const uint64_t pixels = uint64_t{p.width} * p.height;
    uint64_t at = 0;
    for (size_t i = 0; i + 3 <= n && at < pixels; i += 3) {
      const unsigned skip = body[i] | body[i + 1] << 8;
      if (skip == 0xFFFF) {
        const uint64_t y = at / p.width;
        if (y > 0) memcpy(&p.bits[y * p.linebyte], &p.bits[(y - 1) * p.linebyte], p.linebyte);
        at = (y + 1) * p.width;
        continue;
      }
      at += skip;
      for (unsigned b = 0; b < 8 && at < pixels; ++b, ++at)
        if (body[i + 2] & (0x80 >> b)) p.Set(at);
    }
  }
  if (p.width % 8)
    for (size_t y = 0; y < p.height; ++y)
      p.bits[y * p.linebyte + p.linebyte - 1] &= static_cast<uint8_t>(0xFF << (8 - p.width % 8));
  return p;
}

}  // namespace

std::string JbigEncoders(const uint8_t *data, size_t size) {
  if (size < 4) return std::string();
  FuzzPage page = PageFrom(data, size);
  JbigOutputArea own, reference;
  if (!EncodeJbigStripe(page.bits.data(), page.width, page.height, &own))
    return "the own encoder fails on a page of " + std::to_string(page.width) + " x " +
           std::to_string(page.height);
  std::vector<uint8_t> input(page.bits);
  if (LibjbigCompress(page.width, page.height, input.data(), &reference, nullptr, kJbigOrder,
                      kJbigOptions, 1) < 0)
    return "libjbig fails";
  if (own.size == reference.size && memcmp(own.data, reference.data, own.size) == 0)
    return std::string();
  size_t at = 0;
  while (at < own.size && at < reference.size && own.data[at] == reference.data[at]) ++at;
  return "the encoders differ on a page of " + std::to_string(page.width) + " x " +
         std::to_string(page.height) + ": " + std::to_string(own.size) + " bytes against " +
         std::to_string(reference.size) + ", first difference at byte " + std::to_string(at);
}

}  // namespace fuzzentry
