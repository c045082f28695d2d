// Negative, mirror and black-dot count on 1-bit pages.
#include "image/bit_ops.h"

#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <random>
#include <vector>

#include "page/page.h"

namespace {

// A slot holding `bytes` as its bitmap (rows of linebyte bytes) with a guard
// area behind it that no operation may touch.
struct BitmapSlot {
  static constexpr size_t kGuard = 16;
  std::unique_ptr<Page> slot{new Page()};
  std::vector<uint8_t> buffer;

  BitmapSlot(const std::vector<uint8_t> &bytes, DWORD linebyte, DWORD height) {
    buffer = bytes;
    buffer.resize(bytes.size() + kGuard, 0xA5);
    slot->lpbuf = buffer.data();
    slot->linebyte = linebyte;
    slot->page_height = height;
    slot->page_width = linebyte * 8;
  }
  std::vector<uint8_t> Bits() const {
    return std::vector<uint8_t>(buffer.begin(), buffer.end() - kGuard);
  }
  bool GuardIntact() const {
    for (size_t i = buffer.size() - kGuard; i < buffer.size(); ++i)
      if (buffer[i] != 0xA5) return false;
    return true;
  }
};

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t &b : v) b = static_cast<uint8_t>(rng());
  return v;
}

bool PixelSet(const std::vector<uint8_t> &bits, size_t linebyte, size_t x, size_t y) {
  return (bits[y * linebyte + x / 8] >> (7 - x % 8)) & 1;
}

}  // namespace

TEST(DotTable, HoldsTheBitCountOfEveryByte) {
  for (unsigned v = 0; v < 256; ++v) EXPECT_EQ(dottbl[v], std::popcount(v)) << v;
}

TEST(CountBlackDots, CountsSetBitsOfTheGivenBytesOnly) {
  std::vector<uint8_t> full(616 * 6400, 0xFF);
  EXPECT_EQ(Prnt_CountBlackDots(full.data(), static_cast<long>(full.size())), 31539200u);
  std::vector<uint8_t> zero(616 * 64, 0);
  EXPECT_EQ(Prnt_CountBlackDots(zero.data(), static_cast<long>(zero.size())), 0u);

  std::vector<uint8_t> bytes = RandomBytes(10007, 1);
  DWORD expect = 0;
  for (size_t i = 0; i < 5000; ++i) expect += std::popcount(bytes[i]);
  EXPECT_EQ(Prnt_CountBlackDots(bytes.data(), 5000), expect);
}

TEST(CountBlackDots, IsZeroForNoBufferOrNoBytes) {
  uint8_t b = 0xFF;
  EXPECT_EQ(Prnt_CountBlackDots(nullptr, 100), 0u);
  EXPECT_EQ(Prnt_CountBlackDots(&b, 0), 0u);
  EXPECT_EQ(Prnt_CountBlackDots(&b, -5), 0u);
}

TEST(DoNegative, InvertsTheWholePageAndTwiceRestoresIt) {
  std::vector<uint8_t> bytes = RandomBytes(40 * 33, 2);
  BitmapSlot s(bytes, 40, 33);
  DoNegative(s.slot.get(), 0);
  std::vector<uint8_t> inverted = s.Bits();
  for (size_t i = 0; i < bytes.size(); ++i)
    ASSERT_EQ(inverted[i], static_cast<uint8_t>(~bytes[i])) << i;
  DoNegative(s.slot.get(), 0);
  EXPECT_EQ(s.Bits(), bytes);
  EXPECT_TRUE(s.GuardIntact());
}

TEST(DoNegative, HalfInvertLeavesTheRedPlaneUntouched) {
  // Two planes of 6400 rows of 616 bytes: only the first 3942400 bytes change.
  std::vector<uint8_t> bytes = RandomBytes(616 * 12800, 3);
  BitmapSlot s(bytes, 616, 12800);
  DoNegative(s.slot.get(), 1);
  std::vector<uint8_t> out = s.Bits();
  const size_t half = 3942400;
  for (size_t i = 0; i < half; ++i) ASSERT_EQ(out[i], static_cast<uint8_t>(~bytes[i])) << i;
  EXPECT_TRUE(std::equal(out.begin() + half, out.end(), bytes.begin() + half));
  EXPECT_TRUE(s.GuardIntact());
}

TEST(DoNegative, LengthNotAMultipleOfFourInvertsExactlyThoseBytes) {
  // linebyte 4, 3 rows, half: 6 bytes = one word and two single bytes.
  std::vector<uint8_t> bytes = RandomBytes(12, 4);
  BitmapSlot s(bytes, 4, 3);
  DoNegative(s.slot.get(), 1);
  std::vector<uint8_t> out = s.Bits();
  for (size_t i = 0; i < 12; ++i)
    EXPECT_EQ(out[i], i < 6 ? static_cast<uint8_t>(~bytes[i]) : bytes[i]) << i;
  EXPECT_TRUE(s.GuardIntact());
}

TEST(DoMirror, ReversesEveryRowBitForBit) {
  BitmapSlot a({0x80, 0x00, 0x01}, 3, 1);
  DoMirror(a.slot.get());
  EXPECT_EQ(a.Bits(), (std::vector<uint8_t>{0x80, 0x00, 0x01}));
  BitmapSlot b({0xC0, 0x00, 0x00}, 3, 1);
  DoMirror(b.slot.get());
  EXPECT_EQ(b.Bits(), (std::vector<uint8_t>{0x00, 0x00, 0x03}));

  // Every pixel p of a row lands at 8 * linebyte - 1 - p, rows stay in place.
  const size_t lb = 13, h = 7;
  std::vector<uint8_t> bytes = RandomBytes(lb * h, 5);
  BitmapSlot s(bytes, lb, h);
  DoMirror(s.slot.get());
  std::vector<uint8_t> out = s.Bits();
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < lb * 8; ++x)
      ASSERT_EQ(PixelSet(out, lb, x, y), PixelSet(bytes, lb, lb * 8 - 1 - x, y)) << x << "," << y;
  DoMirror(s.slot.get());
  EXPECT_EQ(s.Bits(), bytes);
  EXPECT_TRUE(s.GuardIntact());
}
