#include "driver/image_thread.h"

#include "driver/cancel_signal.h"
#include "driver/image_gate.h"
#include "driver/job_state.h"
#include "driver/raster_page.h"
#include "image/bit_ops.h"
#include "image/crop_scale.h"
#include "image/halftone.h"
#include "image/line_art.h"
#include "output/jbig_thread.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/status_messages.h"
#include "runtime/win_helpers.h"

bool TakesLineArtPath(const cups_page_header2_t &header) { return PageSettingsOf(header).lineArt; }

void ProcessPageImage(JobInfo *lpJob) {
  const PageSettings settings = PageSettingsOf(lpJob->inheader);
  if (settings.lineArt) {
    // Line art: fitted to the printable area, screened with solid outlines, and
    // inverted so that a set bit is a printed dot.  Without memory for the fitting
    // or the line art the page still leaves as a valid 1-bit page, but not as
    // asked, and the job is failed.
    const BOOL fitted = ImageCrop(lpJob);
    const BOOL lineArt = DoBorderQuality(lpJob);
    DoNegative(lpJob, 0);
    if (!fitted || !lineArt) {
      ReportError("Not enough memory to process page %u", lpJob->PageIndex + 1);
      ReportPageProcessingFailure();
    }
  } else {
    // Halftone: the screen alone, at the padded size; the screen sets its bit on
    // light pixels, so it is inverted like the line art.
    ApplyHalftone(lpJob);
    DoNegative(lpJob, 0);
  }
  if (settings.mirror) DoMirror(lpJob);
  // Negative print; in two-colour mode only the black plane, the first half.
  if (settings.invert) DoNegative(lpJob, settings.twoColour ? 1 : 0);
}

void *ImageProcThread(void *param) {
  JobInfo *lpJob = static_cast<JobInfo *>(param);
  // Once the slot is marked ready it belongs to the output thread, which frees
  // the record and hands the slot back to the reader: everything needed after
  // the hand-over is taken before it.
  const DWORD pageIndex = lpJob->PageIndex;
  const cups_page_header2_t &header = lpJob->inheader;
  DbgMsg("ImageProcThread::image process thread page %u start", pageIndex);
  // Pages are admitted in order, no more at once than there are processors.
  const DWORD arrival = GetTickCount();
  const bool admitted = ImageGateEnter(pageIndex);
  DbgMsg("ImageProcThread::page %u admitted after %f sec", pageIndex,
         (GetTickCount() - arrival) / 1000.0);
  DisplayPageInfo(&header);
  DbgMsg("ImageProcThread::cupsBitsPerPixel %u", header.cupsBitsPerPixel);
  const DWORD start = GetTickCount();
  const double cpuStart = ThreadCpuSeconds();

  if (CancelRequested()) {
    // The output thread drops the page unwritten: no work on it.
    DbgMsg("ImageProcThread::job cancelled, page %u is not processed", pageIndex);
  } else if (SlotBitmap(lpJob) == nullptr) {
    DbgMsg("ImageProcThread::page %u has no bitmap", pageIndex);
  } else {
    ProcessPageImage(lpJob);
  }

  // The page's processing time and processor time, for the benchmark's
  // reckoning of the work.
  DbgMsg("ImageProcThread::page %u processed, using %f sec, cpu %f sec", pageIndex,
         (GetTickCount() - start) / 1000.0, ThreadCpuSeconds() - cpuStart);
  // Compressed here, on the page's own thread with its own encoder state, while
  // other pages are processed and compressed on theirs; the output thread sends
  // the records in page order.  The bitmap is freed, so one more page may be read.
  CompressSlotPage(lpJob);
  ImageGateReleasePage();
  // Out of the gate before the hand-over: once the last page is ready, no image
  // thread is inside it any more.
  ImageGateLeave(admitted);
  SetSlotState(lpJob, kSlotReady);
  DbgMsg("ImageProcThread::exit image process thread page %u", pageIndex);
  return reinterpret_cast<void *>(1);
}
