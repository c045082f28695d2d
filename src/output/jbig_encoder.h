// The printer's JBIG stream (ITU-T T.82) for one page, made by an encoder of our
// own for the one configuration the printer decodes: one plane, one resolution
// layer, the whole page as one stripe, the three-line template with the AT pixel
// in its default place, typical prediction (TPBON), no deterministic prediction.
#pragma once

#include <cstdint>

#include "output/jbig_output_area.h"
#include "runtime/win_types.h"

// Appends the page's stripe data entity to `out`: the arithmetic-coded data with
// every 0xFF byte followed by a 0x00 stuffing byte and its trailing 0x00 bytes
// left out, then ESC SDNORM (0xFF 0x02).  `bits` holds `height` rows of
// ceil(`width` / 8) bytes, the leftmost pixel in the most significant bit; the
// bits past `width` in a row's last byte are taken as 0 whatever they hold.
//
// All state lives in the call, so calls on different pages may run at the same
// time.  FALSE, with `out` as it was, when `width` or `height` is 0 or memory runs
// short.
BOOL EncodeJbigStripe(const BYTE *bits, uint32_t width, uint32_t height, JbigOutputArea *out);
