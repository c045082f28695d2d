// rastertoZelvar as a child process, run the way the CUPS scheduler runs a
// filter: the queue name as argv[0] and the job's arguments after it, the raster
// stream on its standard input.  Its standard output is the printer job; its
// standard error carries the status lines ("PAGE:", "INFO:", "ERROR:") that are
// handed on as events.  A cancel sends it SIGTERM, on which it closes the printer
// job with its trailer and exits; one that does not is killed after a while.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zelvarapp {

// A line of the filter's standard error.
struct StatusLine {
  enum Kind { kPage, kInfo, kError, kDebug, kOther } kind = kOther;
  std::string text;     // after the prefix and its blank
  unsigned copies = 0;  // kPage: the times the printer prints the record
};
StatusLine ParseStatusLine(const std::string &line);

// Called on the child's output thread, one at a time.
struct ChildEvents {
  // Printer bytes; false when they could not be sent (the job then ends).
  std::function<bool(const char *data, size_t size)> output;
  std::function<void(const StatusLine &line)> status;
  // Polled while the child runs: true once the job has been cancelled.
  std::function<bool()> cancelled;
};

struct ChildExit {
  bool started = false;
  bool exited = false;  // ended by exit(): `status` holds its status
  int status = -1;
  int signal = 0;             // ended by this signal
  bool terminated = false;    // SIGTERM was sent (cancel or failed output)
  bool outputFailed = false;  // output returned false
};

class FilterChild {
 public:
  FilterChild() = default;
  ~FilterChild();  // a child still running is terminated and reaped
  FilterChild(const FilterChild &) = delete;
  FilterChild &operator=(const FilterChild &) = delete;

  // Starts `program` with `args` (args[0] is the queue name) and the process's
  // environment with `environment` (NAME=VALUE) added or replaced and PPD
  // removed.  False, with the reason, if it cannot be started.
  bool Start(const std::string &program, const std::vector<std::string> &args,
             const std::vector<std::string> &environment, ChildEvents events, std::string *error);
  // Writes raster bytes to the child; false once it takes no more (it has ended,
  // or been told to stop).  Never blocks past a cancel.
  bool Write(const void *data, size_t size);
  // The raster stream ends.
  void CloseInput();
  // Asks the child to close its job now (SIGTERM, once); input is refused from then.
  void Terminate();
  // Ends the input, waits for the child and its output, and reaps it.
  ChildExit Finish();

  // How long a terminated child may take before it is killed.
  static constexpr int kKillDelayMs = 10000;
  void SetKillDelayMs(int ms) { killDelayMs_ = ms; }

 private:
  void Pump(int out, int err);
  void HandleErrorBytes(std::string *pending, const char *data, size_t size, bool flush);

  pid_t pid_ = -1;
  int in_ = -1;
  ChildEvents events_;
  std::thread pump_;
  std::atomic<bool> stop_{false};  // input refused, SIGTERM sent
  std::atomic<bool> outputFailed_{false};
  int killDelayMs_ = kKillDelayMs;
  ChildExit exit_;
};

}  // namespace zelvarapp
