#include "output/jbig_thread.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "driver/cancel_signal.h"
#include "driver/job_state.h"
#include "image/bit_ops.h"
#include "output/page_record.h"
#include "output/printer_output.h"
#include "output/spool_file.h"
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
  DbgMsg("JbigThread::gSaveToFile = 1, gSpoolPageHeader.dataLen = %zu", record->size);
  BOOL appended = AppendSpoolPage(record->data, record->size);
  DbgMsg("JbigThread::gSaveToFile = 1, gSpoolFileHeader.pages = %u", SpooledPages());
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
  DbgMsg("JbigThread::page data outsize = %zu", record->size);
  if (CancelRequested()) {
    DbgMsg("JbigThread::job cancelled, page %u is dropped", CurrentPage);
    return;
  }
  EmitPageRecord(record);
}

}  // namespace

BOOL BuildPageRecord(const JobInfo *slot, BYTE *bitmap, JbigOutputArea *record) {
  size_t ByteNo = static_cast<size_t>(slot->linebyte) * slot->page_height;
  // The page header gives the data's length in 32 bits: the area never grows past
  // that, so a page whose stream could not be sent fails without taking the memory.
  record->limit = kPageRecordPrefix + 0xFFFFFFFFu;
  // The bitmap's size is what the stream usually stays well below; the area grows
  // for a page that compresses badly.
  if (!ReserveOutputArea(record, std::min(ByteNo + kPageRecordPrefix, record->limit))) return FALSE;
  record->size = 0;
  BYTE prefix[kPageRecordPrefix] = {};
  AppendToOutputArea(record, prefix, sizeof prefix);

  DWORD blackDots = Prnt_CountBlackDots(bitmap, static_cast<long>(ByteNo));
  DWORD tick = GetTickCount();
  const double cpuStart = ThreadCpuSeconds();
  DbgMsg("BuildPageRecord::page %u outsize %zu", slot->PageIndex, ByteNo + kPageRecordPrefix);
  DbgMsg("BuildPageRecord::page_width %u", slot->page_width);
  DbgMsg("BuildPageRecord::page_height %u", slot->page_height);
  int64_t TotalOutLen = 0, OutJBGDataTimes = 0;
  int64_t CompressSize =
      Ferrun_JBIGCompression(slot->page_width, slot->page_height, bitmap, record, &TotalOutLen,
                             &OutJBGDataTimes, kJbigOrder, kJbigOptions, 1);
  DbgMsg("BuildPageRecord::option = %d", kJbigOptions);
  DbgMsg("BuildPageRecord::page %u Finish, using %f sec, cpu %f sec", slot->PageIndex,
         (GetTickCount() - tick) / 1000.0, ThreadCpuSeconds() - cpuStart);
  DbgMsg("BuildPageRecord::CompressSize = %lld", static_cast<long long>(CompressSize));
  if (CompressSize < 0 || CompressSize > 0xFFFFFFFF) return FALSE;

  memcpy(record->data, kPageRecordStart, sizeof kPageRecordStart);
  PJL_WritePageHeader(slot, record->data + sizeof kPageRecordStart,
                      static_cast<DWORD>(CompressSize), blackDots);
  return TRUE;
}

void CompressSlotPage(JobInfo *slot) {
  BYTE *bitmap = SlotBitmap(slot);
  slot->lprecord = nullptr;
  slot->bRecordFailed = FALSE;
  if (CancelRequested() || OutputBroken()) {
    DbgMsg("BuildPageRecord::page %u is not compressed: the job is %s", slot->PageIndex,
           CancelRequested() ? "cancelled" : "no longer sent");
  } else {
    std::unique_ptr<JbigOutputArea> record(new (std::nothrow) JbigOutputArea);
    if (bitmap != nullptr && record && BuildPageRecord(slot, bitmap, record.get())) {
      slot->lprecord = record.release();
    } else {
      DbgMsg("BuildPageRecord::page %u could not be compressed", slot->PageIndex);
      slot->bRecordFailed = TRUE;
    }
  }
  GlobalFree(bitmap);
  SetSlotBitmap(slot, nullptr);
}

void *JbigThread(void *param) {
  JobInfo *ring = static_cast<JobInfo *>(param);
  DWORD jobtick = GetTickCount();
  DWORD CurrentPage = 0;
  BOOL outputStopped = FALSE;
  while (!JbigThreadExitRequested()) {
    DWORD ticket = SlotChangeTicket();
    DWORD index = CurrentPage % static_cast<DWORD>(MaxThreads());
    DbgMsg("JbigThread::check buffer index = %u, CurrentPage = %u", index, CurrentPage);
    JobInfo *slot = &ring[index];
    DWORD finish = SlotState(slot);
    DbgMsg("JbigThread::finish = %u", finish);
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
    DbgMsg("JbigThread::free index %u memory", index);

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
