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
#include <pthread.h>

#include <atomic>
#include <cstdint>

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
  std::atomic<DWORD> finish;
  // The finished page record, set by the image thread before it marks the slot
  // ready, freed by the output thread before it marks it free.  Null in a ready
  // slot when the page was not compressed: bRecordFailed then says whether it
  // could not be (the job fails there) or was dropped (cancel, failed output).
  JbigOutputArea *lprecord;
  BOOL bRecordFailed;
};

// Slots in use (1..30); page n lives in slot n % gMAX_THREAD.
extern std::atomic<int> gMAX_THREAD;
// Set to 1 by the main thread to stop the output thread.
extern std::atomic<BOOL> gJbigThreadExit;

// Acquire loads and release stores (with a wake-up) of the hand-over fields.
inline DWORD SlotState(const JobInfo *slot) { return slot->finish.load(std::memory_order_acquire); }
void SetSlotState(JobInfo *slot, DWORD state);
void SetJbigThreadExit(BOOL value);
inline BOOL JbigThreadExitRequested() { return gJbigThreadExit.load(std::memory_order_acquire); }
inline int MaxThreads() { return gMAX_THREAD.load(std::memory_order_acquire); }

// Waits: take a ticket, test the condition, and if it does not hold yet call
// WaitSlotChange with the ticket.  It returns as soon as any hand-over field was
// stored after the ticket was taken, or after timeoutMs.
DWORD SlotChangeTicket();
void WaitSlotChange(DWORD ticket, DWORD timeoutMs);
void NotifySlotChange();

// Initialises all 30 slots and the shared counters before the output thread
// starts.
void InitJobState(JobInfo *ring);

// A page that could not be processed as asked (memory ran out in an image
// operation) is still handed on as a valid page, but the job is no longer what was
// asked for: the image thread says so here, and the reader stops the job.
void ReportPageProcessingFailure();
BOOL PageProcessingFailed();

// Bytes a page in flight is reckoned to hold: two per raster pixel, four in
// two-colour mode (64-bit, never wraps).
uint64_t ReferSize(const cups_page_header2_t *firstHeader);
// Sizes gMAX_THREAD (1..30) from the first page header and the available memory.
int SizeSlotRing(const cups_page_header2_t *firstHeader);
// The pure rule behind SizeSlotRing: slots for a given free memory figure.
int SlotsForMemory(const cups_page_header2_t *firstHeader, uint64_t availableBytes);
