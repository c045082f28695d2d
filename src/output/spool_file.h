// The spool file of collated and two-sided jobs.  The output thread appends
// every finished page record to it instead of sending it; the main thread copies
// records out to the printer in the order the job needs (two-sided sheets back
// page first) and replays the whole sequence for each further collated copy.
//
// Layout, every number little-endian:
//   offset 0: pages (DWORD), the number of complete page entries
//   offset 4: bfOffBits (DWORD), the offset of the first entry: always 8
//   then one entry per appended record, in append order: dataLen (DWORD) and the
//   page record byte for byte as it goes to the printer.
// Entries never move once written, and the header (in the file and in memory)
// counts only complete entries.
//
// The file is created in the job's temporary directory ($TMPDIR, /tmp when unset
// or empty) under a unique name, mode 0600, never through a link, and its name is
// removed at once: only the open descriptor keeps it, so it disappears with the
// process however the job ends.  A lock is held for each whole append and each
// whole lookup, so the two threads never see each other's half-done steps.
#pragma once

#include <cups/raster.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/win_types.h"

struct SpoolRecHeader {
  DWORD pages;
  DWORD bfOffBits;
};

struct SpoolPageHeader {
  DWORD dataLen;
};

constexpr DWORD kSpoolHeaderSize = 8;
constexpr DWORD kSpoolEntryHeaderSize = 4;
// ESC E, the PageHeader and the two bytes of an empty JBIG stripe.
constexpr DWORD kBlankPageRecordSize = 36;

struct PrinterOutput;

// One job's spool: the stream and its in-memory header.  `lock` is held for each
// whole append and each whole lookup; fd, header and end change only under it.
// The file goes with the record.
struct SpoolFile {
  std::mutex lock;
  int fd = -1;
  SpoolRecHeader gSpoolFileHeader = {0, kSpoolHeaderSize};
  uint64_t end = 0;  // where the next entry goes
  // Offset of each entry's length field, in append order: a lookup reads its
  // entry directly instead of walking the entries before it.
  std::vector<uint64_t> entryOffsets;
  std::string leftoverName;  // set only if the name could not be removed at creation
  std::atomic<BOOL> failed{FALSE};
  // TRUE while the job is spooled: the output thread appends instead of writing
  // to the printer.
  std::atomic<BOOL> gSaveToFile{FALSE};

  SpoolFile() = default;
  SpoolFile(const SpoolFile &) = delete;
  SpoolFile &operator=(const SpoolFile &) = delete;
  ~SpoolFile();
};

// Whether a job is spooled: two-sided, or collated copies made by the filter.
BOOL JobNeedsSpool(BOOL bDuplex, BOOL bDriverDoCollate);

// Creates the spool file with an empty header and starts spooling.  FALSE (the
// job then goes to the printer unspooled) when it cannot be created.
BOOL CreateSpoolFile(SpoolFile *spool);
// Closes the spool file, which removes it, and resets the spool.  Harmless when
// no file is open.
void RemoveSpoolFile(SpoolFile *spool);
// TRUE while the job is spooled.
BOOL Spooling(const SpoolFile *spool);

// Appends one page record as a new entry.  FALSE when the write failed; the
// spool has then failed (SpoolFailed).
BOOL AppendSpoolPage(SpoolFile *spool, const BYTE *record, size_t size);
// Number of complete entries.
DWORD SpooledPages(SpoolFile *spool);

// dataLen of entry `index` (from 0); 0 for an index not below the entry count or
// when the file cannot be read.
DWORD GetPageDataSize(SpoolFile *spool, DWORD index);
// Copies entry `index`'s record into lpOutBuf.  FALSE for a bad index, a buffer
// smaller than the record, or a failed read.
BOOL GetPageData(SpoolFile *spool, DWORD index, DWORD outBufSize, BYTE *lpOutBuf);

// Copies every complete pending entry (two-sided: every complete pending pair,
// back page first) to the printer and advances *finishpage by one per entry.
// Each record sent is reported with a "PAGE:" line; a cancelled job sends no
// further record.  FALSE when the spool or the printer output has failed.
BOOL PJL_FlushPage(SpoolFile *spool, PrinterOutput *out, DWORD *finishpage, int bDuplex);
// Appends a blank back page with the sizes and media of `inheader`
// (LayOutBlankBackPage).  FALSE when the append failed.
BOOL PJL_SaveBlankPage(SpoolFile *spool, DWORD page_index, const cups_page_header2_t &inheader);
// After the last flush: when the filter collates, sends the whole spooled
// sequence once more for each of the nCopies - 1 further copies (two-sided: by
// sheets, back page first), with "PAGE:" lines as PJL_FlushPage, until the job
// is cancelled.  FALSE when the spool or the printer output failed.
BOOL ReplaySpooledCopies(SpoolFile *spool, PrinterOutput *out, BOOL bDriverDoCollate, BOOL bDuplex,
                         DWORD nCopies);

// TRUE once a spool write, read or copy-out has failed: the job can no longer be
// sent whole.  The failure has been reported with an "ERROR:" line.
BOOL SpoolFailed(const SpoolFile *spool);
