// The job inspector: it accepts what the filter writes, names the first fault of
// a damaged job with its offset, and survives arbitrary bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "job_parser.h"
#include "page_decoder.h"
#include "printer_job_fixture.h"

namespace {

// A small job from the filter's own writers: two pages, a JCL text.
std::vector<uint8_t> SampleJob(const std::string &jcl = "@PJL SET QUIET=ON\r\n") {
  testjob::OutputCapture out;
  testjob::WriteJob(out.output(), {testjob::BlockPage(256, 96, 1), testjob::BlockPage(128, 64, 2)},
                    jcl);
  return out.Bytes();
}

inspect::ParsedJob Parse(const std::vector<uint8_t> &bytes) { return inspect::ParseJob(bytes); }

std::string TempDir() {
  char dir[] = "/tmp/zelvar-inspect-XXXXXX";
  EXPECT_NE(mkdtemp(dir), nullptr);
  return dir;
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *fp = fopen(path.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), fp);
  fclose(fp);
}

// Runs the inspector command; returns its exit status and its standard output.
int RunInspector(const std::string &args, std::string *output) {
  std::string cmd = std::string(ZELVAR_INSPECT_PATH) + " " + args + " 2>&1";
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  output->clear();
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> ReadFile(const std::string &path) {
  std::vector<uint8_t> out;
  FILE *fp = fopen(path.c_str(), "rb");
  if (fp == nullptr) return out;
  int c;
  while ((c = fgetc(fp)) != EOF) out.push_back(static_cast<uint8_t>(c));
  fclose(fp);
  return out;
}

}  // namespace

TEST(JobParser, ReadsAFilterJobWithItsSettingsJclAndPages) {
  std::vector<uint8_t> bytes = SampleJob();
  inspect::ParsedJob job = Parse(bytes);
  ASSERT_TRUE(job.ok) << job.error << " at " << job.error_offset;
  EXPECT_TRUE(job.preamble_ok);
  EXPECT_EQ(job.header_lines.size(), 30u);
  EXPECT_EQ(job.comments.title, "title");
  EXPECT_EQ(job.comments.jbigOptions, 8);
  EXPECT_EQ(*inspect::FindSetting(job, "RESOLUTION"), "600");
  EXPECT_EQ(inspect::FindSetting(job, "NOSUCH"), nullptr);
  EXPECT_TRUE(job.has_jcl);
  EXPECT_EQ(job.jcl_offset, inspect::kHeaderBlockOffset + job.header_size);
  EXPECT_EQ(job.jcl_text, "@PJL SET QUIET=ON\r\n");
  ASSERT_EQ(job.pages.size(), 2u);
  EXPECT_EQ(job.pages[0].offset, job.jcl_offset + 1 + job.jcl_text.size());
  EXPECT_EQ(job.pages[0].paper_type, 2);
  EXPECT_EQ(job.pages[0].media_type, 8);
  EXPECT_TRUE(job.has_trailer);
}

TEST(JobParser, NamesTheFlippedByteOfAPageHeader) {
  std::vector<uint8_t> good = SampleJob();
  inspect::ParsedJob job = Parse(good);
  ASSERT_TRUE(job.ok);
  size_t h = job.pages[1].offset + 2;  // second page's header
  struct Flip {
    size_t at;
    uint8_t value;
  } flips[] = {{h + 0, 'H'}, {h + 12, 0x01}, {h + 28, 0x08}, {h + 31, 0x02}, {h + 29, 0x04}};
  for (const Flip &f : flips) {
    std::vector<uint8_t> bad = good;
    bad[f.at] ^= f.value;
    inspect::ParsedJob r = Parse(bad);
    EXPECT_FALSE(r.ok) << f.at - h;
    EXPECT_EQ(r.error_offset, f.at) << r.error;
    EXPECT_NE(r.error.find("page"), std::string::npos) << r.error;
    EXPECT_EQ(r.pages.size(), 1u);
  }
  // A compressed size that runs past the job is a job cut short.
  std::vector<uint8_t> bad = good;
  bad[h + 19] = 0x7F;
  inspect::ParsedJob r = Parse(bad);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error_offset, bad.size());
}

TEST(JobParser, RejectsEveryJobCutShort) {
  std::vector<uint8_t> good = SampleJob();
  for (size_t len = 0; len < good.size(); ++len) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
    inspect::ParsedJob r = Parse(cut);
    ASSERT_FALSE(r.ok) << "accepted a job cut to " << len << " bytes";
    ASSERT_LE(r.error_offset, len) << r.error;
  }
}

TEST(JobParser, ChecksTheTrailerAndThe512ByteRule) {
  std::vector<uint8_t> good = SampleJob("");
  inspect::ParsedJob job = Parse(good);
  ASSERT_TRUE(job.ok) << job.error;
  ASSERT_FALSE(job.alignment_comment);
  const std::string comment = "@PJL COMMENT DATA ALIGNMENT 512\r\n";

  // A comment where the job does not need one.
  std::vector<uint8_t> extra = good;
  size_t at = job.trailer_offset + 17;
  extra.insert(extra.begin() + static_cast<long>(at), comment.begin(), comment.end());
  inspect::ParsedJob r = Parse(extra);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error_offset, at);

  // A job that ends on a boundary: JCL text padded to reach it, comment removed.
  size_t pad = (512 - good.size() % 512) % 512;
  std::vector<uint8_t> aligned = SampleJob(std::string(pad ? pad - 1 : 511, 'J'));
  inspect::ParsedJob a = Parse(aligned);
  ASSERT_TRUE(a.ok) << a.error;
  ASSERT_TRUE(a.alignment_comment);
  std::vector<uint8_t> bare = aligned;
  bare.erase(bare.begin() + static_cast<long>(a.trailer_offset + 17),
             bare.begin() + static_cast<long>(a.trailer_offset + 17 + comment.size()));
  ASSERT_EQ(bare.size() % 512, 0u);
  EXPECT_FALSE(Parse(bare).ok);

  std::vector<uint8_t> tail = good;
  tail.push_back(0);
  r = Parse(tail);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error_offset, good.size());
}

TEST(JobParser, AcceptsJclTextBeforeTheTrailerOfAJobWithoutPages) {
  std::vector<uint8_t> good = SampleJob("@PJL INFO\r\n");
  inspect::ParsedJob job = Parse(good);
  ASSERT_TRUE(job.ok);
  std::vector<uint8_t> nopages(good.begin(), good.begin() + static_cast<long>(job.pages[0].offset));
  nopages.insert(nopages.end(), good.begin() + static_cast<long>(job.trailer_offset), good.end());
  // One more JCL byte if the shorter job would end on a 512-byte boundary.
  if (nopages.size() % 512 == 0)
    nopages.insert(nopages.begin() + static_cast<long>(job.jcl_offset + 1), 'J');
  inspect::ParsedJob r = Parse(nopages);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.jcl_text.substr(r.jcl_text.size() - 11), "@PJL INFO\r\n");
  EXPECT_TRUE(r.pages.empty());
}

TEST(JobParser, ControlByteInAHeaderLineIsAFault) {
  std::vector<uint8_t> bytes = SampleJob();
  inspect::ParsedJob job = Parse(bytes);
  ASSERT_TRUE(job.ok);
  size_t at = job.header_lines[4].offset + 14;  // inside the title comment
  bytes[at] = '\n';
  inspect::ParsedJob r = Parse(bytes);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error_offset, at);
}

TEST(JobParser, SurvivesArbitraryBytes) {
  std::vector<uint8_t> good = SampleJob();
  std::mt19937 rng(2024);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = good;
    int flips = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < flips; ++k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    inspect::ParsedJob r = Parse(bytes);
    ASSERT_LE(r.error_offset, bytes.size());
    for (const inspect::PageRecord &p : r.pages) {
      ASSERT_LE(p.data_offset + p.data.size(), bytes.size());
      inspect::Bitmap out;
      std::string error;
      inspect::DecodePage(p, &out, &error, uint64_t{1} << 22);
    }
  }
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> noise(rng() % 2000);
    for (uint8_t &b : noise) b = static_cast<uint8_t>(rng());
    EXPECT_FALSE(Parse(noise).ok);
  }
}

TEST(InspectCommand, ReportsAFilterJobWellFormedAndWritesPageImages) {
  std::string dir = TempDir();
  std::vector<uint8_t> bytes = SampleJob();
  WriteFile(dir + "/job.prn", bytes);
  std::string out;
  EXPECT_EQ(RunInspector("--decode " + dir + " " + dir + "/job.prn", &out), 0) << out;
  EXPECT_NE(out.find("well formed: 2 page records"), std::string::npos) << out;
  EXPECT_NE(out.find("RESOLUTION"), std::string::npos) << out;

  // The PBM holds the page's bits under a P4 header.
  testjob::Page first = testjob::BlockPage(256, 96, 1);
  std::vector<uint8_t> pbm = ReadFile(dir + "/page-001.pbm");
  std::string head = "P4\n256 96\n";
  ASSERT_EQ(pbm.size(), head.size() + first.bits.size());
  EXPECT_EQ(std::string(pbm.begin(), pbm.begin() + static_cast<long>(head.size())), head);
  EXPECT_TRUE(std::equal(first.bits.begin(), first.bits.end(), pbm.begin() + head.size()));
  std::vector<uint8_t> png = ReadFile(dir + "/page-002.png");
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
  for (const char *f : {"page-001.pbm", "page-001.png", "page-002.pbm", "page-002.png", "job.prn"})
    unlink((dir + "/" + f).c_str());
  rmdir(dir.c_str());
}

TEST(InspectCommand, NamesTheFaultAndItsOffsetAndExitsNonZero) {
  std::string dir = TempDir();
  std::vector<uint8_t> good = SampleJob();
  inspect::ParsedJob job = Parse(good);
  ASSERT_TRUE(job.ok);
  std::string out;

  std::vector<uint8_t> flipped = good;
  size_t at = job.pages[0].offset + 2 + 28;  // bits per pixel
  flipped[at] = 4;
  WriteFile(dir + "/flipped.prn", flipped);
  EXPECT_EQ(RunInspector(dir + "/flipped.prn", &out), 1);
  EXPECT_NE(out.find("error at offset " + std::to_string(at)), std::string::npos) << out;

  std::vector<uint8_t> cut(good.begin(), good.end() - 100);
  WriteFile(dir + "/cut.prn", cut);
  EXPECT_EQ(RunInspector(dir + "/cut.prn", &out), 1);
  EXPECT_NE(out.find("cut short"), std::string::npos) << out;

  // A black-dot count that the decoded page does not bear out.
  std::vector<uint8_t> dots = good;
  dots[job.pages[0].offset + 2 + 20] ^= 0x01;
  WriteFile(dir + "/dots.prn", dots);
  EXPECT_EQ(RunInspector("--decode " + dir + " " + dir + "/dots.prn", &out), 1);
  EXPECT_NE(out.find("black dots"), std::string::npos) << out;

  EXPECT_EQ(RunInspector("", &out), 2);
  EXPECT_EQ(RunInspector(dir + "/missing.prn", &out), 2);
  for (const char *f : {"flipped.prn", "cut.prn", "dots.prn", "page-001.pbm", "page-001.png",
                        "page-002.pbm", "page-002.png"})
    unlink((dir + "/" + f).c_str());
  rmdir(dir.c_str());
}
