#include "filter_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
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

FilterResult RunFilter(const ScratchDir &dir, const FilterCall &call) {
  FilterResult result;
  const std::string outPath = call.stdoutPath.empty() ? dir.File("stdout") : call.stdoutPath;
  const std::string errPath = dir.File("stderr");

  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    if (strncmp(*e, "PPD=", 4) != 0) env.push_back(*e);
  env.insert(env.end(), call.environment.begin(), call.environment.end());
  std::vector<char *> envp, argv;
  for (auto &s : env) envp.push_back(const_cast<char *>(s.c_str()));
  envp.push_back(nullptr);
  for (auto &s : call.args) argv.push_back(const_cast<char *>(s.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, call.stdinPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid;
  int rc = posix_spawn(&pid, ZELVAR_FILTER_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  if (call.stdoutPath.empty()) result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
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
