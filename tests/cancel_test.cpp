// Cancelling a job: CUPS sends the filter SIGTERM and never kills it after that,
// so the filter must end the printer job itself, promptly, whatever it is doing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/syscall.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "filter_process.h"
#include "job_parser.h"
#include "live_filter.h"
#include "numbered_pages.h"
#include "sanitizer_build.h"
#include "spool_probe.h"
#include "test_raster.h"

namespace {

using namespace std::chrono_literals;
using filtertest::Count;
using filtertest::JobArgs;
using filtertest::LiveFilter;
using filtertest::NumberedPages;
using filtertest::PageOrder;
using filtertest::ScratchDir;

// The filter's environment: as this process's, but a ThreadSanitizer build of the
// filter does not sleep its default second at exit, which would hide how long
// the filter itself takes to end.
std::vector<std::string> Environment(std::vector<std::string> env = {}) {
  const char *tsan = getenv("TSAN_OPTIONS");
  env.push_back(std::string("TSAN_OPTIONS=") + (tsan ? tsan : "") + ":atexit_sleep_ms=0");
  return env;
}

// The raster bytes of the first `whole` pages and then half of the next one.
std::string CutInsidePage(const std::vector<testraster::Page> &pages, size_t whole) {
  std::vector<testraster::Page> head(pages.begin(), pages.begin() + whole);
  std::string bytes = testraster::RasterBytes(head);
  std::string next = testraster::RasterBytes({pages[whole]});
  // Past the sync word of the one-page stream: the header and half the pixels.
  return bytes + next.substr(4, (next.size() - 4) / 2);
}

// The raster bytes of the first `whole` pages and 100 bytes of the next header.
std::string CutInsideHeader(const std::vector<testraster::Page> &pages, size_t whole) {
  std::vector<testraster::Page> head(pages.begin(), pages.begin() + whole);
  return testraster::RasterBytes(head) + testraster::RasterBytes({pages[whole]}).substr(4, 100);
}

// Sends SIGTERM and waits, the input still open, as long as a filter may take;
// the exit status, and in `elapsed` how long it took.
int CancelAndWait(LiveFilter &filter, std::chrono::milliseconds *elapsed) {
  const auto start = std::chrono::steady_clock::now();
  kill(filter.pid(), SIGTERM);
  int status = filter.WaitKeepingInput(10s);
  *elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return status;
}

// The "PAGE:" lines of a log, in order.
std::string PageLines(const std::string &err) {
  std::string lines;
  for (size_t at = err.find("\nPAGE: "); at != std::string::npos; at = err.find("\nPAGE: ", at + 1))
    lines += err.substr(at + 1, err.find('\n', at + 1) - at);
  return lines;
}

bool WellFormed(const std::string &out) {
  inspect::ParsedJob job =
      inspect::ParseJob({reinterpret_cast<const uint8_t *>(out.data()), out.size()});
  EXPECT_TRUE(job.ok) << job.error << " at " << job.error_offset << " of " << out.size();
  return job.ok;
}

TEST(FilterCancel, AJobCancelledWhileWaitingForItsInputEndsAfterThePagesSent) {
  signal(SIGPIPE, SIG_IGN);
  std::vector<testraster::Page> pages = NumberedPages(6, false, 1);
  // Also when the SIGTERM watcher thread (the filter's first thread start)
  // cannot start and a signal handler stands in for it.  ThreadSanitizer's
  // runtime cannot start under the preloaded fault library.
  struct Setup {
    const char *what;
    std::vector<std::string> env;
    bool watcher;
  };
  std::vector<Setup> setups = {{"with the watcher thread", Environment(), true}};
  if (!kThreadSanitizer) {
    const char *asan = getenv("ASAN_OPTIONS");
    setups.push_back(
        {"without the watcher thread",
         Environment(
             {std::string("LD_PRELOAD=") + ZELVAR_FAULT_PRELOAD_PATH, "ZELVAR_FAIL_THREAD_AT=1",
              std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"}),
         false});
  }
  // The upstream filter has sent three pages and part of the fourth, or the
  // three pages alone, and keeps its end of the pipe open: the filter waits
  // inside a page or for the next header.
  const std::string inputs[] = {CutInsidePage(pages, 3),
                                testraster::RasterBytes({pages.begin(), pages.begin() + 3})};
  for (const Setup &s : setups)
    for (const std::string &input : inputs) {
      SCOPED_TRACE(std::string(s.what) +
                   (&input == &inputs[0] ? ", inside a page" : ", between pages"));
      LiveFilter filter(JobArgs(""), s.env);
      ASSERT_GT(filter.pid(), 0);
      ASSERT_TRUE(filter.Feed(input));
      ASSERT_TRUE(filter.WaitForLog("PAGE: 3 1\n", 20s)) << filter.err();
      std::chrono::milliseconds elapsed;
      EXPECT_EQ(CancelAndWait(filter, &elapsed), 0) << filter.err();
      EXPECT_LT(elapsed, 2s);
      const std::string out = filter.out(), err = filter.err();
      EXPECT_TRUE(WellFormed(out));
      EXPECT_EQ(PageOrder(out), "1 2 3");
      EXPECT_EQ(PageLines(err), "PAGE: 1 1\nPAGE: 2 1\nPAGE: 3 1\n");
      EXPECT_EQ(Count(err, "ERROR:"), 0u) << err;
      EXPECT_EQ(Count(err, "\nINFO: Job cancelled"), 1u);
      EXPECT_EQ(Count(err, "cancel::no watcher thread"), s.watcher ? 0u : 1u);
    }
}

// cupsd signals the filters of a job one after the other, so the upstream filter
// may die and close the pipe just before this one gets its SIGTERM.
TEST(FilterCancel, InputCutShortByTheCancelIsNoError) {
  signal(SIGPIPE, SIG_IGN);
  std::vector<testraster::Page> pages = NumberedPages(4, false, 1);
  for (const bool inPage : {true, false}) {
    SCOPED_TRACE(inPage ? "cut inside a page" : "cut inside a header");
    LiveFilter filter(JobArgs(""), Environment());
    ASSERT_GT(filter.pid(), 0);
    ASSERT_TRUE(filter.Feed(inPage ? CutInsidePage(pages, 2) : CutInsideHeader(pages, 2)));
    ASSERT_TRUE(filter.WaitForLog("PAGE: 2 1\n", 20s)) << filter.err();
    filter.EndInput();
    std::this_thread::sleep_for(20ms);
    std::chrono::milliseconds elapsed;
    EXPECT_EQ(CancelAndWait(filter, &elapsed), 0) << filter.err();
    EXPECT_LT(elapsed, 2s);
    const std::string out = filter.out(), err = filter.err();
    EXPECT_TRUE(WellFormed(out));
    EXPECT_EQ(PageOrder(out), "1 2");
    EXPECT_EQ(Count(err, "ERROR:"), 0u) << err;
  }
}

TEST(FilterCancel, ACancelledSpooledJobSendsNoFurtherSheetOrCopyAndLeavesNoSpoolFile) {
  signal(SIGPIPE, SIG_IGN);
  ScratchDir tmp;
  // Two-sided with two collated copies: spooled, each sheet sent back page first.
  std::vector<testraster::Page> pages = NumberedPages(4, true, 2);
  LiveFilter filter(JobArgs("", "Collate=true"), Environment({"TMPDIR=" + tmp.path()}));
  ASSERT_GT(filter.pid(), 0);
  ASSERT_TRUE(filter.Feed(CutInsidePage(pages, 2)));
  // Reading the third page: the first sheet may have gone out after the second
  // page was read, if both were spooled by then.
  ASSERT_TRUE(filter.WaitForLog("INFO: Printing page 3\n", 20s)) << filter.err();
  ASSERT_NE(spooltest::OpenSpoolFile(filter.pid(), tmp.path()), "");
  std::chrono::milliseconds elapsed;
  EXPECT_EQ(CancelAndWait(filter, &elapsed), 0) << filter.err();
  EXPECT_LT(elapsed, 2s);
  const std::string out = filter.out(), err = filter.err();
  EXPECT_TRUE(WellFormed(out));
  // No half sheet, no blank back page, no further copy.
  const std::string order = PageOrder(out);
  EXPECT_TRUE(order == "" || order == "2 1") << order;
  EXPECT_EQ(PageLines(err), order == "" ? "" : "PAGE: 1 1\nPAGE: 2 1\n");
  EXPECT_EQ(Count(err, "ERROR:"), 0u) << err;
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST(FilterCancel, ACancelWhilePagesAreInFlightDropsThemAndEndsTheJob) {
  signal(SIGPIPE, SIG_IGN);
  // Large pages of busy content: processing and compressing each takes tens of
  // milliseconds even on a fast machine, so the last ones are still in flight
  // when the input has ended and the first one has gone out.
  testraster::Page photo = testraster::WhitePage(testraster::MakeHeader(3200, 4800, 8, 600));
  testraster::DrawPhotoLike(photo, 1);
  // The band of the page mark stays white.
  testraster::InkRect(photo, 0, 4800 / 20, 3200, 4800 / 5, 0);
  std::vector<testraster::Page> pages;
  for (unsigned i = 1; i <= 6; ++i) {
    pages.push_back(photo);
    testraster::DrawPageMark(pages.back(), i);
  }
  LiveFilter filter(JobArgs(""), Environment());
  ASSERT_GT(filter.pid(), 0);
  ASSERT_TRUE(filter.Feed(testraster::RasterBytes(pages)));
  filter.EndInput();
  // Every page read, the filter waits for the last one to be written.
  ASSERT_TRUE(filter.WaitForLog("PAGE: 1 1\n", 60s)) << filter.err();
  ASSERT_TRUE(filter.WaitForLog("main::waiting for page 5 ", 60s)) << filter.err();
  std::chrono::milliseconds elapsed;
  EXPECT_EQ(CancelAndWait(filter, &elapsed), 0) << filter.err();
  EXPECT_LT(elapsed, 2s);
  const std::string out = filter.out(), err = filter.err();
  EXPECT_TRUE(WellFormed(out));
  // The pages sent are the first ones, each reported once.
  inspect::ParsedJob job =
      inspect::ParseJob({reinterpret_cast<const uint8_t *>(out.data()), out.size()});
  const size_t sent = job.pages.size();
  EXPECT_LT(sent, pages.size());
  std::string order, lines;
  for (size_t n = 1; n <= sent; ++n) {
    order += (n > 1 ? " " : "") + std::to_string(n);
    lines += "PAGE: " + std::to_string(n) + " 1\n";
  }
  EXPECT_EQ(PageOrder(job), order);
  EXPECT_EQ(PageLines(err), lines);
  EXPECT_EQ(Count(err, "\nINFO: Job cancelled"), 1u);
}

// Whether a thread of the process waits in a write to its standard output.
bool WaitingToWriteStandardOutput(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code ec;
  for (const auto &task : std::filesystem::directory_iterator(tasks, ec)) {
    // The number of the system call a blocked thread is in, then its arguments.
    std::ifstream in(task.path() / "syscall");
    long number = -1;
    std::string fd;
    if (in >> number >> fd && number == SYS_write && fd == "0x1") return true;
  }
  return false;
}

// Under a real scheduler a cancelled job's backend is stopped together with the
// filter, so the printer connection closes just before or just after the
// filter's SIGTERM, while the filter is writing.  That failed write is the
// cancel's, not an error; without a cancel it is one.
TEST(FilterCancel, APrinterConnectionClosedByTheCancelIsNoError) {
  signal(SIGPIPE, SIG_IGN);
  ScratchDir dir;
  const std::string raster = dir.File("job.ras");
  ASSERT_TRUE(testraster::WriteRasterFile(raster, NumberedPages(40, false, 1, true)));
  struct Order {
    const char *what;
    bool closeFirst, cancel;
  };
  for (const Order &o :
       {Order{"closed after SIGTERM", false, true}, Order{"closed just before SIGTERM", true, true},
        Order{"closed without a cancel", true, false}}) {
    SCOPED_TRACE(o.what);
    LiveFilter filter(JobArgs(raster), Environment());
    ASSERT_GT(filter.pid(), 0);
    ASSERT_TRUE(filter.WaitForLog("PAGE: 1 1\n", 20s)) << filter.err();
    // The printer takes no more data: the filter's writes block on the full pipe.
    filter.PauseOutput();
    bool blocked = false;
    for (int i = 0; i < 2000 && !blocked; ++i) {
      std::this_thread::sleep_for(10ms);
      blocked = WaitingToWriteStandardOutput(filter.pid());
    }
    ASSERT_TRUE(blocked) << "the filter does not wait to write; " << filter.OutputPending()
                         << " bytes in the pipe";
    if (o.closeFirst) filter.CloseOutput();
    if (o.cancel) kill(filter.pid(), SIGTERM);
    if (!o.closeFirst) {
      std::this_thread::sleep_for(20ms);
      filter.CloseOutput();
    }
    const int status = filter.WaitKeepingInput(10s);
    const std::string err = filter.err();
    if (o.cancel) {
      EXPECT_EQ(status, 0) << err;
      EXPECT_EQ(Count(err, "ERROR:"), 0u) << err;
      EXPECT_EQ(Count(err, "the printer connection is gone"), 1u) << err;
    } else {
      EXPECT_EQ(status, 1) << err;
      EXPECT_EQ(Count(err, "ERROR: Unable to write print data: Broken pipe\n"), 1u) << err;
    }
    EXPECT_LT(PageLines(err).size(), 40 * std::string("PAGE: 1 1\n").size()) << "not blocked";
  }
}

}  // namespace
