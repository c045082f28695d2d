// Raster page reading: pages written with libcups's own raster writer are read
// back through GetCUPSPageData and the bitmap in the slot is checked pixel by pixel.
#include "driver/raster_page.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver/job_state.h"
#include "driver/page_header_check.h"
#include "driver/raster_input.h"
#include "filter_process.h"
#include "runtime/win_helpers.h"
#include "test_raster.h"

namespace {

using filtertest::ScratchDir;

// A raster stream opened for reading, one slot to read its pages into.
class RasterFixture : public ::testing::Test {
 protected:
  void Open(const std::vector<testraster::Page> &pages, long cutBytes = 0) {
    path_ = dir_.File("job.ras");
    ASSERT_TRUE(testraster::WriteRasterFile(path_, pages));
    if (cutBytes > 0) {
      std::string bytes = filtertest::ReadFile(path_);
      ASSERT_GT(static_cast<long>(bytes.size()), cutBytes);
      filtertest::WriteFile(path_, bytes.substr(0, bytes.size() - cutBytes));
    }
    fd_ = open(path_.c_str(), O_RDONLY);
    ASSERT_GE(fd_, 0);
    ras_ = cupsRasterOpen(fd_, CUPS_RASTER_READ);
    ASSERT_NE(ras_, nullptr);
  }
  // Reads the next header into the slot and the page's pixels with GetCUPSPageData.
  BOOL ReadPage(DWORD *lines = nullptr) {
    Release();
    if (!cupsRasterReadHeader2(ras_, &slot_->inheader)) return FALSE;
    return GetCUPSPageData(slot_.get(), ras_, lines);
  }
  BYTE At(DWORD x, DWORD y) const { return slot_->lpbuf[y * slot_->linebyte + x]; }
  BYTE RedAt(DWORD x, DWORD y) const {
    return slot_->lpbuf[slot_->pagesize / 2 + y * slot_->linebyte + x];
  }
  // Every pixel of rows [y0, y1) from column x0 on is white.
  void ExpectWhite(DWORD x0, DWORD y0, DWORD y1, bool redPlane = false) {
    for (DWORD y = y0; y < y1; ++y)
      for (DWORD x = x0; x < slot_->page_width; ++x)
        ASSERT_EQ(redPlane ? RedAt(x, y) : At(x, y), 255) << "x " << x << " y " << y;
  }
  void Release() {
    GlobalFree(slot_->lpbuf);
    slot_->lpbuf = nullptr;
  }
  void TearDown() override {
    Release();
    if (ras_) cupsRasterClose(ras_);
    if (fd_ >= 0) close(fd_);
  }

  ScratchDir dir_;
  std::string path_;
  int fd_ = -1;
  cups_raster_t *ras_ = nullptr;
  std::unique_ptr<::Page> slot_ = std::make_unique<::Page>();
};

testraster::Page Page24(unsigned w, unsigned h) {
  return testraster::WhitePage(testraster::MakeHeader(w, h, 24));
}

TEST_F(RasterFixture, WeighsRedGreenBlueAsThirtyFiftyThreeSeventeen) {
  testraster::Page p = Page24(33, 3);
  testraster::SetPixel(p, 1, 0, 0, 0, 0);
  testraster::SetPixel(p, 2, 0, 255, 0, 0);
  testraster::SetPixel(p, 3, 0, 0, 255, 0);
  testraster::SetPixel(p, 4, 0, 0, 0, 255);
  testraster::SetPixel(p, 32, 2, 10, 20, 30);
  Open({p});
  DWORD lines = 0;
  ASSERT_TRUE(ReadPage(&lines));
  EXPECT_EQ(lines, 3u);
  EXPECT_EQ(At(0, 0), 255);
  EXPECT_EQ(At(1, 0), 0);
  EXPECT_EQ(At(2, 0), 76);
  EXPECT_EQ(At(3, 0), 135);
  EXPECT_EQ(At(4, 0), 43);
  EXPECT_EQ(At(32, 2), 18);  // (300 + 1060 + 510 + 1) / 100
}

TEST_F(RasterFixture, PadsToMultiplesOf32WithWhite) {
  testraster::Page p = Page24(33, 3);
  testraster::FillRect(p, 0, 0, 33, 3, 0, 0, 0);
  Open({p});
  ASSERT_TRUE(ReadPage());
  EXPECT_EQ(slot_->page_width, 64u);
  EXPECT_EQ(slot_->page_height, 32u);
  EXPECT_EQ(slot_->linebyte, 64u);
  EXPECT_EQ(slot_->pagesize, 64u * 32u);
  EXPECT_EQ(slot_->linebyteLeft, 31u);
  for (DWORD y = 0; y < 3; ++y)
    for (DWORD x = 0; x < 33; ++x) ASSERT_EQ(At(x, y), 0);
  ExpectWhite(33, 0, 3);
  ExpectWhite(0, 3, 32);
}

TEST_F(RasterFixture, KeepsTheGeometryOfALetterWidthA4Line) {
  Open({Page24(4961, 2)});
  ASSERT_TRUE(ReadPage());
  EXPECT_EQ(slot_->page_width, 4992u);
  EXPECT_EQ(slot_->linebyte, 4992u);
  EXPECT_EQ(slot_->linebyteLeft, 31u);
  ExpectWhite(4961, 0, 2);
}

// An 8-bit page of every sample value, one per pixel, in the given colour space.
testraster::Page EverySample(cups_cspace_t space) {
  cups_page_header2_t h = testraster::MakeHeader(256, 2, 8);
  h.cupsColorSpace = space;
  testraster::Page p = testraster::WhitePage(h);
  for (unsigned x = 0; x < 256; ++x) testraster::SetPixel(p, x, 1, static_cast<uint8_t>(x), 0, 0);
  return p;
}

TEST_F(RasterFixture, EightBitPagesAreOneSamplePerPixelAsLuminanceByColourSpace) {
  // Black (K) samples are ink, white-based grey (W, SW) samples are luminance.
  // Each pixel is its own sample: a neighbour never weighs in.
  Open({EverySample(CUPS_CSPACE_K), EverySample(CUPS_CSPACE_W), EverySample(CUPS_CSPACE_SW)});
  for (const bool ink : {true, false, false}) {
    ASSERT_TRUE(ReadPage());
    SCOPED_TRACE(slot_->inheader.cupsColorSpace);
    EXPECT_EQ(slot_->page_width, 256u);
    EXPECT_EQ(slot_->linebyte, 256u);
    for (DWORD x = 0; x < 256; ++x) {
      ASSERT_EQ(At(x, 0), 255) << x;  // a blank line is white in every colour space
      ASSERT_EQ(At(x, 1), ink ? 255 - x : x) << x;
    }
    ExpectWhite(0, 2, 32);
  }
}

TEST_F(RasterFixture, EightBitRowsArePaddedWithWhite) {
  cups_page_header2_t h = testraster::MakeHeader(5, 3, 8);
  testraster::Page p = testraster::WhitePage(h);
  testraster::FillRect(p, 0, 0, 5, 3, 255, 0, 0);  // full ink
  Open({p});
  ASSERT_TRUE(ReadPage());
  EXPECT_EQ(slot_->page_width, 32u);
  EXPECT_EQ(slot_->linebyteLeft, 27u);
  for (DWORD y = 0; y < 3; ++y)
    for (DWORD x = 0; x < 5; ++x) ASSERT_EQ(At(x, y), 0);
  ExpectWhite(5, 0, 3);
  ExpectWhite(0, 3, 32);
}

TEST_F(RasterFixture, ConsumesExactlyEachPagesLinesSoTheNextHeaderFollows) {
  testraster::Page a = Page24(40, 5);
  testraster::FillRect(a, 0, 4, 40, 1, 0, 0, 0);
  testraster::Page b = testraster::WhitePage(testraster::MakeHeader(70, 3, 8));
  testraster::SetPixel(b, 69, 2, 255, 0, 0);  // full ink at the end of the last line
  Open({a, b});
  ASSERT_TRUE(ReadPage());
  EXPECT_EQ(At(39, 4), 0);
  ASSERT_TRUE(ReadPage());
  EXPECT_EQ(slot_->inheader.cupsWidth, 70u);
  EXPECT_EQ(slot_->page_width, 96u);
  EXPECT_EQ(At(68, 2), 255);
  EXPECT_EQ(At(69, 2), 0);
  ExpectWhite(70, 0, 32);
  EXPECT_FALSE(ReadPage());
}

testraster::Page TwoColourPage(unsigned w, unsigned h, unsigned colorLevel) {
  cups_page_header2_t hd = testraster::MakeHeader(w, h, 24);
  hd.cupsInteger[4] = 1;
  hd.cupsInteger[5] = colorLevel;
  return testraster::WhitePage(hd);
}

TEST_F(RasterFixture, TwoColourSplitsRedPixelsIntoTheRedPlane) {
  testraster::Page p = TwoColourPage(40, 3, 0);
  testraster::SetPixel(p, 0, 0, 200, 100, 100);  // red
  testraster::SetPixel(p, 1, 0, 150, 0, 0);      // not red: the first sample must exceed 150
  testraster::SetPixel(p, 2, 0, 200, 200, 100);  // not red: green as strong
  testraster::SetPixel(p, 3, 2, 0, 0, 0);        // black
  Open({p});
  ASSERT_TRUE(ReadPage());
  EXPECT_EQ(slot_->page_height, 64u);
  EXPECT_EQ(slot_->pagesize, 64u * 64u);
  EXPECT_EQ(At(0, 0), 255);
  EXPECT_EQ(RedAt(0, 0), 0);
  EXPECT_EQ(At(1, 0), 45);
  EXPECT_EQ(RedAt(1, 0), 255);
  EXPECT_EQ(At(2, 0), 183);
  EXPECT_EQ(RedAt(2, 0), 255);
  EXPECT_EQ(At(3, 2), 0);
  EXPECT_EQ(RedAt(3, 2), 255);
  EXPECT_EQ(At(4, 0), 255);
  // Both planes white beyond the page, and the black plane's padding rows too.
  ExpectWhite(40, 0, 3);
  ExpectWhite(0, 3, 32);
  ExpectWhite(40, 0, 3, true);
  ExpectWhite(0, 3, 32, true);
}

TEST_F(RasterFixture, TwoColourMarginComesFromTheLowByteOfColorLevel) {
  // ColorLevel 60: (200, 150, 100) is not red, 200 - 60 does not exceed 150.
  testraster::Page p60 = TwoColourPage(32, 1, 60);
  testraster::SetPixel(p60, 0, 0, 200, 150, 100);
  testraster::SetPixel(p60, 1, 0, 200, 100, 100);
  // ColorLevel 300 gives a margin of 44: 200 - 44 = 156 exceeds 150.
  testraster::Page p300 = TwoColourPage(32, 1, 300);
  testraster::SetPixel(p300, 0, 0, 200, 150, 100);
  Open({p60, p300});
  ASSERT_TRUE(ReadPage());
  EXPECT_EQ(RedAt(0, 0), 255);
  EXPECT_EQ(At(0, 0), 156);
  EXPECT_EQ(RedAt(1, 0), 0);
  EXPECT_EQ(At(1, 0), 255);
  ASSERT_TRUE(ReadPage());
  EXPECT_EQ(RedAt(0, 0), 0);
  EXPECT_EQ(At(0, 0), 255);
}

TEST_F(RasterFixture, StreamEndingInsideAPageLeavesTheMissingLinesWhite) {
  testraster::Page p = Page24(40, 10);
  testraster::FillRect(p, 0, 0, 40, 10, 0, 0, 0);
  Open({p}, 40 * 3 * 11 / 2);  // the last five and a half lines are missing
  DWORD lines = 99;
  ASSERT_TRUE(ReadPage(&lines));
  EXPECT_EQ(lines, 4u);
  for (DWORD y = 0; y < 4; ++y)
    for (DWORD x = 0; x < 40; ++x) ASSERT_EQ(At(x, y), 0);
  ExpectWhite(0, 4, 32);
}

namespace {

// Every page of a raster file read through the filter's own read function,
// as the page loop reads it: with `chunked`, uncompressed lines many at a time.
struct PagesRead {
  std::vector<std::vector<BYTE>> bitmaps;
  std::vector<DWORD> lines;
  DWORD reads = 0;  // calls of the read function
};

PagesRead ReadAllPages(const std::string &path, bool chunked) {
  PagesRead out;
  int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  RasterInput input;
  cups_raster_t *ras = OpenRasterInput(&input, fd);
  EXPECT_NE(ras, nullptr);
  auto slot = std::make_unique<::Page>();
  while (ras && ReadRasterHeader(&input, ras, &slot->inheader)) {
    DWORD lines = 0;
    if (!GetCUPSPageData(slot.get(), ras, &lines, chunked ? &input : nullptr)) break;
    BYTE *bits = slot->lpbuf;
    out.bitmaps.emplace_back(bits, bits + slot->pagesize);
    out.lines.push_back(lines);
    GlobalFree(bits);
    slot->lpbuf = nullptr;
    if (lines < slot->inheader.cupsHeight) break;
  }
  out.reads = input.reads;
  if (ras) cupsRasterClose(ras);
  close(fd);
  return out;
}

}  // namespace

// Lines read many at a time from an uncompressed stream give the pages of lines
// read one at a time, also when the stream ends anywhere inside a page: the
// lines that arrived whole are converted, the rest stay white.
TEST(RasterChunks, ManyLinesAtATimeReadTheSamePagesAsOneAtATimeWhereverTheStreamEnds) {
  ScratchDir dir;
  std::vector<testraster::Page> pages;
  cups_page_header2_t grey = testraster::MakeHeader(1000, 300, 8);
  grey.cupsColorSpace = CUPS_CSPACE_SW;
  cups_page_header2_t two = testraster::MakeHeader(700, 200, 24);
  two.cupsInteger[4] = 1;
  for (const cups_page_header2_t &h :
       {grey, testraster::MakeHeader(1000, 250, 24), two, testraster::MakeHeader(333, 90, 8)}) {
    testraster::Page p = testraster::WhitePage(h);
    testraster::DrawTextLike(p, h.cupsWidth);
    testraster::FillRect(p, 10, 20, 50, 30, 220, 10, 10);
    pages.push_back(p);
  }
  const std::string whole = testraster::RasterBytes(pages);
  ASSERT_EQ(whole.compare(0, 4, "3SaR"), 0) << "an uncompressed stream";
  // The whole stream, and cuts in each page: inside the first chunk, on a line
  // boundary, one byte either side of it, and near the page's end.
  std::vector<size_t> ends = {whole.size()};
  size_t pageStart = 4;
  for (const testraster::Page &p : pages) {
    const size_t data = pageStart + sizeof(cups_page_header2_t);
    const size_t bpl = p.header.cupsBytesPerLine;
    for (size_t cut :
         {size_t{1}, 9 * bpl, 60 * bpl - 1, 60 * bpl, 60 * bpl + 1, p.pixels.size() - 1})
      ends.push_back(data + cut);
    pageStart = data + p.pixels.size();
  }
  for (size_t end : ends) {
    const std::string path = dir.File("cut.ras");
    filtertest::WriteFile(path, whole.substr(0, end));
    PagesRead one = ReadAllPages(path, false), many = ReadAllPages(path, true);
    EXPECT_EQ(many.lines, one.lines) << "stream of " << end << " bytes";
    EXPECT_TRUE(many.bitmaps == one.bitmaps) << "stream of " << end << " bytes";
    if (end == whole.size()) {
      EXPECT_EQ(many.bitmaps.size(), pages.size());
      EXPECT_LT(many.reads * 10, one.reads) << "lines read many at a time";
    }
  }
}

TEST_F(RasterFixture, RefusesAHeaderItCannotReadWithoutTouchingTheStream) {
  cups_page_header2_t h = testraster::MakeHeader(16, 2, 8);
  h.cupsInteger[4] = 1;  // two-colour needs 24-bit pixels
  testraster::Page bad = testraster::WhitePage(h);
  Open({bad, Page24(8, 1)});
  ASSERT_TRUE(cupsRasterReadHeader2(ras_, &slot_->inheader));
  EXPECT_FALSE(GetCUPSPageData(slot_.get(), ras_));
  EXPECT_EQ(slot_->lpbuf, nullptr);
  // Its pixels are still unread.
  unsigned char line[16];
  EXPECT_EQ(cupsRasterReadPixels(ras_, line, 16), 16u);
}

// Header checks: each kind of header the conversion cannot read safely.
struct BadHeader {
  const char *what;
  void (*change)(cups_page_header2_t &);
  const char *named;  // the field the reason must name
};

TEST(PageHeaderCheck, RejectsEachKindOfUnreadableHeaderNamingTheField) {
  const BadHeader cases[] = {
      {"zero width", [](cups_page_header2_t &h) { h.cupsWidth = 0; }, "cupsWidth is 0"},
      {"zero height", [](cups_page_header2_t &h) { h.cupsHeight = 0; }, "cupsHeight is 0"},
      {"4 bits",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 4;
         h.cupsBytesPerLine = 50;
       },
       "cupsBitsPerPixel 4"},
      {"12 bits",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 12;
         h.cupsBytesPerLine = 150;
       },
       "cupsBitsPerPixel 12"},
      {"256 bits",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 256;
         h.cupsBytesPerLine = 3200;
       },
       "cupsBitsPerPixel 256"},
      {"long lines", [](cups_page_header2_t &h) { h.cupsBytesPerLine = 600; },
       "cupsBytesPerLine 600"},
      {"short lines", [](cups_page_header2_t &h) { h.cupsBytesPerLine = 297; },
       "cupsBytesPerLine 297"},
      {"16-bit grey",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 16;
         h.cupsBitsPerColor = 16;
         h.cupsColorSpace = CUPS_CSPACE_K;
         h.cupsBytesPerLine = 200;
       },
       "cupsBitsPerPixel 16 in cupsColorSpace 3 (K)"},
      {"32-bit CMYK",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 32;
         h.cupsColorSpace = CUPS_CSPACE_CMYK;
         h.cupsBytesPerLine = 400;
       },
       "cupsBitsPerPixel 32 in cupsColorSpace 6 (CMYK)"},
      {"1-bit black",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 1;
         h.cupsBitsPerColor = 1;
         h.cupsColorSpace = CUPS_CSPACE_K;
         h.cupsBytesPerLine = 13;
       },
       "cupsBitsPerPixel 1 in cupsColorSpace 3 (K)"},
      {"8-bit RGB",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 8;
         h.cupsBitsPerColor = 2;
         h.cupsBytesPerLine = 100;
       },
       "cupsBitsPerPixel 8 in cupsColorSpace 1 (RGB)"},
      {"8-bit CMYK",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 8;
         h.cupsBitsPerColor = 2;
         h.cupsColorSpace = CUPS_CSPACE_CMYK;
         h.cupsBytesPerLine = 100;
       },
       "cupsBitsPerPixel 8 in cupsColorSpace 6 (CMYK)"},
      {"24-bit CMY", [](cups_page_header2_t &h) { h.cupsColorSpace = CUPS_CSPACE_CMY; },
       "cupsBitsPerPixel 24 in cupsColorSpace 4 (CMY)"},
      {"colour space beyond the named ones",
       [](cups_page_header2_t &h) {
         const uint32_t space = 1000;
         memcpy(&h.cupsColorSpace, &space, sizeof space);
       },
       "cupsColorSpace 1000 (other)"},
      {"two-colour grey",
       [](cups_page_header2_t &h) {
         h.cupsBitsPerPixel = 8;
         h.cupsColorSpace = CUPS_CSPACE_K;
         h.cupsBytesPerLine = 100;
         h.cupsInteger[4] = 1;
       },
       "cupsInteger[4]"},
      {"too wide",
       [](cups_page_header2_t &h) {
         h.cupsWidth = 65505;
         h.cupsBytesPerLine = 65505 * 3;
       },
       "cupsWidth 65505"},
      {"too tall", [](cups_page_header2_t &h) { h.cupsHeight = 65505; }, "cupsHeight 65505"},
      {"too tall in two colours",
       [](cups_page_header2_t &h) {
         h.cupsHeight = 32737;  // padded to 32768, two planes of it
         h.cupsInteger[4] = 1;
       },
       "cupsHeight 32737"},
      {"wrapping width",
       [](cups_page_header2_t &h) {
         h.cupsWidth = 0xFFFFFFF0u;
         h.cupsBytesPerLine = 0xFFFFFFD0u;  // 3 * width modulo 2^32
       },
       "cupsBytesPerLine"},
  };
  for (const BadHeader &c : cases) {
    cups_page_header2_t h = testraster::MakeHeader(100, 10, 24);
    c.change(h);
    char reason[256] = "";
    EXPECT_FALSE(CheckPageHeader(&h, reason, sizeof reason)) << c.what;
    EXPECT_NE(std::string(reason).find(c.named), std::string::npos) << c.what << ": " << reason;
  }
}

TEST(PageHeaderCheck, AcceptsTheLargestBitmapsAndEachGreyAndRgbColourSpace) {
  char reason[256];
  cups_page_header2_t wide = testraster::MakeHeader(65504, 1, 24);
  EXPECT_TRUE(CheckPageHeader(&wide, reason, sizeof reason)) << reason;
  cups_page_header2_t tall = testraster::MakeHeader(1, 65504, 8);
  EXPECT_TRUE(CheckPageHeader(&tall, reason, sizeof reason)) << reason;
  cups_page_header2_t tallTwo = testraster::MakeHeader(1, 32736, 24);
  tallTwo.cupsInteger[4] = 1;
  EXPECT_TRUE(CheckPageHeader(&tallTwo, reason, sizeof reason)) << reason;
  const struct {
    unsigned bits;
    cups_cspace_t space;
    PixelFormat format;
  } accepted[] = {{24, CUPS_CSPACE_RGB, PixelFormat::kRgb},
                  {24, CUPS_CSPACE_SRGB, PixelFormat::kRgb},
                  {8, CUPS_CSPACE_W, PixelFormat::kWhiteGrey},
                  {8, CUPS_CSPACE_SW, PixelFormat::kWhiteGrey},
                  {8, CUPS_CSPACE_K, PixelFormat::kBlackInk}};
  for (const auto &a : accepted) {
    cups_page_header2_t h = testraster::MakeHeader(33, 2, a.bits);
    h.cupsColorSpace = a.space;
    EXPECT_TRUE(CheckPageHeader(&h, reason, sizeof reason))
        << a.bits << "/" << a.space << ": " << reason;
    EXPECT_EQ(PagePixelFormat(&h), a.format) << a.bits << "/" << a.space;
  }
}

}  // namespace
