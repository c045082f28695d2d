// The machine-tuned image loops against their plain per-pixel forms, on random
// pages of odd sizes, one-colour and two-colour.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "driver/raster_page.h"
#include "image/bit_ops.h"
#include "image/crop_scale.h"
#include "image/halftone.h"
#include "image/line_art.h"
#include "image_slot.h"
#include "reference_kernels.h"
#include "test_raster.h"

using imagetest::TestSlot;
using reference::Bytes;

namespace {

// Page content that reaches every branch: noise, flat runs, pure black and white,
// and thin dark strokes on light ground.
Bytes RandomImage(std::mt19937 &rng, DWORD width, DWORD height) {
  Bytes img(static_cast<size_t>(width) * height);
  std::uniform_int_distribution<int> byte(0, 255), kind(0, 3);
  for (DWORD y = 0; y < height; ++y) {
    BYTE *row = &img[static_cast<size_t>(y) * width];
    const int k = kind(rng);
    for (DWORD x = 0; x < width; ++x) {
      const int v = byte(rng);
      row[x] = static_cast<BYTE>(k == 0   ? v
                                 : k == 1 ? (v < 128 ? 0 : 255)
                                 : k == 2 ? (x / 7 % 2 ? 230 : 128)
                                          : (v < 20 ? v : 240 + v % 16));
    }
  }
  return img;
}

// The odd sizes used throughout: widths that are no multiple of 8, 32 or the
// screen's tile, heights crossing the tile.
const DWORD kSizes[][2] = {{5, 3}, {37, 1}, {129, 131}, {250, 7}, {1001, 9}};

// A slot holding `img` as its 8-bit page; two-colour pages are twice `height`.
std::unique_ptr<TestSlot> SlotWith(const Bytes &img, DWORD width, DWORD height, bool twoColour,
                                   LONG density = 3, bool economy = false) {
  cups_page_header2_t h = testraster::MakeHeader(width, twoColour ? height / 2 : height, 24);
  h.cupsInteger[4] = twoColour ? 1 : 0;
  h.cupsCompression = static_cast<unsigned>(density);
  h.cupsInteger[0] = economy ? 1 : 0;
  auto slot = std::make_unique<TestSlot>(h, width, height);
  memcpy(slot->bits(), img.data(), img.size());
  return slot;
}

Bytes Prefix(const TestSlot &slot, size_t n) { return Bytes(slot.bits(), slot.bits() + n); }

}  // namespace

TEST(TunedKernels, GreyConversionMatchesThePlainFormForEverySampleTriple) {
  Bytes line(3 * 256);
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        line[3 * b] = static_cast<BYTE>(r);
        line[3 * b + 1] = static_cast<BYTE>(g);
        line[3 * b + 2] = static_cast<BYTE>(b);
      }
      Bytes row(256);
      ConvertRgbLine(line.data(), 256, row.data());
      ASSERT_EQ(row, reference::ConvertRgbLine(line.data(), 256)) << r << "," << g;
    }
}

TEST(TunedKernels, InkConversionMatchesThePlainFormAtOddWidths) {
  std::mt19937 rng(1);
  for (auto [width, rows] : kSizes) {
    const Bytes line = RandomImage(rng, width, 1);
    Bytes row(width), expected(width);
    ConvertInkLine(line.data(), width, row.data());
    for (DWORD x = 0; x < width; ++x) expected[x] = static_cast<BYTE>(255 - line[x]);
    EXPECT_EQ(row, expected) << width;
  }
}

TEST(TunedKernels, TwoColourSplitMatchesThePlainForm) {
  std::mt19937 rng(2);
  for (DWORD diff : {0u, 44u, 60u, 255u})
    for (auto [width, rows] : kSizes) {
      Bytes line = RandomImage(rng, 3 * width, 1);
      Bytes black(width), red(width), refBlack, refRed;
      SplitRedLine(line.data(), width, diff, black.data(), red.data());
      reference::SplitRedLine(line.data(), 3 * width, width, diff, &refBlack, &refRed);
      EXPECT_EQ(black, refBlack) << width << " diff " << diff;
      EXPECT_EQ(red, refRed) << width << " diff " << diff;
    }
}

TEST(TunedKernels, ScreenMatchesThePlainFormForEveryToneCurve) {
  std::mt19937 rng(4);
  for (LONG density = 0; density <= 10; ++density)
    for (auto [width, height] : kSizes) {
      const bool economy = density == 10;
      const Bytes img = RandomImage(rng, width, height);
      auto slot = SlotWith(img, width, height, false, economy ? 0 : density, economy);
      ASSERT_TRUE(ApplyHalftone(&slot->job));
      const Bytes screen = reference::Screen(img.data(), width, width, height, slot->job.linebyte,
                                             economy ? 0 : density, economy);
      EXPECT_EQ(Prefix(*slot, screen.size()), screen) << width << "x" << height << " " << density;
    }
}

TEST(TunedKernels, LineArtPageMatchesPlainFilterThresholdScreenAndMerge) {
  std::mt19937 rng(5);
  for (bool twoColour : {false, true})
    for (auto [width, height] : kSizes) {
      const DWORD rows = twoColour ? 2 * height : height;
      const Bytes img = RandomImage(rng, width, rows);
      auto slot = SlotWith(img, width, rows, twoColour);
      const BOOL rc = DoBorderQuality(&slot->job);
      // The filter treats both planes as one image; the mask needs whole bytes.
      Bytes expected =
          reference::Screen(img.data(), width, width, rows, slot->job.linebyte, 3, false);
      const DWORD maskBytes = width / 8;
      if (maskBytes > 0) {
        ASSERT_TRUE(rc);
        const Bytes mask = reference::GrayToLineart(
            reference::ApplyFilter3x3(img, width, rows, FilterArray, 1), width, rows, 220);
        for (DWORD y = 0; y < rows; ++y)
          for (DWORD i = 0; i < maskBytes; ++i)
            expected[y * slot->job.linebyte + i] &= static_cast<BYTE>(~mask[y * maskBytes + i]);
      }
      EXPECT_EQ(Prefix(*slot, expected.size()), expected)
          << width << "x" << rows << (twoColour ? " two-colour" : "");
    }
}

TEST(TunedKernels, ScalerMatchesThePlainFormAtAnyRatio) {
  std::mt19937 rng(6);
  std::uniform_int_distribution<int> ratio(400, 1600);
  for (WORD colorbits : {8, 24})
    for (auto [width, height] : kSizes) {
      const DWORD pixelBytes = colorbits / 8;
      const Bytes src = RandomImage(rng, width * pixelBytes, height);
      const int xr = ratio(rng), yr = ratio(rng);
      const DWORD trgWidth = std::max<DWORD>(1, width * static_cast<DWORD>(xr) / 1000);
      DWORD rows = 0;
      const Bytes expected =
          reference::ScaleImage(src, width, height, trgWidth, xr, yr, pixelBytes, &rows);
      Bytes target(expected.size() + 1, 0xA5);
      Bytes source = src;
      ASSERT_EQ(ScaleImage(source.data(), width, height, height, target.data(), trgWidth, xr, yr,
                           colorbits),
                static_cast<long>(rows));
      EXPECT_EQ(Bytes(target.begin(), target.end() - 1), expected)
          << width << "x" << height << " at " << xr << "/" << yr << ", " << colorbits << " bits";
      EXPECT_EQ(target.back(), 0xA5) << "written past the target";
    }
}

TEST(TunedKernels, MirrorInversionAndDotCountMatchThePlainForms) {
  std::mt19937 rng(7);
  for (bool twoColour : {false, true})
    for (DWORD linebyte : {1u, 3u, 15u, 16u, 17u, 33u, 616u}) {
      const DWORD rows = twoColour ? 6 : 5;
      const Bytes page = RandomImage(rng, linebyte, rows);
      auto slot = SlotWith(page, linebyte, rows, twoColour);
      const size_t len = page.size();
      EXPECT_EQ(Prnt_CountBlackDots(slot->bits(), static_cast<long>(len)),
                reference::CountSetBits(page.data(), len));

      Bytes expected = page;
      reference::MirrorRows(expected.data(), linebyte, rows);
      DoMirror(&slot->job);
      ASSERT_EQ(slot->Snapshot(), expected) << "mirror, rows of " << linebyte;

      reference::Invert(expected.data(), twoColour ? len / 2 : len);
      DoNegative(&slot->job, twoColour ? 1 : 0);
      EXPECT_EQ(slot->Snapshot(), expected) << "negative, rows of " << linebyte;
    }
}
