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
// Most bits a CUPS raster pixel has (15 colours of 16 bits).
constexpr DWORD kMaxBitsPerPixel = 240;

// Fuzzing only: pages whose 8-bit bitmap (both planes) would take more than
// `maxBytes` are refused like any other page too large to read, so that a run
// stays within the fuzzer's memory.  0 restores the normal limit (32-bit sizes).
void SetPageBytesLimitForTesting(uint64_t maxBytes);

// TRUE when the page can be read.  Otherwise FALSE, with a text naming the
// field and its value (for instance "cupsWidth is 0") in `reason`.
BOOL CheckPageHeader(const cups_page_header2_t *header, char *reason, size_t reasonSize);
