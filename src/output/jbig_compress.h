// JBIG compression of one 1-bit page with the printer's fixed parameters: one
// plane, one resolution layer, the whole page as one stripe, AT pixel fixed
// (MX 0, MY 0).  The 20-byte image header can be left out, since the printer
// takes the page's size from the page record.
//
// The filter's own encoder (output/jbig_encoder.h) makes the stream; libjbig,
// which makes the same bytes, stays as the reference and can be chosen instead
// with the diagnostic switch ZELVAR_JBIG_ENCODER=libjbig.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/jbig_output_area.h"
#include "runtime/win_types.h"

// Order and options the printer decodes with; the job header announces them in
// its "JBIG,00,%2d" comment.
constexpr int kJbigOrder = 0;
constexpr int kJbigOptions = 8;  // typical prediction (TPBON) only
constexpr size_t kJbigHeaderSize = 20;

// Which encoder makes the streams.
enum class JbigEncoder { kBuiltIn, kLibjbig };

// The environment variable of the diagnostic switch: "libjbig" selects libjbig,
// unset, empty or "builtin" the filter's own encoder.
constexpr const char *kJbigEncoderVariable = "ZELVAR_JBIG_ENCODER";

// Reads the switch; done once at the start of a run, before any page is
// compressed.  An unknown value is logged and leaves the filter's own encoder.
void ChooseJbigEncoderFromEnvironment();
void ChooseJbigEncoder(JbigEncoder encoder);
JbigEncoder ChosenJbigEncoder();

// Compresses the bitmap (height rows of ceil(width / 8) bytes, leftmost pixel in
// the most significant bit) and appends the stream to `outbuf` after what it holds
// already.  With RemoveHeader non-zero the 20-byte image header is left out.  When
// width is not a multiple of 8 the unused bits at the end of every row of `inbuf`
// are cleared.  Streams of the printer's order and options come from the chosen
// encoder; any other order or options go to libjbig.
//
// The result is the number of bytes appended.  It is -1, with nothing appended,
// for a page that cannot be encoded (no bitmap, width or height 0 or beyond 32
// bits) or when memory runs short.  *TotalOutLen and *OutJBGDataTimes (either may
// be null) receive the bytes appended and the number of pieces the encoder
// delivered, the image header included (the filter's own encoder delivers the
// header and the stripe as one piece each).
int64_t Ferrun_JBIGCompression(uint64_t width, uint64_t height, BYTE *inbuf, JbigOutputArea *outbuf,
                               int64_t *TotalOutLen, int64_t *OutJBGDataTimes, int64_t order,
                               int64_t options, int64_t RemoveHeader);
