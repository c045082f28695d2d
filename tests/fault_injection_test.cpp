// Faults planted around the filter binary: each allocation of the filter's own
// code failing in turn, standard output failing at each write in turn (through
// the preloaded fault library, and for real: a file-size limit, /dev/full, a
// closed descriptor, a pipe nobody reads), and each thread start failing in
// turn.  Every run must end within its deadline, never by a signal, and either
// report the fault with an "ERROR:" line and exit status 1, or, where the filter
// can do without what failed, still write the whole job.  Each test prints every
// case it tried and what the filter did.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "filter_process.h"
#include "job_check.h"
#include "job_parser.h"
#include "sanitizer_build.h"
#include "test_raster.h"

namespace {

using filtertest::FilterCall;
using filtertest::FilterResult;
using filtertest::ScratchDir;

// ThreadSanitizer's runtime cannot start under another library that replaces
// malloc; these tests run in the plain and the AddressSanitizer builds.
#define SKIP_UNDER_THREAD_SANITIZER()                                                   \
  do {                                                                                  \
    if (kThreadSanitizer) GTEST_SKIP() << "the fault library cannot be preloaded here"; \
  } while (0)

constexpr size_t kPages = 4;

// Four pages that take every allocating path: cropped and scaled 24-bit pages,
// an 8-bit page and a two-colour page; not spooled.
std::string JobRaster() {
  std::vector<testraster::Page> pages;
  for (int n = 0; n < 4; ++n) {
    const unsigned bits = n == 2 ? 8 : 24;
    testraster::Page p = testraster::WhitePage(testraster::SheetHeader(60, 48, bits, 72));
    p.header.cupsInteger[3] = n == 1 ? 1 : 0;  // scale
    p.header.cupsInteger[4] = n == 3 ? 1 : 0;  // two colours
    testraster::InkRect(p, 10, 10, 30, 20, 255);
    if (n == 3) testraster::FillRect(p, 5, 5, 20, 5, 230, 20, 20);
    pages.push_back(p);
  }
  return testraster::RasterBytes(pages);
}

struct Fixture {
  ScratchDir dir;
  std::string raster = dir.File("job.ras");
  std::string log = dir.File("fault.log");
  bool preload = true;  // the fault library is preloaded
  Fixture() { filtertest::WriteFile(raster, JobRaster()); }

  // A run with the fault library preloaded and `faults` ("NAME=VALUE") set.
  // `asanExtra` is added to ASAN_OPTIONS.
  FilterResult Run(const std::vector<std::string> &faults, FilterCall bc = {},
                   const std::string &asanExtra = "") {
    unlink(log.c_str());
    bc.args = filtertest::JobArgs(raster);
    bc.environment = faults;
    if (preload) bc.environment.push_back(std::string("LD_PRELOAD=") + ZELVAR_FAULT_PRELOAD_PATH);
    bc.environment.push_back("ZELVAR_FAULT_LOG=" + log);
    // The sanitizer runtime is found after the preloaded library.
    const char *asan = getenv("ASAN_OPTIONS");
    bc.environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") +
                             ":verify_asan_link_order=0" + asanExtra);
    bc.timeoutSeconds = 120;
    return filtertest::RunFilter(dir, bc);
  }

  // The log's lines of the calls made to fail, of one kind.
  std::vector<std::string> FailLines(const std::string &kind) const {
    std::vector<std::string> lines;
    std::string text = filtertest::ReadFile(log);
    size_t start = 0;
    for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
      std::string line = text.substr(start, nl - start);
      start = nl + 1;
      if (line.rfind("fail " + kind + " ", 0) == 0) lines.push_back(line.substr(5));
    }
    return lines;
  }

  // Lines of the fault log that begin with `kind` (after an optional "fail ").
  std::vector<std::string> Logged(const std::string &kind) const {
    std::vector<std::string> lines;
    std::string text = filtertest::ReadFile(log);
    size_t start = 0;
    for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
      std::string line = text.substr(start, nl - start);
      start = nl + 1;
      std::string body = line.rfind("fail ", 0) == 0 ? line.substr(5) : line;
      if (body.rfind(kind + " ", 0) == 0) lines.push_back(body);
    }
    return lines;
  }
};

bool HasError(const std::string &err) { return fuzzentry::HasErrorLine(err); }

std::string FirstErrorLine(const std::string &err) {
  size_t at = err.rfind("ERROR: ", 0) == 0 ? 0 : err.find("\nERROR: ");
  if (at == std::string::npos) return "(no ERROR: line)";
  if (at > 0) ++at;
  return err.substr(at, std::min<size_t>(err.find('\n', at) - at, 110));
}

// What the run left: its first ERROR: line, or the pages of its job.
std::string Outcome(const FilterResult &r) {
  if (r.status == 1 || HasError(r.err)) return FirstErrorLine(r.err);
  if (r.status != 0) return "";
  inspect::ParsedJob job = inspect::ParseJob(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(r.out.data()), r.out.size()));
  return job.ok ? "job of " + std::to_string(job.pages.size()) + " pages"
                : "malformed job: " + job.error;
}

// The function of the filter binary at `offset`, when addr2line can tell: the
// outermost of the functions inlined there.
std::string FunctionAt(const std::string &offset) {
  std::string cmd =
      std::string("addr2line -f -i -C -e '") + ZELVAR_FILTER_PATH + "' " + offset + " 2>/dev/null";
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return "";
  std::string function;
  char line[512];
  // Function and file lines alternate, innermost first.
  for (int n = 0; fgets(line, sizeof line, p); ++n)
    if (n % 2 == 0) function = line;
  pclose(p);
  while (!function.empty() && (function.back() == '\n' || function.back() == '\r'))
    function.pop_back();
  return function == "??" ? "" : function;
}

// Empty when the run reported its fault properly: exit 1 with an ERROR: line.
std::string ReportedFault(const FilterResult &r) {
  if (r.timedOut || r.signal) return filtertest::HowItEnded(r);
  fuzzentry::FilterRunResult fr{r.status, r.out, r.err};
  std::string broken = fuzzentry::CheckFilterRun(fr, nullptr);
  if (!broken.empty()) return broken;
  return r.status == 1 ? "" : "exit 0: the fault went unreported";
}

// Empty when the run wrote the whole job anyway.
std::string WholeJob(const FilterResult &r) {
  if (r.timedOut || r.signal) return filtertest::HowItEnded(r);
  fuzzentry::FilterRunResult fr{r.status, r.out, r.err};
  inspect::ParsedJob job;
  std::string broken = fuzzentry::CheckFilterRun(fr, &job);
  if (!broken.empty()) return broken;
  if (r.status != 0) return "exit " + std::to_string(r.status);
  if (job.pages.size() != kPages) return std::to_string(job.pages.size()) + " pages";
  return "";
}

// The allocation sites of a clean run, each with the number of its calls.
std::vector<std::pair<std::string, int>> AllocationSites(const std::vector<std::string> &allocs) {
  std::vector<std::pair<std::string, int>> sites;
  for (const std::string &line : allocs) {  // "alloc N SIZE main+0xOFFSET"
    std::string site = line.substr(line.rfind(' ') + 1);
    auto it = std::find_if(sites.begin(), sites.end(), [&](auto &s) { return s.first == site; });
    if (it == sites.end())
      sites.push_back({site, 1});
    else
      ++it->second;
  }
  return sites;
}

// Each call of each allocation site in turn; `from` names the code whose
// allocations fail ("main": the filter's own).  With `mustReport` every failure
// must end in an ERROR: line and exit status 1; without it, a whole job is as
// good (the filter may do without what a library could not allocate).
void FailEachAllocation(const char *table, const std::string &from, bool mustReport) {
  Fixture f;
  // What a library leaks on its own failure paths is not the filter's leak.
  const std::string asanExtra = mustReport ? "" : ":detect_leaks=0";
  FilterResult clean = f.Run({"ZELVAR_FAIL_ALLOC_FROM=" + from}, {}, asanExtra);
  ASSERT_EQ(WholeJob(clean), "") << clean.err.substr(0, 2000);
  const std::vector<std::string> allocations = f.Logged("alloc");
  ASSERT_FALSE(allocations.empty()) << "the fault library saw no allocation";
  const auto sites = AllocationSites(allocations);
  printf("[%s] %zu allocations at %zu sites in a job of %zu pages\n", table, allocations.size(),
         sites.size(), kPages);
  for (const auto &[site, calls] : sites) {
    const std::string offset = site.substr(site.find("+0x") + 1);
    const std::string function = from == "main" ? FunctionAt(offset) : "";
    for (int k = 1; k <= calls; ++k) {
      FilterResult r = f.Run({"ZELVAR_FAIL_ALLOC_FROM=" + from, "ZELVAR_FAIL_ALLOC_SITE=" + site,
                              "ZELVAR_FAIL_ALLOC_AT=" + std::to_string(k)},
                             {}, asanExtra);
      std::string failed = "(no allocation failed)";
      for (const std::string &l : f.FailLines("alloc")) failed = l;
      std::string fault = ReportedFault(r);
      if (!fault.empty() && !mustReport && WholeJob(r).empty()) fault.clear();
      // A crash inside the library that could not allocate is the library's own
      // fault, not the filter's: listed, not failed.
      std::string crash;
      for (const std::string &l : f.Logged("crash")) crash = l;
      const bool libraryCrash =
          !mustReport && r.signal != 0 && crash.find(" " + from) != std::string::npos;
      std::string verdict;
      if (!fault.empty() && libraryCrash)
        verdict = "  (the library's own crash: " + crash + ")";
      else if (!fault.empty())
        verdict = "  FAULT: " + fault;
      printf("[%s] %s %s call %d of %d: %s | %s | %s%s\n", table, site.c_str(), function.c_str(), k,
             calls, failed.c_str(), filtertest::HowItEnded(r).c_str(), Outcome(r).c_str(),
             verdict.c_str());
      if (!libraryCrash) {
        EXPECT_EQ(fault, "") << site << " " << function << " call " << k;
      }
    }
  }
  fflush(stdout);
}

TEST(FaultInjection, EachAllocationOfTheFiltersOwnCodeFailingInTurn) {
  SKIP_UNDER_THREAD_SANITIZER();
  FailEachAllocation("alloc", "main", true);
}

TEST(FaultInjection, EachAllocationOfLibcupsFailingInTurn) {
  SKIP_UNDER_THREAD_SANITIZER();
  FailEachAllocation("libcups", "libcups", false);
}

TEST(FaultInjection, StandardOutputFailingAtEachWriteInTurn) {
  SKIP_UNDER_THREAD_SANITIZER();
  Fixture f;
  FilterResult clean = f.Run({});
  ASSERT_EQ(WholeJob(clean), "");
  const std::vector<std::string> writes = f.Logged("write");
  ASSERT_GE(writes.size(), 3 + kPages + 2);
  printf("[write] %zu writes to standard output\n", writes.size());
  for (size_t n = 1; n <= writes.size(); ++n) {
    FilterResult r = f.Run({"ZELVAR_FAIL_WRITE_AT=" + std::to_string(n)});
    std::string fault = ReportedFault(r);
    printf("[write] write %zu of %zu fails (%s): %s | %s%s\n", n, writes.size(),
           writes[n - 1].c_str(), filtertest::HowItEnded(r).c_str(), FirstErrorLine(r.err).c_str(),
           fault.empty() ? "" : ("  FAULT: " + fault).c_str());
    EXPECT_EQ(fault, "") << "write " << n;
  }
  fflush(stdout);
}

TEST(FaultInjection, AFileSizeLimitCutsTheJobAtEveryWriteBoundary) {
  SKIP_UNDER_THREAD_SANITIZER();
  Fixture f;
  FilterResult clean = f.Run({});
  ASSERT_EQ(WholeJob(clean), "");
  // Where each write starts: the limit there makes it fail outright, one byte
  // further makes it short.  (The job name, a clock reading, may be a digit
  // longer or shorter from run to run, which moves a boundary by a byte.)
  std::vector<long long> starts = {0};
  for (const std::string &w : f.Logged("write"))
    starts.push_back(starts.back() + std::stoll(w.substr(w.rfind(' ') + 1)));
  const long long total = starts.back();
  ASSERT_EQ(total, static_cast<long long>(clean.out.size()));
  starts.pop_back();
  std::vector<long long> limits;
  for (long long s : starts) {
    limits.push_back(s);
    limits.push_back(s + 1);
  }
  printf("[fsize] job of %lld bytes, %zu limits\n", total, limits.size() + 1);
  for (long long limit : limits) {
    FilterCall bc;
    bc.fileSizeLimit = limit;
    FilterResult r = f.Run({}, bc);
    std::string fault = ReportedFault(r);
    printf("[fsize] limit %6lld bytes: %s, %zu bytes written | %s%s\n", limit,
           filtertest::HowItEnded(r).c_str(), r.out.size(), FirstErrorLine(r.err).c_str(),
           fault.empty() ? "" : ("  FAULT: " + fault).c_str());
    EXPECT_EQ(fault, "") << "limit " << limit;
    EXPECT_LE(static_cast<long long>(r.out.size()), limit);
  }
  // A limit the job fits (with room for a job name a few digits longer: the
  // name is a clock reading).
  FilterCall bc;
  bc.fileSizeLimit = total + 16;
  FilterResult r = f.Run({}, bc);
  printf("[fsize] limit %6lld bytes (the job's size and 16): %s\n", total + 16,
         filtertest::HowItEnded(r).c_str());
  EXPECT_EQ(WholeJob(r), "");
  fflush(stdout);
}

TEST(FaultInjection, StandardOutputFullClosedOrAPipeNobodyReads) {
  Fixture f;
  f.preload = false;  // real faults only
  {
    FilterCall bc;
    bc.stdoutPath = "/dev/full";
    FilterResult r = f.Run({}, bc);
    printf("[stdout] /dev/full: %s | %s\n", filtertest::HowItEnded(r).c_str(),
           FirstErrorLine(r.err).c_str());
    EXPECT_EQ(ReportedFault(r), "");
  }
  {
    FilterCall bc;
    bc.closeStdout = true;
    FilterResult r = f.Run({}, bc);
    printf("[stdout] closed: %s | %s\n", filtertest::HowItEnded(r).c_str(),
           FirstErrorLine(r.err).c_str());
    EXPECT_EQ(ReportedFault(r), "");
  }
  {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    close(p[0]);  // nobody will read
    FilterCall bc;
    bc.stdoutFd = p[1];
    FilterResult r = f.Run({}, bc);
    close(p[1]);
    printf("[stdout] pipe without a reader: %s | %s\n", filtertest::HowItEnded(r).c_str(),
           FirstErrorLine(r.err).c_str());
    EXPECT_EQ(ReportedFault(r), "");
  }
  fflush(stdout);
}

TEST(FaultInjection, EachThreadStartFailingInTurn) {
  SKIP_UNDER_THREAD_SANITIZER();
  Fixture f;
  FilterResult clean = f.Run({});
  ASSERT_EQ(WholeJob(clean), "");
  const size_t threads = f.Logged("thread").size();
  ASSERT_EQ(threads, 2 + kPages)
      << "the SIGTERM watcher, the output thread and one image thread a page";
  printf("[thread] %zu thread starts\n", threads);
  for (size_t n = 1; n <= threads; ++n) {
    FilterResult r = f.Run({"ZELVAR_FAIL_THREAD_AT=" + std::to_string(n)});
    // Without the watcher a signal handler takes SIGTERM and the job goes on;
    // without the output thread nothing can be written; a page whose image
    // thread cannot start is processed by the main thread.
    const char *role = n == 1 ? "SIGTERM watcher" : n == 2 ? "output thread" : "image thread";
    std::string fault = n == 2 ? ReportedFault(r) : WholeJob(r);
    printf("[thread] start %zu of %zu fails (%s): %s | %s%s\n", n, threads, role,
           filtertest::HowItEnded(r).c_str(), Outcome(r).c_str(),
           fault.empty() ? "" : ("  FAULT: " + fault).c_str());
    EXPECT_EQ(fault, "") << "thread start " << n;
  }
  fflush(stdout);
}

}  // namespace
