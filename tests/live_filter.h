// The filter binary running while a test feeds its raster through a pipe, as a
// CUPS filter chain does, and reads its output and log as they come.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace filtertest {

class LiveFilter {
 public:
  // args: argv[0] (the queue) and the further arguments; extraEnv (NAME=VALUE
  // entries) replaces or adds to this process's environment, less PPD.
  LiveFilter(const std::vector<std::string> &args, const std::vector<std::string> &extraEnv);
  ~LiveFilter();
  LiveFilter(const LiveFilter &) = delete;
  LiveFilter &operator=(const LiveFilter &) = delete;

  pid_t pid() const { return pid_; }
  // Writes raster bytes; false once the filter has stopped reading.
  bool Feed(const std::string &bytes);
  // Closes the input: the raster stream ends there.
  void EndInput();
  // Stops reading the output after the chunk in hand, so that the filter's
  // writes block once the pipe is full, as behind a printer that takes no data.
  void PauseOutput();
  // Closes the reading end of the output, as a printer connection that goes
  // away, and returns once it is closed: the filter's next write fails.  What
  // was read before is kept.  Call it after PauseOutput, or while the filter
  // writes: a reader waiting in read() sees it only when data comes.
  void CloseOutput();
  // Bytes the filter has written that are waiting in the output pipe.
  size_t OutputPending();
  // Waits up to `limit` for `text` to appear in the log; false if it did not.
  bool WaitForLog(const std::string &text, std::chrono::milliseconds limit);
  // Waits up to `limit` for the filter to exit while its input stays open:
  // the exit status, 128 + the signal that ended it, or -1 when it still runs.
  int WaitKeepingInput(std::chrono::milliseconds limit);
  // Ends the input and waits; the exit status, or 128 + the signal that ended it.
  int Wait();
  // The whole output and log; complete once Wait or WaitKeepingInput saw the exit.
  std::string out();
  std::string err();

 private:
  void Reap(int wstatus);
  void JoinReaders();
  void Drain(int fd, std::string *to, bool output);

  pid_t pid_ = -1;
  int in_ = -1;
  int status_ = -1;
  std::mutex lock_;  // guards out_, err_ and outState_
  std::string out_, err_;
  enum class OutState { kReading, kPaused, kClosed } outState_ = OutState::kReading;
  bool outDone_ = false;  // the output's reading end is closed
  int outFd_ = -1;        // that reading end while it is open
  std::condition_variable outStateChanged_;
  std::thread outReader_, errReader_;
};

}  // namespace filtertest
