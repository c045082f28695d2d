#include "printer_app/filter_child.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char **environ;

namespace zelvarapp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 100;
// A status line longer than this is handed on in pieces.
constexpr size_t kMaxLineBytes = 4096;

bool StartsWith(const std::string &s, const char *prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
}

void ClosePipe(int fds[2]) {
  for (int i = 0; i < 2; ++i)
    if (fds[i] >= 0) close(fds[i]);
}

// This process's environment, less PPD and what `extra` sets, then `extra`.
std::vector<std::string> ChildEnvironment(const std::vector<std::string> &extra) {
  auto replaced = [&extra](const char *entry) {
    if (strncmp(entry, "PPD=", 4) == 0) return true;
    for (const std::string &e : extra)
      if (strncmp(entry, e.c_str(), e.find('=') + 1) == 0) return true;
    return false;
  };
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    if (!replaced(*e)) env.push_back(*e);
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char *> Pointers(const std::vector<std::string> &strings) {
  std::vector<char *> p;
  for (const std::string &s : strings) p.push_back(const_cast<char *>(s.c_str()));
  p.push_back(nullptr);
  return p;
}

}  // namespace

StatusLine ParseStatusLine(const std::string &line) {
  StatusLine s;
  struct Prefix {
    const char *text;
    StatusLine::Kind kind;
  };
  static const Prefix kPrefixes[] = {{"PAGE:", StatusLine::kPage},
                                     {"INFO:", StatusLine::kInfo},
                                     {"ERROR:", StatusLine::kError},
                                     {"DEBUG:", StatusLine::kDebug}};
  s.text = line;
  for (const Prefix &p : kPrefixes) {
    if (!StartsWith(line, p.text)) continue;
    size_t start = strlen(p.text);
    while (start < line.size() && line[start] == ' ') ++start;
    s.kind = p.kind;
    s.text = line.substr(start);
    break;
  }
  if (s.kind == StatusLine::kPage) {
    // "PAGE: n c": the record's number and the printer's copies of it.
    unsigned number = 0, copies = 0;
    char end = 0;
    if (sscanf(s.text.c_str(), "%u %u%c", &number, &copies, &end) != 2) {
      s.kind = StatusLine::kOther;
      s.text = line;
    } else {
      s.copies = copies;
    }
  }
  return s;
}

FilterChild::~FilterChild() {
  if (pid_ > 0) {
    Terminate();
    Finish();
  }
}

bool FilterChild::Start(const std::string &program, const std::vector<std::string> &args,
                        const std::vector<std::string> &environment, ChildEvents events,
                        std::string *error) {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    *error = std::string("cannot make pipes: ") + strerror(errno);
    ClosePipe(in);
    ClosePipe(out);
    ClosePipe(err);
    return false;
  }
  // A page of raster is large; a wider pipe lets both sides run longer at a time.
  fcntl(in[1], F_SETPIPE_SZ, 1 << 20);
  fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  // Nothing else of the server's: its sockets and the other jobs' pipes.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  // Its own process group: a terminal's Ctrl-C is the server's to handle.
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<std::string> env = ChildEnvironment(environment);
  std::vector<char *> argv = Pointers(args), envp = Pointers(env);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    pid_ = -1;
    *error = "cannot run " + program + ": " + strerror(rc);
    close(in[1]);
    close(out[0]);
    close(err[0]);
    return false;
  }
  in_ = in[1];
  events_ = std::move(events);
  exit_.started = true;
  pump_ = std::thread(&FilterChild::Pump, this, out[0], err[0]);
  return true;
}

bool FilterChild::Write(const void *data, size_t size) {
  const char *p = static_cast<const char *>(data);
  while (size > 0) {
    if (in_ < 0 || stop_.load()) return false;
    ssize_t n = write(in_, p, size);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      // Waits for room, looking at the stop flag now and then: a cancelled child
      // takes no more input.
      pollfd fd = {in_, POLLOUT, 0};
      poll(&fd, 1, kPollMs);
    } else {
      return false;  // the child has closed its input or ended
    }
  }
  return true;
}

void FilterChild::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void FilterChild::Terminate() {
  if (pid_ > 0 && !stop_.exchange(true)) {
    exit_.terminated = true;
    kill(pid_, SIGTERM);
  }
}

void FilterChild::HandleErrorBytes(std::string *pending, const char *data, size_t size,
                                   bool flush) {
  pending->append(data, size);
  size_t start = 0;
  for (;;) {
    size_t end = pending->find('\n', start);
    if (end == std::string::npos) {
      if (pending->size() - start < kMaxLineBytes && !flush) break;
      end = pending->size();
      if (end == start) break;
    }
    std::string line = pending->substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (events_.status) events_.status(ParseStatusLine(line));
    start = end < pending->size() ? end + 1 : end;
  }
  pending->erase(0, start);
}

void FilterChild::Pump(int out, int err) {
  std::string pending;
  char buffer[65536];
  Clock::time_point terminatedAt{};
  bool killed = false;
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (!stop_.load() && events_.cancelled && events_.cancelled()) Terminate();
    if (stop_.load()) {
      const auto now = Clock::now();
      if (terminatedAt == Clock::time_point{}) terminatedAt = now;
      if (!killed && now - terminatedAt > std::chrono::milliseconds(killDelayMs_)) {
        // The whole process group, so that nothing it started keeps the pipes.
        kill(-pid_, SIGKILL);
        killed = true;
      }
    }
    if (poll(fds, 2, kPollMs) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        continue;
      }
      if (i == 1) {
        HandleErrorBytes(&pending, buffer, static_cast<size_t>(n), false);
      } else if (!outputFailed_.load()) {
        if (!events_.output(buffer, static_cast<size_t>(n))) {
          // The printer is gone: the job cannot come out; what follows is dropped.
          outputFailed_ = true;
          Terminate();
        }
      }
    }
  }
  for (pollfd &fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  HandleErrorBytes(&pending, "", 0, true);
}

ChildExit FilterChild::Finish() {
  CloseInput();
  if (pump_.joinable()) pump_.join();
  if (pid_ > 0) {
    int wstatus = 0;
    const auto start = Clock::now();
    for (;;) {
      pid_t done = waitpid(pid_, &wstatus, WNOHANG);
      if (done == pid_) break;
      if (done < 0 && errno != EINTR) {
        wstatus = -1;
        break;
      }
      // Its output is closed; one that lingers on is not waited for long.
      if (Clock::now() - start > std::chrono::milliseconds(killDelayMs_)) kill(-pid_, SIGKILL);
      usleep(10000);
    }
    if (wstatus != -1 && WIFEXITED(wstatus)) {
      exit_.exited = true;
      exit_.status = WEXITSTATUS(wstatus);
    } else if (wstatus != -1 && WIFSIGNALED(wstatus)) {
      exit_.signal = WTERMSIG(wstatus);
    }
    pid_ = -1;
  }
  exit_.outputFailed = outputFailed_.load();
  return exit_;
}

}  // namespace zelvarapp
