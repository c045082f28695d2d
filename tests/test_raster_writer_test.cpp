// The test-raster writer produces streams that libcups's own reader takes back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "test_raster.h"

TEST(TestRasterWriter, WritesPagesThatLibcupsReadsBack) {
  auto h = testraster::MakeHeader(100, 40, 24);
  testraster::Page p = testraster::WhitePage(h);
  testraster::SetPixel(p, 3, 2, 10, 20, 30);
  auto h8 = testraster::MakeHeader(33, 5, 8);
  testraster::Page q = testraster::WhitePage(h8);
  testraster::InkRect(q, 0, 0, 2, 2, 255);
  char path[] = "/tmp/zelvar-test-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_TRUE(testraster::WriteRasterFile(path, {p, q}));
  fd = open(path, O_RDONLY);
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t got;
  ASSERT_TRUE(cupsRasterReadHeader2(ras, &got));
  EXPECT_EQ(got.cupsWidth, 100u);
  EXPECT_EQ(got.cupsBytesPerLine, 300u);
  std::vector<unsigned char> line(300);
  for (int y = 0; y < 3; ++y) ASSERT_EQ(cupsRasterReadPixels(ras, line.data(), 300), 300u);
  EXPECT_EQ(line[9], 10);
  EXPECT_EQ(line[10], 20);
  EXPECT_EQ(line[11], 30);
  for (int y = 3; y < 40; ++y) ASSERT_EQ(cupsRasterReadPixels(ras, line.data(), 300), 300u);
  ASSERT_TRUE(cupsRasterReadHeader2(ras, &got));
  EXPECT_EQ(got.cupsBitsPerPixel, 8u);
  EXPECT_EQ(got.cupsColorSpace, CUPS_CSPACE_K);
  unsigned char l8[33];
  ASSERT_EQ(cupsRasterReadPixels(ras, l8, 33), 33u);
  EXPECT_EQ(l8[0], 255);  // ink in the black colour space
  EXPECT_EQ(l8[2], 0);
  EXPECT_FALSE(cupsRasterReadHeader2(ras, &got));
  cupsRasterClose(ras);
  close(fd);
  unlink(path);
}

TEST(TestRasterWriter, PageMarkReadsBackFromABitmap) {
  const unsigned w = 640, h = 800, lb = w / 8;
  for (unsigned n : {0u, 5u, 17u, 200u}) {
    std::vector<uint8_t> bits(lb * h, 0);
    for (unsigned row = 0; row < 2; ++row) {
      auto r = testraster::MarkSquare(w, h, row, row == 0 ? n % 16 : n / 16);
      for (unsigned y = r.y; y < r.y + r.h; ++y)
        for (unsigned x = r.x; x < r.x + r.w; ++x) bits[y * lb + x / 8] |= 0x80 >> (x % 8);
    }
    EXPECT_EQ(testraster::ReadPageMark(bits.data(), w, h, lb), static_cast<int>(n));
  }
  std::vector<uint8_t> blank(lb * h, 0);
  EXPECT_EQ(testraster::ReadPageMark(blank.data(), w, h, lb), -1);
}
