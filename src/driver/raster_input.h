// The raster stream read through libcups with a read function of the filter's
// own, which notes what the input delivered.
//
// cupsRasterOpen fails alike for an empty input and for data that is not a
// raster stream, and cupsRasterReadHeader2 returns false alike at the end of the
// stream and for a header it cannot read.  With the notes kept here the filter
// can tell a stream that simply ended (a quiet end of the job) from one that is
// cut short, refused or unreadable (an "ERROR:" line and exit status 1).
#pragma once

#include <cups/raster.h>

#include <cstddef>
#include <cstdint>

#include "runtime/win_types.h"

struct RasterInput {
  int fd = -1;
  BOOL fromPipe = FALSE;    // the input is a pipe (reads let it fill first)
  uint64_t bytesRead = 0;   // bytes handed to libcups so far
  char sync[4] = {};        // the stream's first four bytes, its sync word
  DWORD reads = 0;          // calls of the read function
  BOOL endOfInput = FALSE;  // a read found the end of the input
  int readErrno = 0;        // errno of the first failed read; 0 when none failed
  // What libcups asks for to read a whole page header (its size differs between
  // stream versions), from its first header read, which nothing can have
  // buffered ahead: the sync word before it is read on its own.
  size_t headerSize = 0;
  // The last header read (ReadRasterHeader):
  size_t headerFirstAsk = 0;  // bytes libcups asked for first; 0 when it asked nothing
  uint64_t headerBytes = 0;   // bytes delivered during it
  BOOL headerHitEnd = FALSE;  // the end of the input was found during it
};

// How the stream ended, once the page loop got no further header.
enum RasterEnd {
  kRasterEndOfJob,       // after the last page, at a page boundary
  kRasterEmptyInput,     // no byte at all: a job without pages
  kRasterNoStream,       // libcups could not set up its reader (out of memory)
  kRasterReadError,      // the input could not be read
  kRasterCutInSyncWord,  // fewer than the 4 bytes of a sync word
  kRasterNotRaster,      // the first 4 bytes are no raster sync word
  kRasterCutInHeader,    // the input ends inside a page header
  kRasterBadHeader,      // libcups refused a whole page header
};

// Opens the raster stream on `fd` (left open; the caller closes it).  Null when
// libcups does not accept the input; RasterInputEnd then tells why.
cups_raster_t *OpenRasterInput(RasterInput *input, int fd);

// cupsRasterReadHeader2, keeping the notes RasterInputEnd needs.
BOOL ReadRasterHeader(RasterInput *input, cups_raster_t *ras, cups_page_header2_t *header);

// Why no (further) header came: from OpenRasterInput's result `ras` and the
// notes of the last ReadRasterHeader.
RasterEnd RasterInputEnd(const RasterInput *input, const cups_raster_t *ras);

// TRUE for the two ends of a sound input: after the last page, or no byte at all.
BOOL IsCleanRasterEnd(RasterEnd end);

// TRUE for a stream whose pixels are not compressed (sync word of version 1 or 3,
// either byte order).  libcups then reads pixels straight from the read function
// into the caller's buffer, nothing ahead, so several lines can be asked for at
// once and the bytes delivered tell how many of them arrived.
BOOL RasterPixelsUncompressed(const RasterInput *input);

// Logs how the input ended and, unless it ended cleanly, writes an "ERROR:"
// line naming the page concerned (pagesRead + 1).  TRUE for a clean end, and
// for an early end when the job is cancelled (waiting up to cancelGraceMs for
// a cancel on its way), which is no error.
BOOL ReportRasterEnd(const RasterInput *input, const cups_raster_t *ras, DWORD pagesRead,
                     DWORD cancelGraceMs);
