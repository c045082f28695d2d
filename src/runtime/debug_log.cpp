#include "runtime/debug_log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "runtime/control_escape.h"

namespace {

const char kLogDir[] = "/tmp/VelPrinter";
const char kLogName[] = "VelPrinterLog.log";  // inside the switch directory

std::atomic<const char *> gLogDir{kLogDir};

// Writes the whole buffer, retrying interrupted and short writes.
void WriteAll(int fd, const char *p, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    len -= static_cast<size_t>(n);
  }
}

// Appends one record to the log file of the switch directory.  Neither the
// directory nor the file is reached through a symbolic link, and a file with a
// second hard link is left alone: the record goes into the directory's own
// regular file or nowhere.  The record goes out in one append.
void AppendRecord(const char *dir, const char *record, size_t len) {
  int dirfd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirfd < 0) return;
  int fd = openat(dirfd, kLogName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  close(dirfd);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) WriteAll(fd, record, len);
  close(fd);
}

}  // namespace

void SetDebugLogDir(const char *dir) {
  gLogDir.store(dir ? dir : kLogDir, std::memory_order_release);
}

void DbgMsg(const char *szMsgFormat, ...) {
  // The message: at most 2046 characters, then room for the newline and the
  // terminator.  A longer message is cut.
  char msgText[2048];

  char raw[sizeof msgText];
  va_list ap;
  va_start(ap, szMsgFormat);
  vsnprintf(raw, sizeof raw - 1, szMsgFormat, ap);
  va_end(ap);
  // Line breaks in the text (a job title, say) are escaped: every message is
  // one line.
  size_t len = EscapeControls(raw, msgText, sizeof msgText - 2);

  // One write per standard-error line, so lines of different threads never mix.
  char line[sizeof msgText + 32];
  int n = snprintf(line, sizeof line, "DEBUG: %s ---------->\n", msgText);
  if (n > 0)
    WriteAll(2, line,
             static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);

  // The log file only while the switch directory exists.
  const char *dir = gLogDir.load(std::memory_order_acquire);
  if (access(dir, F_OK) != 0) return;
  char msgTime[260];
  time_t now = time(nullptr);
  struct tm tmv;
  memset(&tmv, 0, sizeof tmv);
  localtime_r(&now, &tmv);
  snprintf(msgTime, sizeof msgTime, "[%04d/%02d/%02d %02d:%02d:%02d] ", tmv.tm_year + 1900,
           tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  msgText[len] = '\n';

  char record[sizeof msgTime + sizeof msgText];
  size_t tl = strlen(msgTime);
  memcpy(record, msgTime, tl);
  memcpy(record + tl, msgText, len + 1);
  AppendRecord(dir, record, tl + len + 1);
}
