// The filter run end to end: the binary started as the CUPS scheduler starts it,
// on raster jobs written with libcups's own writer.
#include "driver/filter_entry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "filter_process.h"
#include "filter_run.h"
#include "job_parser.h"
#include "output/printer_output.h"
#include "test_raster.h"

namespace {

using filtertest::Count;
using filtertest::FilterCall;
using filtertest::FilterResult;
using filtertest::JobArgs;
using filtertest::RunFilter;
using filtertest::SamplePage;
using filtertest::ScratchDir;

const char kUsage[] = "Usage: FILTER JOD_ID USERNAME DOC_TITLE COPIES OPTIONS [FILENAME]\n";

// count_bytes as logged at the end of the run.
long LoggedCountBytes(const std::string &err) {
  const std::string key = "DEBUG: main::count_bytes = ";
  size_t at = err.find(key);
  return at == std::string::npos ? -1 : strtol(err.c_str() + at + key.size(), nullptr, 10);
}

FilterResult RunOn(const ScratchDir &dir, const std::vector<testraster::Page> &pages,
                   const std::string &options = "", std::vector<std::string> env = {}) {
  std::string path = dir.File("job.ras");
  EXPECT_TRUE(testraster::WriteRasterFile(path, pages));
  FilterCall call;
  call.args = JobArgs(path, options);
  call.environment = std::move(env);
  return RunFilter(dir, call);
}

TEST(FilterArguments, FiveOrEightArgumentsPrintTheUsageAndFail) {
  ScratchDir dir;
  for (size_t n : {5u, 8u}) {
    FilterCall call;
    call.args = JobArgs(dir.File("job.ras"));
    call.args.resize(n, "x");
    FilterResult r = RunFilter(dir, call);
    EXPECT_EQ(r.status, 1) << n;
    EXPECT_EQ(r.out, kUsage) << n;
  }
}

TEST(FilterArguments, AMissingFileIsReportedWithTheSystemsReason) {
  ScratchDir dir;
  FilterCall call;
  call.args = JobArgs(dir.File("no-such.ras"));
  FilterResult r = RunFilter(dir, call);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("ERROR: Unable to open print file: No such file or directory\n"),
            std::string::npos)
      << r.err;
  call.args = JobArgs(dir.path());
  r = RunFilter(dir, call);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Unable to open print file: Is a directory\n"), std::string::npos);
}

TEST(FilterRun, AnEmptyRasterStreamIsAnEmptyJob) {
  ScratchDir dir;
  // No bytes at all, on standard input and as a file.
  filtertest::WriteFile(dir.File("empty.ras"), "");
  FilterCall call;
  call.args = JobArgs("");
  call.stdinPath = dir.File("empty.ras");
  FilterResult r = RunFilter(dir, call);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  // A stream with no page, as libcups writes it.
  r = RunOn(dir, {});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("DEBUG: main::page = 0 ---------->"), std::string::npos);
  EXPECT_EQ(Count(r.err, "main::PJL_WriteCloseJobCmd"), 0u);
}

TEST(FilterRun, WalksEveryPageOfMixedSizesAndDepthsInOrder) {
  ScratchDir dir;
  // Grey on the line-art path: white-based grey, asking for it.
  testraster::Page lineArtGrey = SamplePage(33, 97, 8);
  lineArtGrey.header.cupsColorSpace = CUPS_CSPACE_SW;
  lineArtGrey.header.cupsInteger[6] = 1;
  for (uint8_t &sample : lineArtGrey.pixels) sample = static_cast<uint8_t>(255 - sample);
  std::vector<testraster::Page> pages = {
      SamplePage(300, 200, 24), SamplePage(100, 50, 8), SamplePage(64, 64, 24, true), lineArtGrey,
      SamplePage(1000, 31, 24), SamplePage(7, 300, 8),
  };
  // Read from standard input, as in a CUPS filter chain.
  std::string path = dir.File("job.ras");
  ASSERT_TRUE(testraster::WriteRasterFile(path, pages));
  FilterCall call;
  call.args = JobArgs("");
  call.stdinPath = path;
  FilterResult r = RunFilter(dir, call);
  EXPECT_EQ(r.status, 0) << r.err;
  size_t last = 0;
  for (size_t n = 0; n < pages.size(); ++n) {
    std::string start = "DEBUG: main::start page " + std::to_string(n) + " / index ";
    size_t at = r.err.find(start);
    ASSERT_NE(at, std::string::npos) << start;
    EXPECT_GT(at, last);
    last = at;
  }
  EXPECT_EQ(Count(r.err, "DEBUG: GetCUPSPageData Out"), pages.size());
  EXPECT_NE(r.err.find("DEBUG: main::page = 6 ---------->"), std::string::npos);
  EXPECT_EQ(Count(r.err, "DEBUG: main::PJL_WriteCloseJobCmd ---------->"), 1u);
  EXPECT_EQ(Count(r.err, "ERROR:"), 0u);
  EXPECT_EQ(LoggedCountBytes(r.err), static_cast<long>(r.out.size()));
  // Every log line is a CUPS debug line, but for a progress line as each page is
  // taken and a page line as each is sent.
  size_t start = 0, lines = 0;
  std::string status;
  for (size_t nl = r.err.find('\n'); nl != std::string::npos; nl = r.err.find('\n', start)) {
    std::string line = r.err.substr(start, nl - start);
    start = nl + 1;
    ++lines;
    if (line.rfind("INFO: ", 0) == 0 || line.rfind("PAGE: ", 0) == 0) {
      status += line + "\n";
      continue;
    }
    EXPECT_TRUE(line.rfind("DEBUG: ", 0) == 0 && line.size() >= 12 &&
                line.compare(line.size() - 12, 12, " ---------->") == 0)
        << line;
  }
  EXPECT_GT(lines, 100u);
  std::string progress, sent;
  for (size_t n = 1; n <= pages.size(); ++n) {
    progress += "INFO: Printing page " + std::to_string(n) + "\n";
    sent += "PAGE: " + std::to_string(n) + " 1\n";
  }
  // Progress lines come in page order, page lines too; the two interleave.
  std::string infos, pageLines;
  for (size_t at = 0, nl; (nl = status.find('\n', at)) != std::string::npos; at = nl + 1)
    (status.compare(at, 5, "INFO:") == 0 ? infos : pageLines) += status.substr(at, nl + 1 - at);
  EXPECT_EQ(infos, progress);
  EXPECT_EQ(pageLines, sent);
}

// Headers that libcups's reader passes but this printer's conversion cannot read.
struct HostileHeader {
  const char *what;
  void (*change)(cups_page_header2_t &);
  const char *named;
};

// Which field a header is refused for is the header check's business, tested
// field by field with the check itself; here one header of each kind (line
// geometry, a page too large once in two colours) goes through the page loop.
const HostileHeader kHostile[] = {
    {"lines shorter than the pixels",
     [](cups_page_header2_t &h) { h.cupsBytesPerLine = h.cupsWidth * 3 - 3; },
     "cupsBytesPerLine 189 "},
    {"too tall in two colours",
     [](cups_page_header2_t &h) {
       h.cupsHeight = 40000;
       h.cupsInteger[4] = 1;
     },
     "cupsHeight 40000 "},
};

testraster::Page HostilePage(const HostileHeader &c) {
  testraster::Page p;
  p.header = testraster::MakeHeader(64, 8, 24);
  c.change(p.header);
  // Only the header is written: the filter must not read further.
  return p;
}

TEST(FilterPageHeaders, AHostileFirstPageEndsTheJobBeforeAnythingIsWritten) {
  ScratchDir dir;
  for (const HostileHeader &c : kHostile) {
    FilterResult r = RunOn(dir, {HostilePage(c), SamplePage(64, 8, 24)});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    std::string error = "ERROR: Page 1 has an invalid raster header: ";
    size_t at = r.err.find(error);
    ASSERT_NE(at, std::string::npos) << c.what << "\n" << r.err;
    EXPECT_EQ(r.err.compare(at + error.size(), strlen(c.named), c.named), 0)
        << c.what << ": " << r.err.substr(at, 160);
    EXPECT_EQ(Count(r.err, "PAGE:"), 0u) << c.what;
  }
}

TEST(FilterPageHeaders, AHostileLaterPageEndsTheJobAfterThePagesBeforeIt) {
  ScratchDir dir;
  for (const HostileHeader &c : kHostile) {
    FilterResult r = RunOn(dir, {SamplePage(64, 8, 24), HostilePage(c), SamplePage(64, 8, 24)});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_NE(r.err.find("ERROR: Page 2 has an invalid raster header: " + std::string(c.named)),
              std::string::npos)
        << c.what;
    // The page before it is printed, and the job is closed.
    std::span<const uint8_t> job(reinterpret_cast<const uint8_t *>(r.out.data()), r.out.size());
    inspect::ParsedJob parsed = inspect::ParseJob(job);
    EXPECT_EQ(parsed.pages.size(), 1u) << c.what;
    EXPECT_TRUE(parsed.has_trailer) << c.what;
    EXPECT_EQ(LoggedCountBytes(r.err), static_cast<long>(r.out.size())) << c.what;
  }
}

TEST(FilterRun, AStreamEndingInsideAPageFinishesTheJobAndFails) {
  ScratchDir dir;
  std::string path = dir.File("job.ras");
  ASSERT_TRUE(testraster::WriteRasterFile(
      path, {SamplePage(64, 40, 24), SamplePage(64, 40, 24), SamplePage(64, 40, 24)}));
  std::string bytes = filtertest::ReadFile(path);
  // Cut inside the second page's pixels: the third page and 30.5 lines are missing.
  const size_t page = 1796 + 64 * 3 * 40;
  filtertest::WriteFile(path, bytes.substr(0, bytes.size() - page - 64 * 3 * 61 / 2));
  FilterCall call;
  call.args = JobArgs(path);
  FilterResult r = RunFilter(dir, call);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Page 2 is incomplete: the raster data ends after 9 of its 40 "
                       "lines\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Count(r.err, "GetCUPSPageData Out"), 2u);
  EXPECT_NE(r.err.find("DEBUG: main::page = 2 ---------->"), std::string::npos);
  EXPECT_EQ(Count(r.err, "main::PJL_WriteCloseJobCmd"), 1u);
}

// A PPD of this project's own, with job-control text.
std::string WritePpd(const ScratchDir &dir, const char *jclBegin) {
  std::string ppd =
      "*PPD-Adobe: \"4.3\"\n"
      "*FormatVersion: \"4.3\"\n"
      "*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"ZELVART.PPD\"\n"
      "*Manufacturer: \"Test\"\n"
      "*Product: \"(Zelvar Test)\"\n"
      "*ModelName: \"Zelvar Test\"\n"
      "*ShortNickName: \"Zelvar Test\"\n"
      "*NickName: \"Zelvar Test\"\n"
      "*PSVersion: \"(3010.000) 0\"\n"
      "*LanguageLevel: \"3\"\n"
      "*ColorDevice: False\n"
      "*DefaultColorSpace: Gray\n"
      "*FileSystem: False\n"
      "*Throughput: \"20\"\n"
      "*LandscapeOrientation: Plus90\n"
      "*TTRasterizer: Type42\n"
      "*cupsFilter: \"application/vnd.cups-raster 0 rastertoZelvar\"\n";
  if (jclBegin) ppd += std::string("*JCLBegin: \"") + jclBegin + "\"\n";
  ppd +=
      "*OpenUI *PageSize/Media Size: PickOne\n"
      "*OrderDependency: 10 AnySetup *PageSize\n"
      "*DefaultPageSize: A4\n"
      "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
      "*CloseUI: *PageSize\n"
      "*DefaultPageRegion: A4\n"
      "*DefaultImageableArea: A4\n"
      "*ImageableArea A4: \"12 12 583 830\"\n"
      "*DefaultPaperDimension: A4\n"
      "*PaperDimension A4: \"595 842\"\n";
  std::string path = dir.File("zelvar.ppd");
  filtertest::WriteFile(path, ppd);
  return path;
}

TEST(FilterPpd, WritesTheJclBeginTextAfterAnEscapeByteAndCountsIt) {
  ScratchDir dir;
  std::string ppd = WritePpd(dir, "@PJL SET ZELVARTEST=1<0D0A>");
  FilterResult r = RunOn(dir, {SamplePage(64, 8, 24)}, "", {"PPD=" + ppd});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "\x1b@PJL SET ZELVARTEST=1\r\n"), 1u);
  EXPECT_NE(r.err.find("DEBUG: jcl_begin = @PJL SET ZELVARTEST=1\\r\\n, len = 23 "),
            std::string::npos);
  EXPECT_EQ(LoggedCountBytes(r.err), static_cast<long>(r.out.size()));
  // A job without pages writes nothing, not even the JCL text.
  r = RunOn(dir, {}, "", {"PPD=" + ppd});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(FilterPpd, AJobGoesOnWithoutJclTextWhenThePpdIsMissingOrUnreadable) {
  ScratchDir dir;
  FilterResult r = RunOn(dir, {SamplePage(64, 8, 24)});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("DEBUG: main::PPD is not set, the job has no JCL text "), std::string::npos);
  r = RunOn(dir, {SamplePage(64, 8, 24)}, "", {"PPD=" + dir.File("missing.ppd")});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("DEBUG: main::ppdOpenFile(" + dir.File("missing.ppd") + ") failed: "),
            std::string::npos);
  EXPECT_EQ(Count(r.err, "jcl_begin"), 0u);
  std::string noJcl = WritePpd(dir, nullptr);
  r = RunOn(dir, {SamplePage(64, 8, 24)}, "", {"PPD=" + noJcl});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Count(r.err, "jcl_begin"), 0u);
  EXPECT_EQ(Count(r.err, "ppdOpenFile"), 0u);
}

// Collation as the queue's PPD has it marked: libcups maps every form a client
// sends onto its Collate choice, which also carries the queue's default.
TEST(FilterPpd, CollatesAsThePpdsMarkedCollateChoiceSays) {
  ScratchDir dir;
  const std::string shipped = std::string(ZELVAR_SOURCE_DIR) + "/ppd/zelvar.ppd";
  // The queue's default changed to collated copies (lpadmin -o Collate=True).
  std::string ppdText = filtertest::ReadFile(shipped);
  const std::string defaultLine = "*DefaultCollate: False";
  ASSERT_NE(ppdText.find(defaultLine), std::string::npos);
  ppdText.replace(ppdText.find(defaultLine), defaultLine.size(), "*DefaultCollate: True");
  const std::string collatingQueue = dir.File("collating.ppd");
  filtertest::WriteFile(collatingQueue, ppdText);
  struct Case {
    std::string ppd, options;
    bool collated;
  } cases[] = {
      {shipped, "multiple-document-handling=separate-documents-collated-copies", true},
      {shipped, "multiple-document-handling=separate-documents-uncollated-copies", false},
      {shipped, "collate", true},
      {shipped, "", false},
      {collatingQueue, "", true},
      {collatingQueue, "multiple-document-handling=separate-documents-uncollated-copies", false},
      {collatingQueue, "Collate=False", false},
  };
  testraster::Page p = SamplePage(64, 64, 24);
  p.header.NumCopies = 2;
  for (const Case &c : cases) {
    FilterResult r = RunOn(dir, {p}, c.options, {"PPD=" + c.ppd, "TMPDIR=" + dir.path()});
    const std::string what = c.ppd + " " + c.options;
    EXPECT_EQ(r.status, 0) << what;
    inspect::ParsedJob job =
        inspect::ParseJob({reinterpret_cast<const uint8_t *>(r.out.data()), r.out.size()});
    ASSERT_TRUE(job.ok) << what << ": " << job.error;
    // Collated: the filter sends the page once per copy and the printer prints
    // each record once; else the printer makes the copies.
    EXPECT_EQ(job.pages.size(), c.collated ? 2u : 1u) << what;
    const std::string *copies = inspect::FindSetting(job, "COPIES");
    ASSERT_NE(copies, nullptr) << what;
    EXPECT_EQ(*copies, c.collated ? "1" : "2") << what;
  }
}

TEST(FilterOutput, AFailedWriteToThePrinterFailsTheJob) {
  ScratchDir dir;
  std::string ppd = WritePpd(dir, "@PJL SET ZELVARTEST=1<0D0A>");
  std::string path = dir.File("job.ras");
  ASSERT_TRUE(testraster::WriteRasterFile(path, {SamplePage(64, 8, 24), SamplePage(64, 8, 24)}));
  FilterCall call;
  call.args = JobArgs(path);
  call.environment = {"PPD=" + ppd};
  call.stdoutPath = "/dev/full";
  FilterResult r = RunFilter(dir, call);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Unable to write print data: No space left on device\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Count(r.err, "main::start page 1 "), 0u);
  EXPECT_EQ(Count(r.err, "main::PJL_WriteCloseJobCmd"), 0u);
}

// With /tmp/VelPrinter present, every log line also goes to its log file.  Skipped
// where that directory is already in use, so nobody's log is touched.
TEST(FilterLog, WritesTimeStampedRecordsWhileTheSwitchDirectoryExists) {
  const char *logDir = "/tmp/VelPrinter";
  if (access(logDir, F_OK) == 0) GTEST_SKIP() << logDir << " exists already";
  ASSERT_EQ(mkdir(logDir, 0755), 0);
  ScratchDir dir;
  FilterResult r = RunOn(dir, {SamplePage(64, 8, 24)});
  std::string log = filtertest::ReadFile(std::string(logDir) + "/VelPrinterLog.log");
  for (int attempt = 0; attempt < 5; ++attempt) {
    unlink("/tmp/VelPrinter/VelPrinterLog.log");
    if (rmdir(logDir) == 0) break;
  }
  EXPECT_EQ(r.status, 0);
  const std::string banner = "] Velquin's Filter 20180830\n";
  size_t at = log.find(banner);
  ASSERT_NE(at, std::string::npos) << log.substr(0, 200);
  ASSERT_GE(at, 20u);
  EXPECT_TRUE(filtertest::TimeStampAt(log, at - 20)) << log.substr(0, 200);
  EXPECT_NE(log.find("] main::start page 0 / index 0!\n"), std::string::npos);
  EXPECT_NE(log.find("] main::count_bytes = "), std::string::npos);
}

// The lines of standard error that start with `kind`, in order.
std::string LinesOf(const std::string &err, const std::string &kind) {
  std::string lines;
  for (size_t at = err.find(kind); at != std::string::npos; at = err.find(kind, at + 1))
    if (at == 0 || err[at - 1] == '\n') lines += err.substr(at, err.find('\n', at) - at + 1);
  return lines;
}

// Two different jobs back to back in one process with a failed one between them,
// and nothing reset by hand: each prints as the filter binary prints it alone
// (the same page records, PAGE: and ERROR: lines), and each counts only its bytes.
TEST(FilterMainInProcess, RunsJobAfterJobAsTheBinaryPrintsEachAlone) {
  ScratchDir dir;
  // Two-sided collated copies: spooled, a blank back page, replayed.
  std::vector<testraster::Page> spooled = {SamplePage(96, 40, 24), SamplePage(50, 20, 8),
                                           SamplePage(64, 64, 24, true)};
  for (testraster::Page &p : spooled) {
    p.header.Duplex = CUPS_TRUE;
    p.header.NumCopies = 2;
  }
  // One-sided, the printer's copies.
  std::vector<testraster::Page> direct = {SamplePage(200, 100, 8), SamplePage(120, 80, 24)};
  for (testraster::Page &p : direct) p.header.NumCopies = 3;
  const std::string spooledPath = dir.File("spooled.ras"), directPath = dir.File("direct.ras");
  ASSERT_TRUE(testraster::WriteRasterFile(spooledPath, spooled));
  ASSERT_TRUE(testraster::WriteRasterFile(directPath, direct));
  const std::string directBytes = filtertest::ReadFile(directPath);

  auto first =
      fuzzentry::RunFilterInProcess(JobArgs("", "Collate=true"), filtertest::ReadFile(spooledPath));
  auto cut =
      fuzzentry::RunFilterInProcess(JobArgs(""), directBytes.substr(0, directBytes.size() - 100));
  auto second = fuzzentry::RunFilterInProcess(JobArgs(""), directBytes);
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("ERROR: Page 2 is incomplete"), std::string::npos) << cut.err;

  struct Case {
    const fuzzentry::FilterRunResult *run;
    std::string path, options;
    size_t pages;
  };
  for (const Case &c :
       {Case{&first, spooledPath, "Collate=true", 8}, Case{&second, directPath, "", 2}}) {
    FilterCall call;
    call.args = JobArgs(c.path, c.options);
    FilterResult alone = RunFilter(dir, call);
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(c.run->status, 0) << c.run->err;
    auto parse = [](const std::string &out) {
      return inspect::ParseJob(
          std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(out.data()), out.size()));
    };
    inspect::ParsedJob inProcess = parse(c.run->out), separate = parse(alone.out);
    ASSERT_TRUE(inProcess.ok) << c.path << ": " << inProcess.error;
    ASSERT_TRUE(separate.ok) << c.path << ": " << separate.error;
    ASSERT_EQ(inProcess.pages.size(), c.pages) << c.path;
    ASSERT_EQ(separate.pages.size(), c.pages) << c.path;
    // The header block carries the time, so the records are compared from the
    // first to the trailer.
    const size_t from = inProcess.pages.front().offset, fromAlone = separate.pages.front().offset;
    EXPECT_EQ(c.run->out.substr(from, inProcess.trailer_offset - from),
              alone.out.substr(fromAlone, separate.trailer_offset - fromAlone))
        << c.path << ": the records differ";
    for (const char *kind : {"PAGE: ", "ERROR: "})
      EXPECT_EQ(LinesOf(c.run->err, kind), LinesOf(alone.err, kind)) << c.path;
    EXPECT_EQ(LoggedCountBytes(c.run->err), static_cast<long>(c.run->out.size())) << c.path;
  }
}

}  // namespace
