// The per-page image thread: turns a slot's 8-bit grey page into its 1-bit page
// and compresses that into the page's record.
#pragma once

// param: the page's slot (JobInfo *), in work, with its 8-bit bitmap.  Waits for
// the page's turn at the gate, processes the page, compresses it into its record
// (which frees the bitmap) and marks the slot ready.
void *ImageProcThread(void *param);
