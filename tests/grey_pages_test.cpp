// 8-bit grey pages through the filter binary, decoded with libjbig's decoder: one
// sample per pixel read by colour space, the line-art path when the header asks
// for it, and the depths and colour spaces that are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "whole_filter.h"

namespace {

using filtertest::Count;
using filtertest::ScratchDir;
using wholefilter::CountDots;
using wholefilter::Dot;
using wholefilter::Print;

// The printed bytes of a page record: its reset bytes, header and data.
std::string RecordBytes(const wholefilter::PrintedJob &job, size_t i) {
  const inspect::PageRecord &r = job.parsed.pages[i];
  return job.run.out.substr(r.offset, r.data_offset + r.compsize - r.offset);
}

// A 24-bit sheet at 100 dpi whose pixels are all grey (r = g = b): text, a
// one-pixel line and a one-pixel grey line, flat greys from black to paper.
testraster::Page GreySheet(unsigned fit) {
  cups_page_header2_t h = testraster::SheetHeader(240, 240, 24, 100);
  h.cupsCompression = 3;
  h.cupsInteger[3] = fit;
  testraster::Page p = testraster::WhitePage(h);
  testraster::DrawTextLike(p, 3);
  testraster::FillRect(p, 61, 40, 1, 250, 0, 0, 0);
  testraster::FillRect(p, 70, 300, 200, 1, 128, 128, 128);
  const uint8_t greys[] = {0, 1, 64, 127, 128, 192, 230, 240, 254};
  for (unsigned i = 0; i < sizeof greys; ++i)
    testraster::FillRect(p, 90 + 24 * i, 250, 20, 40, greys[i], greys[i], greys[i]);
  testraster::DrawPageMark(p, 9);
  return p;
}

// The same page as 8-bit white-based grey: each pixel's sample is its grey.
testraster::Page AsWhiteGrey(const testraster::Page &rgb, cups_cspace_t space, bool lineArt) {
  testraster::Page p;
  p.header = rgb.header;
  p.header.cupsBitsPerPixel = 8;
  p.header.cupsColorSpace = space;
  p.header.cupsBytesPerLine = p.header.cupsWidth;
  p.header.cupsInteger[6] = lineArt ? 1 : 0;
  p.pixels.resize(static_cast<size_t>(p.header.cupsWidth) * p.header.cupsHeight);
  for (size_t i = 0; i < p.pixels.size(); ++i) p.pixels[i] = rgb.pixels[3 * i];
  return p;
}

TEST(GreyPages, WhiteGreyOnTheLineArtPathPrintsTheBytesOfTheSameTwentyFourBitPage) {
  // Cropped and scaled full sheets, a page with imaging margins (not fitted), and
  // toner saving with negative and mirror printing on top.
  std::vector<testraster::Page> pages;
  for (int variant = 0; variant < 4; ++variant) {
    testraster::Page rgb = GreySheet(variant == 1 ? 1 : 0);
    if (variant == 2) {
      rgb.header.ImagingBoundingBox[0] = rgb.header.ImagingBoundingBox[1] = 12;
      rgb.header.ImagingBoundingBox[2] = rgb.header.ImagingBoundingBox[3] = 228;
    }
    if (variant == 3) {
      rgb.header.cupsInteger[0] = 1;
      rgb.header.cupsInteger[1] = 1;
      rgb.header.cupsInteger[2] = 1;
    }
    pages.push_back(rgb);
    pages.push_back(AsWhiteGrey(rgb, CUPS_CSPACE_SW, true));
    pages.push_back(AsWhiteGrey(rgb, CUPS_CSPACE_W, true));
  }
  ScratchDir dir;
  auto job = Print(dir, pages);
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->parsed.pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); i += 3) {
    const std::string rgb = RecordBytes(*job, i);
    EXPECT_EQ(RecordBytes(*job, i + 1), rgb) << "SW page of variant " << i / 3;
    EXPECT_EQ(RecordBytes(*job, i + 2), rgb) << "W page of variant " << i / 3;
    if (i / 3 < 3) {
      EXPECT_EQ(wholefilter::ReadMark(job->pages[i], 333, 333,
                                      wholefilter::ExpectedFit(pages[i].header).black),
                9)
          << "variant " << i / 3;
    }
  }
  // The fitted pages are the printable area, the others the padded raster.
  EXPECT_EQ(job->pages[0].width, 320u);
  EXPECT_EQ(job->pages[3].width, 320u);
  EXPECT_EQ(job->pages[6].width, 352u);
}

TEST(GreyPages, WhiteGreyWithoutLineArtIsOnlyScreenedAtItsPaddedSize) {
  // A full sheet (no imaging margins) that the line-art path would fit: here it
  // keeps its padded size.  Paper (255) prints nothing, 0 every dot, 128 the
  // screen's negative: 16384 - 8289 dots per tile at density index 3.
  for (cups_cspace_t space : {CUPS_CSPACE_SW, CUPS_CSPACE_W}) {
    SCOPED_TRACE(space);
    cups_page_header2_t h = testraster::SheetHeader(240, 240, 8, 100);
    h.cupsColorSpace = space;
    h.cupsCompression = 3;
    testraster::Page p = testraster::WhitePage(h);
    testraster::FillRect(p, 0, 0, 128, 128, 0, 0, 0);
    testraster::FillRect(p, 128, 128, 128, 128, 128, 0, 0);
    ScratchDir dir;
    auto job = Print(dir, {p});
    ASSERT_TRUE(job->good()) << job->problem;
    ASSERT_EQ(job->pages.size(), 1u);
    const inspect::Bitmap &page = job->pages[0];
    EXPECT_EQ(page.width, 352u);
    EXPECT_EQ(page.height, 352u);
    EXPECT_EQ(CountDots(page, 0, 0, 128, 128), 16384u);
    EXPECT_EQ(CountDots(page, 128, 128, 128, 128), 16384u - 8289u);
    EXPECT_EQ(job->parsed.pages[0].blackDots, 16384u + 16384u - 8289u);
  }
}

TEST(GreyPages, AOnePixelLineOnAnEightBitPagePrintsOnePixelWideWhereTheRasterHasIt) {
  // On the halftone path (black ink, and white grey) and on the line-art path of
  // a page with imaging margins, where nothing is cut or scaled.
  std::vector<testraster::Page> pages;
  for (int kind = 0; kind < 3; ++kind) {
    cups_page_header2_t h = testraster::MakeHeader(100, 60, 8, 100);
    if (kind > 0) h.cupsColorSpace = CUPS_CSPACE_SW;
    if (kind == 2) {
      h.cupsInteger[6] = 1;
      h.ImagingBoundingBox[0] = h.ImagingBoundingBox[1] = 12;
    }
    testraster::Page p = testraster::WhitePage(h);
    testraster::InkRect(p, 37, 5, 1, 50, 255);
    pages.push_back(p);
  }
  ScratchDir dir;
  auto job = Print(dir, pages);
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    const inspect::Bitmap &page = job->pages[i];
    ASSERT_EQ(page.width, 128u) << i;
    for (unsigned y = 0; y < page.height; ++y)
      for (unsigned x = 0; x < page.width; ++x)
        ASSERT_EQ(Dot(page, x, y), x == 37 && y >= 5 && y < 55) << i << ": " << x << "," << y;
  }
}

// A page the filter refuses, with a line length that fits its header.
testraster::Page Refused(unsigned bitsPerPixel, cups_cspace_t space, unsigned bitsPerColor) {
  cups_page_header2_t h = testraster::MakeHeader(40, 8, 8);
  h.cupsBitsPerPixel = bitsPerPixel;
  h.cupsBitsPerColor = bitsPerColor;
  h.cupsColorSpace = space;
  h.cupsBytesPerLine = (40 * bitsPerPixel + 7) / 8;
  testraster::Page p;
  p.header = h;
  p.pixels.assign(static_cast<size_t>(h.cupsBytesPerLine) * h.cupsHeight, 0x40);
  return p;
}

TEST(GreyPages, OtherDepthsAndColourSpacesEndTheJobWithOneErrorNamingThem) {
  struct Case {
    testraster::Page page;
    const char *named;
  };
  const Case cases[] = {
      {Refused(16, CUPS_CSPACE_K, 16), "cupsBitsPerPixel 16 in cupsColorSpace 3 (K)"},
      {Refused(16, CUPS_CSPACE_SW, 16), "cupsBitsPerPixel 16 in cupsColorSpace 18 (SW)"},
      {Refused(32, CUPS_CSPACE_CMYK, 8), "cupsBitsPerPixel 32 in cupsColorSpace 6 (CMYK)"},
      {Refused(1, CUPS_CSPACE_K, 1), "cupsBitsPerPixel 1 in cupsColorSpace 3 (K)"},
      {Refused(8, CUPS_CSPACE_RGB, 2), "cupsBitsPerPixel 8 in cupsColorSpace 1 (RGB)"},
      {Refused(8, CUPS_CSPACE_CMYK, 2), "cupsBitsPerPixel 8 in cupsColorSpace 6 (CMYK)"},
      {Refused(48, CUPS_CSPACE_RGB, 16), "cupsBitsPerPixel 48 in cupsColorSpace 1 (RGB)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.named);
    testraster::Page first = testraster::WhitePage(testraster::MakeHeader(64, 32, 8));
    testraster::InkRect(first, 8, 8, 16, 16, 255);
    ScratchDir dir;
    auto job = Print(dir, {first, c.page, first});
    EXPECT_EQ(job->run.status, 1);
    EXPECT_EQ(Count(job->run.err, "ERROR:"), 1u) << job->run.err;
    EXPECT_NE(
        job->run.err.find("ERROR: Page 2 has an invalid raster header: " + std::string(c.named)),
        std::string::npos)
        << job->run.err;
    // The page before it is printed and the job closed with its trailer.
    EXPECT_TRUE(job->parsed.ok) << job->parsed.error;
    EXPECT_TRUE(job->parsed.has_trailer);
    ASSERT_EQ(job->pages.size(), 1u);
    EXPECT_EQ(CountDots(job->pages[0], 0, 0, 64, 32), 16u * 16u);
  }
}

}  // namespace
