// Fitting full-sheet 24-bit pages to the printable area: the crop path, the scale
// path and the bilinear scaler, and pages that cannot be fitted.
#include "image/crop_scale.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "image_slot.h"
#include "page/page.h"
#include "test_raster.h"

using imagetest::TestSlot;

namespace {

// A full-sheet 24-bit header; `scale` selects the scale path, `twoColour` the
// black and red planes.
cups_page_header2_t Sheet(unsigned widthPt, unsigned heightPt, unsigned dpi, bool scale,
                          bool twoColour) {
  cups_page_header2_t h = testraster::SheetHeader(widthPt, heightPt, 24, dpi);
  h.cupsInteger[3] = scale ? 1 : 0;
  h.cupsInteger[4] = twoColour ? 1 : 0;
  return h;
}

// Content that differs from pixel to pixel and from plane to plane: row y of
// plane p is (7 x + 13 y + 101 p) mod 251, which is the row of y = p = 0 shifted
// left by (13 y + 101 p) / 7 mod 251 pixels (36 is the inverse of 7 mod 251).
struct Pattern {
  std::vector<BYTE> base;
  explicit Pattern(DWORD width) : base(width + 251) {
    for (DWORD x = 0; x < base.size(); ++x) base[x] = static_cast<BYTE>(x * 7 % 251);
  }
  const BYTE *Row(DWORD y, DWORD plane) const {
    return base.data() + (y * 13 + plane * 101) % 251 * 36 % 251;
  }
};

void FillContent(TestSlot &slot, const Pattern &pattern) {
  const cups_page_header2_t &h = slot.job.inheader;
  const DWORD planes = h.cupsInteger[4] == 1 ? 2 : 1;
  const DWORD planeRows = slot.job.page_height / planes;
  for (DWORD p = 0; p < planes; ++p)
    for (DWORD y = 0; y < h.cupsHeight; ++y)
      memcpy(&slot.grey(0, p * planeRows + y), pattern.Row(y, p), h.cupsWidth);
}

void FillContent(TestSlot &slot) { FillContent(slot, Pattern(slot.job.inheader.cupsWidth)); }

// Runs ImageCrop and returns its log.
void ExpectUntouched(TestSlot &slot) {
  const DWORD w = slot.job.page_width, h = slot.job.page_height;
  std::vector<BYTE> before = slot.Snapshot();
  ImageCrop(&slot.job);
  EXPECT_EQ(slot.job.page_width, w);
  EXPECT_EQ(slot.job.page_height, h);
  EXPECT_EQ(slot.job.linebyte, w);
  EXPECT_TRUE(slot.Snapshot() == before);
}

// Checks the cropped window of each plane, which lies inside the content.
void ExpectCrop(TestSlot &slot, DWORD width, DWORD height, DWORD xMargin, DWORD yMargin) {
  const cups_page_header2_t &h = slot.job.inheader;
  const DWORD planes = h.cupsInteger[4] == 1 ? 2 : 1;
  ASSERT_EQ(slot.job.page_width, width);
  ASSERT_EQ(slot.job.page_height, height * planes);
  ASSERT_EQ(slot.job.linebyte, width);
  ASSERT_LE(xMargin + width, h.cupsWidth);
  ASSERT_LE(yMargin + height, h.cupsHeight);
  const Pattern pattern(h.cupsWidth);
  for (DWORD p = 0; p < planes; ++p)
    for (DWORD r = 0; r < height; ++r)
      ASSERT_EQ(memcmp(&slot.grey(0, p * height + r), pattern.Row(r + yMargin, p) + xMargin, width),
                0)
          << "plane " << p << " row " << r;
}

}  // namespace

TEST(ImageCropCrop, LetterAt600DpiKeepsTheCentre4928By6400InBothPlanes) {
  for (bool twoColour : {false, true}) {
    TestSlot slot(Sheet(612, 792, 600, false, twoColour));
    ASSERT_EQ(slot.job.page_width, 5120u);
    ASSERT_EQ(slot.job.page_height, twoColour ? 2u * 6624u : 6624u);
    FillContent(slot);
    ImageCrop(&slot.job);
    ExpectCrop(slot, 4928, 6400, 96, 112);
    EXPECT_EQ(slot.job.pagesize,
              5120u * 6624u * (twoColour ? 2u : 1u));  // the buffer keeps its size
  }
}

TEST(ImageCropCrop, A4At600DpiKeepsTheCentre4768By6816InBothPlanes) {
  for (bool twoColour : {false, true}) {
    TestSlot slot(Sheet(595, 842, 600, false, twoColour));
    ASSERT_EQ(slot.job.inheader.cupsWidth, 4958u);
    ASSERT_EQ(slot.job.inheader.cupsHeight, 7016u);
    ASSERT_EQ(slot.job.page_width, 4960u);
    FillContent(slot);
    ImageCrop(&slot.job);
    // The red plane's window starts at bitmap row 7040 + 112 = 7152.
    ExpectCrop(slot, 4768, 6816, 96, 112);
  }
}

TEST(ImageCropCrop, ImagingMarginsLeaveThePagePadded) {
  for (int which : {0, 1}) {
    for (bool scale : {false, true}) {
      TestSlot slot(Sheet(612, 792, 100, scale, false));
      slot.job.inheader.ImagingBoundingBox[which] = 18;
      FillContent(slot);
      ExpectUntouched(slot);
    }
  }
}

TEST(ImageCropScale, LetterAt600DpiScalesBy966And969Into4928By6400) {
  TestSlot slot(Sheet(612, 792, 600, true, false));
  // A black square in the content and a grey one near the bottom right corner.
  slot.FillGrey(1000, 2000, 1000, 1000, 0);
  slot.FillGrey(4800, 6300, 300, 300, 128);
  ImageCrop(&slot.job);
  ASSERT_EQ(slot.job.page_width, 4928u);
  ASSERT_EQ(slot.job.page_height, 6400u);
  ASSERT_EQ(slot.job.linebyte, 4928u);
  // Content pixel (x, y) lands near (0.966 x, 0.969 y); black stays black.
  for (DWORD y = 1945; y < 2900; ++y)
    for (DWORD x = 970; x < 1925; ++x) ASSERT_EQ(slot.grey(x, y), 0) << x << "," << y;
  EXPECT_EQ(slot.grey(960, 2400), 255);
  EXPECT_EQ(slot.grey(1940, 2400), 255);
  EXPECT_EQ(slot.grey(1400, 1930), 255);
  EXPECT_EQ(slot.grey(1400, 2915), 255);
  // A flat grey keeps its value within the truncation losses and the bias.
  for (DWORD y : {6200u, 6390u})
    for (DWORD x : {4700u, 4900u}) {
      EXPECT_GE(slot.grey(x, y), 127) << x << "," << y;
      EXPECT_LE(slot.grey(x, y), 130) << x << "," << y;
    }
}

TEST(ImageCropScale, TwoColourScalesEachPlaneIntoItsOwnHalf) {
  // Letter at 150 dpi: content 1275 x 1650, bitmap 1280 x 1664, printable 1248 x 1600.
  TestSlot slot(Sheet(612, 792, 150, true, true));
  slot.FillGrey(100, 100, 200, 200, 0);  // black plane
  for (DWORD y = 800; y < 1000; ++y)
    for (DWORD x = 400; x < 600; ++x) slot.red(x, y) = 0;
  for (DWORD y = 0; y < 10; ++y)  // red right below the black plane's padding
    for (DWORD x = 0; x < 1275; ++x) slot.red(x, y) = 0;
  ImageCrop(&slot.job);
  ASSERT_EQ(slot.job.page_width, 1248u);
  ASSERT_EQ(slot.job.page_height, 3200u);
  ASSERT_EQ(slot.job.linebyte, 1248u);
  const DWORD redRow0 = 1600;
  EXPECT_EQ(slot.grey(190, 190), 0);
  EXPECT_EQ(slot.grey(190, redRow0 + 190), 255);
  EXPECT_EQ(slot.grey(490, 870), 255);
  EXPECT_EQ(slot.grey(490, redRow0 + 870), 0);
  // The last rows of the black plane come from its own white padding, not from
  // the red plane after it (white may lose a level or two to the truncations).
  for (DWORD x = 0; x < 1248; ++x) ASSERT_GE(slot.grey(x, 1599), 253) << x;
  EXPECT_EQ(slot.grey(600, redRow0 + 2), 0);
}

TEST(ImageCropScale, RowsTheScalerDoesNotReachAreWhite) {
  // 6656 content rows (no padding) into 6432 printable rows: factor 966 gives only
  // 6429 rows; the last three must be white, not what the scratch memory held.
  cups_page_header2_t h = testraster::MakeHeader(660, 6656, 24, 600);
  h.PageSize[0] = 100;  // printable width 640 of the 672-pixel bitmap
  h.PageSize[1] = 794;  // printable height 6432
  h.cupsInteger[3] = 1;
  TestSlot slot(h);
  slot.FillGrey(0, 0, 660, 6656, 0);
  ImageCrop(&slot.job);
  ASSERT_EQ(slot.job.page_width, 640u);
  ASSERT_EQ(slot.job.page_height, 6432u);
  for (DWORD x = 0; x < 600; ++x) ASSERT_EQ(slot.grey(x, 6428), 0) << x;
  for (DWORD y = 6429; y < 6432; ++y)
    for (DWORD x = 0; x < 640; ++x) ASSERT_EQ(slot.grey(x, y), 255) << x << "," << y;
}

TEST(ImageCropUnfit, PagesWhosePrintableAreaDoesNotFitTheBitmapKeepTheirPaddedSize) {
  struct Case {
    const char *what;
    unsigned pageW, pageH, dpiX, dpiY, contentW, contentH;
  };
  const Case cases[] = {
      {"sheet narrower than the margins", 10, 792, 100, 100, 850, 1100},
      {"sheet exactly as wide as the margins", 24, 792, 100, 100, 850, 1100},
      {"sheet lower than the margins", 612, 20, 100, 100, 850, 1100},
      {"resolution 0", 612, 792, 0, 0, 850, 1100},
      {"raster much smaller than its sheet", 612, 792, 600, 600, 64, 64},
      {"raster shorter than its sheet", 612, 792, 100, 100, 850, 900},
      {"absurd sheet size", 0xFFFFFFFFu, 0xFFFFFFFFu, 600, 600, 850, 1100},
  };
  for (const Case &c : cases) {
    for (bool scale : {false, true}) {
      for (bool twoColour : {false, true}) {
        SCOPED_TRACE(std::string(c.what) + (scale ? " scaled" : " cropped") +
                     (twoColour ? " two-colour" : ""));
        cups_page_header2_t h = testraster::MakeHeader(c.contentW, c.contentH, 24, 100);
        h.PageSize[0] = c.pageW;
        h.PageSize[1] = c.pageH;
        h.HWResolution[0] = c.dpiX;
        h.HWResolution[1] = c.dpiY;
        h.cupsInteger[3] = scale ? 1 : 0;
        h.cupsInteger[4] = twoColour ? 1 : 0;
        TestSlot slot(h);
        FillContent(slot);
        ExpectUntouched(slot);
      }
    }
  }
}

TEST(ImageCropUnfit, ScalingWithoutAContentSizeLeavesThePagePadded) {
  TestSlot slot(Sheet(612, 792, 100, true, false));
  FillContent(slot);
  slot.job.inheader.cupsWidth = 0;
  ExpectUntouched(slot);
  slot.job.inheader.cupsWidth = 850;
  slot.job.inheader.cupsHeight = 40;  // far fewer rows than the bitmap was made for
  ExpectUntouched(slot);
}

TEST(ScaleImage, AtRate1000EverySampleButBlackGainsTheBiasOf2) {
  const DWORD w = 64, h = 40;
  std::vector<BYTE> src(w * h);
  std::mt19937 rng(11);
  for (BYTE &s : src) s = static_cast<BYTE>(rng());
  src[5] = 253;
  src[6] = 254;
  src[7] = 255;
  src[8] = 0;
  src[9] = 1;
  std::vector<BYTE> trg(w * h, 0x55);
  EXPECT_EQ(ScaleImage(src.data(), w, h, h, trg.data(), w, 1000, 1000, 8), static_cast<long>(h));
  for (size_t i = 0; i < src.size(); ++i)
    ASSERT_EQ(trg[i], src[i] == 0 ? 0 : std::min(src[i] + 2, 255)) << i;
}

TEST(ScaleImage, AColumnClampedToTheLastSourceColumnReadsOnlyThatColumn) {
  // At 0.990 the last target column maps beyond the last source column and is
  // clamped to it.  The source block is exactly w x h bytes, so reading the
  // weightless right-hand pixel from past the row would leave the block on the
  // last row (the sanitizer build catches that).
  const DWORD w = 100, h = 30;
  std::vector<BYTE> src(w * h, 0);
  for (DWORD y = 0; y < h; ++y) src[y * w + w - 1] = 100;
  std::vector<BYTE> trg(w * h, 0x55);
  EXPECT_EQ(ScaleImage(src.data(), w, h, h, trg.data(), w, 990, 1000, 8), static_cast<long>(h));
  for (DWORD y = 0; y < h; ++y) ASSERT_EQ(trg[y * w + w - 1], 102) << y;
}

TEST(ScaleImage, DoesNothingWithoutASourceOrWithAZeroFactor) {
  std::vector<BYTE> src(64 * 8, 0), trg(64 * 8, 0x55);
  EXPECT_EQ(ScaleImage(nullptr, 64, 8, 8, trg.data(), 64, 1000, 1000, 8), 0);
  EXPECT_EQ(ScaleImage(src.data(), 64, 8, 8, trg.data(), 64, 0, 1000, 8), 0);
  EXPECT_EQ(ScaleImage(src.data(), 64, 8, 8, trg.data(), 64, 1000, -5, 8), 0);
  EXPECT_EQ(ScaleImage(src.data(), 0, 8, 8, trg.data(), 64, 1000, 1000, 8), 0);
  EXPECT_EQ(trg, std::vector<BYTE>(64 * 8, 0x55));
}
