// zelvar-jbig-bench: the JBIG encoders alone on the pages of printer jobs.
//
//   zelvar-jbig-bench [--runs N] JOB.prn...
//
// Every page record is decoded with libjbig's decoder; the bitmap is then
// encoded N times (default 5) by the filter's own encoder and by libjbig, the two
// alternating, each call timed by the CPU time of this thread.  For every page it
// prints the median times and their ratio ours / libjbig, and checks that both
// encoders give exactly the bytes the record holds.  Exit status 1 when any page
// differs or cannot be decoded, 2 for a usage or file error.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "job_file.h"
#include "job_parser.h"
#include "output/jbig_compress.h"
#include "output/jbig_encoder.h"
#include "output/jbig_libjbig.h"
#include "page_decoder.h"

namespace {

double ThreadCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool SameBytes(const JbigOutputArea &area, std::span<const uint8_t> bytes) {
  return area.size == bytes.size() &&
         (bytes.empty() || memcmp(area.data, bytes.data(), area.size) == 0);
}

struct Totals {
  std::vector<double> ratios;
  double ours = 0, libjbig = 0;
  int pages = 0, differing = 0;
};

// Encodes one page `runs` times with each encoder; false if a stream differs.
bool BenchPage(const inspect::PageRecord &record, const inspect::Bitmap &page, int runs,
               const char *name, int number, Totals *totals) {
  std::vector<double> ours, libjbig;
  bool same = true;
  std::vector<uint8_t> input(page.bits);
  for (int run = 0; run < runs; ++run) {
    JbigOutputArea a, b;
    // The area as the compression thread reserves it: the bitmap's size.
    if (!ReserveOutputArea(&a, input.size()) || !ReserveOutputArea(&b, input.size())) return false;
    double t0 = ThreadCpuSeconds();
    BOOL encoded = EncodeJbigStripe(input.data(), page.width, page.height, &a);
    double t1 = ThreadCpuSeconds();
    int64_t n = LibjbigCompress(page.width, page.height, input.data(), &b, nullptr, kJbigOrder,
                                kJbigOptions, 1);
    double t2 = ThreadCpuSeconds();
    ours.push_back(t1 - t0);
    libjbig.push_back(t2 - t1);
    same = same && encoded && n >= 0 && SameBytes(a, record.data) && SameBytes(b, record.data);
  }
  double mo = Median(ours), ml = Median(libjbig);
  printf("%-28s %4d %5u x %-5u %9u %9.2f %9.2f %7.3f  %s\n", name, number, page.width, page.height,
         record.compsize, mo * 1000, ml * 1000, ml > 0 ? mo / ml : 0.0,
         same ? "identical" : "DIFFERENT");
  totals->ratios.push_back(ml > 0 ? mo / ml : 0.0);
  totals->ours += mo;
  totals->libjbig += ml;
  ++totals->pages;
  if (!same) ++totals->differing;
  return same;
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 5;
  std::vector<const char *> files;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(1, atoi(argv[++i]));
    else
      files.push_back(argv[i]);
  }
  if (files.empty()) {
    fprintf(stderr, "Usage: zelvar-jbig-bench [--runs N] JOB.prn...\n");
    return 2;
  }
  printf("encode CPU time per page (thread CPU time), median of %d runs each, alternating\n", runs);
  printf("%-28s %4s %13s %9s %9s %9s %7s\n", "job", "page", "size", "bytes", "ours ms",
         "libjbig ms", "ratio");
  Totals totals;
  bool ok = true;
  for (const char *file : files) {
    std::vector<uint8_t> bytes;
    if (!inspect::ReadJobFile(file, &bytes)) {
      fprintf(stderr, "zelvar-jbig-bench: cannot read %s\n", file);
      return 2;
    }
    inspect::ParsedJob job = inspect::ParseJob(bytes);
    if (!job.ok) {
      fprintf(stderr, "zelvar-jbig-bench: %s: %s\n", file, job.error.c_str());
      return 2;
    }
    const char *name = strrchr(file, '/') ? strrchr(file, '/') + 1 : file;
    int number = 0;
    for (const inspect::PageRecord &record : job.pages) {
      ++number;
      inspect::Bitmap page;
      std::string error;
      if (!inspect::DecodePage(record, &page, &error)) {
        printf("%-28s %4d does not decode: %s\n", name, number, error.c_str());
        ok = false;
        continue;
      }
      if (!BenchPage(record, page, runs, name, number, &totals)) ok = false;
    }
  }
  if (totals.pages > 0)
    printf(
        "%d pages: median ratio %.3f, sum of medians ours %.3f s, libjbig %.3f s (%.3f); %d "
        "differing\n",
        totals.pages, Median(totals.ratios), totals.ours, totals.libjbig,
        totals.libjbig > 0 ? totals.ours / totals.libjbig : 0.0, totals.differing);
  return ok ? 0 : 1;
}
