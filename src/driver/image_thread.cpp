#include "driver/image_thread.h"

#include "driver/job_state.h"
#include "driver/raster_page.h"
#include "image/bit_ops.h"
#include "image/crop_scale.h"
#include "image/halftone.h"
#include "image/line_art.h"
#include "runtime/debug_log.h"
#include "runtime/win_helpers.h"

void *ImageProcThread(void *param) {
  JobInfo *lpJob = static_cast<JobInfo *>(param);
  // Once the slot is marked ready it belongs to the compression thread, which
  // frees the bitmap and hands the slot back to the reader: everything needed
  // after the hand-over is taken before it.
  const DWORD pageIndex = lpJob->PageIndex;
  const cups_page_header2_t &header = lpJob->inheader;
  DbgMsg("ImageProcThread::image process thread page %u start", pageIndex);
  DisplayPageInfo(&header);
  DbgMsg("ImageProcThread::cupsBitsPerPixel %u", header.cupsBitsPerPixel);
  const DWORD start = GetTickCount();

  if (SlotBitmap(lpJob) == nullptr) {
    DbgMsg("ImageProcThread::page %u has no bitmap", pageIndex);
  } else {
    if (header.cupsBitsPerPixel == 24) {
      // Line art: fitted to the printable area, screened with solid outlines, and
      // inverted so that a set bit is a printed dot.
      ImageCrop(lpJob);
      DoBorderQuality(lpJob);
      DoNegative(lpJob, 0);
    } else {
      ApplyHalftone(lpJob);
    }
    if (header.cupsInteger[2] != 0) DoMirror(lpJob);
    // Negative print; in two-colour mode only the black plane, the first half.
    if (header.cupsInteger[1] != 0) DoNegative(lpJob, header.cupsInteger[4] == 1 ? 1 : 0);
  }

  // The page's processing time, for the benchmark's reckoning of the work.
  DbgMsg("ImageProcThread::page %u processed, using %f sec", pageIndex,
         (GetTickCount() - start) / 1000.0);
  SetSlotState(lpJob, kSlotReady);
  DbgMsg("ImageProcThread::exit image process thread page %u", pageIndex);
  return reinterpret_cast<void *>(1);
}
