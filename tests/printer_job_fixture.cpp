#include "printer_job_fixture.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver/jbig_thread.h"
#include "driver/job_state.h"
#include "output/pjl_framing.h"
#include "output/printer_output.h"

namespace testjob {

OutputCapture::OutputCapture() {
  char name[] = "/tmp/zelvar-out-XXXXXX";
  fd_ = mkstemp(name);
  path_ = name;
  SetPrinterOutputFd(fd_);
  ResetPrinterOutput();
}

OutputCapture::~OutputCapture() {
  SetPrinterOutputFd(1);
  ResetPrinterOutput();
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

void RunCompressionThread(const std::vector<Page> &pages, int slots) {
  std::unique_ptr<JobInfo[]> ring(new JobInfo[kSlotCount]());
  // InitJobState clears the counters; keep what the job header wrote.
  DWORD written = count_bytes;
  int pjlSize = gOutputSize;
  InitJobState(ring.get());
  count_bytes = written;
  gOutputSize = pjlSize;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, JbigThread, ring.get()), 0);
  gMAX_THREAD.store(slots, std::memory_order_release);
  JobInfo *last = nullptr;
  for (size_t n = 0; n < pages.size(); ++n) {
    JobInfo *slot = &ring[n % static_cast<size_t>(slots)];
    // The page loop's slot wait: neither in work nor ready.
    while (true) {
      DWORD ticket = SlotChangeTicket();
      DWORD state = SlotState(slot);
      if (state != kSlotInWork && state != kSlotReady) break;
      WaitSlotChange(ticket, kPollMs);
    }
    const Page &page = pages[n];
    ::Page &p = slot->page;
    p.PageIndex = static_cast<DWORD>(n);
    p.inheader = page.header;
    p.page_width = page.width;
    p.page_height = page.height;
    p.linebyte = page.width / 8;
    p.pagesize = static_cast<DWORD>(page.bits.size());
    p.lpbuf = static_cast<BYTE *>(malloc(page.bits.empty() ? 1 : page.bits.size()));
    if (!page.bits.empty()) memcpy(p.lpbuf, page.bits.data(), page.bits.size());
    SetSlotState(slot, kSlotInWork);
    // As the image thread ends: the page compressed into its record, then ready.
    CompressSlotPage(slot);
    SetSlotState(slot, kSlotReady);
    last = slot;
  }
  // The end wait: the last page's slot has been released.
  while (last != nullptr) {
    DWORD ticket = SlotChangeTicket();
    const DWORD state = SlotState(last);
    if (state != kSlotInWork && state != kSlotReady) break;
    WaitSlotChange(ticket, kPollMs);
  }
  SetJbigThreadExit(TRUE);
  pthread_join(thread, nullptr);
}

void WriteJob(const std::vector<Page> &pages, int slots, const std::string &jclText) {
  ASSERT_FALSE(pages.empty());
  count_bytes = 0;
  gOutputSize = 0;
  PJL_WriteStartJobCmd_Zelvar(&pages[0].header, 1, "queue", "user", "title", "1", FALSE, "");
  if (!jclText.empty()) {
    std::string jcl = "\x1b" + jclText;
    WriteToPrinter(jcl.data(), jcl.size());
  }
  RunCompressionThread(pages, slots);
  PJL_WriteCloseJobCmd(&pages[0].header);
}

}  // namespace testjob
