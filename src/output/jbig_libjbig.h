// JBIG compression through JBIG-KIT's libjbig: the reference the filter's own
// encoder is checked against, and the encoder the diagnostic switch
// ZELVAR_JBIG_ENCODER=libjbig selects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/jbig_output_area.h"
#include "runtime/win_types.h"

// Compresses the bitmap (height rows of ceil(width / 8) bytes, leftmost pixel in
// the most significant bit) with libjbig, one plane, one layer, the whole page as
// one stripe, MX 0, MY 0 and the given order and options, and appends the stream
// to `outbuf`; with RemoveHeader non-zero the 20-byte image header, the
// library's first piece, is left out.  libjbig clears the unused bits at the end
// of every row of `inbuf`.  The caller makes sure that width and height are 1 to
// 2^32 - 1.
//
// The result is the number of bytes appended, or -1 (nothing appended) when
// memory runs short.  *OutJBGDataTimes (may be null) receives the number of
// pieces the library delivered, the header's included.
int64_t LibjbigCompress(uint32_t width, uint32_t height, BYTE *inbuf, JbigOutputArea *outbuf,
                        int64_t *OutJBGDataTimes, int64_t order, int64_t options,
                        int64_t RemoveHeader);

// The library's output callback; `outBuf` is the call's own record.
void OutJBIGData(unsigned char *start, size_t len, void *outBuf);
