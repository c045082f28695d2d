// Fuzz entry: the bytes are the filter's arguments and option text.
#include <string>
#include <vector>

#include "filter_run.h"
#include "fuzz_entries.h"
#include "job_check.h"
#include "test_raster.h"

namespace fuzzentry {

namespace {

// Two small pages, one of each conversion path.
const std::string &FixedRaster() {
  static const std::string raster = [] {
    std::vector<testraster::Page> pages;
    for (unsigned bits : {24u, 8u}) {
      testraster::Page p = testraster::WhitePage(testraster::MakeHeader(40, 24, bits, 300));
      testraster::InkRect(p, 8, 6, 20, 10, 255);
      pages.push_back(p);
    }
    return testraster::RasterBytes(pages);
  }();
  return raster;
}

// Queue, job id, user, title, copies, options: the bytes up to each zero byte.
std::vector<std::string> SplitArguments(const uint8_t *data, size_t size) {
  std::vector<std::string> args;
  std::string field;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && args.size() < 5) {
      args.push_back(field);
      field.clear();
    } else if (data[i] != 0) {
      field.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(field);
  args.resize(6);
  return args;
}

// What a header comment may show of a text: control characters as blanks.
std::string Shown(const std::string &text) {
  std::string s = text;
  for (char &c : s)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return s;
}

// Texts this short always fit the header block whole.
constexpr size_t kAlwaysWhole = 40;

std::string CheckComment(const char *name, const std::string &given, const std::string &shown) {
  const std::string want = Shown(given);
  if (shown.size() > want.size() || want.compare(0, shown.size(), shown) != 0)
    return std::string("the ") + name + " comment \"" + shown + "\" is not taken from \"" + want +
           "\"";
  if (given.size() <= kAlwaysWhole && shown != want)
    return std::string("the ") + name + " comment \"" + shown + "\" is shortened from \"" + want +
           "\"";
  return std::string();
}

}  // namespace

std::string JobArguments(const uint8_t *data, size_t size) {
  const std::vector<std::string> args = SplitArguments(data, size);
  FilterRunResult run = RunFilterInProcess(args, FixedRaster());
  inspect::ParsedJob job;
  std::string broken = CheckFilterRun(run, &job);
  if (!broken.empty()) return broken;
  if (run.status != 0) return "exit status 1 on a sound raster: " + run.err.substr(0, 300);
  if (job.pages.size() != 2)
    return "the job holds " + std::to_string(job.pages.size()) + " pages instead of 2";
  const inspect::HeaderComments &c = job.comments;
  for (const std::string &b :
       {CheckComment("queue", args[0], c.queue), CheckComment("user", args[2], c.user),
        CheckComment("title", args[3], c.title), CheckComment("copies", args[4], c.copies)})
    if (!b.empty()) return b;
  // The fixed raster asks for one copy on one side, whatever the texts say.
  const std::string *copies = inspect::FindSetting(job, "COPIES");
  const std::string *duplex = inspect::FindSetting(job, "DUPLEX");
  if (!copies || *copies != "1" || !duplex || *duplex != "OFF")
    return "the header block's settings changed with the texts";
  return std::string();
}

}  // namespace fuzzentry
