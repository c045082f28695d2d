// Negative, mirror and black-dot count on a 1-bit page.
#pragma once

#include "runtime/win_types.h"

struct Page;

extern const BYTE dottbl[256];

// Inverts the page's 1-bit rows; with InvertHalfImage only the first half (the
// black plane of a two-colour page).
void DoNegative(Page *page, int InvertHalfImage);
// Reverses every 1-bit row.
void DoMirror(Page *page);
DWORD Prnt_CountBlackDots(const unsigned char *inbuf, long ByteNo);
