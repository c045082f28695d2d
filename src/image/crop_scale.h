// Fitting a full-sheet 24-bit page to the printable area, by cropping or scaling.
#pragma once

#include "runtime/win_types.h"

struct JobInfo;

void ImageCrop(JobInfo *lpJob);
long ScaleImage(BYTE *srclpbuf, DWORD srcWidth, DWORD srcHigh, DWORD lines, BYTE *trglpbuf,
                DWORD trgWidth, int Xratio, int Yratio, WORD colorbits);
