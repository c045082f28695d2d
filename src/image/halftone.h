// Clustered-dot screening of an 8-bit grey page to 1 bit per pixel under the
// tone curve chosen by the print density.
#pragma once

#include "runtime/win_types.h"

struct JobInfo;

BOOL ApplyHalftone(JobInfo *lpJob);
