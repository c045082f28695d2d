// Page slots: ring sizing, initialisation, and the wake-up of waiting threads.
#include "driver/job_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "output/jbig_compress.h"
#include "output/printer_output.h"
#include "test_raster.h"

namespace {

constexpr uint64_t kGiB = 1ull << 30;

cups_page_header2_t Header(unsigned w, unsigned h, bool twoColour = false) {
  cups_page_header2_t hd = testraster::MakeHeader(w, h, 24);
  hd.cupsInteger[4] = twoColour ? 1 : 0;
  return hd;
}

TEST(SlotRing, GivesEachPageInFlightTwoBytesPerPixelOfHalfTheFreeMemory) {
  cups_page_header2_t a4 = Header(4961, 7016);  // referSize 69612752
  EXPECT_EQ(ReferSize(&a4), 69612752u);
  EXPECT_EQ(SlotsForMemory(&a4, 69612752ull * 2 * 7 + 5), 7);
  cups_page_header2_t a4Two = Header(4961, 7016, true);
  EXPECT_EQ(ReferSize(&a4Two), 2 * 69612752u);
  EXPECT_EQ(SlotsForMemory(&a4Two, 69612752ull * 2 * 7 + 5), 3);
}

TEST(SlotRing, StaysWithinOneToThirty) {
  cups_page_header2_t small = Header(100, 100);
  EXPECT_EQ(SlotsForMemory(&small, 64 * kGiB), 30);
  cups_page_header2_t huge = Header(60000, 60000);
  EXPECT_EQ(SlotsForMemory(&huge, 1 * kGiB), 1);
  EXPECT_EQ(SlotsForMemory(&small, 0), 1);
}

TEST(SlotRing, NeitherWrapsNorDividesByZero) {
  // 65536 x 32768 x 2 x 2 is 2^33: in 32 bits it would wrap to 0.
  cups_page_header2_t wrap = Header(65536, 32768, true);
  EXPECT_EQ(ReferSize(&wrap), 1ull << 33);
  EXPECT_EQ(SlotsForMemory(&wrap, 16 * kGiB), 1);
  cups_page_header2_t empty = Header(0, 0);
  EXPECT_EQ(ReferSize(&empty), 0u);
  int slots = SlotsForMemory(&empty, 16 * kGiB);
  EXPECT_GE(slots, 1);
  EXPECT_LE(slots, 30);
  cups_page_header2_t widest = Header(0xFFFFFFFFu, 0xFFFFFFFFu, true);
  EXPECT_EQ(SlotsForMemory(&widest, ~0ull), 1);
}

// A hand-over wakes a waiting thread at once instead of after the poll interval.
// The wait here is given 20 s, so only a missed wake-up can make it slow.
TEST(JobState, StoringAHandOverFieldWakesAWaiter) {
  auto ring = std::make_unique<JobRing>();
  JobInfo *slot = &ring->slots[0];
  for (int round = 0; round < 3; ++round) {
    SetSlotState(ring.get(), slot, kSlotInWork);
    auto begin = std::chrono::steady_clock::now();
    std::thread waiter([&] {
      for (;;) {
        DWORD ticket = SlotChangeTicket(ring.get());
        if (SlotState(slot) == kSlotReady) return;
        WaitSlotChange(ring.get(), ticket, 20000);
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    SetSlotState(ring.get(), slot, kSlotReady);
    waiter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
  }
}

TEST(JobState, AWaitWithAStaleTicketReturnsAtOnce) {
  // The store came between taking the ticket and waiting: no wake-up is lost.
  auto ring = std::make_unique<JobRing>();
  DWORD ticket = SlotChangeTicket(ring.get());
  SetJbigThreadExit(ring.get(), FALSE);
  auto begin = std::chrono::steady_clock::now();
  WaitSlotChange(ring.get(), ticket, 20000);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
}

}  // namespace
