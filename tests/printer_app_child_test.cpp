// The Printer Application's child process: the real rastertoZelvar run as the
// application runs it, fed a raster stream made with libcups's writer, its
// printer job read back with the inspector's parser; and stand-ins from the shell
// where a filter must misbehave.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "job_parser.h"
#include "numbered_pages.h"
#include "printer_app/filter_child.h"
#include "test_raster.h"

namespace {

using zelvarapp::ChildEvents;
using zelvarapp::ChildExit;
using zelvarapp::FilterChild;
using zelvarapp::StatusLine;

// What a child sent, gathered on its output thread.
struct Gathered {
  std::mutex lock;
  std::string output;
  std::vector<StatusLine> lines;
  std::atomic<bool> cancelled{false};
  bool printerFails = false;

  ChildEvents Events() {
    ChildEvents e;
    e.output = [this](const char *data, size_t size) {
      std::lock_guard<std::mutex> guard(lock);
      output.append(data, size);
      return !printerFails;
    };
    e.status = [this](const StatusLine &line) {
      std::lock_guard<std::mutex> guard(lock);
      lines.push_back(line);
    };
    e.cancelled = [this] { return cancelled.load(); };
    return e;
  }
  unsigned Sides() {
    std::lock_guard<std::mutex> guard(lock);
    unsigned n = 0;
    for (const StatusLine &l : lines)
      if (l.kind == StatusLine::kPage) n += l.copies;
    return n;
  }
  std::string Lines(StatusLine::Kind kind) {
    std::lock_guard<std::mutex> guard(lock);
    std::string all;
    for (const StatusLine &l : lines)
      if (l.kind == kind) all += l.text + "\n";
    return all;
  }
};

std::vector<std::string> FilterArgs(const char *copies = "1", const char *options = "") {
  return {"zelvar", "42", "alice", "Report", copies, options};
}

bool Start(FilterChild *child, Gathered *g, const std::string &program,
           const std::vector<std::string> &args) {
  std::string error;
  const bool ok = child->Start(program, args, {"TMPDIR=/tmp"}, g->Events(), &error);
  EXPECT_TRUE(ok) << error;
  return ok;
}

// Feeds the raster in pieces of `piece` bytes, as a raster writer hands them
// over, until the child takes no more; false if it stopped taking them.
bool Feed(FilterChild *child, const std::string &raster, size_t piece = 65536) {
  for (size_t at = 0; at < raster.size(); at += piece)
    if (!child->Write(raster.data() + at, std::min(piece, raster.size() - at))) return false;
  return true;
}

inspect::ParsedJob Parse(const std::string &out) {
  return inspect::ParseJob({reinterpret_cast<const uint8_t *>(out.data()), out.size()});
}

TEST(PrinterAppChild, TheFiltersPrinterJobAndStatusLinesComeThrough) {
  FilterChild child;
  Gathered g;
  ASSERT_TRUE(
      Start(&child, &g, ZELVAR_FILTER_PATH,
            FilterArgs("2", "multiple-document-handling=separate-documents-collated-copies")));
  const std::string raster = testraster::RasterBytes(filtertest::NumberedPages(3, false, 2));
  ASSERT_TRUE(Feed(&child, raster, 7777));
  const ChildExit exit = child.Finish();
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 0);
  EXPECT_FALSE(exit.terminated);
  EXPECT_EQ(filtertest::PageOrder(g.output), "1 2 3 1 2 3") << "collated copies by the filter";
  const inspect::ParsedJob job = Parse(g.output);
  EXPECT_EQ(job.comments.queue, "zelvar");
  EXPECT_EQ(job.comments.title, "Report");
  EXPECT_EQ(job.comments.user, "alice");
  EXPECT_EQ(g.Sides(), 6u);
  EXPECT_NE(g.Lines(StatusLine::kInfo).find("Printing page 3"), std::string::npos);
  EXPECT_EQ(g.Lines(StatusLine::kError), "");
}

TEST(PrinterAppChild, ACancelClosesThePrinterJobAfterWholePages) {
  FilterChild child;
  Gathered g;
  ASSERT_TRUE(Start(&child, &g, ZELVAR_FILTER_PATH, FilterArgs()));
  const std::string raster = testraster::RasterBytes(filtertest::NumberedPages(40, false, 1, true));
  // Feed on another thread, the way PAPPL's job thread does, until the child
  // stops taking input.
  std::thread feeder([&] { Feed(&child, raster); });
  while (g.Sides() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto cancelledAt = std::chrono::steady_clock::now();
  g.cancelled = true;  // seen by the output thread, which sends SIGTERM
  feeder.join();
  const ChildExit exit = child.Finish();
  const auto took = std::chrono::steady_clock::now() - cancelledAt;
  EXPECT_TRUE(exit.terminated);
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 0) << "a cancelled filter closes its job and exits normally";
  EXPECT_LT(took, std::chrono::seconds(5));
  const inspect::ParsedJob job = Parse(g.output);
  EXPECT_TRUE(job.ok) << job.error;
  EXPECT_TRUE(job.has_trailer);
  EXPECT_GE(job.pages.size(), 1u);
  EXPECT_LT(job.pages.size(), 40u);
  EXPECT_EQ(g.Sides(), job.pages.size()) << "a PAGE: line for every record";
  EXPECT_NE(g.Lines(StatusLine::kInfo).find("Job cancelled"), std::string::npos);
}

TEST(PrinterAppChild, AFailingFilterReportsItsErrorAndStatus) {
  FilterChild child;
  Gathered g;
  ASSERT_TRUE(Start(&child, &g, "/bin/sh",
                    {"/bin/sh", "-c", "echo 'ERROR: the printer is on fire' >&2; exit 3"}));
  const ChildExit exit = child.Finish();
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 3);
  EXPECT_EQ(g.Lines(StatusLine::kError), "the printer is on fire\n");

  FilterChild crashing;
  ASSERT_TRUE(Start(&crashing, &g, "/bin/sh", {"/bin/sh", "-c", "kill -SEGV $$"}));
  const ChildExit crashed = crashing.Finish();
  EXPECT_FALSE(crashed.exited);
  EXPECT_EQ(crashed.signal, SIGSEGV);
}

TEST(PrinterAppChild, AFilterThatCannotStartSaysWhy) {
  FilterChild child;
  Gathered g;
  std::string error;
  EXPECT_FALSE(child.Start("/nonexistent/rastertoZelvar", FilterArgs(), {}, g.Events(), &error));
  EXPECT_NE(error.find("/nonexistent/rastertoZelvar"), std::string::npos) << error;
  EXPECT_FALSE(child.Finish().started);
}

TEST(PrinterAppChild, WritesStopWhenTheChildTakesNoMoreInput) {
  // A child that never reads: once its pipe is full a write waits, and a
  // terminate from elsewhere (the cancel) must end that wait.
  FilterChild child;
  Gathered g;
  ASSERT_TRUE(Start(&child, &g, "/bin/sh", {"/bin/sh", "-c", "exec sleep 30"}));
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    child.Terminate();
  });
  const std::string chunk(4 << 20, 'x');
  EXPECT_FALSE(child.Write(chunk.data(), chunk.size()));
  canceller.join();
  const ChildExit exit = child.Finish();
  EXPECT_EQ(exit.signal, SIGTERM);
  // A child that died refuses input too (with SIGPIPE ignored, as the
  // application has it).
  signal(SIGPIPE, SIG_IGN);
  FilterChild gone;
  ASSERT_TRUE(Start(&gone, &g, "/bin/true", {"true"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  bool refused = false;
  for (int i = 0; i < 100 && !refused; ++i) refused = !gone.Write(chunk.data(), 65536);
  EXPECT_TRUE(refused);
  EXPECT_EQ(gone.Finish().status, 0);
}

TEST(PrinterAppChild, AChildThatIgnoresTheCancelIsKilled) {
  FilterChild child;
  Gathered g;
  child.SetKillDelayMs(300);
  ASSERT_TRUE(Start(&child, &g, "/bin/sh",
                    {"/bin/sh", "-c", "trap '' TERM; echo 'INFO: started' >&2; exec sleep 30"}));
  while (g.Lines(StatusLine::kInfo).empty())
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  child.Terminate();
  const ChildExit exit = child.Finish();
  EXPECT_FALSE(exit.exited);
  EXPECT_EQ(exit.signal, SIGKILL);
}

TEST(PrinterAppChild, APrinterThatFailsEndsTheFilter) {
  FilterChild child;
  Gathered g;
  g.printerFails = true;
  ASSERT_TRUE(Start(&child, &g, ZELVAR_FILTER_PATH, FilterArgs()));
  Feed(&child, testraster::RasterBytes(filtertest::NumberedPages(20, false, 1)));
  const ChildExit exit = child.Finish();
  EXPECT_TRUE(exit.outputFailed);
  EXPECT_TRUE(exit.terminated);
}

TEST(PrinterAppChild, TwoJobsRunSideBySide) {
  // Each child has only its own pipes: one job's end does not wait for the
  // other, which is still being fed.
  FilterChild first, second;
  Gathered a, b;
  ASSERT_TRUE(Start(&first, &a, ZELVAR_FILTER_PATH, FilterArgs()));
  ASSERT_TRUE(Start(&second, &b, ZELVAR_FILTER_PATH, FilterArgs()));
  const std::string two = testraster::RasterBytes(filtertest::NumberedPages(2, false, 1));
  const std::string three = testraster::RasterBytes(filtertest::NumberedPages(3, false, 1));
  ASSERT_TRUE(second.Write(three.data(), three.size() / 2));
  ASSERT_TRUE(first.Write(two.data(), two.size()));
  EXPECT_EQ(first.Finish().status, 0);
  ASSERT_TRUE(second.Write(three.data() + three.size() / 2, three.size() - three.size() / 2));
  EXPECT_EQ(second.Finish().status, 0);
  EXPECT_EQ(filtertest::PageOrder(a.output), "1 2");
  EXPECT_EQ(filtertest::PageOrder(b.output), "1 2 3");
}

TEST(PrinterAppChild, StatusLinesAreReadAsTheSchedulerReadsThem) {
  StatusLine s = zelvarapp::ParseStatusLine("PAGE: 4 2");
  EXPECT_EQ(s.kind, StatusLine::kPage);
  EXPECT_EQ(s.copies, 2u);
  s = zelvarapp::ParseStatusLine("PAGE: 4");
  EXPECT_EQ(s.kind, StatusLine::kOther) << "a page line without its copies is not counted";
  s = zelvarapp::ParseStatusLine("PAGE: 4 2 trailing");
  EXPECT_EQ(s.kind, StatusLine::kOther);
  s = zelvarapp::ParseStatusLine("ERROR:  Unable to open print file: gone");
  EXPECT_EQ(s.kind, StatusLine::kError);
  EXPECT_EQ(s.text, "Unable to open print file: gone");
  s = zelvarapp::ParseStatusLine("INFO: Printing page 1");
  EXPECT_EQ(s.kind, StatusLine::kInfo);
  EXPECT_EQ(s.text, "Printing page 1");
  s = zelvarapp::ParseStatusLine("Usage: FILTER JOD_ID");
  EXPECT_EQ(s.kind, StatusLine::kOther);
  EXPECT_EQ(s.text, "Usage: FILTER JOD_ID");
}

}  // namespace
