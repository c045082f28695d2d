// The printer job as a whole, from the filter binary: the PJL framing around the
// pages, the 512-byte rule, page records that libjbig's decoder reads back, and a
// long mixed job in page order.
#include "whole_filter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using filtertest::ScratchDir;
using wholefilter::ExpectedFit;
using wholefilter::Print;

const std::string kCancel(
    "\x1b"
    "E\x1b%-12345X@PJL CANCEL\r\n@PJL EOJ\r\n\x1b%-12345X");
const std::string kUel("\x1b%-12345X");
const std::string kEndOfJob(
    "\x1b"
    "E\x1b%-12345X@PJL\r\n");
const std::string kAlignment("@PJL COMMENT DATA ALIGNMENT 512\r\n");
const std::string kFinalBlock("@PJL SET TIMEOUT=5\r\n@PJL               EOJ\r\n\x1b%-12345X");

// Printer settings a page header carries into the job's header block.
struct Settings {
  int density;  // cupsCompression, the density index
  bool economy;
  bool tumble;
  unsigned dpi;
  unsigned copies;
  unsigned tray;  // MediaPosition, 250 automatic
  unsigned orientation;
};

testraster::Page SettingsPage(const Settings &s, bool duplex) {
  cups_page_header2_t h = testraster::MakeHeader(96, 64, 8, s.dpi);
  h.cupsCompression = static_cast<unsigned>(s.density);
  h.cupsInteger[0] = s.economy ? 1 : 0;
  h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
  h.Tumble = s.tumble ? CUPS_TRUE : CUPS_FALSE;
  h.NumCopies = s.copies;
  h.MediaPosition = s.tray;
  h.Orientation = static_cast<cups_orient_t>(s.orientation);
  testraster::Page p = testraster::WhitePage(h);
  testraster::InkRect(p, 10, 10, 40, 30, 200);
  return p;
}

// The header block's settings for a first page with these settings, as the
// printer's job language table gives them.
std::map<std::string, std::string> ExpectedSettings(const Settings &s) {
  return {
      {"ECONOMODE", s.economy ? "ON" : "OFF"},
      {"DENSITY", std::to_string(s.density + 1)},
      {"AUTOSELECT", s.tray == 250 ? "ON" : "OFF"},
      {"DUPLEX", "OFF"},
      {"DUPLEXTYPE", s.tumble ? "CALENDAR" : "BOOKLET"},
      {"RESOLUTION", std::to_string(s.dpi)},
      {"COPIES", std::to_string(s.copies)},
      {"ORIENTATION", s.orientation != 0 ? "LANDSCAPE" : "PORTRAIT"},
  };
}

TEST(WholeFilterJob, EveryPjlSettingFollowsTheFirstPageWhateverLaterPagesSay) {
  const Settings a = {4, true, true, 300, 3, 1, CUPS_ORIENT_90};
  const Settings b = {1, false, false, 600, 1, 250, CUPS_ORIENT_0};
  // Later pages ask for two-sided printing; only the first page's header counts, and
  // it asks for one side.
  for (bool aFirst : {true, false}) {
    const Settings &first = aFirst ? a : b;
    const Settings &later = aFirst ? b : a;
    ScratchDir dir;
    auto job = Print(
        dir, {SettingsPage(first, false), SettingsPage(later, true), SettingsPage(later, true)});
    ASSERT_TRUE(job->good()) << job->problem;
    const std::string &out = job->run.out;

    // Cancel preamble, 512 zero bytes, and the header block at byte 555.
    ASSERT_GT(out.size(), 600u);
    EXPECT_EQ(out.substr(0, 43), kCancel);
    EXPECT_EQ(out.substr(43, 512), std::string(512, '\0'));
    EXPECT_EQ(out.substr(555, kUel.size()), kUel);
    const std::string lastLine = "@PJL ENTER LANGUAGE=VLGDI\r\n";
    const size_t blockEnd = 555 + job->parsed.header_size;
    EXPECT_EQ(out.substr(blockEnd - lastLine.size(), lastLine.size()), lastLine);

    std::map<std::string, std::string> got;
    for (const auto &[name, value] : ExpectedSettings(first))
      if (const std::string *v = inspect::FindSetting(job->parsed, name)) got[name] = *v;
    EXPECT_EQ(got, ExpectedSettings(first)) << (aFirst ? "first page a" : "first page b");

    // No JCL text without a PPD: the first page record follows the block directly,
    // and all three pages are there.
    ASSERT_EQ(job->parsed.pages.size(), 3u);
    EXPECT_EQ(job->parsed.pages[0].offset, blockEnd);
  }
}

TEST(WholeFilterJob, AJobThatWouldEndOnA512ByteBoundaryEnds33BytesPastItWithTheComment) {
  // The PPD's JCL text, written after the header block, sets the job's length.  The
  // header block's length changes with the clock (the job name and the time are
  // printed without padding), so the text is lengthened after each run by what that
  // run lacked to end on a boundary, until a run needs the alignment comment.
  ScratchDir dir;
  const std::string raster = dir.File("job.ras");
  ASSERT_TRUE(testraster::WriteRasterFile(
      raster, {filtertest::SamplePage(200, 100, 24), filtertest::SamplePage(160, 90, 8)}));
  const std::string prefix = "@PJL COMMENT ZELVAR JCL ";
  size_t fill = 0;
  bool aligned = false, oneByteMore = false;
  size_t alignedHeader = 0;
  for (int run = 0; run < 8 && !oneByteMore; ++run) {
    const std::string ppd =
        wholefilter::WritePpdWithJcl(dir, prefix + std::string(fill, 'x') + "<0D0A>");
    auto job = wholefilter::PrintFile(dir, raster, {"PPD=" + ppd});
    ASSERT_TRUE(job->good()) << job->problem;
    const std::string &out = job->run.out;
    const size_t size = out.size();
    ASSERT_TRUE(job->parsed.has_jcl);
    EXPECT_EQ(job->parsed.jcl_offset, 555 + job->parsed.header_size);
    EXPECT_EQ(job->parsed.jcl_text, prefix + std::string(fill, 'x') + "\r\n");
    ASSERT_EQ(job->parsed.pages.size(), 2u);
    ASSERT_NE(size % 512, 0u);
    ASSERT_GT(size, 103u);
    if (size % 512 == 33) {
      // Without the comment the job would have ended exactly on the boundary.
      EXPECT_EQ(out.substr(size - 103), kEndOfJob + kAlignment + kFinalBlock);
      aligned = true;
      alignedHeader = job->parsed.header_size;
      fill = (fill + 1) % 512;
    } else {
      EXPECT_EQ(out.substr(size - 70), kEndOfJob + kFinalBlock);
      EXPECT_EQ(out.find(kAlignment), std::string::npos);
      if (aligned && job->parsed.header_size == alignedHeader) {
        // One byte longer than an aligned job: it ends one byte past the boundary.
        EXPECT_EQ(size % 512, 1u);
        oneByteMore = true;
      }
      fill = (fill + 512 - size % 512) % 512;
    }
  }
  EXPECT_TRUE(aligned) << "no run needed the alignment comment";
  EXPECT_TRUE(oneByteMore) << "no run was one byte longer than an aligned one";
}

TEST(WholeFilterJob, AnAllWhitePageIsTheBareStripeEndAndBusyPagesDecodeToTheirDotCount) {
  ScratchDir dir;
  testraster::Page white24 = testraster::WhitePage(testraster::MakeHeader(300, 200, 24));
  testraster::Page white8 = testraster::WhitePage(testraster::MakeHeader(300, 200, 8));
  testraster::Page photo24 = testraster::WhitePage(testraster::MakeHeader(640, 480, 24));
  testraster::DrawPhotoLike(photo24, 1);
  testraster::Page text8 = testraster::WhitePage(testraster::MakeHeader(600, 500, 8, 150));
  testraster::DrawTextLike(text8, 2);
  auto job = Print(dir, {white24, photo24, white8, text8});
  ASSERT_TRUE(job->good()) << job->problem;  // every page decodes; blackDots = set bits
  ASSERT_EQ(job->pages.size(), 4u);

  for (size_t i : {0u, 2u}) {
    const inspect::PageRecord &r = job->parsed.pages[i];
    EXPECT_EQ(r.page_width, 320u) << i;
    EXPECT_EQ(r.page_height, 224u) << i;
    EXPECT_EQ(r.compsize, 2u) << i;
    EXPECT_EQ(r.data[0], 0xFF) << i;
    EXPECT_EQ(r.data[1], 0x02) << i;
    EXPECT_EQ(r.blackDots, 0u) << i;
    EXPECT_EQ(inspect::CountSetBits(job->pages[i]), 0u) << i;
  }
  for (size_t i : {1u, 3u}) {
    const inspect::PageRecord &r = job->parsed.pages[i];
    EXPECT_EQ(r.datasize, r.page_width / 8 * r.page_height) << i;
    EXPECT_GT(r.blackDots, r.datasize / 8) << i;  // more than 1 dot in 64
    EXPECT_LT(r.blackDots, r.datasize * 8 - r.datasize / 8) << i;
  }
}

// Page-sized buffers are handed on from one page to the next: nothing of an
// earlier page may show on a later one, cropped or scaled.
TEST(WholeFilterJob, BlankPagesAfterBusyPagesOfTheSameSizePrintNoDot) {
  ScratchDir dir;
  std::vector<testraster::Page> pages;
  for (bool scaled : {false, true}) {
    // 1.2 million pixels: every page buffer of the 8-bit page is a page-sized block.
    cups_page_header2_t h = testraster::SheetHeader(612, 396, 8, 300);
    h.cupsInteger[3] = scaled ? 1 : 0;
    for (unsigned n = 0; n < 3; ++n) {
      testraster::Page busy = testraster::WhitePage(h);
      testraster::DrawPhotoLike(busy, n + 1);
      pages.push_back(busy);
    }
    for (unsigned n = 0; n < 3; ++n) pages.push_back(testraster::WhitePage(h));
  }
  auto job = Print(dir, pages);
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    const bool busy = i % 6 < 3;
    if (busy) {
      EXPECT_GT(job->parsed.pages[i].blackDots, job->parsed.pages[i].datasize / 8) << i;
    } else {
      EXPECT_EQ(inspect::CountSetBits(job->pages[i]), 0u) << i;
    }
  }
}

// Page n of the mixed job: 8-bit and 24-bit, cropped and scaled, one and two
// colours, of several sizes, each with its page mark; two-colour pages also carry a
// red block below the mark.
testraster::Page MixedPage(unsigned n) {
  cups_page_header2_t h;
  switch (n % 5) {
    case 0:
      h = testraster::MakeHeader(256 + 8 * n, 200 + 4 * n, 8, 100);
      break;
    case 1:
      h = testraster::SheetHeader(200 + 2 * n, 240, 24, 100);
      break;
    case 2:
      h = testraster::SheetHeader(210, 250 + 2 * n, 24, 100);
      h.cupsInteger[4] = 1;
      break;
    case 3:
      h = testraster::SheetHeader(220, 260, 24, 100);
      h.cupsInteger[3] = 1;
      break;
    default:
      h = testraster::SheetHeader(230, 240 + n, 24, 120);
      h.cupsInteger[3] = 1;
      h.cupsInteger[4] = 1;
      break;
  }
  h.cupsCompression = 3;
  testraster::Page p = testraster::WhitePage(h);
  testraster::DrawPageMark(p, n);
  if (h.cupsInteger[4] == 1)
    testraster::FillRect(p, h.cupsWidth / 3, h.cupsHeight / 2, h.cupsWidth / 3, h.cupsHeight / 5,
                         230, 20, 20);
  return p;
}

TEST(WholeFilterJob, TwentyMixedPagesComeOutInPageOrderAndEveryOneDecodes) {
  ScratchDir dir;
  std::vector<testraster::Page> pages;
  for (unsigned n = 0; n < 20; ++n) pages.push_back(MixedPage(n));
  auto job = Print(dir, pages);
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), pages.size());
  for (unsigned n = 0; n < pages.size(); ++n) {
    const cups_page_header2_t &h = pages[n].header;
    const wholefilter::Fit fit = ExpectedFit(h);
    const inspect::PageRecord &r = job->parsed.pages[n];
    const inspect::Bitmap &page = job->pages[n];
    EXPECT_EQ(r.page_width, fit.width) << n;
    EXPECT_EQ(r.page_height, fit.height) << n;
    EXPECT_EQ(wholefilter::ReadMark(page, h.cupsWidth, h.cupsHeight, fit.black),
              static_cast<int>(n))
        << "record " << n;
    const bool twoColour = h.cupsInteger[4] == 1;
    EXPECT_EQ(r.colors, twoColour ? 2 : 1) << n;
    if (twoColour) {
      // The red block's middle prints in the red plane only (scaled pages may show a
      // dot or two of light, as solid black does).
      const wholefilter::Placement &at = fit.red;
      const unsigned x = static_cast<unsigned>(h.cupsWidth / 2 * at.scaleX - at.shiftX);
      const unsigned y = static_cast<unsigned>(h.cupsHeight * 6 / 10 * at.scaleY - at.shiftY);
      EXPECT_GE(wholefilter::CountDots(page, x - 4, at.planeRow + y - 4, 8, 8), 58u) << n;
      EXPECT_EQ(wholefilter::CountDots(page, x - 4, y - 4, 8, 8), 0u) << n;
    }
  }
}

}  // namespace

// A spooled page record is copied out of the spool file in pieces; records far
// larger than a piece must come out whole.  Pages of grey noise compress badly,
// so each record is well over 64 KB.
TEST(WholeFilterJob, SpooledPagesWhoseRecordsExceed64KBComeOutWholeInSheetOrder) {
  ScratchDir dir;
  std::vector<testraster::Page> pages;
  uint32_t seed = 12345;
  for (int n = 0; n < 3; ++n) {
    testraster::Page p = testraster::WhitePage(testraster::MakeHeader(1600, 1200, 8, 600));
    for (unsigned y = 0; y < 1200; ++y)
      for (unsigned x = 0; x < 1600; ++x) {
        seed = seed * 1103515245u + 12345u;
        const uint8_t ink = static_cast<uint8_t>(seed >> 24);
        testraster::SetPixel(p, x, y, ink, ink, ink);
      }
    pages.push_back(std::move(p));
  }
  auto oneSided = Print(dir, pages);
  ASSERT_TRUE(oneSided->good()) << oneSided->problem;
  for (testraster::Page &p : pages) p.header.Duplex = CUPS_TRUE;
  auto twoSided = Print(dir, pages);
  ASSERT_TRUE(twoSided->good()) << twoSided->problem;
  // Sheet order, back page first, and a blank back page for the odd last sheet.
  ASSERT_EQ(twoSided->pages.size(), 4u);
  const int from[] = {1, 0, -1, 2};
  for (int i = 0; i < 4; ++i) {
    const inspect::PageRecord &record = twoSided->parsed.pages[i];
    if (from[i] < 0) {
      EXPECT_EQ(record.blackDots, 0u);
      continue;
    }
    EXPECT_GT(record.compsize, 64u * 1024u) << i;
    EXPECT_EQ(twoSided->pages[i].bits, oneSided->pages[from[i]].bits) << i;
  }
}
