// A page's image work: branch by depth, the order crop, line art, negative,
// mirror, the resulting polarity, and the page record the 1-bit page becomes.
#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>

#include "image/page_image.h"
#include "image/tone_curve.h"
#include "image_slot.h"
#include "job_parser.h"
#include "output/jbig_output_area.h"
#include "output/page_record.h"
#include "page_decoder.h"
#include "test_raster.h"

using imagetest::ScreenBit;
using imagetest::TestSlot;

namespace {

// Letter at 100 dpi: content 850 x 1100, bitmap 864 x 1120 per plane, printable
// area 832 x 1088, cut out 16 pixels in from the left and the top.
constexpr DWORD kPrintW = 832, kPrintH = 1088, kMargin = 16;

struct PageOptions {
  unsigned bitsPerPixel = 24;
  bool twoColour = false;
  bool invert = false;
  bool mirror = false;
  DWORD lineX = 400;  // content column of the black line
};

cups_page_header2_t LetterHeader(const PageOptions &o) {
  cups_page_header2_t h = testraster::SheetHeader(612, 792, o.bitsPerPixel, 100);
  h.cupsInteger[1] = o.invert ? 1 : 0;
  h.cupsInteger[2] = o.mirror ? 1 : 0;
  h.cupsInteger[4] = o.twoColour ? 1 : 0;
  return h;
}

// The 8-bit page raster reading would leave: a one-pixel black line, a one-pixel
// grey-128 line, a grey-128 block, and in two-colour mode a red square.
std::unique_ptr<TestSlot> MakePage(const PageOptions &o) {
  auto slot = std::make_unique<TestSlot>(LetterHeader(o));
  for (DWORD y = 100; y < 900; ++y) slot->grey(o.lineX, y) = 0;
  slot->FillGrey(100, 500, 600, 1, 128);
  slot->FillGrey(500, 600, 200, 200, 128);
  if (o.twoColour)
    for (DWORD y = 200; y < 300; ++y)
      for (DWORD x = 200; x < 300; ++x) slot->red(x, y) = 0;
  return slot;
}

std::vector<BYTE> OneBitPage(const TestSlot &slot) {
  return std::vector<BYTE>(slot.bits(), slot.bits() + slot.job.linebyte * slot.job.page_height);
}

std::unique_ptr<TestSlot> Processed(const PageOptions &o) {
  auto slot = MakePage(o);
  ProcessPageImage(&slot->job);
  return slot;
}

}  // namespace

TEST(ImageProcThread, LineArtPageWithoutInvertSetsABitForEveryPrintedDot) {
  auto slot = Processed(PageOptions{});
  ASSERT_EQ(slot->job.page_width, kPrintW);
  ASSERT_EQ(slot->job.page_height, kPrintH);
  ASSERT_EQ(slot->job.linebyte, kPrintW / 8);
  // Both one-pixel lines print solid along their whole length.
  for (DWORD y = 100; y < 900; ++y) ASSERT_TRUE(slot->bit(400 - kMargin, y - kMargin)) << y;
  for (DWORD x = 100; x < 700; ++x) ASSERT_TRUE(slot->bit(x - kMargin, 500 - kMargin)) << x;
  // White paper gets no dot.
  for (DWORD x = 0; x < kPrintW; ++x) ASSERT_FALSE(slot->bit(x, 20)) << x;
  // Inside the grey block the screen shows through, dots where the screen left
  // a dark pixel.
  BYTE curve[256];
  BuildToneCurve(ToneCurveSelect(0, false), curve);
  for (DWORD y = 602; y < 798; ++y)
    for (DWORD x = 502; x < 698; ++x) {
      const DWORD px = x - kMargin, py = y - kMargin;
      ASSERT_EQ(slot->bit(px, py), !ScreenBit(128, px, py, curve)) << px << "," << py;
    }
}

TEST(ImageProcThread, InvertAndMirrorActOnTheFinishedLineArtPage) {
  auto plain = Processed(PageOptions{});
  const std::vector<BYTE> base = OneBitPage(*plain);
  const DWORD lb = kPrintW / 8;
  auto baseBit = [&](DWORD x, DWORD y) { return (base[y * lb + x / 8] >> (7 - x % 8)) & 1; };

  PageOptions inv;
  inv.invert = true;
  auto inverted = Processed(inv);
  std::vector<BYTE> got = OneBitPage(*inverted);
  ASSERT_EQ(got.size(), base.size());
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<BYTE>(~base[i])) << i;

  for (bool invert : {false, true}) {
    PageOptions mir;
    mir.mirror = true;
    mir.invert = invert;
    auto mirrored = Processed(mir);
    for (DWORD y = 0; y < kPrintH; y += 7)
      for (DWORD x = 0; x < kPrintW; ++x)
        ASSERT_EQ(mirrored->bit(x, y), baseBit(kPrintW - 1 - x, y) != invert) << x << "," << y;
  }
}

TEST(ImageProcThread, TwoColourPageCarriesRedInTheSecondPlaneAndInvertsOnlyTheBlackOne) {
  PageOptions o;
  o.twoColour = true;
  auto slot = Processed(o);
  ASSERT_EQ(slot->job.page_width, kPrintW);
  ASSERT_EQ(slot->job.page_height, 2 * kPrintH);
  for (DWORD y = 200; y < 300; ++y)
    for (DWORD x = 200; x < 300; ++x) {
      ASSERT_TRUE(slot->bit(x - kMargin, kPrintH + y - kMargin)) << x << "," << y;
      ASSERT_FALSE(slot->bit(x - kMargin, y - kMargin)) << x << "," << y;
    }
  EXPECT_TRUE(slot->bit(400 - kMargin, 300));
  EXPECT_FALSE(slot->bit(400 - kMargin, kPrintH + 300));

  o.invert = true;
  auto inverted = Processed(o);
  const std::vector<BYTE> base = OneBitPage(*slot);
  const std::vector<BYTE> got = OneBitPage(*inverted);
  const size_t half = base.size() / 2;
  for (size_t i = 0; i < half; ++i) ASSERT_EQ(got[i], static_cast<BYTE>(~base[i])) << i;
  for (size_t i = half; i < base.size(); ++i) ASSERT_EQ(got[i], base[i]) << i;
}

TEST(ImageProcThread, EightBitPagesAreOnlyScreenedAtTheirPaddedSizeAndInverted) {
  PageOptions o;
  o.bitsPerPixel = 8;
  auto slot = Processed(o);
  ASSERT_EQ(slot->job.page_width, 864u);
  ASSERT_EQ(slot->job.page_height, 1120u);
  ASSERT_EQ(slot->job.linebyte, 864u / 8);
  // Inverted like the line-art path: white paper has no set bit, the black line
  // is set along its length.
  for (DWORD x = 0; x < 864; ++x) ASSERT_FALSE(slot->bit(x, 20)) << x;
  for (DWORD y = 100; y < 900; ++y) {
    if (y == 500) continue;  // the screened grey line crosses here
    ASSERT_TRUE(slot->bit(400, y)) << y;
    ASSERT_FALSE(slot->bit(399, y)) << y;
    ASSERT_FALSE(slot->bit(401, y)) << y;
  }

  o.invert = true;
  o.mirror = true;
  auto both = Processed(o);
  for (DWORD y = 0; y < 1120; y += 5)
    for (DWORD x = 0; x < 864; ++x)
      ASSERT_EQ(both->bit(x, y), !slot->bit(863 - x, y)) << x << "," << y;
}

TEST(ImageProcThread, EightBitPagesAskingForLineArtAreProcessedLikeTwentyFourBitPages) {
  for (const bool invert : {false, true}) {
    PageOptions o;
    o.invert = invert;
    const std::vector<BYTE> rgb = OneBitPage(*Processed(o));
    o.bitsPerPixel = 8;
    auto grey = MakePage(o);
    grey->job.inheader.cupsInteger[6] = 1;
    ProcessPageImage(&grey->job);
    EXPECT_EQ(grey->job.page_width, kPrintW);
    EXPECT_EQ(grey->job.page_height, kPrintH);
    EXPECT_EQ(OneBitPage(*grey), rgb) << (invert ? "inverted" : "plain");
  }
}

namespace {

uint32_t Le32(const BYTE *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The page record of `size` bytes at `bytes` (ESC E, the 32-byte PageHeader, the
// JBIG data) as the inspector's decoder takes it.
inspect::PageRecord RecordAt(const BYTE *bytes, size_t size) {
  inspect::PageRecord r;
  const BYTE *h = bytes + 2;
  r.page_width = Le32(h + 4);
  r.page_height = Le32(h + 8);
  r.datasize = Le32(h + 12);
  r.compsize = Le32(h + 16);
  r.blackDots = Le32(h + 20);
  r.data_offset = 34;
  r.data = std::span<const uint8_t>(bytes + 34, size - 34);
  return r;
}

}  // namespace

TEST(ProcessPageImage, EveryKindOfPageBecomesARecordThatDecodesToItsOneBitPage) {
  std::vector<PageOptions> options(6);
  for (size_t i = 0; i < options.size(); ++i) {
    options[i].bitsPerPixel = i % 3 == 2 ? 8 : 24;
    options[i].twoColour = i % 2 == 1;
    options[i].invert = i == 3;
    options[i].mirror = i == 4;
    options[i].lineX = 300 + 40 * static_cast<DWORD>(i);
  }
  for (size_t i = 0; i < options.size(); ++i) {
    auto slot = Processed(options[i]);
    JbigOutputArea record;
    ASSERT_TRUE(BuildPageRecord(slot->job, &record)) << "page " << i;
    std::string problem;
    inspect::Bitmap page;
    ASSERT_TRUE(inspect::DecodePage(RecordAt(record.data, record.size), &page, &problem))
        << "page " << i << ": " << problem;
    EXPECT_EQ(page.bits, OneBitPage(*slot)) << "page " << i;
  }
}
