#include "driver/job_state.h"

#include <chrono>

#include "output/jbig_output_area.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/win_helpers.h"

JobRing::JobRing() {
  for (int i = 0; i < kSlotCount; ++i) {
    slots[i].page = Page{};
    slots[i].page.PageIndex = static_cast<DWORD>(i);
  }
}

JobRing::~JobRing() {
  // The last holder of the job is gone: what a cancelled job left in its slots
  // (a record compressed while the output thread was ending) is nobody's now.
  for (JobInfo &slot : slots) {
    delete slot.lprecord;
    GlobalFree(slot.page.lpbuf);
  }
}

void NotifySlotChange(JobRing *ring) {
  {
    std::lock_guard<std::mutex> lock(ring->mutex);
    ++ring->generation;
  }
  ring->changed.notify_all();
}

DWORD SlotChangeTicket(JobRing *ring) {
  std::lock_guard<std::mutex> lock(ring->mutex);
  return ring->generation;
}

void WaitSlotChange(JobRing *ring, DWORD ticket, DWORD timeoutMs) {
  std::unique_lock<std::mutex> lock(ring->mutex);
  ring->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [ring, ticket] { return ring->generation != ticket; });
}

void SetSlotState(JobRing *ring, JobInfo *slot, DWORD state) {
  slot->finish.store(state, std::memory_order_release);
  NotifySlotChange(ring);
}

void SetJbigThreadExit(JobRing *ring, BOOL value) {
  ring->gJbigThreadExit.store(value, std::memory_order_release);
  NotifySlotChange(ring);
}

void ReportPageProcessingFailure(JobRing *ring) {
  ring->pageProcessingFailed.store(TRUE, std::memory_order_release);
  NotifySlotChange(ring);
}

BOOL PageProcessingFailed(const JobRing *ring) {
  return ring->pageProcessingFailed.load(std::memory_order_acquire);
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

int SizeSlotRing(JobRing *ring, const cups_page_header2_t *h) {
  const uint64_t memory = getTotalSystemMemory();
  const int slots = SlotsForMemory(h, memory);
  DbgMsg("gMAX_THREAD = %d (%llu bytes a page, %llu bytes of memory)", slots,
         static_cast<unsigned long long>(ReferSize(h)), static_cast<unsigned long long>(memory));
  ring->gMAX_THREAD.store(slots, std::memory_order_release);
  return slots;
}
