// Fitting a full-sheet 24-bit page to the printable area, by cropping or scaling.
#pragma once

#include "runtime/win_types.h"

struct Page;

// Fits the slot's 8-bit page to the printable area (12 points inside each edge
// of the sheet) when its header has no imaging margins: cuts out the centre, or
// with cupsInteger[3] = 1 shrinks the content into it.  A page whose printable
// area does not lie inside its padded bitmap, or that cannot be scaled, keeps
// its padded size.
// FALSE only when the page should have been scaled but the memory for it could
// not be had; the page then keeps its padded size.  A page that needs no fitting,
// or whose geometry cannot be fitted, is left as it is with TRUE.
BOOL ImageCrop(Page *lpJob);

// Bilinear scaling of `lines` rows of `srcWidth` pixels by Xratio / 1000 and
// Yratio / 1000; returns the rows written, ScaledRows(lines, Yratio), or 0 when
// nothing was done.  The target holds that many rows of `trgWidth` pixels.
long ScaleImage(BYTE *srclpbuf, DWORD srcWidth, DWORD srcHigh, DWORD lines, BYTE *trglpbuf,
                DWORD trgWidth, int Xratio, int Yratio, WORD colorbits);

// Rows ScaleImage produces from `lines` source rows at Yratio thousandths.
DWORD ScaledRows(DWORD lines, int Yratio);
