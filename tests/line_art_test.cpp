// Edge-enhanced line art: the 3 x 3 edge filter, the thresholded mask, and the
// mask merged solid into the screen.
#include "image/line_art.h"

#include <gtest/gtest.h>

#include <random>

#include "image/halftone.h"
#include "image/tone_curve.h"
#include "image_slot.h"
#include "test_raster.h"

using imagetest::TestSlot;

namespace {

cups_page_header2_t Header(unsigned width, unsigned height) {
  return testraster::MakeHeader(width, height, 24);
}

// The plain screen of a copy of the slot's 8-bit page.
std::vector<BYTE> PlainScreen(TestSlot &slot) {
  TestSlot copy(slot.job.inheader, slot.job.page_width, slot.job.page_height);
  memcpy(copy.bits(), slot.bits(), slot.job.pagesize);
  EXPECT_TRUE(ApplyHalftone(&copy.job));
  return std::vector<BYTE>(copy.bits(), copy.bits() + copy.job.linebyte * copy.job.page_height);
}

std::vector<BYTE> OneBitPage(const TestSlot &slot) {
  return std::vector<BYTE>(slot.bits(), slot.bits() + slot.job.linebyte * slot.job.page_height);
}

}  // namespace

TEST(DoBorderQuality, FlatGreyKeepsThePlainScreen) {
  for (BYTE g : {0, 100, 128, 230, 255}) {
    TestSlot slot(Header(256, 160), 256, 160);
    slot.FillGrey(0, 0, 256, 160, g);
    std::vector<BYTE> plain = PlainScreen(slot);
    EXPECT_TRUE(DoBorderQuality(&slot.job));
    EXPECT_EQ(slot.job.linebyte, 32u);
    EXPECT_EQ(OneBitPage(slot), plain) << "grey " << int(g);
  }
}

TEST(DoBorderQuality, ThinGreyLinePrintsSolidAlongItsLength) {
  // A one-pixel line of grey 128 responds 1270 along its whole length, ends
  // included, so it comes out dark; the white around it stays white and a large
  // grey area keeps the screen inside.
  TestSlot slot(Header(256, 160), 256, 160);
  for (DWORD y = 0; y < 160; ++y) slot.grey(37, y) = 128;
  slot.FillGrey(100, 20, 120, 120, 128);
  std::vector<BYTE> plain = PlainScreen(slot);
  const DWORD lb = 32;
  auto plainBit = [&](DWORD x, DWORD y) { return (plain[y * lb + x / 8] >> (7 - x % 8)) & 1; };
  int plainLineBits = 0;
  for (DWORD y = 0; y < 160; ++y) plainLineBits += plainBit(37, y);
  ASSERT_GT(plainLineBits, 0);  // the screen alone would break the line

  EXPECT_TRUE(DoBorderQuality(&slot.job));
  for (DWORD y = 0; y < 160; ++y) {
    EXPECT_FALSE(slot.bit(37, y)) << y;
    EXPECT_TRUE(slot.bit(36, y)) << y;
    EXPECT_TRUE(slot.bit(38, y)) << y;
  }
  for (DWORD y = 22; y < 138; ++y)
    for (DWORD x = 102; x < 218; ++x) ASSERT_EQ(slot.bit(x, y), plainBit(x, y)) << x << "," << y;
}

TEST(DoBorderQuality, LightGreyDotOf230IsMaskedAndOf240IsNot) {
  TestSlot slot(Header(64, 8), 64, 8);
  slot.grey(10, 3) = 230;
  slot.grey(40, 3) = 240;
  slot.grey(50, 5) = 0;
  std::vector<BYTE> plain = PlainScreen(slot);
  EXPECT_TRUE(DoBorderQuality(&slot.job));
  EXPECT_FALSE(slot.bit(10, 3));
  EXPECT_EQ(slot.bit(40, 3), ((plain[3 * 8 + 5] >> 7) & 1) != 0);
  EXPECT_FALSE(slot.bit(50, 5));
  // Only the masked pixels differ from the plain screen.
  std::vector<BYTE> got = OneBitPage(slot);
  int differing = 0;
  for (size_t i = 0; i < got.size(); ++i) differing += __builtin_popcount(got[i] ^ plain[i]);
  EXPECT_LE(differing, 1);  // the 230 dot (0 is dark in the screen already)
}

TEST(DoBorderQuality, PageTooWideForTheFilterGetsThePlainScreen) {
  // 65568 columns cannot pass the 16-bit filter: no line art, but the page still
  // leaves as a 1-bit page whose row length matches its data.
  TestSlot slot(Header(65568, 2), 65568, 2);
  for (DWORD x = 0; x < 65568; x += 3) slot.grey(x, 0) = static_cast<BYTE>(x);
  slot.grey(4000, 1) = 128;
  std::vector<BYTE> plain = PlainScreen(slot);
  EXPECT_FALSE(DoBorderQuality(&slot.job));
  EXPECT_EQ(slot.job.linebyte, 65568u / 8);
  EXPECT_EQ(OneBitPage(slot), plain);
}
