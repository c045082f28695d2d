// Screening an 8-bit page to 1 bit per pixel with the threshold matrix under the
// density's tone curve.
#include "image/halftone.h"

#include <gtest/gtest.h>

#include <random>

#include "image/halftone_matrix.h"
#include "image/tone_curve.h"
#include "image_slot.h"
#include "test_raster.h"

using imagetest::ScreenBit;
using imagetest::TestSlot;

namespace {

cups_page_header2_t GreyHeader(unsigned width, unsigned height, int density, bool economy) {
  cups_page_header2_t h = testraster::MakeHeader(width, height, 8);
  h.cupsCompression = static_cast<unsigned>(density);
  h.cupsInteger[0] = economy ? 1 : 0;
  return h;
}

void FillRandom(TestSlot &slot, unsigned seed) {
  std::mt19937 rng(seed);
  for (DWORD y = 0; y < slot.job.page_height; ++y)
    for (DWORD x = 0; x < slot.job.page_width; ++x) slot.grey(x, y) = static_cast<BYTE>(rng());
}

// Every bit of a screened page against the matrix and the curve of `select`.
void ExpectScreenOf(const std::vector<BYTE> &grey, DWORD width, DWORD height, const TestSlot &slot,
                    int select) {
  BYTE gammatbl[256];
  BuildToneCurve(select, gammatbl);
  const DWORD rowBytes = (width + 31) / 32 * 4;  // whole bytes, padded to 4
  ASSERT_EQ(slot.job.linebyte, rowBytes);
  for (DWORD y = 0; y < height; ++y) {
    for (DWORD x = 0; x < rowBytes * 8; ++x) {
      bool want = x < width && ScreenBit(grey[y * width + x], x, y, gammatbl);
      ASSERT_EQ(slot.bit(x, y), want) << "pixel " << x << "," << y << " select " << select;
    }
  }
}

size_t SetBitsInTile(const TestSlot &slot) {
  size_t n = 0;
  for (DWORD y = 0; y < kHalftoneTileSize; ++y)
    for (DWORD x = 0; x < kHalftoneTileSize; ++x) n += slot.bit(x, y);
  return n;
}

}  // namespace

TEST(ApplyHalftone, ScreensEveryPixelWithTheCurvedMatrixOfTheDensity) {
  struct Case {
    int density;
    bool economy;
    int select;
  };
  // Economy mode takes curve 2 whatever the density; densities outside 0..9 take
  // the nearest curve.
  const Case cases[] = {{0, false, 0},  {3, false, 3}, {4, false, 4},
                        {9, false, 9},  {7, true, 2},  {-4, false, 0},
                        {12, false, 9}, {-1, true, 2}, {1000, false, 9}};
  for (const Case &c : cases) {
    // 288 is not a multiple of the 128-pixel tile; 300 rows wrap it vertically twice.
    TestSlot slot(GreyHeader(288, 300, c.density, c.economy), 288, 300);
    FillRandom(slot, 7u + static_cast<unsigned>(c.select));
    std::vector<BYTE> grey = slot.Snapshot();
    ASSERT_TRUE(ApplyHalftone(&slot.job));
    EXPECT_EQ(slot.job.page_width, 288u);
    EXPECT_EQ(slot.job.page_height, 300u);
    ExpectScreenOf(grey, 288, 300, slot, c.select);
  }
  // A width that is no multiple of 32: the rows are padded with clear bits.
  TestSlot narrow(GreyHeader(44, 20, 3, false), 44, 20);
  FillRandom(narrow, 3);
  std::vector<BYTE> grey = narrow.Snapshot();
  ASSERT_TRUE(ApplyHalftone(&narrow.job));
  ExpectScreenOf(grey, 44, 20, narrow, 3);
}

TEST(ApplyHalftone, IdentityCurveSetsAsManyBitsPerTileAsMatrixEntriesAtOrBelowTheGrey) {
  // At density index 3 the curve is the identity, so a flat grey g sets exactly
  // the positions whose matrix value (0 counted as 1) is at most g.
  for (int g : {1, 2, 64, 128, 192, 253, 254}) {
    TestSlot slot(GreyHeader(128, 128, 3, false), 128, 128);
    slot.FillGrey(0, 0, 128, 128, static_cast<BYTE>(g));
    ASSERT_TRUE(ApplyHalftone(&slot.job));
    size_t want = 0;
    for (BYTE t : FINE_TAry) want += (t < 1 ? 1 : t) <= g;
    EXPECT_EQ(SetBitsInTile(slot), want) << "grey " << g;
  }
  TestSlot full(GreyHeader(128, 128, 3, false), 128, 128);
  full.FillGrey(0, 0, 128, 128, 254);
  ASSERT_TRUE(ApplyHalftone(&full.job));
  EXPECT_EQ(SetBitsInTile(full), 16384u);
}

TEST(ApplyHalftone, BlackNeverSetsABitAndWhiteAlwaysDoesAtEveryDensity) {
  for (int density = -1; density <= 10; ++density) {
    for (bool economy : {false, true}) {
      TestSlot black(GreyHeader(256, 160, density, economy), 256, 160);
      black.FillGrey(0, 0, 256, 160, 0);
      ASSERT_TRUE(ApplyHalftone(&black.job));
      TestSlot white(GreyHeader(256, 160, density, economy), 256, 160);
      ASSERT_TRUE(ApplyHalftone(&white.job));
      for (DWORD i = 0; i < 32 * 160; ++i) {
        ASSERT_EQ(black.bits()[i], 0x00) << "density " << density;
        ASSERT_EQ(white.bits()[i], 0xFF) << "density " << density;
      }
    }
  }
}

TEST(ApplyHalftone, LetterPrintableWidthGivesRowsOf616Bytes) {
  TestSlot slot(GreyHeader(4928, 40, 3, false), 4928, 40);
  slot.FillGrey(0, 0, 4928, 40, 0);
  ASSERT_TRUE(ApplyHalftone(&slot.job));
  EXPECT_EQ(slot.job.linebyte, 616u);
  EXPECT_EQ(slot.job.page_width, 4928u);
  EXPECT_EQ(slot.job.page_height, 40u);
  EXPECT_EQ(slot.job.pagesize, 4928u * 40u);  // still the size of the 8-bit block
}

TEST(ApplyHalftone, RefusesASlotWithoutAUsablePageAndLeavesItUnchanged) {
  {
    TestSlot slot(GreyHeader(64, 8, 3, false), 64, 8);
    slot.job.page_height = 0;
    EXPECT_FALSE(ApplyHalftone(&slot.job));
    EXPECT_EQ(slot.job.linebyte, 64u);
  }
  {
    TestSlot slot(GreyHeader(64, 8, 3, false), 64, 8);
    free(slot.bits());
    slot.job.lpbuf = nullptr;
    EXPECT_FALSE(ApplyHalftone(&slot.job));
  }
  {
    // Rows that claim more than the buffer holds.
    TestSlot slot(GreyHeader(64, 8, 3, false), 64, 8);
    slot.FillGrey(0, 0, 64, 8, 77);
    std::vector<BYTE> before = slot.Snapshot();
    slot.job.page_height = 9;
    EXPECT_FALSE(ApplyHalftone(&slot.job));
    EXPECT_EQ(slot.Snapshot(), before);
    EXPECT_EQ(slot.job.linebyte, 64u);
  }
}
