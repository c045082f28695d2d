#include "bounded_filter_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <vector>

extern char **environ;

namespace filtertest {

BoundedResult RunFilterBounded(const ScratchDir &dir, const BoundedCall &bc) {
  BoundedResult result;
  const FilterCall &call = bc.call;
  const std::string outPath = call.stdoutPath.empty() ? dir.File("stdout") : call.stdoutPath;

  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls.
  // This process's environment less "PPD" and less what the call sets itself.
  auto setByCall = [&call](const char *entry) {
    for (const std::string &mine : call.environment) {
      size_t eq = mine.find('=');
      if (eq != std::string::npos && strncmp(entry, mine.c_str(), eq + 1) == 0) return true;
    }
    return false;
  };
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    if (strncmp(*e, "PPD=", 4) != 0 && !setByCall(*e)) env.push_back(*e);
  env.insert(env.end(), call.environment.begin(), call.environment.end());
  std::vector<char *> envp, argv;
  for (auto &s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = call.args;
  for (auto &s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  const bool fileOut = call.stdoutPath.empty() && !bc.closeStdout && bc.stdoutFd < 0;

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
    if (bc.closeStdout) {
      close(1);
    } else if (bc.stdoutFd >= 0) {
      dup2(bc.stdoutFd, 1);
    } else {
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0) _exit(126);
      dup2(out, 1);
    }
    for (int fd = 3; fd < 256; ++fd) close(fd);
    if (bc.fileSizeLimit >= 0) {
      // Writing past the limit must fail with EFBIG rather than end the filter.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim = {static_cast<rlim_t>(bc.fileSizeLimit),
                           static_cast<rlim_t>(bc.fileSizeLimit)};
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
    if (!exited && now.tv_sec - start.tv_sec >= bc.timeoutSeconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      result.timedOut = true;
      break;
    }
    // A writer the filter left behind may hold the pipe; once the filter is
    // gone, what is already in the pipe is all that counts.
    if (exited && errOpen && now.tv_sec - start.tv_sec >= bc.timeoutSeconds) break;
  }
  close(errPipe[0]);
  if (!result.timedOut) {
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
  }
  if (fileOut) result.out = ReadFile(outPath);
  return result;
}

std::string HowItEnded(const BoundedResult &r) {
  if (r.timedOut) return "hung (killed at the deadline)";
  if (r.signal) return "killed by signal " + std::to_string(r.signal);
  return "exit " + std::to_string(r.status);
}

}  // namespace filtertest
