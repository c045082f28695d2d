// Checking a raster page header before anything uses it.
//
// A page header comes from the job and is untrusted.  A page is taken only when
// its pixels can be read and converted within the buffers that raster reading
// allocates, and its bitmap stays within the 16-bit sizes that the image
// operations take.
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>

#include "runtime/win_types.h"

// Largest bitmap width or height (rows of both planes in two-colour mode).
constexpr DWORD kMaxBitmapSide = 65504;

// How a page's samples become luminance (0 black, 255 white), chosen by its
// depth and colour space; every other kind of page is refused.
enum class PixelFormat {
  kUnsupported,
  kRgb,        // 24 bits, RGB or sRGB: the weighted sum of the three samples
  kWhiteGrey,  // 8 bits, white-based grey (W, SW): the sample itself
  kBlackInk,   // 8 bits, black (K): 255 - the sample
};
PixelFormat PagePixelFormat(const cups_page_header2_t *header);

// TRUE when the page can be read.  Otherwise FALSE, with a text naming the
// field and its value (for instance "cupsWidth is 0") in `reason`.  A page
// whose 8-bit bitmap (both planes) would take more than maxPageBytes is refused
// as too large; 0 (or more) keeps the limit of 32-bit sizes.
BOOL CheckPageHeader(const cups_page_header2_t *header, char *reason, size_t reasonSize,
                     uint64_t maxPageBytes = 0);
