#include "driver/job_state.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "output/printer_output.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/win_helpers.h"

std::atomic<int> gMAX_THREAD{1};
std::atomic<BOOL> gJbigThreadExit{FALSE};
static std::atomic<BOOL> gPageProcessingFailed{FALSE};

namespace {

// Every store of a hand-over field bumps the generation and wakes all waiters.
// This state is never destroyed: detached image threads may still be signalling
// while the process exits.
struct SlotSignal {
  std::mutex mutex;
  std::condition_variable changed;
  DWORD generation = 0;
};

SlotSignal &Signal() {
  static SlotSignal *signal = new SlotSignal;
  return *signal;
}

}  // namespace

void NotifySlotChange() {
  SlotSignal &s = Signal();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.generation;
  }
  s.changed.notify_all();
}

DWORD SlotChangeTicket() {
  SlotSignal &s = Signal();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.generation;
}

void WaitSlotChange(DWORD ticket, DWORD timeoutMs) {
  SlotSignal &s = Signal();
  std::unique_lock<std::mutex> lock(s.mutex);
  s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [&s, ticket] { return s.generation != ticket; });
}

void SetSlotState(JobInfo *slot, DWORD state) {
  slot->finish.store(state, std::memory_order_release);
  NotifySlotChange();
}

void SetJbigThreadExit(BOOL value) {
  gJbigThreadExit.store(value, std::memory_order_release);
  NotifySlotChange();
}

void ReportPageProcessingFailure() {
  gPageProcessingFailed.store(TRUE, std::memory_order_release);
  NotifySlotChange();
}

BOOL PageProcessingFailed() { return gPageProcessingFailed.load(std::memory_order_acquire); }

void InitJobState(JobInfo *ring) {
  gPageProcessingFailed.store(FALSE, std::memory_order_relaxed);
  for (int i = 0; i < kSlotCount; ++i) {
    ring[i].page = Page{};
    ring[i].page.PageIndex = static_cast<DWORD>(i);
    ring[i].finish.store(kSlotFree, std::memory_order_relaxed);
    ring[i].lprecord = nullptr;
    ring[i].bRecordFailed = FALSE;
  }
  count_bytes = 0;
  gOutputSize = 0;
  gMAX_THREAD.store(1, std::memory_order_release);
  SetJbigThreadExit(FALSE);
}

uint64_t ReferSize(const cups_page_header2_t *h) {
  // Two bytes per raster pixel, four in two-colour mode, computed wide so it
  // cannot wrap.
  uint64_t referSize = static_cast<uint64_t>(h->cupsWidth) * h->cupsHeight * 2;
  if (PageSettingsOf(*h).twoColour) referSize *= 2;
  return referSize;
}

int SlotsForMemory(const cups_page_header2_t *h, uint64_t availableBytes) {
  uint64_t referSize = ReferSize(h);
  if (referSize == 0)  // a page of no size: as little room as possible per page
    referSize = 1;
  uint64_t slots = (availableBytes / 2) / referSize;
  if (slots < 1) slots = 1;
  if (slots > static_cast<uint64_t>(kSlotCount)) slots = kSlotCount;
  return static_cast<int>(slots);
}

int SizeSlotRing(const cups_page_header2_t *h) {
  const uint64_t memory = getTotalSystemMemory();
  const int slots = SlotsForMemory(h, memory);
  DbgMsg("gMAX_THREAD = %d (%llu bytes a page, %llu bytes of memory)", slots,
         static_cast<unsigned long long>(ReferSize(h)), static_cast<unsigned long long>(memory));
  gMAX_THREAD.store(slots, std::memory_order_release);
  return slots;
}
