// Spooled jobs end to end: the filter binary on raster jobs whose pages carry
// their page numbers in their pixels, checked on the decoded page records.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
#include "job_parser.h"
#include "output/printer_output.h"
#include "page_decoder.h"
#include "spool_probe.h"
#include "test_raster.h"

extern char **environ;

namespace {

using filtertest::Count;
using filtertest::FilterCall;
using filtertest::FilterResult;
using filtertest::JobArgs;
using filtertest::ScratchDir;

// Pages 1..n of about A6 at 150 dpi, each carrying its number.  The sides are
// multiples of 32 pixels, so the printed page has the raster's size and the
// marks stand where they were drawn.
std::vector<testraster::Page> NumberedPages(unsigned n, bool duplex, unsigned copies,
                                            bool photo = false) {
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

// The pages of a job as they would come out of the printer: "B" for a blank back
// page, the page number for a page whose mark can be read, "?" otherwise.
std::string PageOrder(const inspect::ParsedJob &job) {
  std::string order;
  for (const inspect::PageRecord &r : job.pages) {
    inspect::Bitmap b;
    std::string error, name = "?";
    if (inspect::DecodePage(r, &b, &error)) {
      int mark = testraster::ReadPageMark(b.bits.data(), b.width, b.height,
                                          static_cast<unsigned>(b.linebyte));
      if (r.compsize == 2 && inspect::CountSetBits(b) == 0)
        name = "B";
      else if (mark > 0)
        name = std::to_string(mark);
    }
    order += (order.empty() ? "" : " ") + name;
  }
  return order;
}

std::string PageOrder(const std::string &out) {
  inspect::ParsedJob job =
      inspect::ParseJob({reinterpret_cast<const uint8_t *>(out.data()), out.size()});
  EXPECT_TRUE(job.ok) << job.error << " at " << job.error_offset;
  return PageOrder(job);
}

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
    EXPECT_EQ(Count(r.err, "ERROR:") + Count(r.err, "INFO:"), 0u) << c.what;
    EXPECT_TRUE(DirIsEmpty(tmp.path())) << c.what;
  }
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

// A filter reading its raster from a pipe the test writes, its output and
// log read from pipes as they come.
class LiveFilter {
 public:
  LiveFilter(const std::vector<std::string> &args, const std::vector<std::string> &extraEnv) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return;
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
      if (strncmp(*e, "PPD=", 4) != 0 && strncmp(*e, "TMPDIR=", 7) != 0) env.push_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char *> argv, envp;
    for (auto &s : args) argv.push_back(const_cast<char *>(s.c_str()));
    argv.push_back(nullptr);
    for (auto &s : env) envp.push_back(const_cast<char *>(s.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
      posix_spawn_file_actions_addclose(&actions, fd);
    if (posix_spawn(&pid_, ZELVAR_FILTER_PATH, &actions, nullptr, argv.data(), envp.data()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    outReader_ = std::thread(Drain, out[0], &out_);
    errReader_ = std::thread(Drain, err[0], &err_);
  }
  ~LiveFilter() { Wait(); }

  pid_t pid() const { return pid_; }
  // Writes raster bytes; false once the filter has stopped reading.
  bool Feed(const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  // Ends the input and waits; the exit status, or 128 + the signal that ended it.
  int Wait() {
    if (in_ >= 0) close(in_);
    in_ = -1;
    if (pid_ > 0) {
      int wstatus = 0;
      while (waitpid(pid_, &wstatus, 0) < 0 && errno == EINTR) {
      }
      status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
      pid_ = -1;
    }
    if (outReader_.joinable()) outReader_.join();
    if (errReader_.joinable()) errReader_.join();
    return status_;
  }
  const std::string &out() const { return out_; }
  const std::string &err() const { return err_; }

 private:
  static void Drain(int fd, std::string *to) {
    char chunk[65536];
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      to->append(chunk, static_cast<size_t>(n));
    }
    close(fd);
  }

  pid_t pid_ = -1;
  int in_ = -1;
  int status_ = -1;
  std::thread outReader_, errReader_;
  std::string out_, err_;
};

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
    kill(filter.pid(), SIGTERM);
    EXPECT_EQ(filter.Wait(), 128 + SIGTERM);
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
  std::string out = dir.File("out.prn");
  FILE *f = fopen(out.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  SetPrinterOutputFd(fileno(f));
  setenv("TMPDIR", tmp.path().c_str(), 1);
  std::vector<std::string> args = JobArgs(path, "Collate=true");
  std::vector<char *> argv;
  for (auto &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStderr();
  int status = FilterMain(static_cast<int>(args.size()), argv.data());
  std::string err = testing::internal::GetCapturedStderr();
  SetPrinterOutputFd(1);
  fclose(f);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(PageOrder(filtertest::ReadFile(out)), "2 1 4 3 6 5 B 7 2 1 4 3 6 5 B 7");
  EXPECT_EQ(spooltest::OpenSpoolFile(getpid(), tmp.path()), "");
  EXPECT_TRUE(DirIsEmpty(tmp.path()));
}

}  // namespace
