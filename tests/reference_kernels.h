// Plain per-pixel forms of the filter's image loops, written straight from their
// definitions, for comparing the machine-tuned loops against.  Images are rows
// of `width` bytes unless a stride is given; 1-bit results are rows of packed
// pixels, leftmost pixel in the most significant bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/win_types.h"

namespace reference {

using Bytes = std::vector<BYTE>;

// (30 r + 53 g + 17 b + 1) / 100 of the three samples of each 24-bit pixel.
Bytes ConvertRgbLine(const BYTE *line, DWORD width);

// The two-colour split through whole-line red and black buffers, as the page
// reader describes it; appends the black row and the red row.
void SplitRedLine(const BYTE *line, DWORD bytesPerLine, DWORD width, DWORD twinColorDiff,
                  Bytes *blackRow, Bytes *redRow);

// The 3 x 3 filter through a working copy with the first and last row repeated,
// horizontal neighbours pixlen bytes away (0: each column stands in for both).
Bytes ApplyFilter3x3(const Bytes &image, DWORD width, DWORD height, const int *kernel,
                     DWORD pixlen);

// Rows of width / 8 bytes, a bit set for every pixel above the threshold.
Bytes GrayToLineart(const Bytes &image, DWORD width, DWORD height, int threshold);

// The screen: rows of `outStride` bytes for `width` pixels of an image whose rows
// are `stride` bytes apart; a pixel is set when it is not 0 and reaches the tone
// curve's threshold, or is 255.
Bytes Screen(const BYTE *image, DWORD stride, DWORD width, DWORD height, DWORD outStride,
             LONG density, bool economy);

// The bilinear scaler with its truncating single-precision steps; `rows` gets
// the number of target rows.
Bytes ScaleImage(const Bytes &source, DWORD srcWidth, DWORD srcHigh, DWORD trgWidth, int Xratio,
                 int Yratio, DWORD pixelBytes, DWORD *rows);

// Row mirror with the byte-reversal table, bit inversion, and the table count.
void MirrorRows(BYTE *bits, DWORD linebyte, DWORD rows);
void Invert(BYTE *bits, size_t len);
DWORD CountSetBits(const BYTE *bits, size_t len);

}  // namespace reference
