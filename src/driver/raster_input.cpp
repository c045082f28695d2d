#include "driver/raster_input.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>

#include <cstring>
#include <string>

#include "runtime/cancel_signal.h"
#include "runtime/debug_log.h"
#include "runtime/status_messages.h"

namespace {

constexpr uint64_t kSyncWordBytes = 4;

// A program that writes the raster a line at a time (Ghostscript does) keeps a
// reader that is faster than it waking for every line: two system calls, and a
// wake-up of the reader in the writer's time, for each 5 KB of a 30 MB page.
// Before a read from a pipe that holds less than the read wants (up to
// kPipeFillBytes), the writer is given up to kPipeFillWaits pauses of
// kPipeFillPauseNs to fill it; not when the writer is gone (the rest is all
// there is) or the job is cancelled.  A faster writer has filled the pipe
// anyway and a slower one goes on writing during the pauses, so the pauses cost
// time only where the writer stops short of the read's size: at most a
// millisecond at the end of a page.
constexpr size_t kPipeFillBytes = 64 * 1024;
constexpr int kPipeFillWaits = 4;
constexpr long kPipeFillPauseNs = 250 * 1000;

// A raster page of 24-bit pixels is about 100 MB; through the default 64 KB pipe
// the filter and the program before it would take turns some 1600 times per
// page.  A larger pipe (if the system allows it) lets both run longer at a time.
constexpr int kPipeBytes = 1 << 20;

void LetPipeFill(int fd, size_t bytes) {
  const size_t want = bytes < kPipeFillBytes ? bytes : kPipeFillBytes;
  for (int i = 0; i < kPipeFillWaits && !CancelRequested(); ++i) {
    int held = 0;
    if (ioctl(fd, FIONREAD, &held) != 0 || held < 0 || static_cast<size_t>(held) >= want) return;
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR)) != 0) return;
    const timespec pause = {0, kPipeFillPauseNs};
    nanosleep(&pause, nullptr);
  }
}

// libcups's read callback, the only one the filter gives libcups.  libcups reads
// a page header with one request for the whole header when nothing of it is
// buffered; when part of it was already read ahead (compressed streams), the
// first request is for the rest only.  A cancel wakes a read that waits for
// input and fails it (ECANCELED).
ssize_t ReadInput(void *ctx, unsigned char *buffer, size_t bytes) {
  RasterInput *in = static_cast<RasterInput *>(ctx);
  ++in->reads;
  if (in->headerFirstAsk == 0) in->headerFirstAsk = bytes;
  if (in->fromPipe) LetPipeFill(in->fd, bytes);
  const ssize_t n = ReadUnlessCancelled(in->fd, buffer, bytes);
  if (n < 0) {
    if (in->readErrno == 0) in->readErrno = errno;
    return -1;
  }
  if (n == 0) {
    in->endOfInput = TRUE;
    in->headerHitEnd = TRUE;
  }
  for (ssize_t i = 0; i < n && in->bytesRead + static_cast<uint64_t>(i) < kSyncWordBytes; ++i)
    in->sync[in->bytesRead + static_cast<uint64_t>(i)] = static_cast<char>(buffer[i]);
  in->bytesRead += static_cast<uint64_t>(n);
  in->headerBytes += static_cast<uint64_t>(n);
  return n;
}

void StartHeaderNotes(RasterInput *in) {
  in->headerFirstAsk = 0;
  in->headerBytes = 0;
  in->headerHitEnd = FALSE;
}

// Ends that input cut short can cause, which a cancel on its way explains.
bool EndsEarly(RasterEnd end) {
  return end == kRasterReadError || end == kRasterCutInSyncWord || end == kRasterCutInHeader;
}

const char *EndName(RasterEnd end) {
  switch (end) {
    case kRasterEndOfJob:
      return "end of the job";
    case kRasterEmptyInput:
      return "empty input";
    case kRasterNoStream:
      return "no raster reader";
    case kRasterReadError:
      return "read error";
    case kRasterCutInSyncWord:
      return "cut in the sync word";
    case kRasterNotRaster:
      return "not a raster stream";
    case kRasterCutInHeader:
      return "cut in a page header";
    case kRasterBadHeader:
      return "page header refused";
  }
  return "?";
}

}  // namespace

cups_raster_t *OpenRasterInput(RasterInput *input, int fd) {
  *input = RasterInput{};
  input->fd = fd;
  struct stat st;
  input->fromPipe = fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) ? TRUE : FALSE;
  if (input->fromPipe)
    DbgMsg("RasterInput::input pipe of %d bytes", fcntl(fd, F_SETPIPE_SZ, kPipeBytes));
  // The sync word counts as the first "header" read: an input that ends before
  // any byte of it is empty.
  StartHeaderNotes(input);
  cups_raster_t *ras = cupsRasterOpenIO(ReadInput, input, CUPS_RASTER_READ);
  DbgMsg("RasterInput::open, %llu bytes read, stream %s",
         static_cast<unsigned long long>(input->bytesRead), ras ? "accepted" : "not accepted");
  return ras;
}

BOOL ReadRasterHeader(RasterInput *input, cups_raster_t *ras, cups_page_header2_t *header) {
  StartHeaderNotes(input);
  BOOL ok = cupsRasterReadHeader2(ras, header) ? TRUE : FALSE;
  if (input->headerSize == 0) input->headerSize = input->headerFirstAsk;
  return ok;
}

RasterEnd RasterInputEnd(const RasterInput *in, const cups_raster_t *ras) {
  if (in->readErrno != 0) return kRasterReadError;
  if (ras == nullptr) {
    // libcups reads the sync word right after it has allocated its reader.
    if (in->reads == 0) return kRasterNoStream;
    if (in->bytesRead == 0 && in->endOfInput) return kRasterEmptyInput;
    if (in->bytesRead < kSyncWordBytes && in->endOfInput) return kRasterCutInSyncWord;
    return kRasterNotRaster;
  }
  // A clean end: a whole header was asked for (nothing of it was buffered
  // ahead), and the input had not one byte more.
  if (in->headerHitEnd && in->headerBytes == 0 && in->headerFirstAsk == in->headerSize)
    return kRasterEndOfJob;
  if (in->headerHitEnd) return kRasterCutInHeader;
  return kRasterBadHeader;
}

BOOL RasterPixelsUncompressed(const RasterInput *input) {
  if (input == nullptr || input->bytesRead < kSyncWordBytes) return FALSE;
  const std::string sync(input->sync, kSyncWordBytes);
  return sync == "RaSt" || sync == "tSaR" || sync == "RaS3" || sync == "3SaR" ? TRUE : FALSE;
}

BOOL IsCleanRasterEnd(RasterEnd end) {
  return end == kRasterEndOfJob || end == kRasterEmptyInput ? TRUE : FALSE;
}

BOOL ReportRasterEnd(const RasterInput *input, const cups_raster_t *ras, DWORD pagesRead,
                     DWORD cancelGraceMs) {
  const RasterEnd end = RasterInputEnd(input, ras);
  DbgMsg("RasterInput::%s after %u pages, %llu bytes read", EndName(end), pagesRead,
         static_cast<unsigned long long>(input->bytesRead));
  if (IsCleanRasterEnd(end)) return TRUE;
  // A read given up for the cancel, or input cut short by it upstream.
  if (CancelRequested() || (EndsEarly(end) && CancelArrivesWithin(cancelGraceMs))) {
    DbgMsg("RasterInput::the job is cancelled, its input's end is no error");
    return TRUE;
  }
  const DWORD page = pagesRead + 1;
  switch (end) {
    case kRasterEndOfJob:
    case kRasterEmptyInput:
      return TRUE;
    case kRasterNoStream:
      ReportError("Unable to read the print data: no memory for the raster reader");
      break;
    case kRasterReadError:
      ReportError("Unable to read the print data: %s", strerror(input->readErrno));
      break;
    case kRasterCutInSyncWord:
      ReportError("The print data ends after %llu bytes, inside the raster sync word",
                  static_cast<unsigned long long>(input->bytesRead));
      break;
    case kRasterNotRaster:
      ReportError("The print data is not a CUPS raster stream");
      break;
    case kRasterCutInHeader:
      ReportError("The raster data ends inside the header of page %u", page);
      break;
    case kRasterBadHeader:
      ReportError("Page %u has a raster header that cannot be read", page);
      break;
  }
  return FALSE;
}
