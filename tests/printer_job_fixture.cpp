#include "printer_job_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "output/jbig_output_area.h"
#include "output/page_record.h"
#include "output/pjl_framing.h"
#include "page/page.h"

namespace testjob {

OutputCapture::OutputCapture() {
  char name[] = "/tmp/zelvar-out-XXXXXX";
  fd_ = mkstemp(name);
  path_ = name;
  output_.fd = fd_;
}

OutputCapture::~OutputCapture() {
  if (fd_ >= 0) close(fd_);
  unlink(path_.c_str());
}

std::vector<uint8_t> OutputCapture::Bytes() const {
  std::vector<uint8_t> out;
  FILE *fp = fopen(path_.c_str(), "rb");
  if (fp == nullptr) return out;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, fp)) > 0) out.insert(out.end(), chunk, chunk + n);
  fclose(fp);
  return out;
}

Page BlankPage(uint32_t width, uint32_t height) {
  Page p;
  memset(&p.header, 0, sizeof p.header);
  p.header.PageSize[0] = 595;
  p.header.PageSize[1] = 842;
  p.header.HWResolution[0] = p.header.HWResolution[1] = 600;
  p.header.NumCopies = 1;
  p.width = width;
  p.height = height;
  p.bits.assign(static_cast<size_t>(width / 8) * height, 0);
  return p;
}

Page RandomPage(uint32_t width, uint32_t height, std::mt19937 *rng) {
  Page p = BlankPage(width, height);
  for (uint8_t &b : p.bits) b = static_cast<uint8_t>((*rng)());
  return p;
}

Page BlockPage(uint32_t width, uint32_t height, unsigned seed) {
  Page p = BlankPage(width, height);
  std::mt19937 rng(seed);
  size_t lb = width / 8;
  for (int k = 0; k < 12; ++k) {
    uint32_t x0 = rng() % width, y0 = rng() % height;
    uint32_t w = 1 + rng() % (width - x0), h = 1 + rng() % (height - y0);
    if (w > width / 3) w = width / 3;
    for (uint32_t y = y0; y < y0 + h && y < height; ++y)
      for (uint32_t x = x0; x < x0 + w; ++x)
        p.bits[y * lb + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
  return p;
}

void WriteRecords(PrinterOutput *out, const std::vector<Page> &pages) {
  for (size_t n = 0; n < pages.size(); ++n) {
    const Page &page = pages[n];
    std::vector<uint8_t> bits = page.bits;
    ::Page p{};
    p.PageIndex = static_cast<DWORD>(n);
    p.inheader = page.header;
    p.page_width = page.width;
    p.page_height = page.height;
    p.linebyte = page.width / 8;
    p.pagesize = static_cast<DWORD>(bits.size());
    p.lpbuf = bits.data();
    JbigOutputArea record;
    ASSERT_TRUE(BuildPageRecord(p, &record)) << "page " << n;
    ASSERT_TRUE(WriteToPrinter(out, record.data, record.size)) << "page " << n;
  }
}

void WriteJob(PrinterOutput *out, const std::vector<Page> &pages, const std::string &jclText) {
  ASSERT_FALSE(pages.empty());
  PJL_WriteStartJobCmd_Zelvar(out, &pages[0].header, 1, "queue", "user", "title", "1", FALSE, "");
  if (!jclText.empty()) {
    std::string jcl = "\x1b" + jclText;
    WriteToPrinter(out, jcl.data(), jcl.size());
  }
  WriteRecords(out, pages);
  PJL_WriteCloseJobCmd(out);
}

}  // namespace testjob
