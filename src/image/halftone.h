// Clustered-dot screening of an 8-bit grey page to 1 bit per pixel under the
// tone curve chosen by the print density.
#pragma once

#include "runtime/win_types.h"

struct Page;

// Screens the page's 8-bit page in place: the 1-bit rows (GetBMPBytesPerLine(1,
// page_width) bytes, leftmost pixel in the most significant bit, a set bit for a
// light pixel) are packed from the start of the bitmap and `linebyte` is set to
// their length.  FALSE, with the page unchanged, when it holds no usable
// 8-bit page.
BOOL ApplyHalftone(Page *page);
