// The filter's own JBIG encoder against libjbig's, byte for byte: random pages of
// odd sizes and densities, pages that drive context 0 through its renormalisations
// and state changes, solid pages and features at the edges, several pages at once,
// and whole jobs of the test corpus printed with either encoder.
#include "output/jbig_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filter_process.h"
#include "job_parser.h"
#include "output/jbig_compress.h"
#include "output/jbig_libjbig.h"
#include "test_raster.h"
#include "whole_filter.h"

namespace {

// A 1-bit page: rows of ceil(width / 8) bytes, the leftmost pixel in the top bit.
struct Page {
  uint32_t width, height;
  std::vector<uint8_t> bits;

  Page(uint32_t w, uint32_t h) : width(w), height(h), bits(Linebyte() * h, 0) {}
  size_t Linebyte() const { return (static_cast<size_t>(width) + 7) / 8; }
  void Set(uint32_t x, uint32_t y, bool black = true) {
    uint8_t &b = bits[y * Linebyte() + x / 8];
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
    b = black ? (b | bit) : (b & ~bit);
  }
  // Clears the bits past the width, as the adapter does before encoding.
  void ClearPadding() {
    if (width % 8 == 0) return;
    for (uint32_t y = 0; y < height; ++y)
      bits[y * Linebyte() + Linebyte() - 1] &= static_cast<uint8_t>(0xFF << (8 - width % 8));
  }
};

std::vector<uint8_t> OwnStream(const Page &page) {
  JbigOutputArea area;
  if (!EncodeJbigStripe(page.bits.data(), page.width, page.height, &area)) return {};
  return std::vector<uint8_t>(area.data, area.data + area.size);
}

std::vector<uint8_t> LibjbigStream(const Page &page) {
  std::vector<uint8_t> bits = page.bits;
  JbigOutputArea area;
  if (LibjbigCompress(page.width, page.height, bits.data(), &area, nullptr, kJbigOrder,
                      kJbigOptions, 1) < 0)
    return {};
  return std::vector<uint8_t>(area.data, area.data + area.size);
}

// Empty when both encoders make the same bytes of the page, else where they part.
std::string Difference(const Page &page) {
  const std::vector<uint8_t> own = OwnStream(page), reference = LibjbigStream(page);
  if (!reference.empty() && own == reference) return std::string();
  size_t at = 0;
  while (at < own.size() && at < reference.size() && own[at] == reference[at]) ++at;
  return std::to_string(page.width) + " x " + std::to_string(page.height) + ": " +
         std::to_string(own.size()) + " bytes against libjbig's " +
         std::to_string(reference.size()) + ", first difference at byte " + std::to_string(at);
}

// Each pixel black with probability `density`; with probability `repeat` a row is
// a copy of the one above (a typical row).
Page RandomPage(uint32_t w, uint32_t h, double density, double repeat, std::mt19937 &rng) {
  Page p(w, h);
  std::bernoulli_distribution black(density), copy(repeat);
  for (uint32_t y = 0; y < h; ++y) {
    if (y > 0 && copy(rng)) {
      memcpy(&p.bits[y * p.Linebyte()], &p.bits[(y - 1) * p.Linebyte()], p.Linebyte());
      continue;
    }
    for (uint32_t x = 0; x < w; ++x)
      if (black(rng)) p.Set(x, y);
  }
  return p;
}

// Black pixels `gap` apart on average (geometric gaps), over the whole page.
Page SparsePage(uint32_t w, uint32_t h, double gap, std::mt19937 &rng) {
  Page p(w, h);
  std::geometric_distribution<uint64_t> skip(1.0 / gap);
  const uint64_t pixels = uint64_t{w} * h;
  for (uint64_t at = skip(rng); at < pixels; at += 1 + skip(rng))
    p.Set(static_cast<uint32_t>(at % w), static_cast<uint32_t>(at / w));
  return p;
}

TEST(JbigEncoder, RandomPagesOfOddSizesAndDensitiesGiveLibjbigsBytes) {
  const uint32_t widths[] = {1,  2,  3,   7,   8,   9,   15,  17,  31,  33,  62,  63,  64,   65,
                             66, 67, 100, 127, 128, 129, 191, 192, 193, 255, 257, 500, 1000, 1729};
  const uint32_t heights[] = {1, 2, 3, 4, 5, 17, 64, 99};
  const double densities[] = {0.0005, 0.01, 0.05, 0.2, 0.5, 0.8, 0.97, 0.9995};
  std::mt19937 rng(16);
  int pages = 0;
  for (uint32_t w : widths)
    for (uint32_t h : heights) {
      const double density = densities[rng() % std::size(densities)];
      const double repeat = (rng() % 3) * 0.4;
      Page p = RandomPage(w, h, density, repeat, rng);
      ASSERT_EQ(Difference(p), "") << "density " << density << ", repeat " << repeat;
      ++pages;
    }
  EXPECT_EQ(pages, static_cast<int>(std::size(widths) * std::size(heights)));
}

TEST(JbigEncoder, ContextZeroThroughItsRenormalisationsAndStateChangesGivesLibjbigsBytes) {
  std::mt19937 rng(17);
  // Sparse dots from one in ten to one in a hundred thousand pixels: white runs of
  // every length, context 0 climbing its states and falling back.
  for (double gap : {10.0, 100.0, 1000.0, 10000.0, 100000.0}) {
    Page p = SparsePage(4001, 60, gap, rng);
    EXPECT_EQ(Difference(p), "") << "one dot in " << gap;
  }
  // The white pixels before a page's first black one are all in context 0 and
  // take its state up the whole ladder, to Qe 1 and through a renormalisation
  // there.
  Page late(60000, 2);
  late.Set(59990, 0);
  EXPECT_EQ(Difference(late), "");
  // A single black pixel after thousands of white ones, in every row, at
  // positions that move across the 64-pixel blocks.
  Page lone(5003, 70);
  for (uint32_t y = 0; y < lone.height; ++y) lone.Set((y * 997 + 4000) % lone.width, y);
  EXPECT_EQ(Difference(lone), "");
  // The first pixel black: white becomes context 0's less probable symbol until an
  // exchange of the two turns it back.
  for (uint32_t w : {1u, 2u, 9u, 300u, 4096u}) {
    Page first(w, 40);
    first.Set(0, 0);
    if (w > 200) first.Set(150, 20);
    EXPECT_EQ(Difference(first), "") << "width " << w;
  }
  // Dense and sparse rows in turn, and rows that differ from the row above in one
  // pixel only.
  Page alternating(2500, 80);
  for (uint32_t y = 0; y < alternating.height; ++y)
    for (uint32_t x = 0; x < alternating.width; ++x)
      if (y % 2 == 0 ? rng() % 2 == 0 : rng() % 3000 == 0) alternating.Set(x, y);
  EXPECT_EQ(Difference(alternating), "");
  Page creeping(777, 300);
  for (uint32_t y = 0; y < creeping.height; ++y) creeping.Set((y / 3) * 7 % 777, y);
  EXPECT_EQ(Difference(creeping), "");
  // White runs that end at a block's edge, one pixel short of it or past it, and at
  // the row's end, on rows of whole and partial blocks.
  for (uint32_t w : {128u, 129u, 191u, 192u, 255u, 256u}) {
    Page edges(w, 64);
    for (uint32_t y = 0; y < edges.height; ++y) {
      const uint32_t x = (y % 2 ? 63 : 64) + (y / 2) % 5 - 2;
      if (x < w) edges.Set(x, y);
      if (y % 3 == 0) edges.Set(w - 1 - y % 4, y);
    }
    EXPECT_EQ(Difference(edges), "") << "width " << w;
  }
}

TEST(JbigEncoder, SolidPagesLinesAndOnePixelFeaturesAtTheEdgesGiveLibjbigsBytes) {
  for (uint32_t w : {1u, 8u, 13u, 64u, 65u, 640u}) {
    for (uint32_t h : {1u, 2u, 33u}) {
      Page black(w, h);
      for (uint8_t &b : black.bits) b = 0xFF;
      black.ClearPadding();
      EXPECT_EQ(Difference(black), "") << "black " << w << " x " << h;
      Page white(w, h);
      EXPECT_EQ(OwnStream(white), (std::vector<uint8_t>{0xFF, 0x02}));

      Page corners(w, h);
      for (uint32_t x : {0u, w - 1})
        for (uint32_t y : {0u, h - 1}) corners.Set(x, y);
      EXPECT_EQ(Difference(corners), "") << "corners " << w << " x " << h;
    }
  }
  // Lines along every edge, a checkerboard, stripes.
  Page frame(301, 211), checker(301, 211), stripes(301, 211);
  for (uint32_t y = 0; y < 211; ++y)
    for (uint32_t x = 0; x < 301; ++x) {
      if (x == 0 || y == 0 || x == 300 || y == 210) frame.Set(x, y);
      if ((x + y) % 2) checker.Set(x, y);
      if (x % 5 < 2) stripes.Set(x, y);
    }
  EXPECT_EQ(Difference(frame), "");
  EXPECT_EQ(Difference(checker), "");
  EXPECT_EQ(Difference(stripes), "");
}

TEST(JbigEncoder, AFinal0xFFKeepsItsStuffingByteWhenTheTrailingZerosGo) {
  Page p(28, 1);  // found by search: libjbig's stream of it ends FF 00 FF 02
  p.bits = {0x7a, 0x9c, 0x16, 0x80};
  const std::vector<uint8_t> own = OwnStream(p);
  ASSERT_GE(own.size(), 4u);
  EXPECT_EQ(std::vector<uint8_t>(own.end() - 4, own.end()),
            (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0x02}));
  EXPECT_EQ(Difference(p), "");
}

TEST(JbigEncoder, BitsPastTheWidthAreIgnored) {
  std::mt19937 rng(18);
  Page p = RandomPage(61, 50, 0.3, 0.3, rng);
  p.ClearPadding();
  Page dirty = p;
  for (uint32_t y = 0; y < dirty.height; ++y) dirty.bits[y * 8 + 7] |= 0x07;
  EXPECT_EQ(OwnStream(dirty), OwnStream(p));
  EXPECT_EQ(Difference(p), "");
}

TEST(JbigEncoder, TheStreamIsAppendedToWhatTheAreaHoldsAndTheAreaGrows) {
  std::mt19937 rng(19);
  Page noise = RandomPage(2000, 300, 0.5, 0.0, rng);
  JbigOutputArea area;
  const uint8_t before[3] = {1, 2, 3};
  ASSERT_TRUE(AppendToOutputArea(&area, before, sizeof before));
  ASSERT_TRUE(EncodeJbigStripe(noise.bits.data(), noise.width, noise.height, &area));
  const std::vector<uint8_t> reference = LibjbigStream(noise);
  ASSERT_GT(reference.size(), noise.bits.size());  // noise does not compress
  ASSERT_EQ(area.size, sizeof before + reference.size());
  EXPECT_EQ(memcmp(area.data, before, sizeof before), 0);
  EXPECT_EQ(memcmp(area.data + sizeof before, reference.data(), reference.size()), 0);

  // An empty page is refused, and the area keeps what it held.
  EXPECT_FALSE(EncodeJbigStripe(noise.bits.data(), 0, 10, &area));
  EXPECT_FALSE(EncodeJbigStripe(noise.bits.data(), 10, 0, &area));
  EXPECT_EQ(area.size, sizeof before + reference.size());
}

TEST(JbigEncoder, AnAreaThatCannotGrowFarEnoughFailsThePageAndKeepsWhatItHeld) {
  std::mt19937 rng(22);
  Page noise = RandomPage(300, 40, 0.5, 0.0, rng);
  const std::vector<uint8_t> reference = LibjbigStream(noise);
  const uint8_t before[3] = {7, 8, 9};
  std::vector<size_t> limits;
  for (size_t extra = 0; extra < reference.size(); extra += 97) limits.push_back(extra);
  limits.push_back(reference.size() - 1);
  for (size_t extra : limits) {
    JbigOutputArea area;
    ASSERT_TRUE(AppendToOutputArea(&area, before, sizeof before));
    area.limit = sizeof before + extra;
    EXPECT_FALSE(EncodeJbigStripe(noise.bits.data(), noise.width, noise.height, &area)) << extra;
    ASSERT_EQ(area.size, sizeof before) << extra;
    EXPECT_EQ(memcmp(area.data, before, sizeof before), 0) << extra;
  }
  // Through the adapter, with either encoder: -1 and nothing appended, and with
  // room for the last byte the whole stream.
  for (JbigEncoder encoder : {JbigEncoder::kBuiltIn, JbigEncoder::kLibjbig}) {
    ChooseJbigEncoder(encoder);
    for (size_t extra : {reference.size() - 1, reference.size()}) {
      std::vector<uint8_t> bits = noise.bits;
      JbigOutputArea area;
      ASSERT_TRUE(AppendToOutputArea(&area, before, sizeof before));
      area.limit = sizeof before + extra;
      const int64_t n = Ferrun_JBIGCompression(noise.width, noise.height, bits.data(), &area,
                                               nullptr, nullptr, kJbigOrder, kJbigOptions, 1);
      if (extra < reference.size()) {
        EXPECT_EQ(n, -1);
        EXPECT_EQ(area.size, sizeof before);
      } else {
        ASSERT_EQ(n, static_cast<int64_t>(reference.size()));
        EXPECT_EQ(memcmp(area.data + sizeof before, reference.data(), reference.size()), 0);
      }
    }
  }
  ChooseJbigEncoder(JbigEncoder::kBuiltIn);
}

TEST(JbigOutputArea, GrowsUpToItsLimitAndNoFurther) {
  JbigOutputArea area;
  area.limit = 5000;
  const std::vector<uint8_t> bytes(3000, 0xAB);
  ASSERT_TRUE(AppendToOutputArea(&area, bytes.data(), bytes.size()));
  EXPECT_TRUE(AppendToOutputArea(&area, bytes.data(), 2000));  // the doubling stops at the limit
  EXPECT_EQ(area.size, 5000u);
  EXPECT_LE(area.capacity, 5000u);
  EXPECT_FALSE(AppendToOutputArea(&area, bytes.data(), 1));
  EXPECT_FALSE(ReserveOutputArea(&area, 5001));
  EXPECT_FALSE(MakeRoomInOutputArea(&area, 1));
  EXPECT_EQ(area.size, 5000u);
  EXPECT_TRUE(MakeRoomInOutputArea(&area, 0));
}

TEST(JbigEncoder, PagesEncodedAtTheSameTimeEachGetTheirOwnStream) {
  std::mt19937 rng(20);
  std::vector<Page> pages;
  std::vector<std::vector<uint8_t>> expected;
  for (int i = 0; i < 4; ++i) {
    pages.push_back(i % 2 ? SparsePage(1500, 120, 50.0 + i, rng)
                          : RandomPage(1500, 120, 0.1 * (i + 1), 0.2, rng));
    expected.push_back(LibjbigStream(pages.back()));
  }
  std::vector<std::vector<uint8_t>> got(pages.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < pages.size(); ++i)
    threads.emplace_back([&, i] {
      for (int round = 0; round < 3; ++round) got[i] = OwnStream(pages[i]);
    });
  for (std::thread &t : threads) t.join();
  for (size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "page " << i;
}

// The adapter: the image header, the pieces and the switch.
TEST(JbigEncoderChoice, EitherEncoderGivesTheSameStreamWithAndWithoutTheImageHeader) {
  std::mt19937 rng(21);
  Page p = RandomPage(333, 77, 0.2, 0.3, rng);
  for (int64_t removeHeader : {0, 1}) {
    std::vector<uint8_t> streams[2];
    for (JbigEncoder encoder : {JbigEncoder::kBuiltIn, JbigEncoder::kLibjbig}) {
      ChooseJbigEncoder(encoder);
      std::vector<uint8_t> bits = p.bits;
      JbigOutputArea area;
      int64_t total = -1, times = -1;
      int64_t n = Ferrun_JBIGCompression(p.width, p.height, bits.data(), &area, &total, &times,
                                         kJbigOrder, kJbigOptions, removeHeader);
      ASSERT_GT(n, 2);
      EXPECT_EQ(total, n);
      EXPECT_GE(times, 2);
      streams[encoder == JbigEncoder::kLibjbig].assign(area.data, area.data + area.size);
    }
    ChooseJbigEncoder(JbigEncoder::kBuiltIn);
    EXPECT_EQ(streams[0], streams[1]) << "RemoveHeader " << removeHeader;
  }
}

TEST(JbigEncoderChoice, TheEnvironmentChoosesLibjbigOnlyWhenItNamesIt) {
  const struct {
    const char *value;  // null: unset
    JbigEncoder chosen;
  } cases[] = {{nullptr, JbigEncoder::kBuiltIn},    {"", JbigEncoder::kBuiltIn},
               {"builtin", JbigEncoder::kBuiltIn},  {"libjbig", JbigEncoder::kLibjbig},
               {"LIBJBIG ", JbigEncoder::kBuiltIn}, {"jbigkit", JbigEncoder::kBuiltIn}};
  for (const auto &c : cases) {
    if (c.value)
      setenv(kJbigEncoderVariable, c.value, 1);
    else
      unsetenv(kJbigEncoderVariable);
    ChooseJbigEncoderFromEnvironment();
    EXPECT_EQ(ChosenJbigEncoder(), c.chosen) << (c.value ? c.value : "(unset)");
  }
  unsetenv(kJbigEncoderVariable);
  ChooseJbigEncoderFromEnvironment();
}

// Whole jobs of the test corpus, printed by the filter binary with its own encoder
// and with libjbig chosen by the switch: the same page records, byte for byte.
std::vector<testraster::Page> CorpusPages() {
  std::vector<testraster::Page> pages;
  testraster::Page text = testraster::WhitePage(testraster::SheetHeader(612, 792, 24, 300));
  testraster::DrawTextLike(text, 3);
  pages.push_back(text);
  testraster::Page photo = testraster::WhitePage(testraster::SheetHeader(612, 792, 24, 300));
  testraster::DrawPhotoLike(photo, 4);
  pages.push_back(photo);
  testraster::Page grey = testraster::WhitePage(testraster::MakeHeader(1000, 700, 8, 300));
  testraster::DrawPhotoLike(grey, 5);
  testraster::InkRect(grey, 100, 100, 300, 2, 255);  // line art
  testraster::InkRect(grey, 500, 50, 1, 500, 255);
  pages.push_back(grey);
  cups_page_header2_t twoColour = testraster::SheetHeader(420, 595, 24, 300);
  twoColour.cupsInteger[4] = 1;
  testraster::Page red = testraster::WhitePage(twoColour);
  testraster::DrawTextLike(red, 6);
  testraster::FillRect(red, 200, 300, 600, 400, 230, 20, 20);
  pages.push_back(red);
  pages.push_back(testraster::WhitePage(testraster::MakeHeader(640, 480, 8, 300)));
  testraster::Page black = testraster::WhitePage(testraster::MakeHeader(643, 479, 8, 300));
  testraster::InkRect(black, 0, 0, 643, 479, 255);
  pages.push_back(black);
  testraster::Page dots = testraster::WhitePage(testraster::MakeHeader(637, 451, 8, 300));
  for (unsigned x : {0u, 1u, 318u, 635u, 636u})
    for (unsigned y : {0u, 225u, 450u}) testraster::SetPixel(dots, x, y, 255, 255, 255);
  pages.push_back(dots);
  return pages;
}

TEST(JbigEncoderFilter, CorpusPagesPrintTheSameWithEitherEncoder) {
  filtertest::ScratchDir dir;
  const std::vector<testraster::Page> pages = CorpusPages();
  auto own = wholefilter::Print(dir, pages);
  ASSERT_TRUE(own->good()) << own->problem;  // every page is also libjbig's stream
  auto reference = wholefilter::Print(dir, pages, {std::string(kJbigEncoderVariable) + "=libjbig"});
  ASSERT_TRUE(reference->good()) << reference->problem;
  EXPECT_NE(reference->run.err.find("ZELVAR_JBIG_ENCODER=libjbig"), std::string::npos);
  EXPECT_EQ(own->run.err.find("ZELVAR_JBIG_ENCODER"), std::string::npos);

  ASSERT_EQ(own->parsed.pages.size(), pages.size());
  ASSERT_EQ(reference->parsed.pages.size(), pages.size());
  size_t busy = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    const inspect::PageRecord &a = own->parsed.pages[i], &b = reference->parsed.pages[i];
    const std::string recordA = own->run.out.substr(a.offset, 34 + a.compsize);
    const std::string recordB = reference->run.out.substr(b.offset, 34 + b.compsize);
    EXPECT_EQ(recordA, recordB) << "page " << i + 1;
    if (a.compsize > 2) ++busy;
  }
  EXPECT_EQ(busy, pages.size() - 1);  // all but the white page carry dots
}

}  // namespace
