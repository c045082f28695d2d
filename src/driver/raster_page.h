// Reading one raster page into its slot as an 8-bit grey bitmap.
#pragma once

#include <cups/raster.h>

#include <cstddef>

#include "runtime/win_types.h"

struct JobInfo;

BOOL GetCUPSPageData(JobInfo *lpJob);
void DisplayPageInfo(const cups_page_header2_t *header);
