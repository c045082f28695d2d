// Edge-enhanced line art: outlines and thin strokes merged solid into the screen.
#pragma once

#include "runtime/win_types.h"

struct JobInfo;

// The 3 x 3 edge kernel, row-major, upper row first.
extern const int FilterArray[9];

// Screens the slot's 8-bit page (ApplyHalftone) and forces every pixel of the
// line-art mask to the screen's dark value.  The page always leaves as a 1-bit
// page; FALSE when it got the plain screen without line art (no memory for the
// mask, or a page the filter cannot take) or could not be screened at all.
BOOL DoBorderQuality(JobInfo *lpJob);

// Filters the 8-bit image at `lpbuf` (page_width x page_height of the slot, rows
// page_width bytes apart) in place with a 3 x 3 kernel, edge rows and columns
// standing in for their missing neighbours; the response is divided by the
// kernel's sum when that is positive and clamped to 0..255.  Returns the height,
// or 0 with the image unchanged when the working copy cannot be had or the
// geometry does not fit 16 bits.
WORD ApplyFilter3x3(JobInfo *lpJob, BYTE *lpbuf, WORD bits, const int *filterArray,
                    short filterArrayWidth);

// Replaces the 8-bit image at `lpbuf` by rows of page_width / 8 bytes with a bit
// set for every pixel above `threshold`, packed in place from the start.
void GrayToLineart(JobInfo *lpJob, BYTE *lpbuf, int threshold);
