// Pages for the image tests: an 8-bit page laid out as raster reading leaves
// it (rows padded to multiples of 32, white padding, red plane after the black
// plane in two-colour mode), in a block of exactly `pagesize` bytes so that the
// sanitizers see any access beyond it.
#pragma once

#include <cups/raster.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/halftone_matrix.h"
#include "page/page.h"

namespace imagetest {

inline DWORD RoundUp32(DWORD v) { return (v + 31) & ~31u; }

struct TestSlot {
  Page job{};

  // The padded bitmap for the header's content size.
  explicit TestSlot(const cups_page_header2_t &header) {
    const DWORD planeRows = RoundUp32(header.cupsHeight);
    Init(header, RoundUp32(header.cupsWidth),
         header.cupsInteger[4] == 1 ? 2 * planeRows : planeRows);
  }
  // A bitmap of any geometry, one byte per pixel.
  TestSlot(const cups_page_header2_t &header, DWORD width, DWORD height) {
    Init(header, width, height);
  }
  ~TestSlot() { free(job.lpbuf); }
  TestSlot(const TestSlot &) = delete;
  TestSlot &operator=(const TestSlot &) = delete;

  BYTE *bits() const { return job.lpbuf; }
  BYTE &grey(DWORD x, DWORD y) { return bits()[static_cast<size_t>(y) * job.linebyte + x]; }
  // Row y of the red plane of an 8-bit two-colour page.
  BYTE &red(DWORD x, DWORD y) { return grey(x, job.page_height / 2 + y); }
  void FillGrey(DWORD x0, DWORD y0, DWORD w, DWORD h, BYTE v) {
    for (DWORD y = y0; y < y0 + h; ++y) memset(&grey(x0, y), v, w);
  }
  // Pixel (x, y) of the 1-bit page.
  bool bit(DWORD x, DWORD y) const {
    return (bits()[static_cast<size_t>(y) * job.linebyte + x / 8] >> (7 - x % 8)) & 1;
  }
  std::vector<BYTE> Snapshot() const { return std::vector<BYTE>(bits(), bits() + job.pagesize); }

 private:
  void Init(const cups_page_header2_t &header, DWORD width, DWORD height) {
    job.inheader = header;
    job.page_width = width;
    job.page_height = height;
    job.linebyte = width;
    job.pagesize = width * height;
    job.linebyteLeft = width - header.cupsWidth;
    job.lpbuf = static_cast<BYTE *>(malloc(job.pagesize ? job.pagesize : 1));
    memset(job.lpbuf, 255, job.pagesize);
  }
};

// The screen's decision for grey value s at page position (x, y), taken from the
// threshold matrix and a tone curve: a bit is set where s reaches the curved
// threshold (the matrix value limited to 1..254), never for 0, always for 255.
inline bool ScreenBit(BYTE s, DWORD x, DWORD y, const BYTE gammatbl[256]) {
  int t = FINE_TAry[(y % kHalftoneTileSize) * kHalftoneTileSize + x % kHalftoneTileSize];
  if (t < 1) t = 1;
  if (t > 254) t = 254;
  return s != 0 && (s >= gammatbl[t] || s == 255);
}

}  // namespace imagetest
