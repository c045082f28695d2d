// The 32-byte page header: field values, codes and byte order.
#include "output/page_record.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "page/page.h"

namespace {

std::unique_ptr<Page> A4Slot() {
  std::unique_ptr<Page> s(new Page());
  s->page_width = 4928;
  s->page_height = 6400;
  s->linebyte = 616;
  s->inheader.PageSize[0] = 595;
  s->inheader.PageSize[1] = 842;
  return s;
}

std::vector<uint8_t> Header(const Page *slot, DWORD compsize = 0, DWORD dots = 0) {
  std::vector<uint8_t> out(40, 0xEE);
  PJL_WritePageHeader(slot, out.data(), compsize, dots);
  // Nothing past the 32 header bytes is written.
  for (size_t i = 32; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
  out.resize(32);
  return out;
}

}  // namespace

TEST(PageHeader, A4ExampleComesOutByteForByte) {
  auto slot = A4Slot();
  std::vector<uint8_t> expect = {0x47, 0x44, 0x49, 0x00, 0x40, 0x13, 0x00, 0x00, 0x00, 0x19, 0x00,
                                 0x00, 0x00, 0x28, 0x3C, 0x00, 0x39, 0x30, 0x00, 0x00, 0xE8, 0x03,
                                 0x00, 0x00, 0x02, 0x08, 0x00, 0x00, 0x01, 0x01, 0x00, 0x01};
  EXPECT_EQ(Header(slot.get(), 12345, 1000), expect);
}

TEST(PageHeader, PaperCodeComesFromTheExactPortraitSize) {
  struct Case {
    unsigned w, h;
    int code;
  } cases[] = {{595, 842, 2},   {842, 595, 96}, {612, 792, 15},  {600, 800, 96}, {396, 612, 142},
               {612, 1008, 16}, {553, 757, 32}, {792, 1224, 30}, {297, 420, 4},  {420, 297, 96}};
  for (const Case &c : cases) {
    auto slot = A4Slot();
    slot->inheader.PageSize[0] = c.w;
    slot->inheader.PageSize[1] = c.h;
    EXPECT_EQ(Header(slot.get())[24], c.code) << c.w << "x" << c.h;
  }
}

TEST(PageHeader, MediaCodeFollowsTheTableAndUnknownTypesGetPlainPaper) {
  const int expect[10] = {8, 1, 17, 20, 10, 2, 19, 3, 5, 0};
  for (unsigned t = 0; t < 10; ++t) {
    auto slot = A4Slot();
    slot->inheader.cupsMediaType = t;
    EXPECT_EQ(Header(slot.get())[25], expect[t]) << t;
  }
  for (unsigned t : {10u, 11u, 255u, 0xFFFFFFFFu}) {
    auto slot = A4Slot();
    slot->inheader.cupsMediaType = t;
    EXPECT_EQ(Header(slot.get())[25], ENG_MEDIA_PLAIN) << t;
  }
}

TEST(PageHeader, TrayIsTheLowByteOfMediaPositionWithAutoSelectAsZero) {
  const unsigned positions[] = {250, 1, 260, 0};
  const int expect[] = {0, 1, 4, 0};
  for (int i = 0; i < 4; ++i) {
    auto slot = A4Slot();
    slot->inheader.MediaPosition = positions[i];
    EXPECT_EQ(Header(slot.get())[26], expect[i]) << positions[i];
  }
}

TEST(PageHeader, ColourModeSetsColorsAndColorMode) {
  const int colors[] = {1, 2, 1}, mode[] = {0, 0, 1};
  for (int v = 0; v < 3; ++v) {
    auto slot = A4Slot();
    slot->inheader.cupsInteger[4] = static_cast<unsigned>(v);
    std::vector<uint8_t> h = Header(slot.get());
    EXPECT_EQ(h[29], colors[v]) << v;
    EXPECT_EQ(h[30], mode[v]) << v;
    EXPECT_EQ(h[27], 0);  // OutBin
    EXPECT_EQ(h[28], 1);  // Bits
    EXPECT_EQ(h[31], 1);  // CompMethod
  }
}
