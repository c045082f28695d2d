// Reading one raster page as an 8-bit luminance bitmap (0 black,
// 255 white), rows padded to multiples of 32 pixels with white, split into a
// black and a red plane in two-colour mode.  The conversion follows the page's
// depth and colour space (PagePixelFormat): the weighted sum of 24-bit RGB, the
// sample of 8-bit white-based grey, 255 minus the sample of 8-bit black.
#pragma once

#include <cups/raster.h>

#include <cstddef>

#include "runtime/win_types.h"

struct Page;
struct RasterInput;

// Grey weights of the three samples of a source pixel, in stream order.
constexpr DWORD av_rRate = 30;
constexpr DWORD av_gRate = 53;
constexpr DWORD av_bRate = 17;
constexpr DWORD av_rgbTotal = 100;
// A red pixel's first sample must exceed this.
constexpr DWORD kRedThreshold = 150;
// One grey row of `width` pixels from a line of 24-bit pixels:
// (30 r + 53 g + 17 b + 1) / 100 of the samples of each, in stream order.
void ConvertRgbLine(const BYTE *line, DWORD width, BYTE *row);
// One grey row of `width` pixels from a line of 8-bit ink samples: 255 - sample.
void ConvertInkLine(const BYTE *line, DWORD width, BYTE *row);

// Two-colour mode, from a line of `width` 24-bit pixels: a pixel whose first
// sample exceeds the other two by more than twinColorDiff and exceeds
// kRedThreshold is red (0 in redRow, white in blackRow); every other pixel keeps
// its grey in blackRow and is white in redRow.
void SplitRedLine(const BYTE *line, DWORD width, DWORD twinColorDiff, BYTE *blackRow, BYTE *redRow);

// Reads the page whose header is in the page's `inheader` from `inras` and sets
// its bitmap and geometry (LayOutPaddedPage).  FALSE, with nothing read and
// `lpbuf` null, when the header cannot be read safely (see CheckPageHeader) or the
// buffers cannot be allocated.  A stream that ends inside the page still gives
// TRUE: the lines not received stay white, and `linesRead` (if given) tells how
// many whole lines were converted.  `input`, the notes of the stream's read
// function, lets an uncompressed stream be read many lines at a time.
BOOL GetCUPSPageData(Page *lpJob, cups_raster_t *inras, DWORD *linesRead = nullptr,
                     const RasterInput *input = nullptr);

// Writes a page header to the diagnostic log, field by field.
void DisplayPageInfo(const cups_page_header2_t *header);
