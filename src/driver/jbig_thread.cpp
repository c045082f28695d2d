#include "driver/jbig_thread.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "driver/job_state.h"
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
BOOL EmitPageRecord(const JbigOutputArea *record) {
  if (!gSaveToFile.load(std::memory_order_acquire)) {
    if (!WriteToPrinter(record->data, record->size)) return FALSE;
    ReportPageSent();
    return TRUE;
  }
  BOOL appended = AppendSpoolPage(record->data, record->size);
  DbgMsg("JbigThread::record of %zu bytes spooled, %u in the spool file", record->size,
         SpooledPages());
  return appended;
}

// TRUE when no further page can reach the printer whole.
BOOL OutputBroken() { return PrinterOutputFailed() || SpoolFailed(); }

// The record of page `CurrentPage`, in its turn.  A page that could not be
// compressed ends the printer output: a job without one of its pages is no longer
// the job asked for, so no further page goes out and the filter exits with status
// 1.  A cancel drops the page.
void SendPageRecord(const JobInfo *slot, DWORD CurrentPage) {
  const JbigOutputArea *record = slot->lprecord;
  if (record == nullptr) {
    // Dropped by its image thread after a cancel or a failed output, which this
    // thread has seen too; anything else is a page that is missing.
    if (slot->bRecordFailed || !(CancelRequested() || OutputBroken()))
      FailPrinterOutput("Unable to compress page %u", CurrentPage + 1);
    return;
  }
  if (CancelRequested()) {
    DbgMsg("JbigThread::job cancelled, page %u is dropped", CurrentPage);
    return;
  }
  EmitPageRecord(record);
}

}  // namespace

void CompressSlotPage(JobInfo *slot) {
  Page *page = &slot->page;
  slot->lprecord = nullptr;
  slot->bRecordFailed = FALSE;
  if (CancelRequested() || OutputBroken()) {
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
  free(page->lpbuf);
  page->lpbuf = nullptr;
}

void *JbigThread(void *param) {
  JobInfo *ring = static_cast<JobInfo *>(param);
  DWORD jobtick = GetTickCount();
  DWORD CurrentPage = 0;
  BOOL outputStopped = FALSE;
  while (!JbigThreadExitRequested()) {
    DWORD ticket = SlotChangeTicket();
    DWORD index = CurrentPage % static_cast<DWORD>(MaxThreads());
    JobInfo *slot = &ring[index];
    DWORD finish = SlotState(slot);
    if (finish != kSlotReady) {
      WaitSlotChange(ticket, kPollMs);
      continue;
    }

    if (!outputStopped && OutputBroken()) {
      DbgMsg("JbigThread::output failed, pages from %u on are released unwritten", CurrentPage);
      outputStopped = TRUE;
    }
    if (!outputStopped && CancelRequested()) {
      DbgMsg("JbigThread::job cancelled, pages from %u on are released unwritten", CurrentPage);
      outputStopped = TRUE;
    }
    if (!outputStopped) SendPageRecord(slot, CurrentPage);

    // The record goes first: main's end wait takes a free slot of the last page
    // as "every page written".
    delete slot->lprecord;
    slot->lprecord = nullptr;
    slot->bRecordFailed = FALSE;
    SetSlotState(slot, kSlotFree);
    ++CurrentPage;
  }
  DbgMsg("JbigThread::job using %f sec", (GetTickCount() - jobtick) / 1000.0);
  DbgMsg("JbigThread::exit print out %u pages", CurrentPage);
  return nullptr;
}
