#include "driver/jbig_thread.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "driver/job.h"
#include "output/jbig_output_area.h"
#include "output/page_record.h"
#include "output/printer_output.h"
#include "output/spool_file.h"
#include "runtime/cancel_signal.h"
#include "runtime/debug_log.h"
#include "runtime/status_messages.h"
#include "runtime/win_helpers.h"

namespace {

// Sends a finished record on its way: to the end of the spool file when the job
// is spooled, else straight to the printer.
BOOL EmitPageRecord(Job *job, const JbigOutputArea *record) {
  if (!Spooling(&job->spool)) {
    if (!WriteToPrinter(&job->output, record->data, record->size)) return FALSE;
    ReportPageSent(&job->output);
    return TRUE;
  }
  BOOL appended = AppendSpoolPage(&job->spool, record->data, record->size);
  DbgMsg("JbigThread::record of %zu bytes spooled, %u in the spool file", record->size,
         SpooledPages(&job->spool));
  return appended;
}

// The record of page `CurrentPage`, in its turn.  A page that could not be
// compressed ends the printer output: a job without one of its pages is no longer
// the job asked for, so no further page goes out and the filter exits with status
// 1.  A cancel drops the page.
void SendPageRecord(Job *job, const JobInfo *slot, DWORD CurrentPage) {
  const JbigOutputArea *record = slot->lprecord;
  if (record == nullptr) {
    // Dropped by its image thread after a cancel or a failed output, which this
    // thread has seen too; anything else is a page that is missing.
    if (slot->bRecordFailed || !(CancelRequested() || OutputBroken(job)))
      FailPrinterOutput(&job->output, "Unable to compress page %u", CurrentPage + 1);
    return;
  }
  if (CancelRequested()) {
    DbgMsg("JbigThread::job cancelled, page %u is dropped", CurrentPage);
    return;
  }
  EmitPageRecord(job, record);
}

}  // namespace

void CompressSlotPage(Job *job, JobInfo *slot) {
  Page *page = &slot->page;
  slot->lprecord = nullptr;
  slot->bRecordFailed = FALSE;
  if (CancelRequested() || OutputBroken(job)) {
    DbgMsg("BuildPageRecord::page %u is not compressed: the job is %s", page->PageIndex,
           CancelRequested() ? "cancelled" : "no longer sent");
  } else {
    std::unique_ptr<JbigOutputArea> record(new (std::nothrow) JbigOutputArea);
    if (page->lpbuf != nullptr && record && BuildPageRecord(*page, record.get())) {
      slot->lprecord = record.release();
    } else {
      DbgMsg("BuildPageRecord::page %u could not be compressed", page->PageIndex);
      slot->bRecordFailed = TRUE;
    }
  }
  GlobalFree(page->lpbuf);
  page->lpbuf = nullptr;
}

void *JbigThread(void *param) {
  Job *job = static_cast<Job *>(param);
  JobRing *ring = &job->ring;
  DWORD jobtick = GetTickCount();
  DWORD CurrentPage = 0;
  BOOL outputStopped = FALSE;
  while (!JbigThreadExitRequested(ring)) {
    DWORD ticket = SlotChangeTicket(ring);
    JobInfo *slot = SlotOf(ring, CurrentPage);
    if (SlotState(slot) != kSlotReady) {
      WaitSlotChange(ring, ticket, kPollMs);
      continue;
    }

    if (!outputStopped && OutputBroken(job)) {
      DbgMsg("JbigThread::output failed, pages from %u on are released unwritten", CurrentPage);
      outputStopped = TRUE;
    }
    if (!outputStopped && CancelRequested()) {
      DbgMsg("JbigThread::job cancelled, pages from %u on are released unwritten", CurrentPage);
      outputStopped = TRUE;
    }
    if (!outputStopped) SendPageRecord(job, slot, CurrentPage);

    // The record goes first: main's end wait takes a free slot of the last page
    // as "every page written".
    delete slot->lprecord;
    slot->lprecord = nullptr;
    slot->bRecordFailed = FALSE;
    SetSlotState(ring, slot, kSlotFree);
    ++CurrentPage;
  }
  DbgMsg("JbigThread::job using %f sec", (GetTickCount() - jobtick) / 1000.0);
  DbgMsg("JbigThread::exit print out %u pages", CurrentPage);
  return nullptr;
}
