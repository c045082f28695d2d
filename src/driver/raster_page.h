// Reading one raster page into its slot as an 8-bit grey bitmap, rows padded to
// multiples of 32 pixels, split into a black and a red plane in two-colour mode.
//
// 24-bit pages become luminance (255 white) for the line-art path.  Pages of any
// other depth go to the plain screen, which sets a dot where the value is high:
// their samples are ink (the driver sends them in the black colour space), so
// their paper is 0.
#pragma once

#include <cups/raster.h>

#include <cstddef>

#include "runtime/win_types.h"

struct JobInfo;

// Grey weights of the three samples of a source pixel, in stream order.
constexpr DWORD av_rRate = 30;
constexpr DWORD av_gRate = 53;
constexpr DWORD av_bRate = 17;
constexpr DWORD av_rgbTotal = 100;
// A red pixel's first sample must exceed this.
constexpr DWORD kRedThreshold = 150;
// The value of blank paper in a page's grey bitmap: what the padding right of and
// below the raster holds, and what a sample past the end of a raster line reads
// as (the conversion weighs three bytes from each pixel's first, so pixels of one
// or two bytes reach past the line at its right end).
BYTE PaperSample(const cups_page_header2_t *header);

// One grey row of `width` pixels from a line of source pixels `srcPixelBytes`
// apart: (30 s0 + 53 s1 + 17 s2 + 1) / 100 of the first three samples of each.
void ConvertLine(const BYTE *line, DWORD width, DWORD srcPixelBytes, BYTE *row);

// Two-colour mode, from a line of `width` 24-bit pixels: a pixel whose first
// sample exceeds the other two by more than twinColorDiff and exceeds
// kRedThreshold is red (0 in redRow, white in blackRow); every other pixel keeps
// its grey in blackRow and is white in redRow.
void SplitRedLine(const BYTE *line, DWORD width, DWORD twinColorDiff, BYTE *blackRow, BYTE *redRow);

// Reads the page whose header is in the slot's `inheader` from its `inras` and
// sets the slot's bitmap and geometry.  FALSE, with nothing read and `lpbuf`
// null, when the header cannot be read safely (see CheckPageHeader) or the
// buffers cannot be allocated.  A stream that ends inside the page still gives
// TRUE: the lines not received stay white, and `linesRead` (if given) tells how
// many whole lines were converted.
BOOL GetCUPSPageData(JobInfo *lpJob, DWORD *linesRead = nullptr);

// Writes a page header to the diagnostic log, field by field.
void DisplayPageInfo(const cups_page_header2_t *header);
