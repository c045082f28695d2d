// The Windows-style helpers and the diagnostic log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "filter_process.h"
#include "runtime/debug_log.h"
#include "runtime/status_messages.h"
#include "runtime/win_helpers.h"

namespace {

using filtertest::ReadFile;
using filtertest::ScratchDir;

TEST(GetBMPBytesPerLine, PadsRowsToMultiplesOfFourBytes) {
  EXPECT_EQ(GetBMPBytesPerLine(1, 0), 0);
  EXPECT_EQ(GetBMPBytesPerLine(1, 1), 4);
  EXPECT_EQ(GetBMPBytesPerLine(1, 32), 4);
  EXPECT_EQ(GetBMPBytesPerLine(1, 33), 8);
  EXPECT_EQ(GetBMPBytesPerLine(1, 4961), 624);
  EXPECT_EQ(GetBMPBytesPerLine(4, 9), 8);
  EXPECT_EQ(GetBMPBytesPerLine(8, 5), 8);
  EXPECT_EQ(GetBMPBytesPerLine(8, 65504), 65504);
  EXPECT_EQ(GetBMPBytesPerLine(24, 1), 4);
  EXPECT_EQ(GetBMPBytesPerLine(24, 2), 8);
  EXPECT_EQ(GetBMPBytesPerLine(2, 100), 0);
  // No overflow for the widest value: 3 * width + 3 is 0x180000000, cut to 16 bits.
  EXPECT_EQ(GetBMPBytesPerLine(24, 0x7FFFFFFF), 0);
  EXPECT_EQ(GetBMPBytesPerLine(1, 0x7FFFFFFF), static_cast<WORD>(0x10000000));
}

TEST(str2Int, ReadsLeadingDigitsOnly) {
  EXPECT_EQ(str2Int("12abc"), 12);
  EXPECT_EQ(str2Int("4"), 4);
  EXPECT_EQ(str2Int("007"), 7);
  EXPECT_EQ(str2Int("-3"), 0);
  EXPECT_EQ(str2Int(" 5"), 0);
  EXPECT_EQ(str2Int(""), 0);
  EXPECT_EQ(str2Int("x2"), 0);
}

TEST(GetTickCount, DifferencesStayRightAcrossTheWrap) {
  // 4294967295 ms after the Epoch is the last reading before the counter wraps.
  DWORD before = TickCountOf(4294967, 295000);
  DWORD after = TickCountOf(4294967, 296000 + 7000);
  EXPECT_EQ(before, 4294967295u);
  EXPECT_EQ(after, 7u);
  EXPECT_EQ(after - before, 8u);
  // A reading today: the millisecond count modulo 2^32.
  EXPECT_EQ(TickCountOf(1767596649, 123999), static_cast<DWORD>(1767596649123ULL));
  DWORD t0 = GetTickCount();
  usleep(20000);
  DWORD elapsed = GetTickCount() - t0;
  EXPECT_GE(elapsed, 19u);
}

TEST(MoveMemory, MovesOverlappingBlocksDownInSixtyThousandByteSteps) {
  std::vector<BYTE> a(200000), b;
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<BYTE>(i * 7 + i / 251);
  b = a;
  MoveMemory(a.data(), a.data() + 7, 150000);
  memmove(b.data(), b.data() + 7, 150000);
  EXPECT_EQ(a, b);
  CopyMemory(a.data() + 1000, b.data() + 190000, 0);
  EXPECT_EQ(a, b);
}

TEST(FillMemory, UsesTheLowByteOfTheFillValue) {
  std::vector<BYTE> a(130001, 1);
  FillMemory(a.data(), 130000, 0x1FF);
  EXPECT_EQ(a[0], 0xFF);
  EXPECT_EQ(a[129999], 0xFF);
  EXPECT_EQ(a[130000], 1);
}

TEST(DeleteFile, RemovesAFileAndReportsAMissingOne) {
  ScratchDir dir;
  std::string path = dir.File("spool.dat");
  filtertest::WriteFile(path, "x");
  EXPECT_EQ(DeleteFile(path.c_str()), TRUE);
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  EXPECT_EQ(DeleteFile(path.c_str()), FALSE);
}

TEST(GlobalAlloc, GivesABlockOrNullAndGlobalFreeAlwaysReturnsNull) {
  HGLOBAL p = GlobalAlloc(0, 4096);
  ASSERT_NE(p, nullptr);
  memset(p, 0xAB, 4096);
  EXPECT_EQ(GlobalFree(p), nullptr);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
  EXPECT_EQ(GlobalAlloc(0, -1), nullptr);
}

TEST(GlobalAlloc, PageSizedBlocksStartOnAHugePageBoundaryAndAreWhole) {
  // A 600-dpi Letter page of one byte per pixel, and the same plus one byte.
  for (int64_t size : {int64_t{4928} * 6400, int64_t{4928} * 6400 + 1}) {
    BYTE *p = static_cast<BYTE *>(GlobalAlloc(0, size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % kHugePageBytes, 0u);
    memset(p, 0x5A, static_cast<size_t>(size));
    EXPECT_EQ(p[0], 0x5A);
    EXPECT_EQ(p[size - 1], 0x5A);
    free(p);  // the page bitmap's owners release it with free()
  }
}

TEST(GlobalAlloc, AGivenBackPageBlockServesTheNextPageAndARequestItDoesNotFitReleasesIt) {
  const int64_t page = int64_t{4928} * 6400;
  free(GlobalAlloc(0, 4 * page));  // a request no kept block fits: none kept from here on
  BYTE *first = static_cast<BYTE *>(GlobalAlloc(0, page));
  ASSERT_NE(first, nullptr);
  memset(first, 0x5A, static_cast<size_t>(page));
  EXPECT_EQ(GlobalFree(first), nullptr);
  // The next page, a little smaller, gets the same block, whole and writable.
  BYTE *next = static_cast<BYTE *>(GlobalAlloc(0, page - 4096));
  EXPECT_EQ(next, first);
  ASSERT_NE(next, nullptr);
  memset(next, 0xA5, static_cast<size_t>(page - 4096));
  EXPECT_EQ(next[page - 4097], 0xA5);
  GlobalFree(next);

  // A request of a quarter of its size does not take it but releases it: the
  // memory mapped for large blocks goes down although a new block was mapped.
  const size_t held = mallinfo2().hblkhd;
  BYTE *small = static_cast<BYTE *>(GlobalAlloc(0, page / 4));
  ASSERT_NE(small, nullptr);
  EXPECT_NE(small, next);
  if (held >= static_cast<size_t>(page)) {  // the allocator reports its mappings
    EXPECT_LT(mallinfo2().hblkhd, held);
  }
  GlobalFree(small);
  free(GlobalAlloc(0, 4 * page));
}

TEST(GlobalAlloc, ARequestNoKeptBlockFitsGivesBackOnlyAsMuchAsItAsksFor) {
  const int64_t page = int64_t{4928} * 6400;
  free(GlobalAlloc(0, 4 * page));  // none kept from here on
  BYTE *a = static_cast<BYTE *>(GlobalAlloc(0, page));
  BYTE *b = static_cast<BYTE *>(GlobalAlloc(0, page));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  // A kept block keeps what was written into it; a fresh one comes zeroed.
  memset(a, 0x5A, static_cast<size_t>(page));
  memset(b, 0x5A, static_cast<size_t>(page));
  GlobalFree(a);
  GlobalFree(b);
  // A page's line-art mask, an eighth of the page, takes neither page block and
  // gives back one of them; the other still serves the next page.
  BYTE *mask = static_cast<BYTE *>(GlobalAlloc(0, page / 8));
  ASSERT_NE(mask, nullptr);
  BYTE *next = static_cast<BYTE *>(GlobalAlloc(0, page));
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next[page / 2], 0x5A);
  GlobalFree(mask);
  GlobalFree(next);
  free(GlobalAlloc(0, 4 * page));
}

// The log with its switch directory in a scratch place.
class DebugLog : public ::testing::Test {
 protected:
  void SetUp() override {
    logDir_ = dir_.File("VelPrinter");
    SetDebugLogDir(logDir_.c_str());
  }
  void TearDown() override { SetDebugLogDir(nullptr); }
  std::string LogPath() const { return logDir_ + "/VelPrinterLog.log"; }

  ScratchDir dir_;
  std::string logDir_;
};

TEST_F(DebugLog, WithoutTheSwitchDirectoryWritesOnlyTheStandardErrorLine) {
  testing::internal::CaptureStderr();
  DbgMsg("JbigThread::start %d", 7);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "DEBUG: JbigThread::start 7 ---------->\n");
  EXPECT_NE(access(logDir_.c_str(), F_OK), 0);
  EXPECT_NE(access(LogPath().c_str(), F_OK), 0);
}

TEST_F(DebugLog, AppendsTimeStampedRecordsWhileTheDirectoryExists) {
  ASSERT_EQ(mkdir(logDir_.c_str(), 0755), 0);
  testing::internal::CaptureStderr();
  DbgMsg("main::start page %d / index %d!", 0, 0);
  DbgMsg("second");
  testing::internal::GetCapturedStderr();
  std::string log = ReadFile(LogPath());
  ASSERT_TRUE(filtertest::TimeStampAt(log, 0)) << log;
  EXPECT_EQ(log.substr(22, 30), "main::start page 0 / index 0!\n");
  EXPECT_TRUE(filtertest::TimeStampAt(log, 52)) << log;
  EXPECT_EQ(log.substr(log.size() - 7), "second\n");
  EXPECT_EQ(filtertest::Count(log, "\n"), 2u);
}

TEST_F(DebugLog, NeverWritesThroughALinkPlantedAtTheLogPath) {
  ASSERT_EQ(mkdir(logDir_.c_str(), 0755), 0);
  std::string victim = dir_.File("victim");
  filtertest::WriteFile(victim, "keep\n");
  ASSERT_EQ(symlink(victim.c_str(), LogPath().c_str()), 0);
  testing::internal::CaptureStderr();
  DbgMsg("through a link");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "DEBUG: through a link ---------->\n");
  EXPECT_EQ(ReadFile(victim), "keep\n");
  // A hard link to another file is left alone too.
  ASSERT_EQ(unlink(LogPath().c_str()), 0);
  ASSERT_EQ(link(victim.c_str(), LogPath().c_str()), 0);
  testing::internal::CaptureStderr();
  DbgMsg("through a hard link");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(victim), "keep\n");
}

TEST_F(DebugLog, NeverWritesIntoADirectoryReachedThroughALink) {
  std::string real = dir_.File("elsewhere");
  ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
  ASSERT_EQ(symlink(real.c_str(), logDir_.c_str()), 0);
  testing::internal::CaptureStderr();
  DbgMsg("linked directory");
  testing::internal::GetCapturedStderr();
  EXPECT_NE(access((real + "/VelPrinterLog.log").c_str(), F_OK), 0);
}

TEST_F(DebugLog, KeepsA2046CharacterMessageWholeAndCutsLongerOnes) {
  ASSERT_EQ(mkdir(logDir_.c_str(), 0755), 0);
  std::string exact(2046, 'a');
  std::string longer = std::string(2046, 'b') + "TAIL" + std::string(5000, 'c');
  testing::internal::CaptureStderr();
  DbgMsg("%s", exact.c_str());
  DbgMsg("%s", longer.c_str());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(
      err, "DEBUG: " + exact + " ---------->\nDEBUG: " + std::string(2046, 'b') + " ---------->\n");
  std::string log = ReadFile(LogPath());
  size_t first = log.find('\n');
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.substr(first - 2046, 2047), exact + "\n");
  EXPECT_EQ(log.substr(log.size() - 2047), std::string(2046, 'b') + "\n");
}

// A job's title or user name can hold line breaks; quoted in a message they must
// not start a line the scheduler takes for a status line of its own.
TEST_F(DebugLog, MessagesQuotingLineBreaksAndControlBytesStayOneLine) {
  ASSERT_EQ(mkdir(logDir_.c_str(), 0755), 0);
  const std::string title = "x\r\nERROR: fake\nPPD: *Duplex Yes\x1b%-12345X\tend";
  const std::string shown = "x\\r\\nERROR: fake\\nPPD: *Duplex Yes\\x1B%-12345X\tend";
  testing::internal::CaptureStderr();
  DbgMsg("argv[3] = %s", title.c_str());
  ReportError("Title %s", title.c_str());
  ReportInfo("%s", title.c_str());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "DEBUG: argv[3] = " + shown + " ---------->\nERROR: Title " + shown +
                     "\nINFO: " + shown + "\n");
  std::string log = ReadFile(LogPath());
  EXPECT_EQ(filtertest::Count(log, "\n"), 1u) << log;
  EXPECT_NE(log.find("] argv[3] = " + shown + "\n"), std::string::npos) << log;
  // Escapes count against the message's 2046 characters and are never cut in two.
  testing::internal::CaptureStderr();
  DbgMsg("%s%s", std::string(2044, 'a').c_str(), "\x01");
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "DEBUG: " + std::string(2044, 'a') + " ---------->\n");
}

TEST_F(DebugLog, RecordsOfConcurrentThreadsNeverInterleave) {
  ASSERT_EQ(mkdir(logDir_.c_str(), 0755), 0);
  const int kThreads = 4, kEach = 200;
  testing::internal::CaptureStderr();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      std::string body(300 + t * 100, static_cast<char>('k' + t));
      for (int i = 0; i < kEach; ++i) DbgMsg("thread %d: %s", t, body.c_str());
    });
  for (auto &th : threads) th.join();
  std::string err = testing::internal::GetCapturedStderr();
  std::string log = ReadFile(LogPath());
  for (const std::string *text : {&err, &log}) {
    size_t lines = 0, start = 0;
    for (size_t nl = text->find('\n'); nl != std::string::npos; nl = text->find('\n', start)) {
      std::string line = text->substr(start, nl - start);
      start = nl + 1;
      ++lines;
      size_t at = line.find("thread ");
      ASSERT_NE(at, std::string::npos) << line;
      int t = line[at + 7] - '0';
      std::string body = std::string(300 + t * 100, static_cast<char>('k' + t));
      ASSERT_NE(line.find(": " + body), std::string::npos) << line;
    }
    EXPECT_EQ(lines, static_cast<size_t>(kThreads * kEach));
  }
}

}  // namespace
