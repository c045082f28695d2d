#include "live_filter.h"

#include <errno.h>
#include <spawn.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "filter_process.h"

namespace filtertest {

LiveFilter::LiveFilter(const std::vector<std::string> &args,
                       const std::vector<std::string> &extraEnv) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return;
  std::vector<std::string> env = FilterEnvironment(extraEnv);
  std::vector<char *> argv, envp;
  for (auto &s : args) argv.push_back(const_cast<char *>(s.c_str()));
  argv.push_back(nullptr);
  for (auto &s : env) envp.push_back(const_cast<char *>(s.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
    posix_spawn_file_actions_addclose(&actions, fd);
  if (posix_spawn(&pid_, ZELVAR_FILTER_PATH, &actions, nullptr, argv.data(), envp.data()) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  outFd_ = out[0];
  outReader_ = std::thread(&LiveFilter::Drain, this, out[0], &out_, true);
  errReader_ = std::thread(&LiveFilter::Drain, this, err[0], &err_, false);
}

LiveFilter::~LiveFilter() { Wait(); }

bool LiveFilter::Feed(const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool LiveFilter::WaitForLog(const std::string &text, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  do {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (err_.find(text) != std::string::npos) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

int LiveFilter::WaitKeepingInput(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (pid_ > 0) {
    int wstatus = 0;
    pid_t done = waitpid(pid_, &wstatus, WNOHANG);
    if (done == pid_) {
      Reap(wstatus);
      break;
    }
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status_;
}

void LiveFilter::EndInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

int LiveFilter::Wait() {
  EndInput();
  {
    // A paused output would keep the filter waiting for ever.
    std::lock_guard<std::mutex> guard(lock_);
    if (outState_ == OutState::kPaused) outState_ = OutState::kClosed;
    outStateChanged_.notify_all();
  }
  if (pid_ > 0) {
    int wstatus = 0;
    while (waitpid(pid_, &wstatus, 0) < 0 && errno == EINTR) {
    }
    Reap(wstatus);
  }
  JoinReaders();
  return status_;
}

void LiveFilter::JoinReaders() {
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
}

void LiveFilter::Reap(int wstatus) {
  status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  pid_ = -1;
  // The pipes close with the process; what it wrote is all read then.
  JoinReaders();
}

std::string LiveFilter::out() {
  std::lock_guard<std::mutex> guard(lock_);
  return out_;
}

std::string LiveFilter::err() {
  std::lock_guard<std::mutex> guard(lock_);
  return err_;
}

size_t LiveFilter::OutputPending() {
  std::lock_guard<std::mutex> guard(lock_);
  int n = 0;
  if (outDone_ || outFd_ < 0 || ioctl(outFd_, FIONREAD, &n) != 0) return 0;
  return static_cast<size_t>(n);
}

void LiveFilter::PauseOutput() {
  std::lock_guard<std::mutex> guard(lock_);
  if (outState_ == OutState::kReading) outState_ = OutState::kPaused;
  outStateChanged_.notify_all();
}

void LiveFilter::CloseOutput() {
  std::unique_lock<std::mutex> guard(lock_);
  outState_ = OutState::kClosed;
  outStateChanged_.notify_all();
  outStateChanged_.wait(guard, [this] { return outDone_; });
}

void LiveFilter::Drain(int fd, std::string *to, bool output) {
  char chunk[65536];
  for (;;) {
    if (output) {
      // A paused reader waits here, outside read(), until it may go on or must
      // close: the close then takes effect at once.
      std::unique_lock<std::mutex> guard(lock_);
      outStateChanged_.wait(guard, [this] { return outState_ != OutState::kPaused; });
      if (outState_ == OutState::kClosed) break;
    }
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::lock_guard<std::mutex> guard(lock_);
    to->append(chunk, static_cast<size_t>(n));
  }
  if (!output) {
    close(fd);
    return;
  }
  // Closed under the lock, so that OutputPending never asks a closed descriptor.
  std::lock_guard<std::mutex> guard(lock_);
  close(fd);
  outDone_ = true;
  outStateChanged_.notify_all();
}

}  // namespace filtertest
