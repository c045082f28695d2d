// Negative, mirror and black-dot count on a 1-bit page.
#pragma once

#include "runtime/win_types.h"

struct JobInfo;

extern const BYTE dottbl[256];

void DoNegative(JobInfo *lpJob, int InvertHalfImage);
void DoMirror(JobInfo *lpJob);
DWORD Prnt_CountBlackDots(const unsigned char *inbuf, long ByteNo);
