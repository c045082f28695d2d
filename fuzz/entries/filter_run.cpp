#include "filter_run.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/filter_entry.h"
#include "driver/job_options.h"
#include "driver/page_header_check.h"
#include "output/printer_output.h"

// Present in sanitizer builds only: where sanitizer reports are written.
extern "C" void __sanitizer_set_report_fd(void *fd) __attribute__((weak));

namespace fuzzentry {

namespace {

// This process's scratch directory, removed at exit.
struct Scratch {
  std::string dir;
  std::string input, output, err;
  Scratch() {
    const char *tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelvar-fuzz-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
      perror("zelvar fuzz: mkdtemp");
      abort();
    }
    dir = tmpl;
    input = dir + "/input.ras";
    output = dir + "/job.prn";
    err = dir + "/stderr.txt";
  }
  ~Scratch() {
    unlink(input.c_str());
    unlink(output.c_str());
    unlink(err.c_str());
    rmdir(dir.c_str());
  }
};

Scratch &TheScratch() {
  static Scratch scratch;
  return scratch;
}

void WriteWhole(const std::string &path, const std::string &bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    perror("zelvar fuzz: open");
    abort();
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      perror("zelvar fuzz: write");
      abort();
    }
    done += static_cast<size_t>(n);
  }
  close(fd);
}

std::string ReadWhole(int fd) {
  std::string bytes;
  lseek(fd, 0, SEEK_SET);
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) bytes.append(buf, static_cast<size_t>(n));
  return bytes;
}

int OpenFresh(const std::string &path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    perror("zelvar fuzz: open");
    abort();
  }
  return fd;
}

void SetReportFd(int fd) {
  if (__sanitizer_set_report_fd)
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(fd)));
}

}  // namespace

FilterRunResult RunFilterInProcess(const std::vector<std::string> &args,
                                   const std::string &raster) {
  Scratch &s = TheScratch();
  WriteWhole(s.input, raster);
  int outFd = OpenFresh(s.output);
  int errFd = OpenFresh(s.err);

  std::vector<std::string> argStore = args;
  argStore.push_back(s.input);
  std::vector<char *> argv;
  for (std::string &a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Standard error goes to the scratch file for the run; sanitizer reports keep
  // going to the real one.
  fflush(stderr);
  int savedErr = dup(2);
  if (savedErr >= 0) SetReportFd(savedErr);
  dup2(errFd, 2);
  SetDestinationLookupForTesting(FALSE);
  SetPageBytesLimitForTesting(kFuzzPageBytes);
  SetPrinterOutputFd(outFd);

  FilterRunResult r;
  r.status = FilterMain(static_cast<int>(argStore.size()), argv.data());

  SetPrinterOutputFd(1);
  SetPageBytesLimitForTesting(0);
  SetDestinationLookupForTesting(TRUE);
  fflush(stderr);
  if (savedErr >= 0) {
    dup2(savedErr, 2);
    close(savedErr);
    SetReportFd(2);
  } else {
    close(2);  // it was closed before the run
  }

  r.out = ReadWhole(outFd);
  r.err = ReadWhole(errFd);
  close(outFd);
  close(errFd);
  return r;
}

}  // namespace fuzzentry
