#include "filter_run.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/filter_entry.h"

// Present in sanitizer builds only: where sanitizer reports are written.
extern "C" void __sanitizer_set_report_fd(void *fd) __attribute__((weak));
// Present in sanitizer builds only: what runs before a sanitizer ends the process.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace fuzzentry {

namespace {

// This process's scratch: the raster input, the printer output and standard
// error in memory files, rewritten for every run without the cost of
// truncating a file on disk; the last run's standard error is copied to a file
// of a directory removed at exit when the run is a finding.
struct Scratch {
  std::string dir;
  std::string err;
  int inputFd = -1, outputFd = -1, errorFd = -1;
  std::string inputPath;
  Scratch() {
    const char *tmp = getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelvar-fuzz-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
      perror("zelvar fuzz: mkdtemp");
      abort();
    }
    dir = tmpl;
    err = dir + "/stderr.txt";
    inputFd = MemoryFile("input.ras");
    outputFd = MemoryFile("job.prn");
    errorFd = MemoryFile("stderr.txt");
    if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(KeepLastRunLog);
    inputPath = "/proc/self/fd/" + std::to_string(inputFd);
  }
  ~Scratch() {
    unlink(err.c_str());
    rmdir(dir.c_str());
  }
  static int MemoryFile(const char *name) {
    int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) {
      perror("zelvar fuzz: memfd_create");
      abort();
    }
    return fd;
  }
};

Scratch &TheScratch() {
  static Scratch scratch;
  return scratch;
}

// Replaces the memory file's contents.
void WriteWhole(int fd, const std::string &bytes) {
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) {
    perror("zelvar fuzz: ftruncate");
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
}

std::string ReadWhole(int fd) {
  std::string bytes;
  lseek(fd, 0, SEEK_SET);
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) bytes.append(buf, static_cast<size_t>(n));
  return bytes;
}

// A descriptor of its own that appends to the memory file.  The filter's
// threads write standard error at the same time; a memory file's own
// descriptor does not serialise the file position of concurrent writes, so one
// line could overwrite another.  Opened by its path, appending, it does.
int OpenForAppending(int memoryFd) {
  const std::string path = "/proc/self/fd/" + std::to_string(memoryFd);
  int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
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

void KeepLastRunLog() {
  Scratch &s = TheScratch();
  const std::string err = ReadWhole(s.errorFd);
  int fd = open(s.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (write(fd, err.data(), err.size()) < 0) perror("zelvar fuzz: write");
  close(fd);
}

FilterRunResult RunFilterInProcess(const std::vector<std::string> &args,
                                   const std::string &raster) {
  Scratch &s = TheScratch();
  WriteWhole(s.inputFd, raster);
  WriteWhole(s.outputFd, std::string());
  WriteWhole(s.errorFd, std::string());
  int outFd = OpenForAppending(s.outputFd);
  int errFd = OpenForAppending(s.errorFd);

  std::vector<std::string> argStore = args;
  argStore.push_back(s.inputPath);
  std::vector<char *> argv;
  for (std::string &a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Standard error goes to the scratch file for the run; sanitizer reports keep
  // going to the real one.
  fflush(stderr);
  int savedErr = dup(2);
  if (savedErr >= 0) SetReportFd(savedErr);
  dup2(errFd, 2);

  FilterRunResult r;
  FilterSettings settings;
  // No cancel can come: a stream cut short is an error at once.
  settings.cancelGraceMs = 0;
  settings.printerFd = outFd;
  settings.maxPageBytes = kFuzzPageBytes;
  settings.lookUpDestinations = false;
  r.status = FilterMain(static_cast<int>(argStore.size()), argv.data(), settings);

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
