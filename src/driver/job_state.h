// Page slots and the job state the filter's threads share.
//
// A page travels from the main thread (raster reading) to its image thread, which
// processes and compresses it, and on to the output thread, which sends the page
// records in page order, inside a JobInfo slot.  The slot holds the page (its
// 8-bit bitmap from reading until it is compressed), then its finished page
// record (`lprecord`) until it is sent.  Ownership passes only through the slot's
// `finish` value and the start of the image thread: every store of `finish` is a
// release that publishes what the storing thread wrote before, every load an
// acquire.  Each store also wakes the threads waiting in WaitSlotChange, so a
// hand-over costs microseconds instead of a poll interval.
#pragma once

#include <cups/raster.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "page/page.h"
#include "runtime/win_types.h"

struct JbigOutputArea;

constexpr int kSlotCount = 30;  // slots in the ring; gMAX_THREAD of them are used
constexpr DWORD kPollMs = 300;  // longest pause between two looks of a wait

// finish values
constexpr DWORD kSlotFree = 0;    // no page: the main thread may fill the slot
constexpr DWORD kSlotInWork = 1;  // read, processed and compressed
constexpr DWORD kSlotReady = 2;   // compressed: the record waits for its turn

struct JobInfo {
  Page page;
  std::atomic<DWORD> finish{kSlotFree};
  // The finished page record, set by the image thread before it marks the slot
  // ready, freed by the output thread before it marks it free.  Null in a ready
  // slot when the page was not compressed: bRecordFailed then says whether it
  // could not be (the job fails there) or was dropped (cancel, failed output).
  JbigOutputArea *lprecord = nullptr;
  BOOL bRecordFailed = FALSE;
};

// One job's ring of page slots and the flags its threads share.  Every store of
// a hand-over value bumps `generation` and wakes all waiters.
struct JobRing {
  JobInfo slots[kSlotCount];
  // Slots in use (1..30); page n lives in slot n % gMAX_THREAD.
  std::atomic<int> gMAX_THREAD{1};
  // Set by the main thread to stop the output thread.
  std::atomic<BOOL> gJbigThreadExit{FALSE};
  // A page could not be processed as asked.
  std::atomic<BOOL> pageProcessingFailed{FALSE};
  std::mutex mutex;
  std::condition_variable changed;
  DWORD generation = 0;

  JobRing();
  ~JobRing();
  JobRing(const JobRing &) = delete;
  JobRing &operator=(const JobRing &) = delete;
};

// Acquire loads and release stores (with a wake-up) of the hand-over values.
inline DWORD SlotState(const JobInfo *slot) { return slot->finish.load(std::memory_order_acquire); }
void SetSlotState(JobRing *ring, JobInfo *slot, DWORD state);
void SetJbigThreadExit(JobRing *ring, BOOL value);
inline BOOL JbigThreadExitRequested(const JobRing *ring) {
  return ring->gJbigThreadExit.load(std::memory_order_acquire);
}
inline int MaxThreads(const JobRing *ring) {
  return ring->gMAX_THREAD.load(std::memory_order_acquire);
}
// The slot of page `page`.
inline JobInfo *SlotOf(JobRing *ring, DWORD page) {
  return &ring->slots[page % static_cast<DWORD>(MaxThreads(ring))];
}

// Waits: take a ticket, test the condition, and if it does not hold yet call
// WaitSlotChange with the ticket.  It returns as soon as any hand-over value was
// stored after the ticket was taken, or after timeoutMs.
DWORD SlotChangeTicket(JobRing *ring);
void WaitSlotChange(JobRing *ring, DWORD ticket, DWORD timeoutMs);
void NotifySlotChange(JobRing *ring);

// A page that could not be processed as asked (memory ran out in an image
// operation) is still handed on as a valid page, but the job is no longer what was
// asked for: the image thread says so here, and the reader stops the job.
void ReportPageProcessingFailure(JobRing *ring);
BOOL PageProcessingFailed(const JobRing *ring);

// Bytes a page in flight is reckoned to hold: two per raster pixel, four in
// two-colour mode (64-bit, never wraps).
uint64_t ReferSize(const cups_page_header2_t *firstHeader);
// Sizes gMAX_THREAD (1..30) from the first page header and the available memory.
int SizeSlotRing(JobRing *ring, const cups_page_header2_t *firstHeader);
// The pure rule behind SizeSlotRing: slots for a given free memory figure.
int SlotsForMemory(const cups_page_header2_t *firstHeader, uint64_t availableBytes);
