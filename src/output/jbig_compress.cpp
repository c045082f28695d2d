#include "output/jbig_compress.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "output/jbig_encoder.h"
#include "output/jbig_libjbig.h"
#include "runtime/debug_log.h"

namespace {

// Set before the first page is read, read for every page by the image thread
// that compresses it.
std::atomic<JbigEncoder> gJbigEncoder{JbigEncoder::kBuiltIn};

void PutBe32(BYTE *p, uint32_t v) {
  p[0] = static_cast<BYTE>(v >> 24);
  p[1] = static_cast<BYTE>(v >> 16);
  p[2] = static_cast<BYTE>(v >> 8);
  p[3] = static_cast<BYTE>(v);
}

// The image header (BIH) of a one-plane, one-layer, one-stripe image with the AT
// pixel fixed.
BOOL AppendImageHeader(JbigOutputArea *area, uint32_t width, uint32_t height, int64_t order,
                       int64_t options) {
  BYTE bih[kJbigHeaderSize] = {};
  bih[2] = 1;  // P: one plane
  PutBe32(&bih[4], width);
  PutBe32(&bih[8], height);
  PutBe32(&bih[12], height);  // L0: the whole page is one stripe
  bih[18] = static_cast<BYTE>(order);
  bih[19] = static_cast<BYTE>(options & 0x7F);
  return AppendToOutputArea(area, bih, sizeof bih);
}

// Clears the bits past `width` at the end of every row.
void ClearRowPadding(BYTE *bits, uint32_t width, uint32_t height) {
  if (width % 8 == 0) return;
  const size_t linebyte = (static_cast<size_t>(width) + 7) / 8;
  const BYTE mask = static_cast<BYTE>(0xFF << (8 - width % 8));
  for (size_t y = 0; y < height; ++y) bits[y * linebyte + linebyte - 1] &= mask;
}

}  // namespace

void ChooseJbigEncoder(JbigEncoder encoder) {
  gJbigEncoder.store(encoder, std::memory_order_relaxed);
}

JbigEncoder ChosenJbigEncoder() { return gJbigEncoder.load(std::memory_order_relaxed); }

void ChooseJbigEncoderFromEnvironment() {
  const char *value = getenv(kJbigEncoderVariable);
  JbigEncoder encoder = JbigEncoder::kBuiltIn;
  if (value != nullptr && strcmp(value, "libjbig") == 0) {
    encoder = JbigEncoder::kLibjbig;
    DbgMsg("main::%s=libjbig: pages are compressed with libjbig", kJbigEncoderVariable);
  } else if (value != nullptr && value[0] != '\0' && strcmp(value, "builtin") != 0) {
    DbgMsg("main::%s=%s is not known, the built-in encoder is used", kJbigEncoderVariable, value);
  }
  ChooseJbigEncoder(encoder);
}

int64_t Ferrun_JBIGCompression(uint64_t width, uint64_t height, BYTE *inbuf, JbigOutputArea *outbuf,
                               int64_t *TotalOutLen, int64_t *OutJBGDataTimes, int64_t order,
                               int64_t options, int64_t RemoveHeader) {
  if (TotalOutLen) *TotalOutLen = 0;
  if (OutJBGDataTimes) *OutJBGDataTimes = 0;
  // The image header holds width and height as 32-bit numbers, and an image
  // cannot be empty.
  if (inbuf == nullptr || outbuf == nullptr || width == 0 || height == 0 || width > 0xFFFFFFFFu ||
      height > 0xFFFFFFFFu) {
    DbgMsg("Ferrun_JBIGCompression::page %llu x %llu not encoded",
           static_cast<unsigned long long>(width), static_cast<unsigned long long>(height));
    return -1;
  }
  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
  ClearRowPadding(inbuf, w, h);

  if (ChosenJbigEncoder() == JbigEncoder::kLibjbig || order != kJbigOrder ||
      options != kJbigOptions) {
    int64_t n = LibjbigCompress(w, h, inbuf, outbuf, OutJBGDataTimes, order, options, RemoveHeader);
    if (n < 0) DbgMsg("Ferrun_JBIGCompression::out of memory for a page of %u x %u", w, h);
    if (n >= 0 && TotalOutLen) *TotalOutLen = n;
    return n;
  }

  const size_t startSize = outbuf->size;
  if ((!RemoveHeader && !AppendImageHeader(outbuf, w, h, order, options)) ||
      !EncodeJbigStripe(inbuf, w, h, outbuf)) {
    DbgMsg("Ferrun_JBIGCompression::out of memory for a page of %u x %u", w, h);
    outbuf->size = startSize;
    return -1;
  }
  const int64_t n = static_cast<int64_t>(outbuf->size - startSize);
  if (OutJBGDataTimes) *OutJBGDataTimes = 2;  // the header and the stripe
  if (TotalOutLen) *TotalOutLen = n;
  return n;
}
