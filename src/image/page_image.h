// The image operations on one page, in the order its header asks for: from the
// 8-bit grey page raster reading leaves to the 1-bit page that is compressed.
#pragma once

#include <cups/raster.h>

#include "runtime/win_types.h"

struct Page;

// Whether a page is fitted to the printable area and screened with edge-enhanced
// line art: every 24-bit page, and an 8-bit page whose cupsInteger[6] is
// non-zero.  Other pages are only screened, at their padded size.
bool TakesLineArtPath(const cups_page_header2_t &header);

// Turns the page's 8-bit bitmap into its 1-bit page.  FALSE (reported with an
// "ERROR:" line) when memory ran out in an operation: the page still leaves as a
// valid 1-bit page, but not as asked, and the job is to fail.
BOOL ProcessPageImage(Page *page);
