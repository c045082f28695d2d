#include "numbered_pages.h"

#include <gtest/gtest.h>

#include "page_decoder.h"

namespace filtertest {

std::vector<testraster::Page> NumberedPages(unsigned n, bool duplex, unsigned copies, bool photo) {
  std::vector<testraster::Page> pages;
  for (unsigned i = 1; i <= n; ++i) {
    cups_page_header2_t h = testraster::MakeHeader(640, 896, 8, 150);
    h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
    h.NumCopies = copies;
    testraster::Page p = testraster::WhitePage(h);
    if (photo) {
      // Busy content compresses badly; the band of the mark stays white.
      testraster::DrawPhotoLike(p, i);
      testraster::InkRect(p, 0, h.cupsHeight / 20, h.cupsWidth, h.cupsHeight / 5, 0);
    }
    testraster::DrawPageMark(p, i);
    pages.push_back(std::move(p));
  }
  return pages;
}

namespace {

std::string PageName(const inspect::PageRecord &r) {
  inspect::Bitmap b;
  std::string error;
  if (!inspect::DecodePage(r, &b, &error)) return "?";
  if (r.compsize == 2 && inspect::CountSetBits(b) == 0) return "B";
  int mark =
      testraster::ReadPageMark(b.bits.data(), b.width, b.height, static_cast<unsigned>(b.linebyte));
  return mark > 0 ? std::to_string(mark) : "?";
}

}  // namespace

std::string PageOrder(const inspect::ParsedJob &job) {
  std::string order;
  for (const inspect::PageRecord &r : job.pages) order += (order.empty() ? "" : " ") + PageName(r);
  return order;
}

std::string PageOrder(const std::string &out) {
  inspect::ParsedJob job =
      inspect::ParseJob({reinterpret_cast<const uint8_t *>(out.data()), out.size()});
  EXPECT_TRUE(job.ok) << job.error << " at " << job.error_offset;
  return PageOrder(job);
}

}  // namespace filtertest
