// The per-page image thread: turns a slot's 8-bit grey page into its 1-bit page.
#pragma once

// param: the page's slot (JobInfo *).
void *ImageProcThread(void *param);
