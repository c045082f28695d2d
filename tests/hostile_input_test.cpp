// The filter binary against hostile input: page header fields at their extremes,
// streams cut at every section, compressed streams, hostile option texts, titles
// and user names, and a missing or bogus PPD.  Whatever the input, the filter
// must end within a bounded time, never by a signal, and either write a
// well-formed job with exit status 0 or an "ERROR:" line with exit status 1.
// Each test prints every case it tried and what the filter did.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "filter_process.h"
#include "job_check.h"
#include "job_parser.h"
#include "raster_pages.h"
#include "test_raster.h"

namespace {

using filtertest::FilterCall;
using filtertest::FilterResult;
using filtertest::ScratchDir;

// Offsets of the fields patched below in a raster stream as libcups writes it:
// the 4-byte sync word, then the cups_page_header2_t exactly as in memory (1796
// bytes), whose 32-bit fields are in this machine's byte order for version 3 and
// version 2 (compressed) streams, and big-endian in PWG streams.  The pixel
// data, compressed or not, follows the header.
constexpr size_t kSyncBytes = 4;
static_assert(sizeof(cups_page_header2_t) == 1796);
static_assert(offsetof(cups_page_header2_t, MediaPosition) == 324);
static_assert(offsetof(cups_page_header2_t, NumCopies) == 340);
static_assert(offsetof(cups_page_header2_t, cupsWidth) == 372);
static_assert(offsetof(cups_page_header2_t, cupsHeight) == 376);
static_assert(offsetof(cups_page_header2_t, cupsMediaType) == 380);
static_assert(offsetof(cups_page_header2_t, cupsBitsPerPixel) == 388);
static_assert(offsetof(cups_page_header2_t, cupsBytesPerLine) == 392);
static_assert(offsetof(cups_page_header2_t, cupsColorSpace) == 400);
static_assert(offsetof(cups_page_header2_t, cupsCompression) == 404);
static_assert(offsetof(cups_page_header2_t, cupsInteger) == 452);

struct HeaderField {
  const char *name;
  size_t offset;  // in the header
};
const HeaderField kWidth = {"cupsWidth", offsetof(cups_page_header2_t, cupsWidth)};
const HeaderField kHeight = {"cupsHeight", offsetof(cups_page_header2_t, cupsHeight)};
const HeaderField kDepth = {"cupsBitsPerPixel", offsetof(cups_page_header2_t, cupsBitsPerPixel)};
const HeaderField kBytesPerLine = {"cupsBytesPerLine",
                                   offsetof(cups_page_header2_t, cupsBytesPerLine)};
const HeaderField kDensity = {"cupsCompression (density)",
                              offsetof(cups_page_header2_t, cupsCompression)};
const HeaderField kMediaType = {"cupsMediaType", offsetof(cups_page_header2_t, cupsMediaType)};
const HeaderField kTray = {"MediaPosition (tray)", offsetof(cups_page_header2_t, MediaPosition)};
const HeaderField kCopies = {"NumCopies", offsetof(cups_page_header2_t, NumCopies)};
const HeaderField kColourMode = {"cupsInteger[4] (colour mode)",
                                 offsetof(cups_page_header2_t, cupsInteger) + 4 * 4};
const HeaderField kColourLevel = {"cupsInteger[5] (colour level)",
                                  offsetof(cups_page_header2_t, cupsInteger) + 5 * 4};
const HeaderField kLineArt = {"cupsInteger[6] (line art)",
                              offsetof(cups_page_header2_t, cupsInteger) + 6 * 4};
const HeaderField kColourSpace = {"cupsColorSpace", offsetof(cups_page_header2_t, cupsColorSpace)};

const uint32_t kExtremes[] = {0, 1, 65504, 65505, 65536, 0x80000000u, 0xFFFFFFFFu};

// Sets the field of the stream's first page header, in the stream's byte order:
// a sync word that reads "RaS..." in memory order is this machine's own.
void Patch(std::string &stream, const HeaderField &f, uint32_t value) {
  uint32_t sync;
  memcpy(&sync, stream.data(), sizeof sync);
  const bool native = (sync >> 8) == (CUPS_RASTER_SYNC >> 8);
  if (!native) value = __builtin_bswap32(value);
  memcpy(&stream[kSyncBytes + f.offset], &value, sizeof value);
}

enum class Expect {
  kJob,     // exit 0, a well-formed job of `pages` pages
  kEmpty,   // exit 0, nothing written: an input without pages
  kError,   // exit 1 with an ERROR: line
  kEither,  // a job or an error, both sound for this input
};

struct Case {
  std::string what;
  std::string raster;  // the input stream
  Expect expect = Expect::kEither;
  size_t pages = 0;               // for kJob: page records in the job (0: not checked)
  std::vector<std::string> args;  // empty: the usual six arguments
  std::vector<std::string> env;   // e.g. PPD=...
  std::function<std::string(const inspect::ParsedJob &)> extra;  // more checks of a job
};

Case MakeCase(std::string what, std::string raster, Expect expect, size_t pages = 0) {
  Case c;
  c.what = std::move(what);
  c.raster = std::move(raster);
  c.expect = expect;
  c.pages = pages;
  return c;
}

const char *ExpectName(Expect e) {
  switch (e) {
    case Expect::kJob:
      return "job";
    case Expect::kEmpty:
      return "no output";
    case Expect::kError:
      return "error";
    case Expect::kEither:
      return "job or error";
  }
  return "?";
}

std::string FirstErrorLine(const std::string &err) {
  size_t at = err.rfind("ERROR: ", 0) == 0 ? 0 : err.find("\nERROR: ");
  if (at == std::string::npos) return "";
  if (at > 0) ++at;
  size_t end = err.find('\n', at);
  return err.substr(at, std::min<size_t>(end - at, 120));
}

// Runs every case, prints the table and fails each case that broke a promise.
void RunCases(const char *table, const std::vector<Case> &cases) {
  ScratchDir dir;
  printf("[%s] %zu cases\n", table, cases.size());
  for (const Case &c : cases) {
    const std::string input = dir.File("input.ras");
    filtertest::WriteFile(input, c.raster);
    FilterCall bc;
    bc.args = c.args.empty() ? filtertest::JobArgs(input) : c.args;
    if (!c.args.empty()) bc.args.push_back(input);
    bc.environment = c.env;
    bc.timeoutSeconds = 120;
    FilterResult r = filtertest::RunFilter(dir, bc);

    std::string fault;
    inspect::ParsedJob job;
    if (r.timedOut || r.signal) {
      fault = filtertest::HowItEnded(r);
    } else {
      fuzzentry::FilterRunResult fr{r.status, r.out, r.err};
      fault = fuzzentry::CheckFilterRun(fr, &job);
    }
    const bool gotJob = fault.empty() && r.status == 0 && !r.out.empty();
    const bool gotEmpty = fault.empty() && r.status == 0 && r.out.empty();
    const bool gotError = fault.empty() && r.status == 1;
    if (fault.empty()) {
      switch (c.expect) {
        case Expect::kJob:
          if (!gotJob)
            fault = "expected a job";
          else if (c.pages && job.pages.size() != c.pages)
            fault = "expected " + std::to_string(c.pages) + " pages, got " +
                    std::to_string(job.pages.size());
          break;
        case Expect::kEmpty:
          if (!gotEmpty) fault = "expected no output and exit 0";
          break;
        case Expect::kError:
          if (!gotError) fault = "expected an ERROR: line and exit 1";
          break;
        case Expect::kEither:
          if (gotEmpty && fuzzentry::CountRasterPages(c.raster).whole > 0)
            fault = "pages lost without an error";
          break;
      }
      if (fault.empty() && gotJob && c.extra) fault = c.extra(job);
    }
    std::string did = filtertest::HowItEnded(r);
    if (gotJob) did += ", job of " + std::to_string(job.pages.size()) + " pages";
    if (gotEmpty) did += ", no output";
    std::string error = FirstErrorLine(r.err);
    printf("[%s] %-62s expected %-12s | %s%s%s%s\n", table, c.what.c_str(), ExpectName(c.expect),
           did.c_str(), error.empty() ? "" : " | ", error.c_str(),
           fault.empty() ? "" : ("  FAULT: " + fault).c_str());
    EXPECT_EQ(fault, "") << table << ": " << c.what << " (" << did << ")";
  }
  fflush(stdout);
}

testraster::Page InkedPage(unsigned width, unsigned height, unsigned bits) {
  testraster::Page p = testraster::WhitePage(testraster::MakeHeader(width, height, bits, 300));
  testraster::InkRect(p, width / 4, height / 4, width / 2, height / 2, 255);
  return p;
}

std::string Num(uint32_t v) {
  char buf[16];
  snprintf(buf, sizeof buf, "%u", v);
  return buf;
}

TEST(HostileInput, HeaderFieldsAtTheirExtremes) {
  const testraster::Page base = InkedPage(64, 16, 24);
  const std::string stream = testraster::RasterBytes({base});
  std::vector<Case> cases;

  // One field changed, the rest of the stream as written.  Fields that the
  // pixels' layout hangs on then contradict the others or the data that
  // follows, and the page cannot be read.
  for (const HeaderField *f : {&kWidth, &kDepth, &kBytesPerLine})
    for (uint32_t v : kExtremes) {
      std::string s = stream;
      Patch(s, *f, v);
      cases.push_back(MakeCase(std::string(f->name) + " " + Num(v), s, Expect::kError));
    }
  // Printer settings: any value gives a job.
  for (const HeaderField *f :
       {&kDensity, &kMediaType, &kTray, &kCopies, &kColourMode, &kColourLevel})
    for (uint32_t v : kExtremes) {
      std::string s = stream;
      Patch(s, *f, v);
      cases.push_back(MakeCase(std::string(f->name) + " " + Num(v), s, Expect::kJob, 1));
    }
  // Line art on an 8-bit page: any value gives a job.
  const std::string grey = testraster::RasterBytes({InkedPage(64, 16, 8)});
  for (uint32_t v : kExtremes) {
    std::string s = grey;
    Patch(s, kLineArt, v);
    cases.push_back(MakeCase(std::string(kLineArt.name) + " " + Num(v), s, Expect::kJob, 1));
  }
  // The colour space decides how samples are read: a 24-bit page must be RGB or
  // sRGB, an 8-bit one W, SW or K.
  for (uint32_t v : {0u, 1u, 3u, 6u, 18u, 19u, 0x80000000u, 0xFFFFFFFFu}) {
    std::string s24 = stream, s8 = grey;
    Patch(s24, kColourSpace, v);
    Patch(s8, kColourSpace, v);
    const bool rgb = v == 1 || v == 19, greyOk = v == 0 || v == 3 || v == 18;
    cases.push_back(MakeCase("24-bit cupsColorSpace " + Num(v), s24,
                             rgb ? Expect::kJob : Expect::kError, rgb ? 1 : 0));
    cases.push_back(MakeCase("8-bit cupsColorSpace " + Num(v), s8,
                             greyOk ? Expect::kJob : Expect::kError, greyOk ? 1 : 0));
  }
  // Height, with as many lines of data as it asks for (up to 16 MB): the filter
  // reads pages up to 65504 rows.
  for (uint32_t v : kExtremes) {
    std::string s = stream.substr(0, kSyncBytes + sizeof(cups_page_header2_t));
    Patch(s, kHeight, v);
    const uint64_t bytes = uint64_t{base.header.cupsBytesPerLine} * v;
    const bool fed = bytes <= (16u << 20);
    s += fed ? std::string(bytes, '\x80') : stream.substr(s.size());
    Expect e = v == 0 || v > 65504 ? Expect::kError : Expect::kJob;
    cases.push_back(
        MakeCase("cupsHeight " + Num(v) + (fed ? ", all lines" : ", 16 lines"), s, e, 1));
  }
  // Width with the line length to match, and the data.
  for (uint32_t v : {1u, 31u, 33u, 65504u, 65505u}) {
    testraster::Page p = InkedPage(v, 4, 24);
    cases.push_back(MakeCase("cupsWidth " + Num(v) + ", lines to match",
                             testraster::RasterBytes({p}),
                             v <= 65504 ? Expect::kJob : Expect::kError, 1));
  }
  // Whole-byte depths the writer accepts, one to 15 colours of 8 or 16 bits, other
  // than 8-bit grey and 24-bit RGB: refused with the page header.
  struct Depth {
    const char *what;
    cups_cspace_t space;
    unsigned bitsPerColor, colours;
  };
  for (const Depth &d :
       {Depth{"16-bit grey", CUPS_CSPACE_K, 16, 1}, Depth{"32-bit CMYK", CUPS_CSPACE_CMYK, 8, 4},
        Depth{"48-bit RGB", CUPS_CSPACE_RGB, 16, 3},
        Depth{"240-bit 15 colours", CUPS_CSPACE_DEVICEF, 16, 15}}) {
    testraster::Page p;
    p.header = testraster::MakeHeader(20, 6, 8, 300);
    p.header.cupsColorSpace = d.space;
    p.header.cupsBitsPerColor = d.bitsPerColor;
    p.header.cupsBitsPerPixel = d.bitsPerColor * d.colours;
    p.header.cupsBytesPerLine = 20 * p.header.cupsBitsPerPixel / 8;
    p.pixels.assign(p.header.cupsBytesPerLine * 6, '\x40');
    cases.push_back(MakeCase(std::string("cupsBitsPerPixel ") + d.what,
                             testraster::RasterBytes({p}), Expect::kError));
  }
  // Two colours on other depths than 24 bits cannot be split.
  {
    testraster::Page p = InkedPage(40, 8, 8);
    p.header.cupsInteger[4] = 1;
    cases.push_back(MakeCase("cupsInteger[4] 1 on an 8-bit page", testraster::RasterBytes({p}),
                             Expect::kError));
  }
  RunCases("header", cases);
}

TEST(HostileInput, StreamsCutAtEverySection) {
  const std::vector<testraster::Page> pages = {InkedPage(40, 30, 24), InkedPage(33, 20, 8)};
  struct Mode {
    const char *name;
    cups_mode_t mode;
  };
  std::vector<Case> cases;
  cases.push_back(MakeCase("no byte at all", "", Expect::kEmpty));
  for (const Mode &m :
       {Mode{"v3", CUPS_RASTER_WRITE}, Mode{"compressed", CUPS_RASTER_WRITE_COMPRESSED},
        Mode{"PWG", CUPS_RASTER_WRITE_PWG}}) {
    const std::string whole = testraster::RasterBytes(pages, m.mode);
    const size_t first = testraster::RasterBytes({pages[0]}, m.mode).size();
    const size_t header = kSyncBytes + sizeof(cups_page_header2_t);
    const size_t data1 = first - header;  // bytes of page 1's (compressed) lines
    const size_t data2 = whole.size() - first - sizeof(cups_page_header2_t);
    struct Cut {
      const char *what;
      size_t at;
      Expect expect;
      size_t pages;
    } cuts[] = {
        {"in the sync word", 2, Expect::kError, 0},
        {"after the sync word (a stream of no page)", kSyncBytes, Expect::kEmpty, 0},
        {"in the first header", kSyncBytes + 100, Expect::kError, 0},
        {"after the first header, before any line", header, Expect::kError, 0},
        {"7 bytes into the first page's lines", header + 7, Expect::kError, 0},
        {"in the middle of the first page", header + data1 / 2, Expect::kError, 0},
        {"one byte before the first page ends", first - 1, Expect::kError, 0},
        {"after the first page", first, Expect::kJob, 1},
        {"in the second header", first + 10, Expect::kError, 0},
        {"in the middle of the second page", whole.size() - data2 / 2, Expect::kError, 0},
        {"one byte before the end", whole.size() - 1, Expect::kError, 0},
        {"not cut", whole.size(), Expect::kJob, 2},
    };
    for (const Cut &c : cuts)
      cases.push_back(MakeCase(std::string(m.name) + ": cut " + c.what, whole.substr(0, c.at),
                               c.expect, c.pages));
    cases.push_back(MakeCase(std::string(m.name) + ": 100 bytes of junk after the last page",
                             whole + std::string(100, 'j'), Expect::kError));
  }
  // Not raster data at all.
  cases.push_back(MakeCase("a PDF file", "%PDF-1.7\n1 0 obj << /Type /Catalog >> endobj\n%%EOF\n",
                           Expect::kError));
  cases.push_back(MakeCase("4 KB of zero bytes", std::string(4096, '\0'), Expect::kError));
  RunCases("cut", cases);
}

TEST(HostileInput, CompressedStreamsWithHostileHeaders) {
  const std::vector<testraster::Page> pages = {InkedPage(64, 40, 24), InkedPage(50, 30, 8),
                                               InkedPage(32, 32, 24)};
  std::vector<Case> cases;
  for (cups_mode_t mode : {CUPS_RASTER_WRITE_COMPRESSED, CUPS_RASTER_WRITE_PWG}) {
    const char *name = mode == CUPS_RASTER_WRITE_PWG ? "PWG" : "compressed";
    const std::string whole = testraster::RasterBytes(pages, mode);
    cases.push_back(MakeCase(std::string(name) + ": three pages", whole, Expect::kJob, 3));
    for (uint32_t v : {0u, 65505u, 0xFFFFFFFFu}) {
      std::string s = whole;
      Patch(s, kHeight, v);
      cases.push_back(MakeCase(std::string(name) + ": cupsHeight " + Num(v), s, Expect::kError));
      s = whole;
      Patch(s, kBytesPerLine, v);
      cases.push_back(
          MakeCase(std::string(name) + ": cupsBytesPerLine " + Num(v), s, Expect::kError));
      s = whole;
      Patch(s, kMediaType, v);
      cases.push_back(
          MakeCase(std::string(name) + ": cupsMediaType " + Num(v), s, Expect::kJob, 3));
    }
  }
  RunCases("compressed", cases);
}

// Six arguments with the given texts in place of the usual ones.
std::vector<std::string> Args(const std::string &queue, const std::string &user,
                              const std::string &title, const std::string &copies,
                              const std::string &options) {
  return {queue, "42", user, title, copies, options};
}

std::string HeaderBlockIsTheFixedLines(const inspect::ParsedJob &job) {
  // The parser checks each line against its fixed form; here also that nothing
  // came of the texts' line breaks.
  if (job.header_lines.size() != 30)
    return std::to_string(job.header_lines.size()) + " header lines";
  const std::string *duplex = inspect::FindSetting(job, "DUPLEX");
  if (!duplex || *duplex != "OFF") return "DUPLEX is not OFF";
  for (const inspect::HeaderLine &l : job.header_lines)
    if (l.text.find('\r') != std::string::npos || l.text.find('\n') != std::string::npos)
      return "a line break inside a header line";
  return "";
}

TEST(HostileInput, OptionTextsTitlesAndUserNames) {
  const std::string raster = testraster::RasterBytes({InkedPage(40, 24, 24), InkedPage(40, 24, 8)});
  const std::string longValue(10000, 'v');
  const std::string pjl = "\r\n@PJL SET DUPLEX=ON";
  const std::string notUtf8 = "\xff\xfe\x80\xc3(\xe2\x82 \xf0\x28\x8c\xbc";
  struct Texts {
    const char *what;
    std::vector<std::string> args;
  } texts[] = {
      {"number-up beyond 64 bits",
       Args("zelvar", "u", "t", "1", "number-up=99999999999999999999999")},
      {"negative number-up", Args("zelvar", "u", "t", "1", "number-up=-5 Collate=true")},
      {"copies argument beyond 64 bits", Args("zelvar", "u", "t", "18446744073709551616", "")},
      {"10 000-character option value", Args("zelvar", "u", "t", "1", "Collate=" + longValue)},
      {"10 000-character option name", Args("zelvar", "u", "t", "1", longValue + "=1")},
      {"10 000 options", Args("zelvar", "u", "t", "1",
                              [] {
                                std::string s;
                                for (int i = 0; i < 10000; ++i)
                                  s += "o" + std::to_string(i) + "=" + std::to_string(i) + " ";
                                return s;
                              }())},
      {"option text not UTF-8", Args("zelvar", "u", "t", "1", notUtf8 + "=" + notUtf8)},
      {"unbalanced quotes and braces", Args("zelvar", "u", "t", "1", "a='b c=\"d e={f {g")},
      {"10 000-character title", Args("zelvar", "u", longValue, "1", "")},
      {"10 000-character user name", Args("zelvar", longValue, "t", "1", "")},
      {"10 000-character queue name", Args(longValue, "u", "t", "1", "")},
      {"10 000-character copies argument", Args("zelvar", "u", "t", longValue, "")},
      {"title with CR LF @PJL SET DUPLEX=ON", Args("zelvar", "u", pjl, "1", "")},
      {"user name with CR LF @PJL SET DUPLEX=ON", Args("zelvar", pjl, "t", "1", "")},
      {"queue name with CR LF @PJL SET DUPLEX=ON", Args(pjl, "u", "t", "1", "")},
      {"copies argument with CR LF @PJL", Args("zelvar", "u", "t", "1" + pjl, "")},
      {"title of escapes and a UEL", Args("zelvar", "u",
                                          "\x1b%-12345X@PJL EOJ\x1b"
                                          "E",
                                          "1", "")},
      {"title and user not UTF-8", Args("zelvar", notUtf8, notUtf8, "1", "")},
      {"title with CR LF ERROR: and PPD: lines",
       Args("zelvar", "u", "x\nERROR: fake\nPPD: *Duplex DuplexNoTumble\nATTR: a=b", "1", "")},
      {"empty texts", Args("", "", "", "", "")},
  };
  std::vector<Case> cases;
  for (const Texts &t : texts) {
    Case c = MakeCase(t.what, raster, Expect::kJob, 2);
    c.args = t.args;
    c.extra = HeaderBlockIsTheFixedLines;
    cases.push_back(c);
  }
  RunCases("texts", cases);
}

TEST(HostileInput, MissingOrBogusPpd) {
  ScratchDir dir;
  const std::string raster = testraster::RasterBytes({InkedPage(40, 24, 24)});
  filtertest::WriteFile(dir.File("empty.ppd"), "");
  filtertest::WriteFile(dir.File("text.ppd"), "This is not a PPD file.\n*JCLBegin: \"@PJL\"\n");
  filtertest::WriteFile(dir.File("binary.ppd"), std::string("\x7f"
                                                            "ELF\x02\x01\x01\0\0\0",
                                                            10) +
                                                    std::string(4000, '\xAA'));
  filtertest::WriteFile(dir.File("cut.ppd"), "*PPD-Adobe: \"4.3\"\n*JCLBegin: \"@PJL SET");
  struct Ppd {
    const char *what;
    std::vector<std::string> env;
    bool isPpd;  // libcups may take JCL text from it
  } ppds[] = {
      {"PPD unset", {}, false},
      {"PPD empty", {"PPD="}, false},
      {"PPD names a missing file", {"PPD=" + dir.File("missing.ppd")}, false},
      {"PPD names a directory", {"PPD=" + dir.path()}, false},
      {"PPD names an empty file", {"PPD=" + dir.File("empty.ppd")}, false},
      {"PPD names a text file", {"PPD=" + dir.File("text.ppd")}, false},
      {"PPD names a binary file", {"PPD=" + dir.File("binary.ppd")}, false},
      {"PPD cut inside its JCL entry", {"PPD=" + dir.File("cut.ppd")}, true},
      {"PPD names /dev/null", {"PPD=/dev/null"}, false},
  };
  std::vector<Case> cases;
  for (const Ppd &p : ppds) {
    Case c = MakeCase(p.what, raster, Expect::kJob, 1);
    c.env = p.env;
    if (!p.isPpd)
      c.extra = [](const inspect::ParsedJob &job) {
        return job.has_jcl ? "JCL text from a file that is no PPD" : "";
      };
    cases.push_back(c);
  }
  RunCases("ppd", cases);
}

}  // namespace
