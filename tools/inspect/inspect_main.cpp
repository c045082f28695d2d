// zelvar-inspect: checks a printer job as the filter writes it, prints its
// settings and page records, with --decode writes every page as PBM and PNG, and
// with --reencode checks that every page's data is the stream libjbig's encoder
// makes of the decoded page.  Exit status: 0 for a well-formed job (whose pages
// all decode, and are all libjbig's streams with --reencode), 1 otherwise, 2 for
// a usage or file error.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "job_file.h"
#include "job_parser.h"
#include "libjbig_check.h"
#include "page_decoder.h"
#include "png_writer.h"

namespace {

void Usage() { fprintf(stderr, "Usage: zelvar-inspect [--decode DIR] [--reencode] JOB\n"); }

// Job texts may hold any byte; show them printable.
std::string Printable(const std::string &s) {
  std::string out;
  for (unsigned char ch : s) {
    if (ch < 0x20 || ch == 0x7F) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\x%02X", ch);
      out += esc;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out;
}

void PrintHeader(const inspect::ParsedJob &job) {
  if (job.header_lines.empty()) return;
  printf("header block at offset %zu, %zu bytes\n", inspect::kHeaderBlockOffset, job.header_size);
  const inspect::HeaderComments &c = job.comments;
  printf("  job name    %s\n", job.job_name.c_str());
  printf("  title       %s\n", Printable(c.title).c_str());
  printf("  user        %s\n", Printable(c.user).c_str());
  printf("  host        %s\n", Printable(c.host).c_str());
  printf("  queue       %s\n", Printable(c.queue).c_str());
  printf("  date        %s %s\n", c.date.c_str(), c.time.c_str());
  if (c.jbigOptions >= 0) printf("  JBIG        options %d\n", c.jbigOptions);
  printf("  copies      %s\n", Printable(c.copies).c_str());
  printf("  location    %s\n", Printable(c.location).c_str());
  // Settings in the order the printer reads them.
  for (const inspect::HeaderLine &line : job.header_lines) {
    if (line.text.rfind("@PJL SET ", 0) != 0) continue;
    std::string name = line.text.substr(9, line.text.find('=') - 9);
    const std::string *value = inspect::FindSetting(job, name);
    if (value != nullptr) printf("  %-11s %s\n", name.c_str(), value->c_str());
  }
  if (job.has_jcl)
    printf("JCL text at offset %zu, %zu bytes: %s\n", job.jcl_offset, job.jcl_text.size() + 1,
           Printable(job.jcl_text).c_str());
}

void PrintPages(const inspect::ParsedJob &job) {
  if (job.pages.empty()) return;
  printf("%4s %10s %6s %6s %9s %9s %9s %5s %5s %4s %6s %4s\n", "page", "offset", "width", "height",
         "datasize", "compsize", "dots", "paper", "media", "tray", "colors", "mode");
  int n = 0;
  for (const inspect::PageRecord &p : job.pages)
    printf("%4d %10zu %6u %6u %9u %9u %9u %5u %5u %4u %6u %4u\n", ++n, p.offset, p.page_width,
           p.page_height, p.datasize, p.compsize, p.blackDots, p.paper_type, p.media_type,
           p.media_position, p.colors, p.color_mode);
}

// Decodes every page, writes it into `dir` unless that is empty, and with
// `reencode` compares its data with libjbig's stream of the decoded page; false if
// any page fails to decode, to be written, to match its black-dot count or to be
// libjbig's stream.
bool DecodePages(const inspect::ParsedJob &job, const std::string &dir, bool reencode) {
  bool ok = true;
  int n = 0;
  for (const inspect::PageRecord &p : job.pages) {
    ++n;
    inspect::Bitmap bitmap;
    std::string error;
    if (!inspect::DecodePage(p, &bitmap, &error)) {
      printf("page %d (offset %zu): cannot decode: %s\n", n, p.offset, error.c_str());
      ok = false;
      continue;
    }
    uint64_t dots = inspect::CountSetBits(bitmap);
    if (dots != p.blackDots) {
      printf("page %d (offset %zu): header says %u black dots, decoded page has %llu\n", n,
             p.offset + 22, p.blackDots, static_cast<unsigned long long>(dots));
      ok = false;
    }
    if (reencode) {
      std::string difference = inspect::DifferenceFromLibjbig(p, bitmap);
      if (difference.empty()) {
        printf("page %d: data is libjbig's stream of the page\n", n);
      } else {
        printf("page %d: data differs from libjbig's stream: %s\n", n, difference.c_str());
        ok = false;
      }
    }
    if (dir.empty()) continue;
    char name[32];
    snprintf(name, sizeof name, "/page-%03d", n);
    std::string base = dir + name;
    if (!inspect::WritePbm(base + ".pbm", bitmap) ||
        !inspect::WritePng(base + ".png", bitmap, p.colors)) {
      printf("page %d: cannot write %s.pbm / .png\n", n, base.c_str());
      ok = false;
      continue;
    }
    printf("page %d: decoded, %llu black dots, written to %s.pbm and .png\n", n,
           static_cast<unsigned long long>(dots), base.c_str());
  }
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  std::string decodeDir;
  bool reencode = false;
  const char *path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--decode") == 0 && i + 1 < argc) {
      decodeDir = argv[++i];
    } else if (strcmp(argv[i], "--reencode") == 0) {
      reencode = true;
    } else if (path == nullptr && (argv[i][0] != '-' || strcmp(argv[i], "-") == 0)) {
      path = argv[i];
    } else {
      Usage();
      return 2;
    }
  }
  if (path == nullptr) {
    Usage();
    return 2;
  }
  std::vector<uint8_t> bytes;
  if (!inspect::ReadJobFile(path, &bytes)) {
    fprintf(stderr, "zelvar-inspect: cannot read %s\n", path);
    return 2;
  }

  inspect::ParsedJob job = inspect::ParseJob(bytes);
  printf("job %s: %zu bytes\n", path, bytes.size());
  PrintHeader(job);
  PrintPages(job);
  if (job.has_trailer)
    printf("trailer at offset %zu%s\n", job.trailer_offset,
           job.alignment_comment ? ", with the 512-byte alignment comment" : "");
  bool ok = job.ok;
  if ((!decodeDir.empty() || reencode) && !DecodePages(job, decodeDir, reencode)) ok = false;
  if (job.ok)
    printf("well formed: %zu page records\n", job.pages.size());
  else
    printf("error at offset %zu: %s\n", job.error_offset, job.error.c_str());
  return ok ? 0 : 1;
}
