// The image threads' admission gate: page order, the limit, a cancel, and the
// gate's behaviour when no job has opened it.
#include "driver/image_gate.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/cancel_signal.h"

namespace {

// The gate of the tests' job.
ImageGate gate;

// Threads that pass the gate record their page, then stay inside until released.
struct Passage {
  std::mutex mutex;
  std::vector<DWORD> order;
  std::atomic<int> inside{0};
  std::atomic<bool> release{false};
};

void Pass(Passage *p, DWORD page) {
  const bool counted = ImageGateEnter(&gate, page);
  {
    std::lock_guard<std::mutex> lock(p->mutex);
    p->order.push_back(page);
  }
  ++p->inside;
  while (!p->release.load()) std::this_thread::yield();
  --p->inside;
  ImageGateLeave(&gate, counted);
}

// Waits until `n` threads are inside the gate.
void AwaitInside(const Passage &p, int n) {
  while (p.inside.load() < n) std::this_thread::yield();
}

}  // namespace

TEST(ImageGate, AdmitsPagesInOrderWhateverOrderTheirThreadsArrive) {
  ImageGateOpen(&gate, 1);
  Passage p;
  p.release = true;
  std::vector<std::thread> threads;
  for (DWORD page : {3u, 1u, 4u, 0u, 2u}) threads.emplace_back(Pass, &p, page);
  for (auto &t : threads) t.join();
  ImageGateClose(&gate);
  EXPECT_EQ(p.order, (std::vector<DWORD>{0, 1, 2, 3, 4}));
}

TEST(ImageGate, LetsNoMoreThanItsLimitProcessAtOnce) {
  ImageGateOpen(&gate, 2);
  Passage p;
  std::vector<std::thread> threads;
  for (DWORD page = 0; page < 4; ++page) threads.emplace_back(Pass, &p, page);
  AwaitInside(p, 2);
  // The other two stay out for as long as the first two are inside.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(p.inside.load(), 2);
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    EXPECT_EQ(p.order, (std::vector<DWORD>{0, 1}));
  }
  p.release = true;
  for (auto &t : threads) t.join();
  ImageGateClose(&gate);
  EXPECT_EQ(p.order.size(), 4u);
}

TEST(ImageGate, ClosingLetsWaitingThreadsThrough) {
  ImageGateOpen(&gate, 1);
  Passage p;
  std::thread waiting(Pass, &p, 5);  // page 0 never comes
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(p.inside.load(), 0);
  p.release = true;
  ImageGateClose(&gate);
  waiting.join();
  EXPECT_EQ(p.order, std::vector<DWORD>{5});
}

// In a child process, which takes SIGTERM as the filter does: a thread waiting
// for a page that never comes goes through once the job is cancelled.
TEST(ImageGate, ACancelLetsWaitingThreadsThrough) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (!InstallCancelHandler()) _exit(2);
        SetCancelWakeUp([](void *g) { ImageGateClose(static_cast<ImageGate *>(g)); }, &gate);
        ImageGateOpen(&gate, 1);
        std::atomic<bool> through{false};
        std::thread waiting([&through] {
          ImageGateLeave(&gate, ImageGateEnter(&gate, 5));  // page 0 never comes
          through = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (through) _exit(3);
        kill(getpid(), SIGTERM);
        for (int ms = 0; ms < 5000 && !through; ++ms)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!through) _exit(4);
        waiting.join();
        _exit(CancelRequested() ? 0 : 5);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ImageGate, UnopenedGateAdmitsAtOnceAndCountsNothing) {
  ImageGateClose(&gate);
  EXPECT_FALSE(ImageGateEnter(&gate, 42));
  ImageGateLeave(&gate, false);
}

TEST(ImageGate, SizeIsOnePagePerProcessorOrTheNumberAskedFor) {
  EXPECT_EQ(ImageGateSizeFor(8), 8);
  EXPECT_EQ(ImageGateSizeFor(2), 2);
  EXPECT_EQ(ImageGateSizeFor(1), 1);
  EXPECT_EQ(ImageGateSizeFor(0), 1);
  EXPECT_EQ(ImageGateSizeFor(-1), 1);
  const int cores = ImageGateSizeFor(sysconf(_SC_NPROCESSORS_ONLN));
  const char *saved = getenv("ZELVAR_IMAGE_THREADS");
  const std::string keep = saved ? saved : "";
  for (const auto &[text, expected] : std::vector<std::pair<const char *, int>>{{"1", 1},
                                                                                {"3", 3},
                                                                                {"64", 64},
                                                                                {"0", cores},
                                                                                {"65", cores},
                                                                                {"2x", cores},
                                                                                {"", cores}}) {
    setenv("ZELVAR_IMAGE_THREADS", text, 1);
    EXPECT_EQ(ImageGateSize(), expected) << "'" << text << "'";
  }
  if (saved)
    setenv("ZELVAR_IMAGE_THREADS", keep.c_str(), 1);
  else
    unsetenv("ZELVAR_IMAGE_THREADS");
}

// Reading waits while `limit` + 1 pages hold bitmaps, goes on as soon as one is
// released, and a closed gate lets it through.
TEST(ImageGate, ReadingWaitsWhileTheLimitAndOnePageHoldBitmaps) {
  ImageGateOpen(&gate, 2);
  for (int i = 0; i < 3; ++i) ImageGateReservePage(&gate);
  // A reader that is still waiting after 50 ms, and goes on once `unblock` ran.
  for (void (*unblock)() : {+[] { ImageGateReleasePage(&gate); }, +[] { ImageGateClose(&gate); }}) {
    std::atomic<bool> read{false};
    std::thread reader([&read] {
      ImageGateReservePage(&gate);
      read = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(read.load());
    unblock();
    reader.join();
    EXPECT_TRUE(read.load());
  }
  // Unopened: nothing waits, nothing is counted.
  for (int i = 0; i < 10; ++i) ImageGateReservePage(&gate);
  ImageGateReleasePage(&gate);
}
