// Edge-enhanced line art: outlines and thin strokes merged solid into the screen.
#pragma once

#include "runtime/win_types.h"

struct Page;

// The 3 x 3 edge kernel, row-major, upper row first.
extern const int FilterArray[9];

// Screens the page's 8-bit page (ApplyHalftone) and forces every pixel of the
// line-art mask to the screen's dark value.  The page always leaves as a 1-bit
// page; FALSE when it got the plain screen without line art (no memory for the
// mask, or a page the filter cannot take) or could not be screened at all.
BOOL DoBorderQuality(Page *page);
