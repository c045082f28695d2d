// The spool file in one process: its bytes, the lookups, the flush and replay
// orders and the blank back page.
#include "output/spool_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "filter_process.h"
#include "job_parser.h"
#include "output/page_record.h"
#include "output/pjl_framing.h"
#include "output/printer_output.h"
#include "page_decoder.h"
#include "printer_job_fixture.h"
#include "spool_probe.h"
#include "test_raster.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Le32(const Bytes &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

Bytes Concat(std::initializer_list<const Bytes *> parts) {
  Bytes all;
  for (const Bytes *p : parts) all.insert(all.end(), p->begin(), p->end());
  return all;
}

// A spool file created in a scratch TMPDIR for the test, removed at the end,
// when the runner's TMPDIR is put back: a later test of the same process must
// not spool into a directory that no longer exists.
class SpoolInScratchDir {
 public:
  SpoolInScratchDir() {
    const char *runnerTmp = getenv("TMPDIR");
    if (runnerTmp) savedTmp_ = runnerTmp;
    hadTmp_ = runnerTmp != nullptr;
    setenv("TMPDIR", dir_.path().c_str(), 1);
    created_ = CreateSpoolFile(&spool_);
  }
  ~SpoolInScratchDir() {
    if (hadTmp_)
      setenv("TMPDIR", savedTmp_.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  bool created() const { return created_; }
  SpoolFile *get() { return &spool_; }
  const std::string &dir() const { return dir_.path(); }

 private:
  std::string savedTmp_;
  bool hadTmp_ = false;
  filtertest::ScratchDir dir_;
  SpoolFile spool_;
  bool created_ = false;
};

bool DirIsEmpty(const std::string &dir) {
  return std::filesystem::is_empty(std::filesystem::path(dir));
}

TEST(SpoolFile, KeepsEntriesInAppendOrderInAPrivateFileWithoutAName) {
  SpoolInScratchDir spool;
  ASSERT_TRUE(spool.created());
  EXPECT_TRUE(Spooling(spool.get()));
  // The file is open, private to its owner, and has no name left in the directory.
  std::string target;
  std::string fdPath = spooltest::OpenSpoolFile(getpid(), spool.dir(), &target);
  ASSERT_NE(fdPath, "");
  EXPECT_NE(target.find(" (deleted)"), std::string::npos) << target;
  EXPECT_TRUE(DirIsEmpty(spool.dir()));
  struct stat st;
  ASSERT_EQ(stat(fdPath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  const Bytes first = Pattern(1000, 1), second = Pattern(2000, 2);
  ASSERT_TRUE(AppendSpoolPage(spool.get(), first.data(), first.size()));
  ASSERT_TRUE(AppendSpoolPage(spool.get(), second.data(), second.size()));
  EXPECT_EQ(SpooledPages(spool.get()), 2u);

  // Lookups walk to the entry; a bad index or a short buffer is refused.
  EXPECT_EQ(GetPageDataSize(spool.get(), 0), 1000u);
  EXPECT_EQ(GetPageDataSize(spool.get(), 1), 2000u);
  Bytes out(2000);
  ASSERT_TRUE(GetPageData(spool.get(), 0, 2000, out.data()));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 1000), first);
  ASSERT_TRUE(GetPageData(spool.get(), 1, 2000, out.data()));
  EXPECT_EQ(out, second);
  EXPECT_EQ(GetPageDataSize(spool.get(), 2), 0u);
  EXPECT_FALSE(GetPageData(spool.get(), 1, 1999, out.data()));
  EXPECT_FALSE(SpoolFailed(spool.get()));

  RemoveSpoolFile(spool.get());
  EXPECT_FALSE(Spooling(spool.get()));
  EXPECT_EQ(spooltest::OpenSpoolFile(getpid(), spool.dir()), "");
  EXPECT_EQ(GetPageDataSize(spool.get(), 0), 0u);
}

TEST(SpoolFile, FlushSendsWholeSheetsBackFirstAndReplaySendsEachFurtherCopy) {
  testjob::OutputCapture printer;
  SpoolInScratchDir spool;
  ASSERT_TRUE(spool.created());
  const Bytes a = Pattern(50, 10), b = Pattern(60, 20), c = Pattern(70, 30), d = Pattern(80, 40);
  for (const Bytes *p : {&a, &b, &c}) AppendSpoolPage(spool.get(), p->data(), p->size());
  // Three entries: the first sheet goes out, the third page waits for its partner.
  DWORD cursor = 0;
  EXPECT_TRUE(PJL_FlushPage(spool.get(), printer.output(), &cursor, 1));
  EXPECT_EQ(cursor, 2u);
  EXPECT_EQ(printer.Bytes(), Concat({&b, &a}));
  AppendSpoolPage(spool.get(), d.data(), d.size());
  EXPECT_TRUE(PJL_FlushPage(spool.get(), printer.output(), &cursor, 1));
  EXPECT_EQ(cursor, 4u);
  const Bytes oneCopy = Concat({&b, &a, &d, &c});
  EXPECT_EQ(printer.Bytes(), oneCopy);
  EXPECT_EQ(printer.output()->count_bytes, oneCopy.size());

  // Without collation by the filter nothing more is sent; with it, two more copies.
  EXPECT_TRUE(ReplaySpooledCopies(spool.get(), printer.output(), FALSE, TRUE, 3));
  EXPECT_EQ(printer.Bytes(), oneCopy);
  EXPECT_TRUE(ReplaySpooledCopies(spool.get(), printer.output(), TRUE, TRUE, 3));
  EXPECT_EQ(printer.Bytes(), Concat({&oneCopy, &oneCopy, &oneCopy}));
  // One-sided: every entry in order.
  EXPECT_TRUE(ReplaySpooledCopies(spool.get(), printer.output(), TRUE, FALSE, 2));
  EXPECT_EQ(printer.Bytes(), Concat({&oneCopy, &oneCopy, &oneCopy, &a, &b, &c, &d}));
}

struct BlankCase {
  const char *what;
  unsigned widthPx, heightPx, widthPt, heightPt, dpi;
  bool margins, twoColour;
  uint32_t width, height;
};

TEST(SpoolFile, BlankBackPageIsAnEmptyStripeSizedLikeThePrintedPage) {
  const BlankCase cases[] = {
      {"imaging margins", 4900, 6800, 612, 792, 600, true, false, 4928, 6816},
      {"full sheet", 5100, 6600, 612, 792, 600, false, false, 4928, 6400},
      {"full sheet, two colours", 5100, 6600, 612, 792, 600, false, true, 4928, 12800},
      // A sheet with no printable part keeps the raster's padded size.
      {"tiny sheet", 100, 40, 20, 10, 300, false, false, 128, 64},
  };
  for (const BlankCase &c : cases) {
    SpoolInScratchDir spool;
    ASSERT_TRUE(spool.created());
    cups_page_header2_t h = testraster::MakeHeader(c.widthPx, c.heightPx, 24, c.dpi);
    h.PageSize[0] = c.widthPt;
    h.PageSize[1] = c.heightPt;
    if (c.margins) {
      h.ImagingBoundingBox[0] = h.ImagingBoundingBox[1] = 12;
      h.ImagingBoundingBox[2] = c.widthPt - 12;
      h.ImagingBoundingBox[3] = c.heightPt - 12;
    }
    h.cupsInteger[4] = c.twoColour ? 1 : 0;
    h.cupsMediaType = 3;
    ASSERT_TRUE(PJL_SaveBlankPage(spool.get(), 3, h));
    ASSERT_EQ(SpooledPages(spool.get()), 1u) << c.what;
    ASSERT_EQ(GetPageDataSize(spool.get(), 0), 36u) << c.what;
    Bytes rec(36);
    ASSERT_TRUE(GetPageData(spool.get(), 0, 36, rec.data()));

    const uint32_t linebyte = c.width / 8;
    EXPECT_EQ(Bytes(rec.begin(), rec.begin() + 6), (Bytes{0x1B, 0x45, 'G', 'D', 'I', 0}));
    EXPECT_EQ(Le32(rec, 6), c.width) << c.what;
    EXPECT_EQ(Le32(rec, 10), c.height) << c.what;
    EXPECT_EQ(Le32(rec, 14), linebyte * c.height) << c.what;
    EXPECT_EQ(Le32(rec, 18), 2u) << c.what;  // compsize
    EXPECT_EQ(Le32(rec, 22), 0u) << c.what;  // blackDots
    EXPECT_EQ(rec[26], c.widthPt == 612 ? ENG_LETTER : ENG_PAPER_CUSTOMER) << c.what;
    EXPECT_EQ(rec[27], MediaCodeFor(3)) << c.what;
    EXPECT_EQ(rec[31], c.twoColour ? 2 : 1) << c.what;
    EXPECT_EQ(rec[34], 0xFF);
    EXPECT_EQ(rec[35], 0x02);

    // libjbig's decoder reads the empty stripe as a white page of that size.
    inspect::PageRecord page;
    page.page_width = Le32(rec, 6);
    page.page_height = Le32(rec, 10);
    page.datasize = Le32(rec, 14);
    page.compsize = 2;
    page.data = std::span<const uint8_t>(rec.data() + 34, 2);
    inspect::Bitmap bitmap;
    std::string error;
    ASSERT_TRUE(inspect::DecodePage(page, &bitmap, &error)) << c.what << ": " << error;
    EXPECT_EQ(bitmap.height, c.height);
    EXPECT_EQ(inspect::CountSetBits(bitmap), 0u) << c.what;
  }
}

}  // namespace
