#include "output/spool_file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "output/page_record.h"
#include "output/printer_output.h"
#include "page/page.h"
#include "runtime/cancel_signal.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/status_messages.h"
#include "runtime/win_helpers.h"

namespace {

using SpoolState = SpoolFile;

DWORD GetDword(const BYTE *p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

// Marks the spool as failed and reports the first failure of the job.
void FailSpool(SpoolState &s, const char *format, ...) __attribute__((format(printf, 2, 3)));
void FailSpool(SpoolState &s, const char *format, ...) {
  char text[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  DbgMsg("spool: %s", text);
  if (s.failed.exchange(TRUE, std::memory_order_acq_rel) == FALSE)
    ReportError("%s; the job cannot be printed whole", text);
}

bool WriteAt(SpoolState &s, const BYTE *data, size_t len, uint64_t offset) {
  while (len > 0) {
    ssize_t n = pwrite(s.fd, data, len, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FailSpool(s, "Unable to write the spool file: %s", strerror(n < 0 ? errno : EIO));
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool ReadAt(SpoolState &s, BYTE *data, size_t len, uint64_t offset) {
  while (len > 0) {
    ssize_t n = pread(s.fd, data, len, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FailSpool(s, "Unable to read the spool file: %s",
                n < 0 ? strerror(errno) : "it ends inside a page entry");
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool WriteFileHeader(SpoolState &s, const SpoolRecHeader &header) {
  BYTE bytes[kSpoolHeaderSize];
  PutDword(bytes, header.pages);
  PutDword(bytes + 4, header.bfOffBits);
  return WriteAt(s, bytes, sizeof bytes, 0);
}

// Finds entry `index`: reads its dataLen from the file and gives the offset of
// its record.  Lock held; `index` is below the entry count.
bool FindEntry(SpoolState &s, DWORD index, SpoolPageHeader *gSpoolPageHeader,
               uint64_t *recordOffset) {
  if (index >= s.entryOffsets.size()) return false;
  const uint64_t offset = s.entryOffsets[index];
  BYTE field[kSpoolEntryHeaderSize];
  if (!ReadAt(s, field, sizeof field, offset)) return false;
  gSpoolPageHeader->dataLen = GetDword(field);
  *recordOffset = offset + kSpoolEntryHeaderSize;
  return true;
}

// A lookup's entry check: TRUE when `index` names a complete entry.  Lock held.
bool IndexInFile(const SpoolState &s, DWORD index) {
  if (s.fd >= 0 && index < s.gSpoolFileHeader.pages) return true;
  DbgMsg("Page Index %u Error, Total pages %u", index, s.gSpoolFileHeader.pages);
  return false;
}

// Sends entry `k` to the printer; `caller` names the page line in the log.
bool CopyOutPage(SpoolFile *spool, PrinterOutput *out, DWORD k, const char *caller) {
  SpoolState &s = *spool;
  DWORD size = GetPageDataSize(spool, k);
  DbgMsg("%s::Page[%u] pageSize = %u", caller, k, size);
  if (size == 0) {
    FailSpool(s, "Unable to read page entry %u from the spool file", k);
    return false;
  }
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
  if (!buffer) {
    FailSpool(s, "Unable to copy page entry %u from the spool file: not enough memory for %u bytes",
              k, size);
    return false;
  }
  if (!GetPageData(spool, k, size, buffer.get())) {
    FailSpool(s, "Unable to read page entry %u from the spool file", k);
    return false;
  }
  if (!WriteToPrinter(out, buffer.get(), size)) return false;
  ReportPageSent(out);
  return true;
}

bool OutputUsable(const SpoolFile *spool, const PrinterOutput *out) {
  return !SpoolFailed(spool) && !PrinterOutputFailed(out);
}

}  // namespace

BOOL JobNeedsSpool(BOOL bDuplex, BOOL bDriverDoCollate) {
  return bDuplex || bDriverDoCollate ? TRUE : FALSE;
}

BOOL SpoolFailed(const SpoolFile *spool) { return spool->failed.load(std::memory_order_acquire); }

BOOL Spooling(const SpoolFile *spool) { return spool->gSaveToFile.load(std::memory_order_acquire); }

SpoolFile::~SpoolFile() { RemoveSpoolFile(this); }

BOOL CreateSpoolFile(SpoolFile *spool) {
  // A full disk or a file size limit must show as a failed write, not end the
  // filter by SIGXFSZ before it can report the error.
  static std::once_flag ignoreFileSizeSignal;
  std::call_once(ignoreFileSizeSignal, [] { signal(SIGXFSZ, SIG_IGN); });

  RemoveSpoolFile(spool);
  DbgMsg("Create Spool File");
  const char *dir = getenv("TMPDIR");
  if (dir == nullptr || *dir == '\0') dir = "/tmp";
  std::string name = std::string(dir) + "/zelvar-spool-XXXXXX";
  // mkostemp creates the file exclusively with mode 0600: it never opens an
  // existing file or follows a link planted under the name.
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    DbgMsg("main::unable to create the spool file in %s: %s", dir, strerror(err));
    ReportInfo(
        "Unable to create a spool file in %s (%s): printing without collated copies or "
        "two-sided page order",
        dir, strerror(err));
    return FALSE;
  }
  DbgMsg("main::spool file %s", name.c_str());

  SpoolState &s = *spool;
  std::lock_guard<std::mutex> guard(s.lock);
  s.fd = fd;
  if (unlink(name.c_str()) != 0) {
    DbgMsg("main::unable to remove the spool file's name now (%s), it is removed at the end",
           strerror(errno));
    s.leftoverName = name;
  }
  s.gSpoolFileHeader = {0, kSpoolHeaderSize};
  s.end = kSpoolHeaderSize;
  s.entryOffsets.clear();
  // A spool that cannot take its header has failed already; the job still goes
  // through it, so the failure reaches the end of the job.
  WriteFileHeader(s, s.gSpoolFileHeader);
  s.gSaveToFile.store(TRUE, std::memory_order_release);
  return TRUE;
}

void RemoveSpoolFile(SpoolFile *spool) {
  SpoolState &s = *spool;
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.fd >= 0) close(s.fd);
  if (!s.leftoverName.empty()) DeleteFile(s.leftoverName.c_str());
  s.fd = -1;
  s.leftoverName.clear();
  s.gSpoolFileHeader = {0, kSpoolHeaderSize};
  s.end = 0;
  s.entryOffsets.clear();
  s.entryOffsets.shrink_to_fit();
  s.failed.store(FALSE, std::memory_order_release);
  s.gSaveToFile.store(FALSE, std::memory_order_release);
}

BOOL AppendSpoolPage(SpoolFile *spool, const BYTE *record, size_t size) {
  SpoolState &s = *spool;
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.failed.load(std::memory_order_acquire)) return FALSE;
  if (s.fd < 0) {
    FailSpool(s, "No spool file is open for page entry %u", s.gSpoolFileHeader.pages);
    return FALSE;
  }
  if (size > 0xFFFFFFFFu) {
    FailSpool(s, "Page entry %u of %zu bytes is too large for the spool file",
              s.gSpoolFileHeader.pages, size);
    return FALSE;
  }
  SpoolPageHeader gSpoolPageHeader = {static_cast<DWORD>(size)};
  BYTE field[kSpoolEntryHeaderSize];
  PutDword(field, gSpoolPageHeader.dataLen);
  if (!WriteAt(s, field, sizeof field, s.end) ||
      !WriteAt(s, record, size, s.end + kSpoolEntryHeaderSize))
    return FALSE;
  if (s.entryOffsets.size() == s.entryOffsets.capacity()) {
    // Grown here, where running out of memory can still be reported.
    const size_t grown = s.entryOffsets.capacity() < 64 ? 64 : 2 * s.entryOffsets.capacity();
    try {
      s.entryOffsets.reserve(grown);
    } catch (const std::bad_alloc &) {
      FailSpool(s, "Not enough memory to index page entry %u of the spool file",
                s.gSpoolFileHeader.pages);
      return FALSE;
    }
  }
  SpoolRecHeader header = {s.gSpoolFileHeader.pages + 1, kSpoolHeaderSize};
  if (!WriteFileHeader(s, header)) return FALSE;
  s.entryOffsets.push_back(s.end);
  s.gSpoolFileHeader = header;
  s.end += kSpoolEntryHeaderSize + size;
  return TRUE;
}

DWORD SpooledPages(SpoolFile *spool) {
  SpoolState &s = *spool;
  std::lock_guard<std::mutex> guard(s.lock);
  return s.gSpoolFileHeader.pages;
}

DWORD GetPageDataSize(SpoolFile *spool, DWORD index) {
  SpoolState &s = *spool;
  DWORD result = 0;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    SpoolPageHeader gSpoolPageHeader;
    uint64_t recordOffset;
    if (IndexInFile(s, index) && FindEntry(s, index, &gSpoolPageHeader, &recordOffset))
      result = gSpoolPageHeader.dataLen;
  }
  return result;
}

BOOL GetPageData(SpoolFile *spool, DWORD index, DWORD outBufSize, BYTE *lpOutBuf) {
  SpoolState &s = *spool;
  BOOL result = FALSE;
  {
    std::lock_guard<std::mutex> guard(s.lock);
    SpoolPageHeader gSpoolPageHeader;
    uint64_t recordOffset;
    if (IndexInFile(s, index) && FindEntry(s, index, &gSpoolPageHeader, &recordOffset)) {
      if (gSpoolPageHeader.dataLen > outBufSize) {
        DbgMsg("Page [%u] Buffer too Small %u / %u", index, outBufSize, gSpoolPageHeader.dataLen);
      } else if (ReadAt(s, lpOutBuf, gSpoolPageHeader.dataLen, recordOffset)) {
        result = TRUE;
      }
    }
  }
  return result;
}

BOOL PJL_FlushPage(SpoolFile *spool, PrinterOutput *out, DWORD *finishpage, int bDuplex) {
  const DWORD startpage = *finishpage;
  DWORD PagesInFile = SpooledPages(spool);
  // An unpaired last page waits for its partner.
  if (bDuplex && PagesInFile % 2 != 0) --PagesInFile;
  DbgMsg("PJL_FlushPage::pages %u to %u", startpage, PagesInFile);
  // A cancel stops the copy-out quietly, between two records.
  bool ok = OutputUsable(spool, out);
  if (bDuplex) {
    for (DWORD i = startpage; ok && !CancelRequested() && i + 1 < PagesInFile; i += 2) {
      ok = CopyOutPage(spool, out, i + 1, "PJL_FlushPage");
      if (ok) ++*finishpage;
      if (!ok || CancelRequested()) break;
      ok = CopyOutPage(spool, out, i, "PJL_FlushPage");
      if (ok) ++*finishpage;
    }
  } else {
    for (DWORD i = startpage; ok && !CancelRequested() && i < PagesInFile; ++i) {
      ok = CopyOutPage(spool, out, i, "PJL_FlushPage");
      if (ok) ++*finishpage;
    }
  }
  return ok ? TRUE : FALSE;
}

BOOL PJL_SaveBlankPage(SpoolFile *spool, DWORD page_index, const cups_page_header2_t &inheader) {
  Page page{};
  page.PageIndex = page_index;
  page.inheader = inheader;
  LayOutBlankBackPage(&page);

  // No bitmap is made: the data is one stripe end marker (SDNORM) with no coded
  // data before it.
  BYTE record[kBlankPageRecordSize];
  memcpy(record, kPageRecordStart, sizeof kPageRecordStart);
  PJL_WritePageHeader(&page, record + sizeof kPageRecordStart, 2, 0);
  record[kPageRecordPrefix] = 0xFF;
  record[kPageRecordPrefix + 1] = 0x02;

  return AppendSpoolPage(spool, record, sizeof record);
}

BOOL ReplaySpooledCopies(SpoolFile *spool, PrinterOutput *out, BOOL bDriverDoCollate, BOOL bDuplex,
                         DWORD nCopies) {
  const DWORD pages = SpooledPages(spool);
  const DWORD nPageOffset = bDuplex ? 2 : 1;
  DWORD copies = bDriverDoCollate ? nCopies : 1;
  DbgMsg("main::%u spooled pages, %u copies in all, %s", pages, copies,
         bDuplex ? "two-sided" : "one-sided");
  // The first copy went out with the flushes.  A cancel stops the copy-out
  // quietly, between two records.
  bool ok = OutputUsable(spool, out);
  for (DWORD copy = 1; ok && !CancelRequested() && copy < copies; ++copy) {
    ReportInfo("Printing copy %u of %u", copy + 1, copies);
    for (DWORD i = 0; ok && !CancelRequested() && i < pages; i += nPageOffset) {
      if (bDuplex && i + 1 < pages) ok = CopyOutPage(spool, out, i + 1, "main");
      if (ok && !CancelRequested()) ok = CopyOutPage(spool, out, i, "main");
    }
  }
  return ok ? TRUE : FALSE;
}
