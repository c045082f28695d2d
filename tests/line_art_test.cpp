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

// The filter written out directly: coordinates outside the image are clamped to
// the nearest row and column, and the response is divided by the kernel's sum
// when that is positive.
std::vector<BYTE> ReferenceFilter(const std::vector<BYTE> &img, int w, int h, const int *k) {
  int count = 0;
  for (int i = 0; i < 9; ++i) count += k[i];
  if (count <= 0) count = 1;
  std::vector<BYTE> out(img.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int64_t sum = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          int yy = std::min(std::max(y + dy, 0), h - 1);
          int xx = std::min(std::max(x + dx, 0), w - 1);
          sum += k[(dy + 1) * 3 + dx + 1] * img[yy * w + xx];
        }
      int64_t v = sum / count;
      out[y * w + x] = static_cast<BYTE>(v > 255 ? 255 : v < 0 ? 0 : v);
    }
  return out;
}

// Replaces the slot's page by the edge kernel's response.
void Filtered(TestSlot &slot) {
  EXPECT_EQ(ApplyFilter3x3(&slot.job, slot.bits(), 8, FilterArray, 3), slot.job.page_height);
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

TEST(ApplyFilter3x3, MatchesTheFilterWithEdgeRowsAndColumnsRepeated) {
  const int kernels[][9] = {
      {2, 1, 2, 1, -12, 1, 2, 1, 2},        // the edge kernel, sum 0
      {1, 1, 1, 1, 1, 1, 1, 1, 1},          // sum 9: divided
      {0, -1, 0, -1, 5, -1, 0, -1, 0},      // sum 1
      {-1, -1, -1, -1, -1, -1, -1, -1, -1}  // negative sum: not divided
  };
  std::mt19937 rng(5);
  for (const int *k : kernels) {
    TestSlot slot(Header(40, 13), 40, 13);
    for (DWORD i = 0; i < slot.job.pagesize; ++i) slot.bits()[i] = static_cast<BYTE>(rng());
    std::vector<BYTE> img = slot.Snapshot();
    ASSERT_EQ(ApplyFilter3x3(&slot.job, slot.bits(), 8, k, 3), 13);
    EXPECT_EQ(slot.Snapshot(), ReferenceFilter(img, 40, 13, k)) << "kernel " << k[0];
  }
}

TEST(ApplyFilter3x3, RespondsToPixelsDarkerThanTheirNeighbourhood) {
  TestSlot slot(Header(64, 16), 64, 16);
  slot.grey(10, 5) = 0;     // 12 x 255 = 3060, clamped
  slot.grey(30, 5) = 230;   // 300, clamped
  slot.grey(50, 5) = 240;   // 180
  slot.grey(20, 10) = 250;  // 60
  Filtered(slot);
  EXPECT_EQ(slot.grey(10, 5), 255);
  EXPECT_EQ(slot.grey(30, 5), 255);
  EXPECT_EQ(slot.grey(50, 5), 180);
  EXPECT_EQ(slot.grey(20, 10), 60);
  // The white neighbours of the black pixel respond negatively, and so does
  // everything flat.
  for (DWORD y = 4; y <= 6; ++y) {
    for (DWORD x = 9; x <= 11; ++x) {
      if (x != 10 || y != 5) {
        EXPECT_EQ(slot.grey(x, y), 0) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(slot.grey(40, 12), 0);

  // A straight edge is marked on its dark side only (5 x 255 there).
  TestSlot edge(Header(32, 8), 32, 8);
  edge.FillGrey(0, 0, 16, 8, 0);
  Filtered(edge);
  for (DWORD y = 0; y < 8; ++y) {
    EXPECT_EQ(edge.grey(15, y), 255) << y;
    EXPECT_EQ(edge.grey(16, y), 0) << y;
    EXPECT_EQ(edge.grey(8, y), 0) << y;  // inside the black area
  }
}

TEST(ApplyFilter3x3, EdgesOfThePageStandInForTheirMissingNeighbours) {
  // 250 on white responds 60 inside, 55 on a side edge and 40 in a corner, where
  // the pixel itself takes the place of its missing neighbours.
  TestSlot slot(Header(32, 12), 32, 12);
  slot.grey(0, 0) = 250;
  slot.grey(31, 11) = 250;
  slot.grey(0, 6) = 250;
  slot.grey(15, 0) = 250;
  slot.grey(31, 3) = 250;
  Filtered(slot);
  EXPECT_EQ(slot.grey(0, 0), 40);
  EXPECT_EQ(slot.grey(31, 11), 40);
  EXPECT_EQ(slot.grey(0, 6), 55);
  EXPECT_EQ(slot.grey(15, 0), 55);
  EXPECT_EQ(slot.grey(31, 3), 55);
}

TEST(ApplyFilter3x3, RefusesGeometryBeyond16Bits) {
  TestSlot slot(Header(65568, 1), 65568, 1);
  slot.bits()[5] = 0;
  std::vector<BYTE> before = slot.Snapshot();
  EXPECT_EQ(ApplyFilter3x3(&slot.job, slot.bits(), 8, FilterArray, 3), 0);
  EXPECT_EQ(slot.Snapshot(), before);
}

TEST(GrayToLineart, SetsABitForEveryPixelAboveTheThresholdPackedFromTheStart) {
  TestSlot slot(Header(48, 9), 48, 9);
  std::mt19937 rng(9);
  for (DWORD i = 0; i < slot.job.pagesize; ++i) slot.bits()[i] = static_cast<BYTE>(rng());
  slot.grey(0, 0) = 221;  // just above: set
  slot.grey(1, 0) = 220;  // at the threshold: clear
  std::vector<BYTE> img = slot.Snapshot();
  GrayToLineart(&slot.job, slot.bits(), 220);
  for (DWORD y = 0; y < 9; ++y)
    for (DWORD x = 0; x < 48; ++x) {
      bool bit = (slot.bits()[y * 6 + x / 8] >> (7 - x % 8)) & 1;
      ASSERT_EQ(bit, img[y * 48 + x] > 220) << x << "," << y;
    }
  EXPECT_EQ(slot.bits()[0] & 0xC0, 0x80);
}

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
