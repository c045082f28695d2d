// The printer connection: whole writes despite interruptions, and failures that
// are reported instead of ending the process.
#include "output/printer_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

void Interrupted(int) {}

}  // namespace

TEST(PrinterOutput, InterruptedAndShortWritesStillDeliverEveryByteInOrder) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // Signals without SA_RESTART cut the blocking write short or make it fail
  // with EINTR while the pipe is full.
  struct sigaction sa = {}, old = {};
  sa.sa_handler = Interrupted;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGUSR1, &sa, &old);

  std::vector<uint8_t> data(4 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::vector<uint8_t> received;
  std::thread reader([&] {
    uint8_t buf[8192];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) {
      received.insert(received.end(), buf, buf + n);
      if (received.size() % (64 << 10) < sizeof buf) usleep(200);  // a slow printer
    }
  });
  pthread_t writer = pthread_self();
  std::atomic<bool> done{false};
  std::thread kicker([&] {
    while (!done.load()) {
      pthread_kill(writer, SIGUSR1);
      usleep(300);
    }
  });

  PrinterOutput out;
  out.fd = fds[1];
  out.count_bytes = 10;
  BOOL ok = WriteToPrinter(&out, data.data(), data.size());
  done = true;
  kicker.join();
  close(fds[1]);
  reader.join();
  close(fds[0]);
  sigaction(SIGUSR1, &old, nullptr);

  EXPECT_TRUE(ok);
  EXPECT_FALSE(PrinterOutputFailed(&out));
  EXPECT_EQ(out.count_bytes, 10u + data.size());
  EXPECT_TRUE(received == data);
}

TEST(PrinterOutput, FailedWriteIsReportedOnceAndLaterWritesAreRefused) {
  for (bool closedPipe : {false, true}) {
    int fd;
    int fds[2];
    if (closedPipe) {
      ASSERT_EQ(pipe(fds), 0);
      close(fds[0]);
      fd = fds[1];
    } else {
      fd = open("/dev/full", O_WRONLY);
      ASSERT_GE(fd, 0);
    }
    PrinterOutput out;
    out.fd = fd;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteToPrinter(&out, "abc", 3));  // a closed pipe must not raise SIGPIPE
    EXPECT_FALSE(WriteToPrinter(&out, "def", 3));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(PrinterOutputFailed(&out));
    EXPECT_EQ(out.count_bytes, 0u);
    EXPECT_EQ(err.rfind("ERROR: ", 0), 0u) << err;
    EXPECT_EQ(err.find("ERROR: ", 1), std::string::npos) << err;
    close(fd);
  }
}

TEST(PrinterOutput, AFaultThatLosesPartOfTheJobStopsTheOutputLikeAFailedWrite) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  PrinterOutput out;
  out.fd = fds[1];
  testing::internal::CaptureStderr();
  EXPECT_TRUE(WriteToPrinter(&out, "abc", 3));
  FailPrinterOutput(&out, "Unable to compress page %u", 2u);
  EXPECT_FALSE(WriteToPrinter(&out, "def", 3));
  FailPrinterOutput(&out, "Unable to compress page %u", 3u);
  // A write failing afterwards adds no second error line either.
  close(fds[0]);
  EXPECT_FALSE(WriteToPrinter(&out, "ghi", 3));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(PrinterOutputFailed(&out));
  EXPECT_EQ(out.count_bytes, 3u);
  EXPECT_EQ(err.rfind("ERROR: Unable to compress page 2\n", 0), 0u) << err;
  EXPECT_EQ(err.find("ERROR: ", 1), std::string::npos) << err;
  close(fds[1]);
}
