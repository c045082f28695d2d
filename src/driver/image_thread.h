// The per-page image thread: turns a slot's 8-bit grey page into its 1-bit page
// and compresses that into the page's record.
#pragma once

#include <memory>

struct Job;
struct JobInfo;

// What an image thread is started with: its job, which it holds until it ends,
// and the page's slot, in work, with its 8-bit bitmap.
struct ImageWork {
  std::shared_ptr<Job> job;
  JobInfo *slot;
};

// param: an ImageWork from new, which the thread deletes.  Waits for the page's
// turn at the gate, processes the page, compresses it into its record (which
// frees the bitmap) and marks the slot ready.
void *ImageProcThread(void *param);
