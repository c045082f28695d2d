// JBIG compression of one page, checked by decoding with libjbig's decoder.
#include "output/jbig_compress.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "page_decoder.h"

namespace {

struct Compressed {
  int64_t result = 0;
  int64_t total = -7;
  int64_t times = -7;
  std::vector<uint8_t> stream;
};

Compressed Compress(std::vector<uint8_t> bits, uint32_t width, uint32_t height,
                    int64_t removeHeader = 1) {
  Compressed c;
  JbigOutputArea area;
  c.result = Ferrun_JBIGCompression(width, height, bits.data(), &area, &c.total, &c.times,
                                    kJbigOrder, kJbigOptions, removeHeader);
  if (area.size > 0) c.stream.assign(area.data, area.data + area.size);
  return c;
}

// Decodes a stream compressed without its header, the way the printer does.
bool Decode(const std::vector<uint8_t> &stream, uint32_t width, uint32_t height,
            inspect::Bitmap *out, std::string *error) {
  inspect::PageRecord page;
  page.page_width = width;
  page.page_height = height;
  page.compsize = static_cast<uint32_t>(stream.size());
  page.data = stream;
  return inspect::DecodePage(page, out, error);
}

std::vector<uint8_t> RandomBits(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t &b : v) b = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace

TEST(JbigCompress, AllZeroPageIsTheTwoByteStripeEnd) {
  const uint32_t sizes[][2] = {{1, 1}, {8, 1}, {4928, 64}, {13, 200}, {64, 7040}};
  for (const auto &s : sizes) {
    size_t bytes = (s[0] + 7) / 8 * s[1];
    Compressed c = Compress(std::vector<uint8_t>(bytes, 0), s[0], s[1]);
    EXPECT_EQ(c.result, 2);
    EXPECT_EQ(c.total, 2);
    EXPECT_EQ(c.times, 2);
    EXPECT_EQ(c.stream, (std::vector<uint8_t>{0xFF, 0x02})) << s[0] << "x" << s[1];
  }
}

TEST(JbigCompress, DroppingTheHeaderLeavesTheTailOfTheFullStream) {
  const uint32_t w = 640, h = 300;
  std::vector<uint8_t> bits(w / 8 * h, 0);
  for (uint32_t y = 50; y < 120; ++y) memset(&bits[y * (w / 8) + 10], 0x3C, 30);
  Compressed without = Compress(bits, w, h, 1);
  Compressed with = Compress(bits, w, h, 0);
  ASSERT_EQ(with.result, without.result + 20);
  ASSERT_EQ(with.stream.size(), without.stream.size() + 20);
  EXPECT_TRUE(std::equal(without.stream.begin(), without.stream.end(), with.stream.begin() + 20));
  // The dropped header: one plane, one layer, 640 x 300 as one stripe of 300
  // rows, MX 0, MY 0, order 0, options TPBON; the decoder side rebuilds it.
  const std::vector<uint8_t> bih = {0,    0,    1, 0, 0,    0,    0x02, 0x80, 0,    0,
                                    0x01, 0x2C, 0, 0, 0x01, 0x2C, 0,    0,    0x00, 0x08};
  EXPECT_TRUE(std::equal(bih.begin(), bih.end(), with.stream.begin()));
  std::array<uint8_t, 20> rebuilt = inspect::JbigHeaderFor(w, h);
  EXPECT_TRUE(std::equal(bih.begin(), bih.end(), rebuilt.begin()));
  EXPECT_EQ(without.stream[without.stream.size() - 2], 0xFF);
  EXPECT_EQ(without.stream.back(), 0x02);
  EXPECT_GE(without.times, 2);
}

TEST(JbigCompress, PageDecodesBackToTheSameBits) {
  const uint32_t w = 1024, h = 512;
  std::vector<uint8_t> bits(w / 8 * h, 0);
  std::mt19937 rng(9);
  for (int k = 0; k < 40; ++k) {
    uint32_t x = rng() % (w - 64), y = rng() % (h - 64);
    for (uint32_t yy = y; yy < y + 1 + rng() % 60; ++yy)
      for (uint32_t xx = x; xx < x + 1 + rng() % 60; ++xx)
        bits[yy * (w / 8) + xx / 8] |= static_cast<uint8_t>(0x80 >> (xx % 8));
  }
  Compressed c = Compress(bits, w, h);
  ASSERT_GT(c.result, 2);
  EXPECT_LT(c.stream.size(), bits.size());
  inspect::Bitmap out;
  std::string error;
  ASSERT_TRUE(Decode(c.stream, w, h, &out, &error)) << error;
  EXPECT_EQ(out.bits, bits);
}

TEST(JbigCompress, RandomPageLargerThanItsBitmapIsCompleteAndDecodes) {
  // Random bits do not compress: the stream outgrows the bitmap's size, and
  // the area has to grow past the capacity given at the start.
  const uint32_t w = 2048, h = 400;
  std::vector<uint8_t> bits = RandomBits(w / 8 * h, 10);
  JbigOutputArea area;
  ASSERT_TRUE(ReserveOutputArea(&area, bits.size()));
  std::vector<uint8_t> input = bits;
  int64_t total = 0, times = 0;
  int64_t n = Ferrun_JBIGCompression(w, h, input.data(), &area, &total, &times, kJbigOrder,
                                     kJbigOptions, 1);
  ASSERT_GT(n, static_cast<int64_t>(bits.size()));
  ASSERT_EQ(area.size, static_cast<size_t>(n));
  std::vector<uint8_t> stream(area.data, area.data + area.size);
  inspect::Bitmap out;
  std::string error;
  ASSERT_TRUE(Decode(stream, w, h, &out, &error)) << error;
  EXPECT_EQ(out.bits, bits);
}

TEST(JbigCompress, WidthNotAMultipleOfEightClearsOnlyThePaddingBits) {
  const uint32_t w = 13, h = 40;  // two bytes a row, three padding bits
  std::vector<uint8_t> bits = RandomBits(2 * h, 12);
  std::vector<uint8_t> input = bits;
  JbigOutputArea area;
  ASSERT_GT(Ferrun_JBIGCompression(w, h, input.data(), &area, nullptr, nullptr, 0, kJbigOptions, 1),
            0);
  std::vector<uint8_t> expect = bits;
  for (uint32_t y = 0; y < h; ++y) expect[y * 2 + 1] &= 0xF8;
  EXPECT_EQ(input, expect);
  inspect::Bitmap out;
  std::string error;
  ASSERT_TRUE(Decode(std::vector<uint8_t>(area.data, area.data + area.size), w, h, &out, &error))
      << error;
  EXPECT_EQ(out.bits, expect);
}

TEST(JbigCompress, EmptyPageNeverReachesTheEncoder) {
  uint8_t byte = 0;
  JbigOutputArea area;
  int64_t total = 5, times = 5;
  EXPECT_EQ(Ferrun_JBIGCompression(0, 10, &byte, &area, &total, &times, 0, kJbigOptions, 1), -1);
  EXPECT_EQ(Ferrun_JBIGCompression(10, 0, &byte, &area, &total, &times, 0, kJbigOptions, 1), -1);
  EXPECT_EQ(Ferrun_JBIGCompression(10, 10, nullptr, &area, &total, &times, 0, kJbigOptions, 1), -1);
  EXPECT_EQ(area.size, 0u);
  EXPECT_EQ(total, 0);
  EXPECT_EQ(times, 0);
}
