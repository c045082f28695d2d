// What the printer gets for a page, from the filter binary and libjbig's decoder:
// tone per density, full sheets fitted to the printable area, solid thin lines with
// a screen in flat areas, the red plane, negative and mirror printing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "sanitizer_build.h"
#include "whole_filter.h"

namespace {

using filtertest::ScratchDir;
using wholefilter::CountDots;
using wholefilter::Dot;
using wholefilter::ExpectedFit;
using wholefilter::Print;

// Compares every pixel of a printed page with what it should be; names the first
// few differences.
void ExpectPage(const inspect::Bitmap &page, const std::function<bool(unsigned, unsigned)> &dot,
                const std::string &what) {
  unsigned wrong = 0;
  std::ostringstream first;
  for (unsigned y = 0; y < page.height; ++y)
    for (unsigned x = 0; x < page.width; ++x)
      if (Dot(page, x, y) != dot(x, y) && ++wrong <= 5)
        first << " (" << x << ", " << y << ")" << (dot(x, y) ? " clear" : " set");
  EXPECT_EQ(wrong, 0u) << what << ":" << first.str();
}

// Per 128 x 128 tile, the dots a flat grey prints at a density (the printer's tone
// reproduction).  The screen sets its bit where the luminance reaches the tone
// curve's threshold, for a light pixel: 128 sets 8289 bits at index 3 (9321 with
// toner saving, 13513 at index 0, 6999 at index 4), 64 sets 4161, 192 12417, 1 97
// and 255 all 16384; the printed page is its negative.
struct Tone {
  unsigned density;  // cupsCompression
  bool economy;      // cupsInteger[0]
  uint8_t ink;       // the 8-bit black sample: luminance 255 - ink
  unsigned dotsPerTile;
};

const Tone kTones[] = {
    {3, false, 0, 0},
    {3, false, 63, 16384 - 12417},
    {3, false, 127, 16384 - 8289},
    {3, false, 191, 16384 - 4161},
    {3, false, 254, 16384 - 97},
    {3, false, 255, 16384},
    {7, true, 127, 16384 - 9321},
    {0, false, 127, 16384 - 13513},
    {4, false, 127, 16384 - 6999},
};

TEST(WholeFilterImage, FlatGreysPrintTheDotsPerTileOfTheirDensityCurve) {
  // 8-bit pages in the black colour space (the photo mode's pages): density 1
  // (index 0) prints lightest, 5 (index 4) darkest, and toner saving prints fewer
  // dots than normal.  The raster is two tiles wide plus a margin, 250 rows high;
  // its padding to 288 x 256 is blank paper and prints nothing.
  ScratchDir dir;
  std::vector<testraster::Page> pages;
  for (const Tone &t : kTones) {
    cups_page_header2_t h = testraster::MakeHeader(272, 250, 8);
    h.cupsCompression = t.density;
    h.cupsInteger[0] = t.economy ? 1 : 0;
    testraster::Page p = testraster::WhitePage(h);
    testraster::InkRect(p, 0, 0, 272, 250, t.ink);
    pages.push_back(p);
  }
  auto job = Print(dir, pages);
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    const Tone &t = kTones[i];
    const inspect::Bitmap &page = job->pages[i];
    ASSERT_EQ(page.width, 288u);
    ASSERT_EQ(page.height, 256u);
    for (unsigned tx : {0u, 128u})
      EXPECT_EQ(CountDots(page, tx, 0, 128, 128), t.dotsPerTile)
          << "ink " << int{t.ink} << " density " << t.density << (t.economy ? " economy" : "")
          << " tile " << tx;
    EXPECT_EQ(CountDots(page, 272, 0, 16, 256), 0u) << "padding right, page " << i + 1;
    EXPECT_EQ(CountDots(page, 0, 250, 288, 6), 0u) << "padding below, page " << i + 1;
  }
}

// A full sheet written line by line (a 600 dpi page is 100 MB of RGB): white, with
// the page mark and a solid black box.
struct Sheet {
  cups_page_header2_t header;
  unsigned mark;
  testraster::Rect box;
};

bool WriteSheet(const std::string &path, const Sheet &s) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
  cups_page_header2_t h = s.header;
  bool ok = ras != nullptr && cupsRasterWriteHeader2(ras, &h) != 0;
  const testraster::Rect boxes[] = {
      s.box, testraster::MarkSquare(h.cupsWidth, h.cupsHeight, 0, s.mark % 16),
      testraster::MarkSquare(h.cupsWidth, h.cupsHeight, 1, s.mark / 16 % 16)};
  std::vector<unsigned char> line(h.cupsBytesPerLine);
  for (unsigned y = 0; ok && y < h.cupsHeight; ++y) {
    memset(line.data(), 255, line.size());
    for (const testraster::Rect &b : boxes)
      if (y >= b.y && y < b.y + b.h) memset(&line[3 * b.x], 0, 3 * b.w);
    ok = cupsRasterWritePixels(ras, line.data(), h.cupsBytesPerLine) == h.cupsBytesPerLine;
  }
  if (ras) cupsRasterClose(ras);
  return close(fd) == 0 && ok;
}

// The w x h box at (x, y) is all dots and the one-pixel ring around it has none.
void ExpectSolidBox(const inspect::Bitmap &page, unsigned x, unsigned y, unsigned w, unsigned h,
                    const std::string &what) {
  EXPECT_EQ(CountDots(page, x, y, w, h), w * h) << what;
  EXPECT_EQ(CountDots(page, x - 1, y - 1, w + 2, h + 2), w * h) << what;
}

struct SheetResult {
  unsigned width, height, paper;
};

// Prints one 600 dpi sheet and checks the printed page's size, paper code and mark;
// returns the decoded page for further checks.
inspect::Bitmap PrintSheet(const Sheet &sheet, const SheetResult &expected) {
  ScratchDir dir;
  const std::string path = dir.File("sheet.ras");
  EXPECT_TRUE(WriteSheet(path, sheet));
  auto job = wholefilter::PrintFile(dir, path);
  EXPECT_TRUE(job->good()) << job->problem;
  if (job->pages.size() != 1) {
    ADD_FAILURE() << job->pages.size() << " pages printed";
    return {};
  }
  const inspect::PageRecord &r = job->parsed.pages[0];
  EXPECT_EQ(r.page_width, expected.width);
  EXPECT_EQ(r.page_height, expected.height);
  EXPECT_EQ(r.paper_type, expected.paper);
  const cups_page_header2_t &h = sheet.header;
  EXPECT_EQ(wholefilter::ReadMark(job->pages[0], h.cupsWidth, h.cupsHeight, ExpectedFit(h).black),
            static_cast<int>(sheet.mark));
  return std::move(job->pages[0]);
}

// Under ThreadSanitizer one 600 dpi sheet takes the filter about half a minute; the
// crop and scale paths run there on the small pages of the other tests.
#define SKIP_600_DPI()                                                                          \
  do {                                                                                          \
    if (kThreadSanitizer) GTEST_SKIP() << "600 dpi sheets take too long under ThreadSanitizer"; \
  } while (0)

const testraster::Rect kSheetBox = {400, 500, 16, 16};

TEST(WholeFilterImage, LetterSheetIsCutDownToTheCentral4928By6400) {
  SKIP_600_DPI();
  const Sheet letter = {testraster::SheetHeader(612, 792, 24), 21, kSheetBox};
  ASSERT_EQ(letter.header.cupsWidth, 5100u);
  ASSERT_EQ(letter.header.cupsHeight, 6600u);
  const inspect::Bitmap page = PrintSheet(letter, {4928, 6400, 15});
  ASSERT_FALSE(page.bits.empty());
  // The cut-out starts 96 pixels in from the left and 112 down from the top.
  ExpectSolidBox(page, kSheetBox.x - 96, kSheetBox.y - 112, kSheetBox.w, kSheetBox.h, "box");
}

TEST(WholeFilterImage, LetterSheetIsScaledDownInto4928By6400) {
  SKIP_600_DPI();
  Sheet letter = {testraster::SheetHeader(612, 792, 24), 22, kSheetBox};
  letter.header.cupsInteger[3] = 1;
  // The scaler lifts black to 2 (see the disabled test below); index 3 keeps the
  // mark's black solid enough to read.
  letter.header.cupsCompression = 3;
  PrintSheet(letter, {4928, 6400, 15});
}

TEST(WholeFilterImage, A4SheetIsCutDownToTheCentral4768By6816) {
  SKIP_600_DPI();
  const Sheet a4 = {testraster::SheetHeader(595, 842, 24), 23, kSheetBox};
  ASSERT_EQ(a4.header.cupsWidth, 4958u);
  ASSERT_EQ(a4.header.cupsHeight, 7016u);
  const inspect::Bitmap page = PrintSheet(a4, {4768, 6816, 2});
  ASSERT_FALSE(page.bits.empty());
  ExpectSolidBox(page, kSheetBox.x - 96, kSheetBox.y - 112, kSheetBox.w, kSheetBox.h, "box");
}

// A sheet of 240 x 240 points at 100 dpi: 333 x 333 pixels, padded to 352, printed
// as the middle 320 x 320, so a raster pixel (x, y) prints at (x - 16, y - 16).
constexpr unsigned kShift = 16, kPrinted = 320;

cups_page_header2_t SmallSheet(bool invert = false, bool mirror = false, bool twoColour = false) {
  cups_page_header2_t h = testraster::SheetHeader(240, 240, 24, 100);
  h.cupsCompression = 3;
  h.cupsInteger[1] = invert ? 1 : 0;
  h.cupsInteger[2] = mirror ? 1 : 0;
  h.cupsInteger[4] = twoColour ? 1 : 0;
  return h;
}

struct Box {
  unsigned x, y, w, h;
  bool Holds(unsigned px, unsigned py) const {
    return px >= x && px < x + w && py >= y && py < y + h;
  }
};

TEST(WholeFilterImage, PagesWithImagingMarginsKeepTheirPaddedSize) {
  // Either margin alone leaves the page as rendered: 333 x 333 pixels padded to 352,
  // not fitted to the 320 x 320 printable area, with nothing moved.
  ScratchDir dir;
  std::vector<testraster::Page> pages;
  for (int side = 0; side < 2; ++side) {
    cups_page_header2_t h = SmallSheet();
    h.ImagingBoundingBox[side] = 12;
    h.ImagingBoundingBox[2] = 228;
    h.ImagingBoundingBox[3] = 228;
    testraster::Page p = testraster::WhitePage(h);
    testraster::DrawPageMark(p, 5 + side);
    testraster::FillRect(p, 300, 310, 20, 12, 0, 0, 0);
    pages.push_back(p);
  }
  auto job = Print(dir, pages);
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    const inspect::Bitmap &page = job->pages[i];
    EXPECT_EQ(page.width, 352u) << i;
    EXPECT_EQ(page.height, 352u) << i;
    EXPECT_EQ(wholefilter::ReadMark(page, 333, 333, wholefilter::Placement{}),
              static_cast<int>(5 + i));
    ExpectSolidBox(page, 300, 310, 20, 12, "box of page " + std::to_string(i + 1));
  }
}

// Raster coordinates: a black line one pixel wide, a grey-128 line one pixel high,
// a grey-128 block.
const Box kBlackLine = {60, 60, 1, 240};
const Box kGreyLine = {80, 45, 220, 1};
const Box kGreyBlock = {150, 150, 150, 150};

testraster::Page LinesPage(bool invert) {
  testraster::Page p = testraster::WhitePage(SmallSheet(invert));
  const Box &l = kBlackLine, &g = kGreyLine, &b = kGreyBlock;
  testraster::FillRect(p, l.x, l.y, l.w, l.h, 0, 0, 0);
  testraster::FillRect(p, g.x, g.y, g.w, g.h, 128, 128, 128);
  testraster::FillRect(p, b.x, b.y, b.w, b.h, 128, 128, 128);
  return p;
}

TEST(WholeFilterImage, ThinLinesPrintSolidFlatGreyKeepsItsScreenAndInvertFlipsThePage) {
  ScratchDir dir;
  auto job = Print(dir, {LinesPage(false), LinesPage(true)});
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), 2u);
  const inspect::Bitmap &page = job->pages[0];
  ASSERT_EQ(page.width, kPrinted);
  ASSERT_EQ(page.height, kPrinted);

  // Outside the block: a dot on every pixel of both lines, where the cut-out puts
  // them, and none on white paper.
  const Box block = {kGreyBlock.x - kShift, kGreyBlock.y - kShift, kGreyBlock.w, kGreyBlock.h};
  ExpectPage(
      page,
      [&](unsigned x, unsigned y) {
        if (block.Holds(x, y)) return Dot(page, x, y);  // checked below
        return kBlackLine.Holds(x + kShift, y + kShift) || kGreyLine.Holds(x + kShift, y + kShift);
      },
      "lines on white");
  // The block's outline is solid; inside, the screen of grey 128 at index 3 prints
  // on 16384 - 8289 pixels of every 128 x 128 tile (the screen sets its bit on light
  // pixels, and the printed page is its negative).
  EXPECT_EQ(CountDots(page, block.x, block.y, block.w, 1), block.w);
  EXPECT_EQ(CountDots(page, block.x, block.y + block.h - 1, block.w, 1), block.w);
  EXPECT_EQ(CountDots(page, block.x, block.y, 1, block.h), block.h);
  EXPECT_EQ(CountDots(page, block.x + block.w - 1, block.y, 1, block.h), block.h);
  for (unsigned off : {2u, 20u})
    EXPECT_EQ(CountDots(page, block.x + off, block.y + off, 128, 128), 16384u - 8289u) << off;

  // Invert prints the negative of the same page.
  const inspect::Bitmap &negative = job->pages[1];
  ASSERT_EQ(negative.bits.size(), page.bits.size());
  ExpectPage(
      negative, [&](unsigned x, unsigned y) { return !Dot(page, x, y); }, "negative");
}

// Raster coordinates of the two-colour page's blocks.
const Box kRedBlock = {40, 60, 80, 60};
const Box kBlackBlock = {150, 60, 60, 60};

testraster::Page TwoColourPage(bool invert) {
  testraster::Page p = testraster::WhitePage(SmallSheet(invert, false, true));
  testraster::FillRect(p, kRedBlock.x, kRedBlock.y, kRedBlock.w, kRedBlock.h, 230, 20, 20);
  testraster::FillRect(p, kBlackBlock.x, kBlackBlock.y, kBlackBlock.w, kBlackBlock.h, 0, 0, 0);
  return p;
}

TEST(WholeFilterImage, RedPrintsInTheSecondPlaneAndInvertLeavesThatPlaneAlone) {
  ScratchDir dir;
  auto job = Print(dir, {TwoColourPage(false), TwoColourPage(true)});
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), 2u);
  const inspect::PageRecord &r = job->parsed.pages[0];
  EXPECT_EQ(r.colors, 2);
  EXPECT_EQ(r.page_width, kPrinted);
  EXPECT_EQ(r.page_height, 2 * kPrinted);  // black plane, then red plane
  EXPECT_EQ(r.datasize, kPrinted / 8 * 2 * kPrinted);

  const inspect::Bitmap &page = job->pages[0];
  ExpectPage(
      page,
      [](unsigned x, unsigned y) {
        const bool red = y >= kPrinted;
        const unsigned rx = x + kShift, ry = (red ? y - kPrinted : y) + kShift;
        return (red ? kRedBlock : kBlackBlock).Holds(rx, ry);
      },
      "two planes");

  const inspect::Bitmap &inverted = job->pages[1];
  ASSERT_EQ(inverted.bits.size(), page.bits.size());
  ExpectPage(
      inverted, [&](unsigned x, unsigned y) { return Dot(page, x, y) != (y < kPrinted); },
      "negative of the black plane only");
}

TEST(WholeFilterImage, MirrorPrintsEveryRowRightToLeft) {
  ScratchDir dir;
  std::vector<testraster::Page> pages;
  for (int kind = 0; kind < 3; ++kind)
    for (bool mirror : {false, true}) {
      cups_page_header2_t h = kind == 0 ? testraster::MakeHeader(300, 280, 8, 100)
                                        : SmallSheet(false, mirror, kind == 2);
      h.cupsInteger[2] = mirror ? 1 : 0;
      testraster::Page p = testraster::WhitePage(h);
      testraster::DrawPageMark(p, 37);
      if (kind == 2) testraster::FillRect(p, 40, 200, 30, 30, 230, 20, 20);
      pages.push_back(p);
    }
  auto job = Print(dir, pages);
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); i += 2) {
    const cups_page_header2_t &h = pages[i].header;
    const inspect::Bitmap &plain = job->pages[i];
    const inspect::Bitmap &mirrored = job->pages[i + 1];
    ASSERT_EQ(wholefilter::ReadMark(plain, h.cupsWidth, h.cupsHeight, ExpectedFit(h).black), 37)
        << i;
    ASSERT_EQ(mirrored.width, plain.width);
    ASSERT_EQ(mirrored.height, plain.height);
    ExpectPage(
        mirrored, [&](unsigned x, unsigned y) { return Dot(plain, plain.width - 1 - x, y); },
        "mirror of page " + std::to_string(i + 1));
  }
}

}  // namespace

namespace {

// Solid black must reach the screen as 0 on the scale path too: had the scaler's
// bias lifted it to 2, every threshold the tone curve brings down to 2 or below
// would leave a hole (about a quarter of the area at density index 0).
TEST(WholeFilterImage, SolidBlackPrintsSolidOnTheScalePathAtEveryDensity) {
  ScratchDir dir;
  std::vector<testraster::Page> pages;
  for (unsigned density : {0u, 3u}) {
    cups_page_header2_t h = SmallSheet();
    h.cupsInteger[3] = 1;
    h.cupsCompression = density;
    testraster::Page p = testraster::WhitePage(h);
    testraster::FillRect(p, 100, 100, 120, 120, 0, 0, 0);
    pages.push_back(p);
  }
  auto job = Print(dir, pages);
  ASSERT_TRUE(job->good()) << job->problem;
  ASSERT_EQ(job->pages.size(), pages.size());
  // The block is scaled by 0.960 to about (96, 96) - (210, 210); well inside it:
  for (size_t i = 0; i < pages.size(); ++i)
    EXPECT_EQ(CountDots(job->pages[i], 110, 110, 80, 80), 80u * 80u)
        << "density index " << pages[i].header.cupsCompression;
}

}  // namespace
