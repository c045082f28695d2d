#include "page_decoder.h"

// The library's header declares C functions without saying so.
extern "C" {
#include <jbig.h>
}

#include <bit>
#include <cstring>

namespace inspect {

namespace {

void PutBe32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Owns a decoder state for one call.
struct Decoder {
  jbg_dec_state state;
  Decoder() { jbg_dec_init(&state); }
  ~Decoder() { jbg_dec_free(&state); }
  Decoder(const Decoder &) = delete;
  Decoder &operator=(const Decoder &) = delete;
};

}  // namespace

std::array<uint8_t, 20> JbigHeaderFor(uint32_t width, uint32_t height) {
  std::array<uint8_t, 20> bih{};
  bih[0] = 0;  // DL: lowest resolution layer
  bih[1] = 0;  // D: no further layers
  bih[2] = 1;  // P: one plane
  bih[3] = 0;
  PutBe32(&bih[4], width);    // XD
  PutBe32(&bih[8], height);   // YD
  PutBe32(&bih[12], height);  // L0: one stripe
  bih[16] = 0;                // MX
  bih[17] = 0;                // MY
  bih[18] = 0x00;             // order
  bih[19] = 0x08;             // options: TPBON
  return bih;
}

bool DecodePage(const PageRecord &page, Bitmap *out, std::string *error, uint64_t maxPixels) {
  uint64_t pixels = static_cast<uint64_t>(page.page_width) * page.page_height;
  if (page.page_width == 0 || page.page_height == 0) {
    *error = "page has no pixels";
    return false;
  }
  if (pixels > maxPixels) {
    *error = "page of " + std::to_string(page.page_width) + " x " +
             std::to_string(page.page_height) + " pixels is larger than the decoder allows";
    return false;
  }
  // The decoder takes its input through a non-const pointer; give it a copy.
  std::array<uint8_t, 20> bih = JbigHeaderFor(page.page_width, page.page_height);
  std::vector<uint8_t> stream(bih.size() + page.data.size());
  memcpy(stream.data(), bih.data(), bih.size());
  if (!page.data.empty()) memcpy(stream.data() + bih.size(), page.data.data(), page.data.size());

  Decoder d;
  jbg_dec_maxsize(&d.state, page.page_width, page.page_height);
  size_t used = 0;
  int rc = jbg_dec_in(&d.state, stream.data(), stream.size(), &used);
  // Error codes carry a detail in their low four bits.
  if ((rc & ~0xF) == JBG_EAGAIN) {
    *error = "data ends before the page is complete";
    return false;
  }
  if ((rc & ~0xF) != JBG_EOK) {
    *error = std::string("JBIG decoder: ") + jbg_strerror(rc);
    return false;
  }
  if (used != stream.size()) {
    *error = std::to_string(stream.size() - used) + " bytes after the end of the page's stream";
    return false;
  }
  if (jbg_dec_getwidth(&d.state) != page.page_width ||
      jbg_dec_getheight(&d.state) != page.page_height) {
    *error = "decoded page size differs from the page header";
    return false;
  }
  out->width = page.page_width;
  out->height = page.page_height;
  out->linebyte = (static_cast<size_t>(page.page_width) + 7) / 8;
  size_t bytes = out->linebyte * out->height;
  const unsigned char *image = jbg_dec_getimage(&d.state, 0);
  if (image == nullptr || jbg_dec_getsize(&d.state) != bytes) {
    *error = "decoder returned no image of the page's size";
    return false;
  }
  out->bits.assign(image, image + bytes);
  return true;
}

uint64_t CountSetBits(const Bitmap &bitmap) {
  uint64_t n = 0;
  for (uint8_t b : bitmap.bits) n += static_cast<uint64_t>(std::popcount(b));
  return n;
}

}  // namespace inspect
