#include "raster_pages.h"

#include <cstring>
#include <vector>

namespace fuzzentry {

namespace {

struct MemoryStream {
  const std::string *bytes;
  size_t pos;
};

ssize_t ReadMemory(void *ctx, unsigned char *buffer, size_t bytes) {
  MemoryStream *m = static_cast<MemoryStream *>(ctx);
  size_t n = m->bytes->size() - m->pos;
  if (n > bytes) n = bytes;
  memcpy(buffer, m->bytes->data() + m->pos, n);
  m->pos += n;
  return static_cast<ssize_t>(n);
}

// Lines are read in pieces of at most this many bytes, so that a header
// claiming huge lines costs no memory.
constexpr unsigned kPiece = 1 << 16;

}  // namespace

RasterPages CountRasterPages(const std::string &stream) {
  RasterPages pages;
  MemoryStream m = {&stream, 0};
  cups_raster_t *ras = cupsRasterOpenIO(ReadMemory, &m, CUPS_RASTER_READ);
  if (ras == nullptr) return pages;
  std::vector<unsigned char> piece(kPiece);
  cups_page_header2_t h;
  while (!pages.lastCut && cupsRasterReadHeader2(ras, &h)) {
    if (pages.whole == 0) {
      unsigned duplex;
      memcpy(&duplex, &h.Duplex, sizeof duplex);
      pages.firstDuplex = duplex == 1;
    }
    // The page's bytes, which libcups hands out line by line whatever the piece
    // size; a stream that ends early yields fewer.
    unsigned long long left = static_cast<unsigned long long>(h.cupsBytesPerLine) * h.cupsHeight;
    while (left > 0) {
      unsigned ask = left < kPiece ? static_cast<unsigned>(left) : kPiece;
      unsigned got = cupsRasterReadPixels(ras, piece.data(), ask);
      if (got == 0) {
        pages.lastCut = true;
        break;
      }
      left -= got;
    }
    if (!pages.lastCut) ++pages.whole;
  }
  cupsRasterClose(ras);
  return pages;
}

}  // namespace fuzzentry
