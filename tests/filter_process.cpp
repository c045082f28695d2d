#include "filter_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char **environ;

namespace filtertest {

ScratchDir::ScratchDir() {
  char tmpl[] = "/tmp/zelvar-test-XXXXXX";
  const char *p = mkdtemp(tmpl);
  path_ = p ? p : "/tmp";
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> FilterEnvironment(const std::vector<std::string> &own) {
  auto setByCaller = [&own](const char *entry) {
    for (const std::string &mine : own) {
      size_t eq = mine.find('=');
      if (eq != std::string::npos && strncmp(entry, mine.c_str(), eq + 1) == 0) return true;
    }
    return false;
  };
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    if (strncmp(*e, "PPD=", 4) != 0 && !setByCaller(*e)) env.push_back(*e);
  env.insert(env.end(), own.begin(), own.end());
  return env;
}

FilterResult RunFilter(const ScratchDir &dir, const FilterCall &call) {
  FilterResult result;
  const std::string outPath = call.stdoutPath.empty() ? dir.File("stdout") : call.stdoutPath;

  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls.
  std::vector<std::string> env = FilterEnvironment(call.environment);
  std::vector<char *> envp, argv;
  for (auto &s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = call.args;
  for (auto &s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  const bool fileOut = call.stdoutPath.empty() && !call.closeStdout && call.stdoutFd < 0;

  // Standard error is a pipe read while the filter runs: no file-size limit
  // reaches it, and it cannot fill up.
  int errPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0) return result;
  pid_t pid = fork();
  if (pid < 0) {
    close(errPipe[0]);
    close(errPipe[1]);
    return result;
  }
  if (pid == 0) {
    int in = open(call.stdinPath.c_str(), O_RDONLY);
    if (in < 0) _exit(126);
    dup2(in, 0);
    dup2(errPipe[1], 2);
    if (call.closeStdout) {
      close(1);
    } else if (call.stdoutFd >= 0) {
      dup2(call.stdoutFd, 1);
    } else {
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0) _exit(126);
      dup2(out, 1);
    }
    for (int fd = 3; fd < 256; ++fd) close(fd);
    if (call.fileSizeLimit >= 0) {
      // Writing past the limit must fail with EFBIG rather than end the filter.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim = {static_cast<rlim_t>(call.fileSizeLimit),
                           static_cast<rlim_t>(call.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &lim);
    }
    execve(ZELVAR_FILTER_PATH, argv.data(), envp.data());
    _exit(127);
  }

  close(errPipe[1]);

  int wstatus = 0;
  bool exited = false, errOpen = true;
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (!exited || errOpen) {
    if (errOpen) {
      struct pollfd pfd = {errPipe[0], POLLIN, 0};
      if (poll(&pfd, 1, 5) > 0) {
        char buf[65536];
        ssize_t n = read(errPipe[0], buf, sizeof buf);
        if (n > 0)
          result.err.append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
          errOpen = false;  // every writer is gone
      }
    } else {
      usleep(2000);
    }
    if (!exited) {
      pid_t done = waitpid(pid, &wstatus, WNOHANG);
      if (done == pid) exited = true;
    }
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (!exited && now.tv_sec - start.tv_sec >= call.timeoutSeconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      result.timedOut = true;
      break;
    }
    // A writer the filter left behind may hold the pipe; once the filter is
    // gone, what is already in the pipe is all that counts.
    if (exited && errOpen && now.tv_sec - start.tv_sec >= call.timeoutSeconds) break;
  }
  close(errPipe[0]);
  if (!result.timedOut) {
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
  }
  if (fileOut) result.out = ReadFile(outPath);
  return result;
}

std::string HowItEnded(const FilterResult &r) {
  if (r.timedOut) return "hung (killed at the deadline)";
  if (r.signal) return "killed by signal " + std::to_string(r.signal);
  return "exit " + std::to_string(r.status);
}

std::vector<std::string> JobArgs(const std::string &rasterPath, const std::string &options) {
  std::vector<std::string> args = {"zelvar", "42", "alice", "Quarterly report", "1", options};
  if (!rasterPath.empty()) args.push_back(rasterPath);
  return args;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos;
       pos = text.find(what, pos + what.size()))
    ++n;
  return n;
}

bool TimeStampAt(const std::string &text, size_t pos) {
  const std::string pattern = "[dddd/dd/dd dd:dd:dd] ";
  if (pos + pattern.size() > text.size()) return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = text[pos + i];
    if (pattern[i] == 'd' ? !(c >= '0' && c <= '9') : c != pattern[i]) return false;
  }
  return true;
}

testraster::Page SamplePage(unsigned width, unsigned height, unsigned bits, bool twoColour) {
  cups_page_header2_t h = testraster::MakeHeader(width, height, bits, 600);
  h.cupsInteger[4] = twoColour ? 1 : 0;
  testraster::Page p = testraster::WhitePage(h);
  testraster::InkRect(p, width / 4, height / 4, width / 2, height / 2, 255);
  return p;
}

}  // namespace filtertest
