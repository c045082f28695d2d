#include "driver/image_thread.h"

#include <memory>

#include "driver/image_gate.h"
#include "driver/jbig_thread.h"
#include "driver/job.h"
#include "driver/raster_page.h"
#include "image/page_image.h"
#include "runtime/cancel_signal.h"
#include "runtime/debug_log.h"
#include "runtime/win_helpers.h"

void *ImageProcThread(void *param) {
  std::unique_ptr<ImageWork> work(static_cast<ImageWork *>(param));
  Job *job = work->job.get();
  JobInfo *lpJob = work->slot;
  // Once the slot is marked ready it belongs to the output thread, which frees
  // the record and hands the slot back to the reader: everything needed after
  // the hand-over is taken before it.
  Page *page = &lpJob->page;
  const DWORD pageIndex = page->PageIndex;
  // Pages are admitted in order, no more at once than there are processors.
  const DWORD arrival = GetTickCount();
  const bool admitted = ImageGateEnter(&job->gate, pageIndex);
  DbgMsg("ImageProcThread::page %u admitted after %f sec", pageIndex,
         (GetTickCount() - arrival) / 1000.0);
  DisplayPageInfo(&page->inheader);
  const DWORD start = GetTickCount();
  const double cpuStart = ThreadCpuSeconds();

  if (CancelRequested()) {
    // The output thread drops the page unwritten: no work on it.
    DbgMsg("ImageProcThread::job cancelled, page %u is not processed", pageIndex);
  } else if (page->lpbuf == nullptr) {
    DbgMsg("ImageProcThread::page %u has no bitmap", pageIndex);
  } else if (!ProcessPageImage(page)) {
    ReportPageProcessingFailure(&job->ring);
  }

  // The page's processing time and processor time, for the benchmark's
  // reckoning of the work.
  DbgMsg("ImageProcThread::page %u processed, using %f sec, cpu %f sec", pageIndex,
         (GetTickCount() - start) / 1000.0, ThreadCpuSeconds() - cpuStart);
  // Compressed here, on the page's own thread with its own encoder state, while
  // other pages are processed and compressed on theirs; the output thread sends
  // the records in page order.  The bitmap is freed, so one more page may be read.
  CompressSlotPage(job, lpJob);
  ImageGateReleasePage(&job->gate);
  // Out of the gate before the hand-over: once the last page is ready, no image
  // thread is inside it any more.
  ImageGateLeave(&job->gate, admitted);
  SetSlotState(&job->ring, lpJob, kSlotReady);
  DbgMsg("ImageProcThread::exit image process thread page %u", pageIndex);
  return reinterpret_cast<void *>(1);
}
