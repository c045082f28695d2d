// The per-page image thread: turns a slot's 8-bit grey page into its 1-bit page.
#pragma once

#include <cups/raster.h>

// Whether a page is fitted to the printable area and screened with edge-enhanced
// line art: every 24-bit page, and an 8-bit page whose cupsInteger[6] is
// non-zero.  Other pages are only screened, at their padded size.
bool TakesLineArtPath(const cups_page_header2_t &header);

// param: the page's slot (JobInfo *).
void *ImageProcThread(void *param);
