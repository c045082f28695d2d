// Pages compressed on their own image threads, several at once, and sent by one
// writer in page order: every byte on standard output is the same as when one
// page at a time is processed and compressed in page order (ZELVAR_IMAGE_THREADS
// 1, the order of a single encoder), whatever order the compressions end in; also
// with spooling, collated copies, two-sided sheets, two colours and a job that
// fails half-way.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "filter_process.h"
#include "job_parser.h"
#include "test_raster.h"

namespace {

using filtertest::FilterCall;
using filtertest::FilterResult;
using filtertest::ScratchDir;

// Page n: big photo-like pages, which take long to compress, between small text
// and blank ones, which are quick, so that later pages are often compressed before
// earlier ones; 8-bit line art and halftone, 24-bit cropped and scaled, two
// colours.
testraster::Page OrderPage(unsigned n, unsigned copies, bool duplex) {
  cups_page_header2_t h;
  switch (n % 4) {
    case 0:
      h = testraster::SheetHeader(612, 792, 24, 100);  // scaled full sheet
      h.cupsInteger[3] = 1;
      break;
    case 1:
      h = testraster::MakeHeader(320, 400, 8, 100);  // halftone
      break;
    case 2:
      h = testraster::SheetHeader(420, 595, 24, 100);  // two colours, cropped
      h.cupsInteger[4] = 1;
      h.cupsInteger[5] = 60;
      break;
    default:
      h = testraster::MakeHeader(400, 300, 8, 100);  // 8-bit line art
      h.cupsColorSpace = CUPS_CSPACE_SW;
      h.cupsInteger[6] = 1;
      break;
  }
  h.NumCopies = copies;
  h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
  h.cupsCompression = 2;
  testraster::Page p = testraster::WhitePage(h);
  if (n % 4 == 0)
    testraster::DrawPhotoLike(p, n);
  else if (n % 4 != 1)
    testraster::DrawTextLike(p, n);
  if (n % 4 == 2)
    testraster::FillRect(p, h.cupsWidth / 4, h.cupsHeight / 2, h.cupsWidth / 3, h.cupsHeight / 6,
                         230, 20, 20);
  testraster::DrawPageMark(p, n);
  return p;
}

// A page whose header the filter refuses (16-bit black): the job fails there.
testraster::Page RefusedPage() {
  testraster::Page p = testraster::WhitePage(testraster::MakeHeader(64, 64, 8, 100));
  p.header.cupsBitsPerColor = 16;
  p.header.cupsBitsPerPixel = 16;
  p.header.cupsBytesPerLine = 128;
  p.pixels.assign(static_cast<size_t>(128) * 64, 0);
  return p;
}

struct Printed {
  FilterResult run;
  inspect::ParsedJob job;
};

Printed Print(const ScratchDir &dir, const std::string &raster, const std::string &options,
              int imageThreads) {
  FilterCall call;
  call.args = filtertest::JobArgs(raster, options);
  call.environment = {"ZELVAR_IMAGE_THREADS=" + std::to_string(imageThreads)};
  Printed p;
  p.run = filtertest::RunFilter(dir, call);
  p.job = inspect::ParseJob(std::span<const uint8_t>(
      reinterpret_cast<const uint8_t *>(p.run.out.data()), p.run.out.size()));
  return p;
}

// The lines of standard error that begin with `kind` ("PAGE: ", "ERROR: "...),
// in order.  Lines of different kinds come from different threads, so only the
// order within a kind is the job's.
std::string StatusLines(const std::string &err, const std::string &kind) {
  std::string lines;
  size_t at = 0;
  while (at < err.size()) {
    size_t end = err.find('\n', at);
    if (end == std::string::npos) end = err.size();
    if (err.compare(at, kind.size(), kind) == 0) lines += err.substr(at, end - at) + "\n";
    at = end + 1;
  }
  return lines;
}

// Everything from the first page record to the end of the job: the records in
// the order sent and the trailer.  (Before them the header block carries the time
// of the run.)
std::string FromFirstRecord(const Printed &p) {
  if (p.job.pages.empty()) return "";
  return p.run.out.substr(p.job.pages.front().offset);
}

void ExpectSameBytes(const Printed &serial, const Printed &parallel, const char *what) {
  EXPECT_EQ(parallel.run.status, serial.run.status) << what;
  EXPECT_EQ(parallel.job.ok, serial.job.ok) << what << ": " << parallel.job.error;
  EXPECT_EQ(parallel.job.pages.size(), serial.job.pages.size()) << what;
  EXPECT_EQ(parallel.job.settings, serial.job.settings) << what;
  EXPECT_EQ(parallel.job.jcl_text, serial.job.jcl_text) << what;
  // The header block's length varies with the time, and the trailer's padding
  // with the length, so the records are compared up to the trailer's start.
  const std::string a = FromFirstRecord(serial), b = FromFirstRecord(parallel);
  const size_t recordsA = serial.job.trailer_offset - serial.job.pages.front().offset;
  const size_t recordsB = parallel.job.trailer_offset - parallel.job.pages.front().offset;
  ASSERT_EQ(recordsB, recordsA) << what;
  EXPECT_TRUE(a.compare(0, recordsA, b, 0, recordsB) == 0) << what << ": the records differ";
  for (const char *kind : {"PAGE: ", "ERROR: ", "INFO: "})
    EXPECT_EQ(StatusLines(parallel.run.err, kind), StatusLines(serial.run.err, kind)) << what;
}

}  // namespace

TEST(PageOrder, ParallelCompressionSendsTheBytesOfOneEncoderSpooledTwoSidedCollatedFailingJob) {
  ScratchDir dir;
  // Two-sided, 3 collated copies (spooled, replayed), two colours among the
  // pages, and page 12 of 14 refused: the eleven pages before it are finished,
  // the blank back page added, the copies sent, then the job fails.
  std::vector<testraster::Page> pages;
  for (unsigned n = 0; n < 11; ++n) pages.push_back(OrderPage(n, 3, true));
  pages.push_back(RefusedPage());
  for (unsigned n = 12; n < 14; ++n) pages.push_back(OrderPage(n, 3, true));
  const std::string raster = dir.File("job.ras");
  ASSERT_TRUE(testraster::WriteRasterFile(raster, pages));

  Printed serial = Print(dir, raster, "Collate=true", 1);
  ASSERT_EQ(serial.run.status, 1) << serial.run.err;
  ASSERT_TRUE(serial.job.ok) << serial.job.error << " at " << serial.job.error_offset;
  // Eleven pages and the blank back page, three times over, back pages first:
  // only a spooled job is replayed.
  ASSERT_EQ(serial.job.pages.size(), 36u);
  EXPECT_NE(serial.run.err.find("ERROR: Page 12 has an invalid raster header"), std::string::npos);
  for (int threads : {2, 8}) {
    Printed parallel = Print(dir, raster, "Collate=true", threads);
    ExpectSameBytes(serial, parallel, ("image threads " + std::to_string(threads)).c_str());
  }
}

TEST(PageOrder, ParallelCompressionSendsTheBytesOfOneEncoderDirectJobCutShort) {
  ScratchDir dir;
  // Not spooled, the printer's copies, and the input ends inside page 10.
  std::vector<testraster::Page> pages;
  for (unsigned n = 0; n < 12; ++n) pages.push_back(OrderPage(n, 2, false));
  std::string bytes = testraster::RasterBytes(pages);
  const std::string head =
      testraster::RasterBytes(std::vector<testraster::Page>(pages.begin(), pages.begin() + 10));
  bytes.resize(head.size() - pages[9].pixels.size() / 3);
  const std::string raster = dir.File("cut.ras");
  filtertest::WriteFile(raster, bytes);

  Printed serial = Print(dir, raster, "", 1);
  ASSERT_EQ(serial.run.status, 1) << serial.run.err;
  ASSERT_TRUE(serial.job.ok) << serial.job.error << " at " << serial.job.error_offset;
  ASSERT_EQ(serial.job.pages.size(), 10u);
  EXPECT_NE(serial.run.err.find("ERROR: Page 10 is incomplete"), std::string::npos);
  for (int threads : {2, 8}) {
    Printed parallel = Print(dir, raster, "", threads);
    ExpectSameBytes(serial, parallel, ("image threads " + std::to_string(threads)).c_str());
  }
}
