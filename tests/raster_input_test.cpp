// Telling the end of a raster stream apart from an input that is cut short,
// refused or unreadable, on streams written by libcups's own writer.
#include "driver/raster_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "filter_process.h"
#include "test_raster.h"

namespace {

using filtertest::SamplePage;
using filtertest::ScratchDir;

struct Outcome {
  RasterEnd end;
  unsigned pages;  // headers read
  BOOL clean;
};

// Reads the input as the filter's page loop does: every header, then every line
// of its page.
Outcome ReadAll(int fd) {
  RasterInput input;
  cups_raster_t *ras = OpenRasterInput(&input, fd);
  unsigned pages = 0;
  cups_page_header2_t h;
  while (ras && ReadRasterHeader(&input, ras, &h)) {
    ++pages;
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight; ++y)
      if (cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) break;
  }
  Outcome o{RasterInputEnd(&input, ras), pages, FALSE};
  o.clean = IsCleanRasterEnd(o.end);
  if (ras) cupsRasterClose(ras);
  return o;
}

Outcome ReadBytes(const ScratchDir &dir, const std::string &bytes) {
  std::string path = dir.File("input.ras");
  filtertest::WriteFile(path, bytes);
  int fd = open(path.c_str(), O_RDONLY);
  Outcome o = ReadAll(fd);
  close(fd);
  return o;
}

const char *Name(RasterEnd end) {
  switch (end) {
    case kRasterEndOfJob:
      return "end of job";
    case kRasterEmptyInput:
      return "empty input";
    case kRasterNoStream:
      return "no stream";
    case kRasterReadError:
      return "read error";
    case kRasterCutInSyncWord:
      return "cut in sync word";
    case kRasterNotRaster:
      return "not raster";
    case kRasterCutInHeader:
      return "cut in header";
    case kRasterBadHeader:
      return "bad header";
  }
  return "?";
}

struct Mode {
  const char *name;
  cups_mode_t mode;
};
const Mode kModes[] = {
    {"v3", CUPS_RASTER_WRITE},
    {"compressed", CUPS_RASTER_WRITE_COMPRESSED},
    {"PWG", CUPS_RASTER_WRITE_PWG},
};

std::vector<testraster::Page> TwoPages() { return {SamplePage(40, 30, 24), SamplePage(33, 20, 8)}; }

TEST(RasterInput, TellsEveryEndOfAStreamInEveryWriterMode) {
  ScratchDir dir;
  const std::string header0(sizeof(cups_page_header2_t), '\0');
  for (const Mode &m : kModes) {
    const std::string none = testraster::RasterBytes({}, m.mode);
    const std::string two = testraster::RasterBytes(TwoPages(), m.mode);
    ASSERT_EQ(none.size(), 4u) << m.name;
    ASSERT_GT(two.size(), 2 * sizeof(cups_page_header2_t)) << m.name;
    // The second page's header starts where a stream of the first page alone ends.
    const size_t second = testraster::RasterBytes({TwoPages()[0]}, m.mode).size();
    struct Case {
      std::string what;
      std::string bytes;
      RasterEnd end;
      unsigned pages;
    } cases[] = {
        {"no page", none, kRasterEndOfJob, 0},
        {"two pages", two, kRasterEndOfJob, 2},
        {"ten bytes after the last page", two + "garbage!!!", kRasterCutInHeader, 2},
        {"a zero header after the last page", two + header0, kRasterBadHeader, 2},
        {"cut in the first header", two.substr(0, 100), kRasterCutInHeader, 0},
        {"cut in the second header", two.substr(0, second + 17), kRasterCutInHeader, 1},
        {"cut one byte before the second header ends",
         two.substr(0, second + sizeof(cups_page_header2_t) - 1), kRasterCutInHeader, 1},
    };
    for (const Case &c : cases) {
      Outcome o = ReadBytes(dir, c.bytes);
      EXPECT_EQ(o.end, c.end) << m.name << ", " << c.what << ": " << Name(o.end);
      EXPECT_EQ(o.pages, c.pages) << m.name << ", " << c.what;
      EXPECT_EQ(o.clean, c.end == kRasterEndOfJob) << m.name << ", " << c.what;
    }
  }
}

// A writer that sends the raster in small pieces, as a renderer writing a line
// at a time does, while the filter asks for many lines at once.
TEST(RasterInput, ARasterTricklingThroughAPipeIsReadInFewLargePiecesAndWhole) {
  const std::vector<testraster::Page> pages = {SamplePage(600, 400, 24), SamplePage(500, 300, 8)};
  const std::string bytes = testraster::RasterBytes(pages);
  constexpr size_t kPiece = 4096;
  const size_t pieces = (bytes.size() + kPiece - 1) / kPiece;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    for (size_t at = 0; at < bytes.size(); at += kPiece) {
      const size_t n = std::min(kPiece, bytes.size() - at);
      if (write(fds[1], bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
      const timespec pause = {0, 20 * 1000};
      nanosleep(&pause, nullptr);
    }
    close(fds[1]);
  });

  RasterInput input;
  cups_raster_t *ras = OpenRasterInput(&input, fds[0]);
  ASSERT_NE(ras, nullptr);
  EXPECT_TRUE(input.fromPipe);
  cups_page_header2_t h;
  unsigned pageCount = 0;
  while (ReadRasterHeader(&input, ras, &h)) {
    ++pageCount;
    // The page in chunks of 128 KB of whole lines, as the page reader asks.
    const unsigned chunk = (128u << 10) / h.cupsBytesPerLine * h.cupsBytesPerLine;
    std::vector<unsigned char> lines(chunk);
    for (unsigned left = h.cupsBytesPerLine * h.cupsHeight; left > 0;) {
      const unsigned ask = std::min(chunk, left);
      ASSERT_EQ(cupsRasterReadPixels(ras, lines.data(), ask), ask);
      left -= ask;
    }
  }
  EXPECT_EQ(RasterInputEnd(&input, ras), kRasterEndOfJob);
  EXPECT_EQ(pageCount, 2u);
  EXPECT_EQ(input.bytesRead, bytes.size());
  // Read a piece at a time this would take one read for each of the pieces.
  EXPECT_LE(input.reads, pieces / 4) << pieces << " pieces";
  cupsRasterClose(ras);
  writer.join();
  close(fds[0]);
}

TEST(RasterInput, TellsInputsThatAreNoRasterStream) {
  ScratchDir dir;
  const std::string v3 = testraster::RasterBytes(TwoPages());
  struct Case {
    const char *what;
    std::string bytes;
    RasterEnd end;
  } cases[] = {
      {"no byte", "", kRasterEmptyInput},
      {"one byte", "R", kRasterCutInSyncWord},
      {"three bytes of a sync word", "RaS", kRasterCutInSyncWord},
      {"a PDF file", "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n1 0 obj\n", kRasterNotRaster},
      {"a sync word of another format", "RaS9" + v3.substr(4), kRasterNotRaster},
  };
  for (const Case &c : cases) {
    Outcome o = ReadBytes(dir, c.bytes);
    EXPECT_EQ(o.end, c.end) << c.what << ": " << Name(o.end);
    EXPECT_EQ(o.clean, c.end == kRasterEndOfJob || c.end == kRasterEmptyInput) << c.what;
  }
}

TEST(RasterInput, AnUnreadableInputIsAReadErrorNotAnEmptyJob) {
  ScratchDir dir;
  // A directory opens but cannot be read; a write-only descriptor cannot be read.
  int fd = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  Outcome o = ReadAll(fd);
  close(fd);
  EXPECT_EQ(o.end, kRasterReadError) << Name(o.end);
  fd = open(dir.File("w").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  o = ReadAll(fd);
  close(fd);
  EXPECT_EQ(o.end, kRasterReadError) << Name(o.end);
  EXPECT_FALSE(o.clean);
}

TEST(RasterInput, ReportsAFaultyEndWithAnErrorLineNamingThePage) {
  RasterInput input;
  input.reads = 3;
  input.bytesRead = 2000;
  input.headerSize = sizeof(cups_page_header2_t);
  input.headerFirstAsk = 100;
  input.headerHitEnd = TRUE;
  cups_raster_t *fakeStream = reinterpret_cast<cups_raster_t *>(&input);  // only compared to null
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ReportRasterEnd(&input, fakeStream, 2, 0));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: The raster data ends inside the header of page 3\n"),
            std::string::npos)
      << err;

  input.headerFirstAsk = input.headerSize;
  input.headerBytes = 0;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(ReportRasterEnd(&input, fakeStream, 2, 0));
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("ERROR:"), std::string::npos) << err;
  EXPECT_NE(err.find("RasterInput::end of the job after 2 pages"), std::string::npos) << err;
}

}  // namespace
