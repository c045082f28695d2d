// Spooled jobs end to end: the filter binary on raster jobs whose pages carry
// their page numbers in their pixels, checked on the decoded page records.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "driver/filter_entry.h"
#include "filter_process.h"
#include "filter_run.h"
#include "job_parser.h"
#include "live_filter.h"
#include "numbered_pages.h"
#include "output/printer_output.h"
#include "spool_probe.h"
#include "test_raster.h"

namespace {

using filtertest::Count;
using filtertest::FilterCall;
using filtertest::FilterResult;
using filtertest::JobArgs;
using filtertest::LiveFilter;
using filtertest::NumberedPages;
using filtertest::PageOrder;
using filtertest::ScratchDir;

std::string Copies(const std::string &out) {
  inspect::ParsedJob job =
      inspect::ParseJob({reinterpret_cast<const uint8_t *>(out.data()), out.size()});
  const std::string *copies = inspect::FindSetting(job, "COPIES");
  return copies ? *copies : "(none)";
}

bool DirIsEmpty(const std::string &dir) {
  return std::filesystem::is_empty(std::filesystem::path(dir));
}

FilterResult RunJob(const ScratchDir &dir, const std::vector<testraster::Page> &pages,
                    const std::string &options, const std::string &tmpdir) {
  std::string path = dir.File("job.ras");
  EXPECT_TRUE(testraster::WriteRasterFile(path, pages));
  FilterCall call;
  call.args = JobArgs(path, options);
  call.environment = {"TMPDIR=" + tmpdir};
  return filtertest::RunFilter(dir, call);
}

struct OrderCase {
  const char *what;
  bool duplex;
  unsigned pages, copies;
  const char *options;
  const char *order;
  const char *copiesLine;
  bool spooled;
};

TEST(SpooledJob, PagesGoOutInSheetOrderOncePerCollatedCopy) {
  const OrderCase cases[] = {
      {"two-sided, 1 page", true, 1, 1, "", "B 1", "1", true},
      {"two-sided, 3 pages, 2 collated copies", true, 3, 2, "Collate=true", "2 1 B 3 2 1 B 3", "1",
       true},
      {"two-sided, 4 pages, 3 copies by the printer", true, 4, 3, "", "2 1 4 3", "3", true},
      {"one-sided, 2 pages, 3 collated copies", false, 2, 3, "Collate=true", "1 2 1 2 1 2", "1",
       true},
      {"one-sided, 2 pages, 2 copies collated as IPP asks", false, 2, 2,
       "multiple-document-handling=separate-documents-collated-copies", "1 2 1 2", "1", true},
      {"one-sided, collated but 1 copy", false, 2, 1, "Collate=true", "1 2", "1", false},
      {"one-sided, 2 copies by the printer", false, 2, 2, "", "1 2", "2", false},
  };
  ScratchDir dir, tmp;
  for (const OrderCase &c : cases) {
    FilterResult r = RunJob(dir, NumberedPages(c.pages, c.duplex, c.copies), c.options, tmp.path());
    EXPECT_EQ(r.status, 0) << c.what << "\n" << r.err;
    EXPECT_EQ(PageOrder(r.out), c.order) << c.what;
    EXPECT_EQ(Copies(r.out), c.copiesLine) << c.what;
    EXPECT_EQ(Count(r.err, "DEBUG: Create Spool File "), c.spooled ? 1u : 0u) << c.what;
    EXPECT_EQ(Count(r.err, "ERROR:"), 0u) << c.what;
    EXPECT_TRUE(DirIsEmpty(tmp.path())) << c.what;
    // CUPS counts what the printer prints: a line for each record sent, with
    // the copies the printer makes of it.
    std::string pageLines;
    const size_t records = Count(c.order, " ") + 1;
    for (size_t n = 1; n <= records; ++n)
      pageLines += "PAGE: " + std::to_string(n) + " " + c.copiesLine + "\n";
    std::string reported;
    for (size_t at = r.err.find("\nPAGE: "); at != std::string::npos;
         at = r.err.find("\nPAGE: ", at + 1))
      reported += r.err.substr(at + 1, r.err.find('\n', at + 1) - at);
    EXPECT_EQ(reported, pageLines) << c.what;
  }
}

TEST(SpooledJob, AMalformedDuplexValuePrintsOneSidedInPageOrder) {
  // The job header says DUPLEX=ON only for 1; a 2 must not reorder the pages as
  // sheets of a job the printer prints one-sided.
  std::vector<testraster::Page> pages = NumberedPages(3, true, 1);
  const unsigned two = 2;
  for (testraster::Page &p : pages) memcpy(&p.header.Duplex, &two, sizeof two);
  ScratchDir dir, tmp;
  FilterResult r = RunJob(dir, pages, "", tmp.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PageOrder(r.out), "1 2 3");
  EXPECT_EQ(Count(r.err, "DEBUG: Create Spool File "), 0u);
}

TEST(SpooledJob, WithoutAUsableTemporaryDirectoryTheJobPrintsUnspooled) {
  ScratchDir dir;
  FilterResult r =
      RunJob(dir, NumberedPages(3, true, 2), "Collate=true", dir.File("no-such-directory"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PageOrder(r.out), "1 2 3");
  EXPECT_EQ(Count(r.err, "INFO: Unable to create a spool file in " + dir.File("no-such-directory") +
                             " (No such file or directory)"),
            1u)
      << r.err;
}

TEST(SpooledJob, TwoJobsStartedTogetherBothComeOutWhole) {
  ScratchDir dirA, dirB, tmp;
  // Photo-like pages take long enough to compress for the two jobs to overlap.
  std::vector<testraster::Page> a = NumberedPages(5, true, 2, true);
  std::vector<testraster::Page> b = NumberedPages(4, false, 2, true);
  FilterResult ra, rb;
  std::thread ta([&] { ra = RunJob(dirA, a, "Collate=true", tmp.path()); });
  std::thread tb([&] { rb = RunJob(dirB, b, "Collate=true", tmp.path()); });
  ta.join();
  tb.join();
  EXPECT_EQ(ra.status, 0) << ra.err;
  EXPECT_EQ(rb.status, 0) << rb.err;
  EXPECT_EQ(PageOrder(ra.out), "2 1 4 3 B 5 2 1 4 3 B 5");
  EXPECT_EQ(PageOrder(rb.out), "1 2 3 4 1 2 3 4");
  EXPECT_TRUE(DirIsEmpty(tmp.path()));
}

TEST(SpooledJob, PlantedLinksAreNeverFollowed) {
  const std::string oldPath = "/tmp/swspool.dat";
  struct stat st;
  if (lstat(oldPath.c_str(), &st) == 0) GTEST_SKIP() << oldPath << " exists already";
  ScratchDir dir, tmp;
  const std::string victim = dir.File("victim");
  filtertest::WriteFile(victim, "keep me");
  ASSERT_EQ(symlink(victim.c_str(), oldPath.c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), (tmp.path() + "/swspool.dat").c_str()), 0);
  FilterResult r = RunJob(dir, NumberedPages(2, true, 2), "Collate=true", tmp.path());
  bool oldLinkKept = lstat(oldPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  unlink(oldPath.c_str());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(PageOrder(r.out), "2 1 2 1");
  EXPECT_TRUE(oldLinkKept);
  EXPECT_EQ(filtertest::ReadFile(victim), "keep me");
  size_t entries = 0;
  for (const auto &e : std::filesystem::directory_iterator(tmp.path())) {
    EXPECT_TRUE(e.is_symlink()) << e.path();
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

// Waits up to 10 s for the filter to hold its spool file open.
std::string WaitForSpoolFile(pid_t pid, const std::string &dir, std::string *target) {
  for (int i = 0; i < 1000; ++i) {
    std::string path = spooltest::OpenSpoolFile(pid, dir, target);
    if (!path.empty()) return path;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

TEST(SpooledJob, NoSpoolFileOutlivesAJobThatIsCancelledOrCutShort) {
  signal(SIGPIPE, SIG_IGN);
  ScratchDir tmp;
  std::string raster = testraster::RasterBytes(NumberedPages(4, true, 2));
  {
    // Cancelled by the scheduler while its spool file is open.
    LiveFilter filter(JobArgs("", "Collate=true"), {"TMPDIR=" + tmp.path()});
    ASSERT_GT(filter.pid(), 0);
    ASSERT_TRUE(filter.Feed(raster.substr(0, raster.size() / 2)));
    std::string target;
    std::string fdPath = WaitForSpoolFile(filter.pid(), tmp.path(), &target);
    ASSERT_NE(fdPath, "") << filter.err();
    struct stat st;
    ASSERT_EQ(stat(fdPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_NE(target.find(" (deleted)"), std::string::npos) << target;
    // A cancel ends the job cleanly (see cancel_test.cpp).
    kill(filter.pid(), SIGTERM);
    EXPECT_EQ(filter.Wait(), 0);
    EXPECT_TRUE(DirIsEmpty(tmp.path()));
  }
  {
    // The raster ends inside the third page.
    LiveFilter filter(JobArgs("", "Collate=true"), {"TMPDIR=" + tmp.path()});
    ASSERT_TRUE(filter.Feed(raster.substr(0, raster.size() * 5 / 8)));
    EXPECT_EQ(filter.Wait(), 1);
    EXPECT_EQ(Count(filter.err(), "ERROR: Page 3 is incomplete"), 1u) << filter.err();
    EXPECT_TRUE(DirIsEmpty(tmp.path()));
  }
  {
    // TMPDIR unset or empty: the spool file goes to /tmp.
    LiveFilter filter(JobArgs("", "Collate=true"), {"TMPDIR="});
    ASSERT_TRUE(filter.Feed(raster.substr(0, raster.size() / 2)));
    std::string target;
    EXPECT_NE(WaitForSpoolFile(filter.pid(), "/tmp", &target), "");
    EXPECT_TRUE(filter.Feed(raster.substr(raster.size() / 2)));
    EXPECT_EQ(filter.Wait(), 0);
    EXPECT_EQ(PageOrder(filter.out()), "2 1 4 3 2 1 4 3");
    struct stat st;
    EXPECT_NE(lstat(target.substr(0, target.find(' ')).c_str(), &st), 0) << target;
  }
}

TEST(SpooledJob, ASpoolWriteThatFailsFailsTheJob) {
  signal(SIGPIPE, SIG_IGN);
  ScratchDir tmp;
  // Photo-like pages compress to tens of kilobytes each.
  std::vector<testraster::Page> pages = NumberedPages(6, false, 2, true);
  std::string raster = testraster::RasterBytes(pages);
  LiveFilter filter(JobArgs("", "Collate=true"), {"TMPDIR=" + tmp.path()});
  ASSERT_GT(filter.pid(), 0);
  // Files of the filter may grow to 64 KiB: the spool file fills up within the
  // job, while output and log go to pipes.  The filter waits for its input, so
  // the limit is in place before it writes anything.
  struct rlimit limit = {64 * 1024, 64 * 1024};
  ASSERT_EQ(prlimit(filter.pid(), RLIMIT_FSIZE, &limit, nullptr), 0) << strerror(errno);
  filter.Feed(raster);
  EXPECT_EQ(filter.Wait(), 1);
  EXPECT_EQ(Count(filter.err(),
                  "ERROR: Unable to write the spool file: File too large; the job "
                  "cannot be printed whole\n"),
            1u)
      << filter.err().substr(0, 2000);
  EXPECT_EQ(Count(filter.err(), "ERROR:"), 1u);
  // What went out before the failure is the first pages, in order, and no copy.
  std::string order = PageOrder(filter.out());
  EXPECT_TRUE(std::string("1 2 3 4 5 6").rfind(order, 0) == 0) << order;
  EXPECT_LT(order.size(), std::string("1 2 3 4 5 6").size()) << order;
  EXPECT_TRUE(DirIsEmpty(tmp.path()));
}

// In this process, so that ThreadSanitizer sees the compression thread's appends
// and the main thread's flushes.
TEST(SpooledJob, ATwoSidedCollatedJobRunsInProcess) {
  ScratchDir dir, tmp;
  std::string path = dir.File("job.ras");
  ASSERT_TRUE(testraster::WriteRasterFile(path, NumberedPages(7, true, 2)));
  const char *runnerTmp = getenv("TMPDIR");
  const std::string saved = runnerTmp ? runnerTmp : "";
  setenv("TMPDIR", tmp.path().c_str(), 1);
  auto run = fuzzentry::RunFilterInProcess(JobArgs("", "Collate=true"), filtertest::ReadFile(path));
  if (runnerTmp)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(PageOrder(run.out), "2 1 4 3 6 5 B 7 2 1 4 3 6 5 B 7");
  EXPECT_EQ(spooltest::OpenSpoolFile(getpid(), tmp.path()), "");
  // Nothing is left there but the in-process runner's own scratch directory.
  for (const auto &entry : std::filesystem::directory_iterator(tmp.path()))
    EXPECT_EQ(entry.path().filename().string().rfind("zelvar-fuzz-", 0), 0u) << entry.path();
}

}  // namespace
