// JBIG compression of one 1-bit page with the printer's fixed parameters: one
// plane, one resolution layer, the whole page as one stripe, AT pixel fixed
// (MX 0, MY 0).  The 20-byte image header can be left out, since the printer
// takes the page's size from the page record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/win_types.h"

// Order and options the printer decodes with; the job header announces them in
// its "JBIG,00,%2d" comment.
constexpr int kJbigOrder = 0;
constexpr int kJbigOptions = 8;  // typical prediction (TPBON) only
constexpr size_t kJbigHeaderSize = 20;

// A growing byte area: `size` bytes in use at `data`, `capacity` allocated.  It
// owns its block and frees it when it goes out of scope.
struct JbigOutputArea {
  BYTE *data = nullptr;
  size_t size = 0;
  size_t capacity = 0;

  JbigOutputArea() = default;
  JbigOutputArea(const JbigOutputArea &) = delete;
  JbigOutputArea &operator=(const JbigOutputArea &) = delete;
  ~JbigOutputArea();
};

// Makes room for at least `capacity` bytes in all.  FALSE (area unchanged) when
// memory is short.
BOOL ReserveOutputArea(JbigOutputArea *area, size_t capacity);
// Appends `len` bytes, growing the area as needed.  FALSE (area unchanged) when
// memory is short.
BOOL AppendToOutputArea(JbigOutputArea *area, const BYTE *bytes, size_t len);

// Compresses the bitmap (height rows of ceil(width / 8) bytes, leftmost pixel in
// the most significant bit) and appends the stream to `outbuf` after what it holds
// already.  With RemoveHeader non-zero the first piece of the stream, the 20-byte
// image header, is left out.  When width is not a multiple of 8 the encoder clears
// the unused bits at the end of every row of `inbuf`.
//
// The result is the number of bytes appended.  It is -1, with nothing appended,
// for a page that cannot be encoded (no bitmap, width or height 0 or beyond 32
// bits) or when memory runs short.  *TotalOutLen and *OutJBGDataTimes (either may
// be null) receive the bytes appended and the number of pieces the encoder
// delivered, the dropped header's included.
int64_t Ferrun_JBIGCompression(uint64_t width, uint64_t height, BYTE *inbuf, JbigOutputArea *outbuf,
                               int64_t *TotalOutLen, int64_t *OutJBGDataTimes, int64_t order,
                               int64_t options, int64_t RemoveHeader);

// The encoder's output callback; `outBuf` is the call's JbigCompressContext.
void OutJBIGData(unsigned char *start, size_t len, void *outBuf);
