// The PJL job framing: preamble, header block, trailer and the 512-byte rule.
#include "output/pjl_framing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "job_parser.h"
#include "output/printer_output.h"
#include "printer_job_fixture.h"

namespace {

cups_page_header2_t PlainHeader() {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = 600;
  h.NumCopies = 1;
  return h;
}

struct tm FixedTime() {
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_year = 2026 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 5;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 7;
  return t;
}

std::string Block(const cups_page_header2_t &h, const PjlJobTexts &texts, BOOL driverCollate = 0,
                  DWORD tick = 1234) {
  char out[kPjlBlockMax + 1];
  memset(out, 'Z', sizeof out);
  struct tm now = FixedTime();
  int n = PJL_BuildHeaderBlock(&h, &texts, driverCollate, &now, tick, out);
  EXPECT_GE(n, 0);
  EXPECT_LE(n, kPjlBlockMax);
  return std::string(out, static_cast<size_t>(n));
}

// The block's lines after the leading ESC %-12345X, without CR LF.
std::vector<std::string> Lines(const std::string &block) {
  std::vector<std::string> lines;
  EXPECT_EQ(block.compare(0, 9, "\x1b%-12345X"), 0);
  size_t p = 9;
  while (p < block.size()) {
    size_t e = block.find("\r\n", p);
    EXPECT_NE(e, std::string::npos);
    if (e == std::string::npos) break;
    lines.push_back(block.substr(p, e - p));
    p = e + 2;
  }
  return lines;
}

// The value of "@PJL SET name=" in the block.
std::string Setting(const std::string &block, const std::string &name) {
  for (const std::string &line : Lines(block))
    if (line.rfind("@PJL SET " + name + "=", 0) == 0) return line.substr(10 + name.size());
  return "<missing>";
}

const PjlJobTexts kTexts = {"Report.pdf", "alice", "host1", "office", "1", "Room 12"};

}  // namespace

TEST(PjlHeaderBlock, HoldsTheTableLinesInOrder) {
  std::vector<std::string> expect = {"@PJL",
                                     "@PJL JOB NAME=\"-2\"",
                                     "@PJL SET TIMEOUT=300",
                                     "@PJL COMMENT 0, 0, 1, 35",
                                     "@PJL COMMENT Report.pdf",
                                     "@PJL COMMENT alice",
                                     "@PJL COMMENT host1",
                                     "@PJL COMMENT office",
                                     "@PJL COMMENT Unknown",
                                     "@PJL COMMENT ",
                                     "@PJL COMMENT 2026/1/5",
                                     "@PJL COMMENT 9:5:7",
                                     "@PJL COMMENT JBIG,00, 8",
                                     "@PJL COMMENT Copies,1",
                                     "@PJL COMMENT Room 12",
                                     "@PJL SET JOBNAME=\"CUPS\"",
                                     "@PJL SET ECONOMODE=OFF",
                                     "@PJL SET DENSITY=1",
                                     "@PJL SET AUTOSELECT=OFF",
                                     "@PJL SET DUPLEX=OFF",
                                     "@PJL SET DUPLEXTYPE=BOOKLET",
                                     "@PJL SET RESOLUTION=600",
                                     "@PJL SET COPIES=1",
                                     "@PJL SET MEDIASOURCE=TRAY1",
                                     "@PJL SET JUSTIFIED=LEFT",
                                     "@PJL SET MIRROR=OFF",
                                     "@PJL SET MARGINS=NORMAL",
                                     "@PJL SET BIDICOMM=OFF",
                                     "@PJL SET ORIENTATION=PORTRAIT",
                                     "@PJL ENTER LANGUAGE=VLGDI"};
  // The job name is the tick printed signed.
  std::string block = Block(PlainHeader(), kTexts, FALSE, 0xFFFFFFFEu);
  EXPECT_EQ(Lines(block), expect);
  EXPECT_EQ(block.substr(block.size() - 2), "\r\n");
}

TEST(PjlHeaderBlock, SettingsFollowTheFirstPageHeader) {
  cups_page_header2_t h = PlainHeader();
  h.cupsInteger[0] = 1;
  h.cupsCompression = 4;
  h.MediaPosition = 250;
  h.Duplex = static_cast<cups_bool_t>(1);
  h.Tumble = static_cast<cups_bool_t>(1);
  h.HWResolution[0] = 1200;
  h.HWResolution[1] = 600;
  h.NumCopies = 3;
  h.Orientation = CUPS_ORIENT_270;
  std::string b = Block(h, kTexts);
  EXPECT_EQ(Setting(b, "ECONOMODE"), "ON");
  EXPECT_EQ(Setting(b, "DENSITY"), "5");
  EXPECT_EQ(Setting(b, "AUTOSELECT"), "ON");
  EXPECT_EQ(Setting(b, "DUPLEX"), "ON");
  EXPECT_EQ(Setting(b, "DUPLEXTYPE"), "CALENDAR");
  EXPECT_EQ(Setting(b, "RESOLUTION"), "1200");
  EXPECT_EQ(Setting(b, "COPIES"), "3");
  EXPECT_EQ(Setting(b, "ORIENTATION"), "LANDSCAPE");
  EXPECT_EQ(Setting(b, "MIRROR"), "OFF");

  // Duplex only when exactly 1; the duplex type is written either way.
  h.Duplex = static_cast<cups_bool_t>(0);
  EXPECT_EQ(Setting(Block(h, kTexts), "DUPLEX"), "OFF");
  EXPECT_EQ(Setting(Block(h, kTexts), "DUPLEXTYPE"), "CALENDAR");
  h.Duplex = static_cast<cups_bool_t>(2);
  EXPECT_EQ(Setting(Block(h, kTexts), "DUPLEX"), "OFF");
  h.MediaPosition = 1;
  EXPECT_EQ(Setting(Block(h, kTexts), "AUTOSELECT"), "OFF");
  // The printer makes one copy when the pages come collated.
  EXPECT_EQ(Setting(Block(h, kTexts, TRUE), "COPIES"), "1");
  h.Collate = static_cast<cups_bool_t>(1);
  EXPECT_EQ(Setting(Block(h, kTexts), "COPIES"), "1");
}

TEST(PjlHeaderBlock, ControlCharactersInJobTextsCannotAddPrinterCommands) {
  PjlJobTexts texts = kTexts;
  texts.DocName = "x\r\n@PJL SET DUPLEX=ON";
  texts.UserName = "bob\x1b%-12345X@PJL EOJ";
  texts.PrinterLocation = "a\tb\x01\x1f";
  texts.argvCopies = "2\n";
  std::string b = Block(PlainHeader(), texts);
  std::vector<std::string> lines = Lines(b);
  ASSERT_EQ(lines.size(), 30u);
  EXPECT_EQ(lines[4], "@PJL COMMENT x  @PJL SET DUPLEX=ON");
  EXPECT_EQ(lines[5], "@PJL COMMENT bob %-12345X@PJL EOJ");
  EXPECT_EQ(lines[13], "@PJL COMMENT Copies,2 ");
  EXPECT_EQ(lines[14], "@PJL COMMENT a b  ");
  EXPECT_EQ(Setting(b, "DUPLEX"), "OFF");
  for (unsigned char ch : b.substr(9))
    EXPECT_TRUE(ch >= 0x20 || ch == '\r' || ch == '\n') << static_cast<int>(ch);
}

TEST(PjlHeaderBlock, LongTextsAreShortenedToFitEveryLineAndTheBlock) {
  std::string huge(5000, 'T');
  PjlJobTexts texts = {huge.c_str(), huge.c_str(), huge.c_str(),
                       huge.c_str(), huge.c_str(), huge.c_str()};
  std::string b = Block(PlainHeader(), texts);
  EXPECT_LE(b.size(), 1023u);
  std::vector<std::string> lines = Lines(b);
  ASSERT_EQ(lines.size(), 30u);
  for (const std::string &line : lines) EXPECT_LE(line.size() + 2, 255u);
  EXPECT_EQ(lines[29], "@PJL ENTER LANGUAGE=VLGDI");
  // Every text keeps a share of the room.
  for (int i : {4, 5, 6, 7, 14}) EXPECT_GT(lines[i].size(), 13u + 40u) << i;

  // One long text alone fills its line; the short ones stay whole.
  texts = kTexts;
  texts.DocName = huge.c_str();
  lines = Lines(Block(PlainHeader(), texts));
  EXPECT_EQ(lines[4].size() + 2, 255u);
  EXPECT_EQ(lines[5], "@PJL COMMENT alice");
  EXPECT_EQ(lines[14], "@PJL COMMENT Room 12");
}

TEST(PjlHeaderBlock, ShorteningNeverSplitsAUtf8Character) {
  std::string title;
  for (int i = 0; i < 300; ++i) title += "\xC3\xA9";  // é, two bytes
  PjlJobTexts texts = kTexts;
  texts.DocName = title.c_str();
  std::vector<std::string> lines = Lines(Block(PlainHeader(), texts));
  std::string kept = lines[4].substr(13);
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.size() % 2, 0u);
  EXPECT_EQ(kept, title.substr(0, kept.size()));
}

TEST(PjlStartJob, WritesPreambleThenTheBlockAtOffset555AndCountsBytes) {
  testjob::OutputCapture out;
  cups_page_header2_t h = PlainHeader();
  ASSERT_TRUE(PJL_WriteStartJobCmd_Zelvar(out.output(), &h, 1, "office", "alice",
                                          "x\r\n@PJL SET DUPLEX=ON", "1", FALSE, ""));
  std::vector<uint8_t> bytes = out.Bytes();
  const std::string cancel =
      "\x1b"
      "E\x1b%-12345X@PJL CANCEL\r\n@PJL EOJ\r\n\x1b%-12345X";
  ASSERT_GT(bytes.size(), 555u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 43), cancel);
  EXPECT_TRUE(std::all_of(bytes.begin() + 43, bytes.begin() + 555, [](uint8_t b) { return !b; }));
  EXPECT_EQ(bytes[555], 0x1B);
  EXPECT_EQ(out.output()->count_bytes, bytes.size());
  EXPECT_EQ(static_cast<size_t>(out.output()->outputSize), bytes.size() - 555);

  // The header as the inspector reads it, stopped only by the missing pages.
  inspect::ParsedJob job = inspect::ParseJob(bytes);
  EXPECT_TRUE(job.preamble_ok);
  ASSERT_EQ(job.header_lines.size(), 30u) << job.error;
  EXPECT_EQ(job.error_offset, bytes.size());
  EXPECT_EQ(job.comments.title, "x  @PJL SET DUPLEX=ON");
  EXPECT_EQ(*inspect::FindSetting(job, "DUPLEX"), "OFF");
  char host[64] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(job.comments.host, host);
}

TEST(PjlCloseJob, AddsTheAlignmentCommentOnlyWhenTheJobWouldEndOnA512Boundary) {
  const std::string eoj =
      "\x1b"
      "E\x1b%-12345X@PJL\r\n";
  const std::string comment = "@PJL COMMENT DATA ALIGNMENT 512\r\n";
  const std::string final = "@PJL SET TIMEOUT=5\r\n@PJL               EOJ\r\n\x1b%-12345X";
  struct Case {
    DWORD before;
    bool aligned;
    DWORD after;
  } cases[] = {
      {954, true, 1057},             // 954 + 17 + 53 = 1024
      {955, false, 1025},            // 955 + 70
      {0xFFFFFFFFu - 69, true, 33},  // wraps past 2^32 onto a boundary
  };
  for (const Case &c : cases) {
    testjob::OutputCapture out;
    out.output()->count_bytes = c.before;
    ASSERT_TRUE(PJL_WriteCloseJobCmd(out.output()));
    std::vector<uint8_t> bytes = out.Bytes();
    std::string expect = eoj + (c.aligned ? comment : "") + final;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expect) << c.before;
    EXPECT_EQ(bytes.size(), c.aligned ? 103u : 70u);
    EXPECT_EQ(out.output()->count_bytes, c.after) << c.before;
    EXPECT_EQ(out.output()->outputSize, 53);
  }
}
