// Edge-enhanced line art: outlines and thin strokes merged solid into the screen.
#pragma once

#include "runtime/win_types.h"

struct JobInfo;

extern const int FilterArray[9];

BOOL DoBorderQuality(JobInfo *lpJob);
WORD ApplyFilter3x3(JobInfo *lpJob, BYTE *lpbuf, WORD bits, const int *filterArray,
                    short filterArrayWidth);
void GrayToLineart(JobInfo *lpJob, BYTE *lpbuf, int threshold);
