// Page records and the output thread: pages in order however their compression
// ends, records that decode back to the bitmaps that went in, and a printer that
// goes away.
#include "driver/jbig_thread.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "driver/job_state.h"
#include "job_parser.h"
#include "output/jbig_compress.h"
#include "output/pjl_framing.h"
#include "output/printer_output.h"
#include "page_decoder.h"
#include "printer_job_fixture.h"

namespace {

uint64_t SetBits(const std::vector<uint8_t> &bits) {
  uint64_t n = 0;
  for (uint8_t b : bits) n += static_cast<uint64_t>(std::popcount(b));
  return n;
}

std::vector<testjob::Page> MixedPages() {
  std::mt19937 rng(77);
  std::vector<testjob::Page> pages;
  pages.push_back(testjob::BlockPage(1024, 768, 1));
  pages.push_back(testjob::BlankPage(992, 640));
  pages.push_back(testjob::RandomPage(512, 256, &rng));  // compresses to more than its bitmap
  testjob::Page two = testjob::BlockPage(640, 2 * 320, 2);
  two.header.cupsInteger[4] = 1;  // black plane above red plane
  pages.push_back(two);
  pages.push_back(testjob::BlockPage(1024, 768, 3));
  return pages;
}

// Every record decodes to its page and carries the page's numbers.
void ExpectPagesMatch(const inspect::ParsedJob &job, const std::vector<testjob::Page> &pages) {
  ASSERT_EQ(job.pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    const inspect::PageRecord &r = job.pages[i];
    const testjob::Page &p = pages[i];
    EXPECT_EQ(r.page_width, p.width) << i;
    EXPECT_EQ(r.page_height, p.height) << i;
    EXPECT_EQ(r.datasize, p.bits.size()) << i;
    EXPECT_EQ(r.blackDots, SetBits(p.bits)) << i;
    EXPECT_EQ(r.colors, p.header.cupsInteger[4] == 1 ? 2 : 1) << i;
    inspect::Bitmap out;
    std::string error;
    ASSERT_TRUE(inspect::DecodePage(r, &out, &error)) << "page " << i << ": " << error;
    EXPECT_EQ(out.bits, p.bits) << "page " << i;
  }
}

}  // namespace

TEST(JbigThread, PagesComeOutInOrderAndDecodeToTheBitmapsThatWentIn) {
  std::vector<testjob::Page> pages = MixedPages();
  for (int slots : {1, 3, 30}) {
    testjob::OutputCapture out;
    testjob::WriteJob(pages, slots);
    std::vector<uint8_t> bytes = out.Bytes();
    inspect::ParsedJob job = inspect::ParseJob(bytes);
    ASSERT_TRUE(job.ok) << job.error << " at " << job.error_offset;
    ExpectPagesMatch(job, pages);
    EXPECT_EQ(count_bytes, bytes.size());
    EXPECT_NE(bytes.size() % 512, 0u);
    EXPECT_FALSE(PrinterOutputFailed());

    // The blank page is the bare stripe end; the random page outgrew its bitmap.
    EXPECT_EQ(job.pages[1].compsize, 2u);
    EXPECT_EQ(job.pages[1].data[0], 0xFF);
    EXPECT_EQ(job.pages[1].data[1], 0x02);
    EXPECT_GT(job.pages[2].compsize, job.pages[2].datasize);
    // Records follow each other with nothing between them.
    for (size_t i = 1; i < job.pages.size(); ++i)
      EXPECT_EQ(job.pages[i].offset, job.pages[i - 1].data_offset + job.pages[i - 1].compsize);
  }
}

TEST(JbigThread, JobThatWouldEndOn512BytesGetsTheAlignmentComment) {
  std::vector<testjob::Page> pages = {testjob::BlockPage(1024, 512, 4),
                                      testjob::BlockPage(1024, 512, 5)};
  // The record lengths, to choose a JCL text that puts the end on a boundary.
  size_t records = 0;
  for (const testjob::Page &p : pages) {
    std::vector<uint8_t> copy = p.bits;
    JbigOutputArea area;
    int64_t n = Ferrun_JBIGCompression(p.width, p.height, copy.data(), &area, nullptr, nullptr,
                                       kJbigOrder, kJbigOptions, 1);
    ASSERT_GT(n, 0);
    records += 34 + static_cast<size_t>(n);
  }
  testjob::OutputCapture out;
  count_bytes = 0;
  PJL_WriteStartJobCmd_Zelvar(&pages[0].header, 1, "q", "u", "t", "1", FALSE, "");
  size_t before = count_bytes + 1 + records + 70;  // ESC of the JCL text, pages, trailer
  size_t jcl = 512 - before % 512;
  std::string text = "\x1b" + std::string(jcl, 'J');
  ASSERT_TRUE(WriteToPrinter(text.data(), text.size()));
  testjob::RunCompressionThread(pages, 2);
  PJL_WriteCloseJobCmd(&pages[0].header);

  std::vector<uint8_t> bytes = out.Bytes();
  EXPECT_EQ(bytes.size() % 512, 33u);
  inspect::ParsedJob job = inspect::ParseJob(bytes);
  ASSERT_TRUE(job.ok) << job.error << " at " << job.error_offset;
  EXPECT_TRUE(job.alignment_comment);
  EXPECT_EQ(job.jcl_text, std::string(jcl, 'J'));
  ExpectPagesMatch(job, pages);
}

TEST(JbigThread, WithoutPagesItWritesNothingAndStops) {
  testjob::OutputCapture out;
  count_bytes = 0;
  testjob::RunCompressionThread({}, 1);
  EXPECT_TRUE(out.Bytes().empty());
  EXPECT_EQ(count_bytes, 0u);
}

namespace {

// Fills `slot` with `page` as the page loop and the image thread leave it: header,
// geometry and the 1-bit bitmap, in work.
void FillSlot(JobInfo *slot, const testjob::Page &page, DWORD index) {
  Page &p = slot->page;
  p.PageIndex = index;
  p.inheader = page.header;
  p.page_width = page.width;
  p.page_height = page.height;
  p.linebyte = page.width / 8;
  p.lpbuf = static_cast<BYTE *>(malloc(page.bits.size()));
  memcpy(p.lpbuf, page.bits.data(), page.bits.size());
  SetSlotState(slot, kSlotInWork);
}

void AwaitState(const JobInfo *slot, DWORD state) {
  for (;;) {
    DWORD ticket = SlotChangeTicket();
    if (SlotState(slot) == state) return;
    WaitSlotChange(ticket, kPollMs);
  }
}

}  // namespace

TEST(JbigThread, ASlotInWorkIsNotTakenAndAReadyOneIsSentAndReleased) {
  testjob::OutputCapture out;
  std::unique_ptr<JobInfo[]> ring(new JobInfo[kSlotCount]());
  InitJobState(ring.get());
  testjob::Page page = testjob::BlockPage(256, 64, 6);
  FillSlot(&ring[0], page, 0);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, JbigThread, ring.get()), 0);
  CompressSlotPage(&ring[0]);
  // Compressed: the bitmap is gone and the record waits in the slot.
  EXPECT_EQ(ring[0].page.lpbuf, nullptr);
  ASSERT_NE(ring[0].lprecord, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(SlotState(&ring[0]), kSlotInWork);
  EXPECT_TRUE(out.Bytes().empty());

  SetSlotState(&ring[0], kSlotReady);
  AwaitState(&ring[0], kSlotFree);
  EXPECT_EQ(ring[0].lprecord, nullptr);
  SetJbigThreadExit(TRUE);
  pthread_join(thread, nullptr);
  std::vector<uint8_t> bytes = out.Bytes();
  EXPECT_EQ(bytes.size(), count_bytes);
  // A record alone, without a job around it.
  ASSERT_GT(bytes.size(), 36u);
  EXPECT_EQ(bytes[0], 0x1B);
  EXPECT_EQ(bytes[1], 0x45);
}

TEST(JbigThread, PagesCompressedOnSeveralThreadsInAnyOrderGoOutInPageOrder) {
  std::vector<testjob::Page> pages = MixedPages();
  std::vector<uint8_t> oneByOne;
  {
    testjob::OutputCapture alone;
    testjob::RunCompressionThread(pages, static_cast<int>(pages.size()));
    oneByOne = alone.Bytes();
  }
  testjob::OutputCapture out;
  std::unique_ptr<JobInfo[]> ring(new JobInfo[kSlotCount]());
  InitJobState(ring.get());
  gMAX_THREAD.store(static_cast<int>(pages.size()), std::memory_order_release);
  for (size_t n = 0; n < pages.size(); ++n) FillSlot(&ring[n], pages[n], static_cast<DWORD>(n));
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, JbigThread, ring.get()), 0);
  // Every page on a thread of its own, all at once; the last page is handed over
  // first and the first one last.
  std::vector<std::thread> workers;
  std::atomic<int> handed{0};
  for (size_t n = 0; n < pages.size(); ++n)
    workers.emplace_back([&, n] {
      CompressSlotPage(&ring[n]);
      while (handed.load() != static_cast<int>(pages.size() - 1 - n)) std::this_thread::yield();
      SetSlotState(&ring[n], kSlotReady);
      ++handed;
    });
  for (std::thread &w : workers) w.join();
  // The output thread releases the slots in page order.
  AwaitState(&ring[pages.size() - 1], kSlotFree);
  SetJbigThreadExit(TRUE);
  pthread_join(thread, nullptr);
  EXPECT_EQ(out.Bytes(), oneByOne);
}

TEST(JbigThread, PrinterThatGoesAwayOrAPageThatCannotBeCompressedEndsOutputButEveryPageIsReleased) {
  // A full disk, a connection whose reader has gone (no SIGPIPE death), and a
  // third page of no width, which the encoder refuses.
  for (const char *target : {"/dev/full", "pipe", "page of no width"}) {
    std::vector<testjob::Page> pages = MixedPages();
    const bool badPage = strcmp(target, "page of no width") == 0;
    if (badPage) pages[2] = testjob::BlankPage(0, 256);
    int fds[2] = {-1, -1};
    std::unique_ptr<testjob::OutputCapture> capture;
    if (strcmp(target, "pipe") == 0) {
      ASSERT_EQ(pipe(fds), 0);
      close(fds[0]);
    } else if (!badPage) {
      fds[1] = open(target, O_WRONLY);
      ASSERT_GE(fds[1], 0);
    }
    ResetPrinterOutput();
    if (badPage)
      capture = std::make_unique<testjob::OutputCapture>();
    else
      SetPrinterOutputFd(fds[1]);
    testing::internal::CaptureStderr();
    auto start = std::chrono::steady_clock::now();
    testjob::RunCompressionThread(pages, 2);  // returns only once every page is released
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(PrinterOutputFailed()) << target;
    EXPECT_LT(seconds, 5.0) << target;
    // One error line, however many pages were still to come.
    size_t first = err.find("ERROR: ");
    ASSERT_NE(first, std::string::npos) << target;
    EXPECT_EQ(err.find("ERROR: ", first + 1), std::string::npos) << err;
    if (badPage) {
      EXPECT_EQ(err.substr(first, err.find('\n', first) - first),
                "ERROR: Unable to compress page 3");
      // The records of the two pages before it, and nothing after them.
      std::vector<uint8_t> bytes = capture->Bytes();
      std::vector<testjob::Page> sent(pages.begin(), pages.begin() + 2);
      std::vector<uint8_t> expected;
      {
        testjob::OutputCapture alone;
        testjob::RunCompressionThread(sent, 2);
        expected = alone.Bytes();
      }
      EXPECT_EQ(bytes, expected);
    } else {
      SetPrinterOutputFd(1);
      close(fds[1]);
    }
    ResetPrinterOutput();
  }
}
