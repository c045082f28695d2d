#include "image/halftone.h"

#include "image/bit_pack.h"
#include "image/cpu_dispatch.h"
#include "image/halftone_matrix.h"
#include "image/tone_curve.h"
#include "page/page.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/win_helpers.h"

namespace {

constexpr int kBrightness = 255;  // grey values are limited to this before the tone curve
constexpr int kTileMask = kHalftoneTileSize - 1;

// The page's threshold tile: the matrix under the tone curve, each entry raised
// to at least 1.  A pixel is set where its grey value reaches the entry, so 0
// never sets a bit and 255 always does (no entry exceeds 255).
void BuildHalftoneTile(const BYTE gammatbl[256], BYTE tile[kHalftoneTileSize * kHalftoneTileSize]) {
  for (int k = 0; k < kHalftoneTileSize * kHalftoneTileSize; ++k) {
    BYTE t = FINE_TAry[k];
    if (t < 1) t = 1;
    if (t > 254) t = 254;
    BYTE level = gammatbl[t];
    tile[k] = level < 1 ? 1 : level;
  }
}

// Screens one 8-bit row into `outBytes` bytes of 1-bit pixels, leftmost pixel in
// the most significant bit, pixels beyond `width` clear.  The row is taken one
// tile width at a time, so the thresholds are consecutive; output byte i is
// stored only after source pixels 8i..8i+7 have been read, so `out` may lie at or
// before `src` in the same buffer.
ZELVAR_CLONES void ScreenRow(const BYTE *src, DWORD width, const BYTE *tileRow, BYTE *out,
                             DWORD outBytes) {
  BYTE flags[kHalftoneTileSize];
  DWORD x = 0;
  for (; x + kHalftoneTileSize <= width; x += kHalftoneTileSize) {
    const BYTE *s = src + x;
    for (size_t i = 0; i < kHalftoneTileSize; ++i) flags[i] = s[i] >= tileRow[i] ? 1 : 0;
    PackFlags(flags, kHalftoneTileSize, out + x / 8);
  }
  const size_t rest = width - x;
  const BYTE *s = src + x;
  for (size_t i = 0; i < rest; ++i) flags[i] = s[i] >= tileRow[i] ? 1 : 0;
  const DWORD whole = static_cast<DWORD>(rest) & ~7u;
  PackFlags(flags, whole, out + x / 8);
  DWORD done = (x + whole) / 8;
  if (rest != whole) out[done++] = PackFlagTail(flags + whole, static_cast<DWORD>(rest) - whole);
  for (; done < outBytes; ++done) out[done] = 0;
}

}  // namespace

BOOL ApplyHalftone(Page *page) {
  BYTE *bitmap = page->lpbuf;
  const DWORD width = page->page_width;
  const DWORD height = page->page_height;
  const DWORD linebyte = page->linebyte;
  const DWORD linebyteHft = GetBMPBytesPerLine(1, static_cast<LONG>(width));

  // The 1-bit page is packed over the 8-bit page from the front, which needs the
  // 1-bit row to be no longer than the 8-bit row and the 8-bit row to hold the
  // whole pixel row; the rows must lie inside the page's buffer.
  const bool usable = bitmap != nullptr && width != 0 && height != 0 && linebyte != 0 &&
                      linebyteHft != 0 && static_cast<uint64_t>(linebyteHft) * 8 >= width &&
                      width <= linebyte && linebyteHft <= linebyte &&
                      static_cast<uint64_t>(linebyte) * height <= page->pagesize;
  if (!usable) {
    DbgMsg("ApplyHalftone::page %u of %ux%u pixels in rows of %u bytes (%u bytes) is not screened",
           page->PageIndex, width, height, linebyte, page->pagesize);
    return FALSE;
  }

  const PageSettings settings = PageSettingsOf(page->inheader);
  const int select = ToneCurveSelect(static_cast<LONG>(settings.density), settings.tonerSave);
  BYTE gammatbl[256];
  BuildToneCurve(select, gammatbl);
  DbgMsg("ApplyHalftone::page %u: tone curve %d, gamma %f", page->PageIndex, select,
         static_cast<double>(gammaVal[select]));
  // A fixed array, so the tile is always there once screening has begun.
  BYTE Halftone_tbl[kHalftoneTileSize * kHalftoneTileSize];
  BuildHalftoneTile(gammatbl, Halftone_tbl);

  // Rows in ascending order: 1-bit row y ends before 8-bit row y + 1 begins and
  // starts at or before 8-bit row y, so nothing is overwritten before it is read.
  for (DWORD y = 0; y < height; ++y) {
    const BYTE *tileRow = Halftone_tbl + (y & kTileMask) * kHalftoneTileSize;
    ScreenRow(bitmap + static_cast<size_t>(y) * linebyte, width, tileRow,
              bitmap + static_cast<size_t>(y) * linebyteHft, linebyteHft);
  }
  page->linebyte = linebyteHft;
  return TRUE;
}
