// The per-page image thread: turns a slot's 8-bit grey page into its 1-bit page
// and compresses that into the page's record.
#pragma once

#include <cups/raster.h>

struct JobInfo;

// Whether a page is fitted to the printable area and screened with edge-enhanced
// line art: every 24-bit page, and an 8-bit page whose cupsInteger[6] is
// non-zero.  Other pages are only screened, at their padded size.
bool TakesLineArtPath(const cups_page_header2_t &header);

// The image operations on the slot's 8-bit page, in the order its header asks
// for; afterwards the slot's bitmap is the 1-bit page.  A page that runs out of
// memory still leaves as a valid 1-bit page, and the job is failed.
void ProcessPageImage(JobInfo *lpJob);

// param: the page's slot (JobInfo *), in work, with its 8-bit bitmap.  Waits for
// the page's turn at the gate, processes the page, compresses it into its record
// (which frees the bitmap) and marks the slot ready.
void *ImageProcThread(void *param);
