// Page records in a printer job: records that decode back to the bitmaps that
// went in, one after the other, and the 512-byte rule at the job's end.
#include <gtest/gtest.h>

#include <bit>
#include <random>

#include "job_parser.h"
#include "output/jbig_compress.h"
#include "output/pjl_framing.h"
#include "output/printer_output.h"
#include "page_decoder.h"
#include "printer_job_fixture.h"

namespace {

uint64_t SetBits(const std::vector<uint8_t> &bits) {
  uint64_t n = 0;
  for (uint8_t b : bits) n += static_cast<uint64_t>(std::popcount(b));
  return n;
}

std::vector<testjob::Page> MixedPages() {
  std::mt19937 rng(77);
  std::vector<testjob::Page> pages;
  pages.push_back(testjob::BlockPage(1024, 768, 1));
  pages.push_back(testjob::BlankPage(992, 640));
  pages.push_back(testjob::RandomPage(512, 256, &rng));  // compresses to more than its bitmap
  testjob::Page two = testjob::BlockPage(640, 2 * 320, 2);
  two.header.cupsInteger[4] = 1;  // black plane above red plane
  pages.push_back(two);
  pages.push_back(testjob::BlockPage(1024, 768, 3));
  return pages;
}

// Every record decodes to its page and carries the page's numbers.
void ExpectPagesMatch(const inspect::ParsedJob &job, const std::vector<testjob::Page> &pages) {
  ASSERT_EQ(job.pages.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    const inspect::PageRecord &r = job.pages[i];
    const testjob::Page &p = pages[i];
    EXPECT_EQ(r.page_width, p.width) << i;
    EXPECT_EQ(r.page_height, p.height) << i;
    EXPECT_EQ(r.datasize, p.bits.size()) << i;
    EXPECT_EQ(r.blackDots, SetBits(p.bits)) << i;
    EXPECT_EQ(r.colors, p.header.cupsInteger[4] == 1 ? 2 : 1) << i;
    inspect::Bitmap out;
    std::string error;
    ASSERT_TRUE(inspect::DecodePage(r, &out, &error)) << "page " << i << ": " << error;
    EXPECT_EQ(out.bits, p.bits) << "page " << i;
  }
}

}  // namespace

TEST(PageRecords, DecodeToTheBitmapsThatWentInOneAfterTheOther) {
  std::vector<testjob::Page> pages = MixedPages();
  {
    testjob::OutputCapture out;
    testjob::WriteJob(out.output(), pages);
    std::vector<uint8_t> bytes = out.Bytes();
    inspect::ParsedJob job = inspect::ParseJob(bytes);
    ASSERT_TRUE(job.ok) << job.error << " at " << job.error_offset;
    ExpectPagesMatch(job, pages);
    EXPECT_EQ(out.output()->count_bytes, bytes.size());
    EXPECT_NE(bytes.size() % 512, 0u);
    EXPECT_FALSE(PrinterOutputFailed(out.output()));

    // The blank page is the bare stripe end; the random page outgrew its bitmap.
    EXPECT_EQ(job.pages[1].compsize, 2u);
    EXPECT_EQ(job.pages[1].data[0], 0xFF);
    EXPECT_EQ(job.pages[1].data[1], 0x02);
    EXPECT_GT(job.pages[2].compsize, job.pages[2].datasize);
    // Records follow each other with nothing between them.
    for (size_t i = 1; i < job.pages.size(); ++i)
      EXPECT_EQ(job.pages[i].offset, job.pages[i - 1].data_offset + job.pages[i - 1].compsize);
  }
}

TEST(PageRecords, JobThatWouldEndOn512BytesGetsTheAlignmentComment) {
  std::vector<testjob::Page> pages = {testjob::BlockPage(1024, 512, 4),
                                      testjob::BlockPage(1024, 512, 5)};
  // The record lengths, to choose a JCL text that puts the end on a boundary.
  size_t records = 0;
  for (const testjob::Page &p : pages) {
    std::vector<uint8_t> copy = p.bits;
    JbigOutputArea area;
    int64_t n = Ferrun_JBIGCompression(p.width, p.height, copy.data(), &area, nullptr, nullptr,
                                       kJbigOrder, kJbigOptions, 1);
    ASSERT_GT(n, 0);
    records += 34 + static_cast<size_t>(n);
  }
  testjob::OutputCapture out;
  PrinterOutput *printer = out.output();
  PJL_WriteStartJobCmd_Zelvar(printer, &pages[0].header, 1, "q", "u", "t", "1", FALSE, "");
  size_t before = printer->count_bytes + 1 + records + 70;  // ESC of the JCL text, pages, trailer
  size_t jcl = 512 - before % 512;
  std::string text = "\x1b" + std::string(jcl, 'J');
  ASSERT_TRUE(WriteToPrinter(printer, text.data(), text.size()));
  testjob::WriteRecords(printer, pages);
  PJL_WriteCloseJobCmd(printer);

  std::vector<uint8_t> bytes = out.Bytes();
  EXPECT_EQ(bytes.size() % 512, 33u);
  inspect::ParsedJob job = inspect::ParseJob(bytes);
  ASSERT_TRUE(job.ok) << job.error << " at " << job.error_offset;
  EXPECT_TRUE(job.alignment_comment);
  EXPECT_EQ(job.jcl_text, std::string(jcl, 'J'));
  ExpectPagesMatch(job, pages);
}
