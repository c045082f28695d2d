#include "output/pjl_framing.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "output/jbig_compress.h"
#include "output/printer_output.h"
#include "runtime/debug_log.h"
#include "runtime/header_value.h"
#include "runtime/page_settings.h"
#include "runtime/win_helpers.h"

namespace {

const char DrvCancelStr[] =
    "\x1b"
    "E\x1b%-12345X@PJL CANCEL\r\n@PJL EOJ\r\n\x1b%-12345X";
const char UELStr[] = "\x1b%-12345X";
const char EndOfJobStr[] =
    "\x1b"
    "E\x1b%-12345X@PJL\r\n";
const char kAlignmentComment[] = "@PJL COMMENT DATA ALIGNMENT 512\r\n";
constexpr size_t kCancelPadding = 512;
constexpr DWORD kJobTimeout = 300;
constexpr DWORD kEndTimeout = 5;
constexpr DWORD kAlignment = 512;
constexpr size_t kHostNameSize = 64;

// The job's texts in the order of their lines; kTextCount of them.
enum { kDocName, kUserName, kHostName, kPrinterName, kCopies, kLocation, kTextCount };
// Fixed characters of each text's line: "@PJL COMMENT " (13) or
// "@PJL COMMENT Copies," (20), and CR LF.
constexpr size_t kTextLineFixed[kTextCount] = {15, 15, 15, 15, 22, 15};

// A header block under construction in outCmdBuf.
struct BlockBuilder {
  char *out;
  size_t len;
};

// Formats one line into pjl (kPjlLineMax + 1 bytes) and appends it to the block.
// A line or block that would be too long is cut so that it still ends in CR LF;
// the callers size the texts so this never happens.
void AppendLine(BlockBuilder *b, const char *format, ...) __attribute__((format(printf, 2, 3)));
void AppendLine(BlockBuilder *b, const char *format, ...) {
  char pjl[kPjlLineMax + 1];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(pjl, sizeof pjl, format, ap);
  va_end(ap);
  if (n < 0) return;
  size_t len = static_cast<size_t>(n);
  if (len > static_cast<size_t>(kPjlLineMax)) {
    len = kPjlLineMax;
    pjl[len - 2] = '\r';
    pjl[len - 1] = '\n';
  }
  size_t room = static_cast<size_t>(kPjlBlockMax) - b->len;
  if (len > room) {
    if (room < 2) return;
    len = room;
    pjl[len - 2] = '\r';
    pjl[len - 1] = '\n';
  }
  memcpy(b->out + b->len, pjl, len);
  b->len += len;
  b->out[b->len] = '\0';
}

// All lines of the block, with the job's texts as given (already clean and short).
void AppendHeaderLines(BlockBuilder *b, const cups_page_header2_t *h, const char *const *text,
                       BOOL bDriverDoCollate, const struct tm *now, DWORD jobTick) {
  AppendLine(b, "%s", UELStr);
  AppendLine(b, "@PJL\r\n@PJL JOB NAME=\"%d\"\r\n", static_cast<int>(jobTick));
  AppendLine(b, "@PJL SET TIMEOUT=%d\r\n", static_cast<int>(kJobTimeout));
  AppendLine(b, "@PJL COMMENT 0, 0, 1, 35\r\n");
  AppendLine(b, "@PJL COMMENT %s\r\n", text[kDocName]);
  AppendLine(b, "@PJL COMMENT %s\r\n", text[kUserName]);
  AppendLine(b, "@PJL COMMENT %s\r\n", text[kHostName]);
  AppendLine(b, "@PJL COMMENT %s\r\n", text[kPrinterName]);
  AppendLine(b, "@PJL COMMENT Unknown\r\n");
  AppendLine(b, "@PJL COMMENT \r\n");
  AppendLine(b, "@PJL COMMENT %d/%d/%d\r\n", now->tm_year + 1900, now->tm_mon + 1, now->tm_mday);
  AppendLine(b, "@PJL COMMENT %d:%d:%d\r\n", now->tm_hour, now->tm_min, now->tm_sec);
  AppendLine(b, "@PJL COMMENT JBIG,00,%2d\r\n", kJbigOptions);
  AppendLine(b, "@PJL COMMENT Copies,%s\r\n", text[kCopies]);
  AppendLine(b, "@PJL COMMENT %s\r\n", text[kLocation]);
  AppendLine(b, "@PJL SET JOBNAME=\"CUPS\"\r\n");
  const PageSettings settings = PageSettingsOf(*h);
  AppendLine(b, "@PJL SET ECONOMODE=%s\r\n", settings.tonerSave ? "ON" : "OFF");
  AppendLine(b, "@PJL SET DENSITY=%d\r\n", static_cast<int>(settings.density + 1));
  AppendLine(b, "@PJL SET AUTOSELECT=%s\r\n", settings.tray == kAnyTray ? "ON" : "OFF");
  AppendLine(b, "@PJL SET DUPLEX=%s\r\n", settings.duplex ? "ON" : "OFF");
  AppendLine(b, "@PJL SET DUPLEXTYPE=%s\r\n", settings.tumble ? "CALENDAR" : "BOOKLET");
  AppendLine(b, "@PJL SET RESOLUTION=%d\r\n", static_cast<int>(h->HWResolution[0]));
  AppendLine(b, "@PJL SET COPIES=%d\r\n", PJL_PrinterCopies(h, bDriverDoCollate));
  AppendLine(b, "@PJL SET MEDIASOURCE=%s\r\n", "TRAY1");
  AppendLine(b, "@PJL SET JUSTIFIED=%s\r\n", "LEFT");
  AppendLine(b, "@PJL SET MIRROR=%s\r\n", "OFF");
  AppendLine(b, "@PJL SET MARGINS=%s\r\n", "NORMAL");
  AppendLine(b, "@PJL SET BIDICOMM=%s\r\n", "OFF");
  AppendLine(b, "@PJL SET ORIENTATION=%s\r\n", settings.landscape ? "LANDSCAPE" : "PORTRAIT");
  AppendLine(b, "@PJL ENTER LANGUAGE=VLGDI\r\n");
}

// A cut at `n` that does not split a UTF-8 character: steps back over
// continuation bytes to the start of the character that would be split.
size_t CharBoundary(const char *s, size_t len, size_t n) {
  if (n >= len) return len;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

// Shares `budget` characters among the texts: every text gets what it needs when
// it fits its share, and the long ones divide the rest equally.
void ShareBudget(const size_t *want, size_t budget, size_t *grant) {
  bool open[kTextCount];
  int openCount = kTextCount;
  for (int i = 0; i < kTextCount; ++i) open[i] = true;
  while (openCount > 0) {
    size_t share = budget / static_cast<size_t>(openCount);
    bool settled = false;
    for (int i = 0; i < kTextCount; ++i) {
      if (open[i] && want[i] <= share) {
        grant[i] = want[i];
        budget -= want[i];
        open[i] = false;
        --openCount;
        settled = true;
      }
    }
    if (!settled) {
      for (int i = 0; i < kTextCount; ++i)
        if (open[i]) grant[i] = share;
      return;
    }
  }
}

}  // namespace

int PJL_PrinterCopies(const cups_page_header2_t *inheader, BOOL bDriverDoCollate) {
  return (RawHeaderValue(inheader->Collate) != 0 || bDriverDoCollate)
             ? 1
             : static_cast<int>(inheader->NumCopies);
}

int PJL_BuildHeaderBlock(const cups_page_header2_t *inheader, const PjlJobTexts *texts,
                         BOOL bDriverDoCollate, const struct tm *now, DWORD jobTick,
                         char *outCmdBuf) {
  // The block without any text tells how much room the texts have.
  const char *const none[kTextCount] = {"", "", "", "", "", ""};
  BlockBuilder b = {outCmdBuf, 0};
  outCmdBuf[0] = '\0';
  AppendHeaderLines(&b, inheader, none, bDriverDoCollate, now, jobTick);
  size_t budget = static_cast<size_t>(kPjlBlockMax) - b.len;

  const char *given[kTextCount] = {texts->DocName,     texts->UserName,   texts->HostName,
                                   texts->PrinterName, texts->argvCopies, texts->PrinterLocation};
  size_t len[kTextCount], want[kTextCount], grant[kTextCount];
  for (int i = 0; i < kTextCount; ++i) {
    len[i] = given[i] ? strlen(given[i]) : 0;
    size_t lineRoom = static_cast<size_t>(kPjlLineMax) - kTextLineFixed[i];
    want[i] = len[i] < lineRoom ? len[i] : lineRoom;
  }
  ShareBudget(want, budget, grant);

  // Clean copies: control characters (CR, LF, ESC and the rest below 0x20) would
  // end the line or start a printer command, so they become blanks.
  char clean[kTextCount][kPjlLineMax + 1];
  const char *text[kTextCount];
  for (int i = 0; i < kTextCount; ++i) {
    size_t n = given[i] ? CharBoundary(given[i], len[i], grant[i]) : 0;
    for (size_t k = 0; k < n; ++k) {
      unsigned char c = static_cast<unsigned char>(given[i][k]);
      clean[i][k] = c < 0x20 ? ' ' : static_cast<char>(c);
    }
    clean[i][n] = '\0';
    if (n < len[i])
      DbgMsg("PJL_WriteStartJobCmd::text %d shortened from %zu to %zu characters", i, len[i], n);
    text[i] = clean[i];
  }

  b.len = 0;
  outCmdBuf[0] = '\0';
  AppendHeaderLines(&b, inheader, text, bDriverDoCollate, now, jobTick);
  return static_cast<int>(b.len);
}

BOOL PJL_WriteStartJobCmd_Zelvar(PrinterOutput *out, const cups_page_header2_t *inheader, int numUP,
                                 const char *PrinterName, const char *UserName, const char *DocName,
                                 const char *argvCopies, BOOL bDriverDoCollate,
                                 const char *PrinterLocation) {
  time_t clock = time(nullptr);
  struct tm now;
  localtime_r(&clock, &now);
  DWORD startTick = GetTickCount();
  DbgMsg(
      "PJL_WriteStartJobCmd In, numUP = %d, PrinterName = %s, UserName = %s, DocName = %s, "
      "argvCopies = %s",
      numUP, PrinterName ? PrinterName : "", UserName ? UserName : "", DocName ? DocName : "",
      argvCopies ? argvCopies : "");

  static const char supplies[kCancelPadding] = {};
  BOOL ok = WriteToPrinter(out, DrvCancelStr, sizeof DrvCancelStr - 1);
  ok = ok && WriteToPrinter(out, supplies, sizeof supplies);

  char pcname[kHostNameSize] = {};
  if (gethostname(pcname, sizeof pcname - 1) != 0) pcname[0] = '\0';
  pcname[kHostNameSize - 1] = '\0';

  PjlJobTexts texts = {DocName, UserName, pcname, PrinterName, argvCopies, PrinterLocation};
  char outCmdBuf[kPjlBlockMax + 1] = {};
  int blockLen =
      PJL_BuildHeaderBlock(inheader, &texts, bDriverDoCollate, &now, GetTickCount(), outCmdBuf);
  out->outputSize += blockLen;
  DbgMsg("PJL_WriteStartJobCmd gOutputSize = %d", out->outputSize);
  ok = ok && WriteToPrinter(out, outCmdBuf, static_cast<size_t>(blockLen));
  DbgMsg("PJL_WriteStartJobCmd Out, Tick = %u", GetTickCount() - startTick);
  return ok;
}

BOOL PJL_WriteCloseJobCmd(PrinterOutput *out) {
  DWORD startTick = GetTickCount();
  BOOL ok = WriteToPrinter(out, EndOfJobStr, sizeof EndOfJobStr - 1);

  char outCmdBuf[kPjlBlockMax + 1] = {};
  int n =
      snprintf(outCmdBuf, sizeof outCmdBuf, "@PJL SET TIMEOUT=%d\r\n@PJL               EOJ\r\n%s",
               static_cast<int>(kEndTimeout), UELStr);
  size_t blockLen = n > 0 ? static_cast<size_t>(n) : 0;
  out->outputSize += static_cast<int>(blockLen);
  DbgMsg("PJL_WriteCloseJobCmd gOutputSize = %d", out->outputSize);

  // A job that would end exactly on a 512-byte boundary gets a comment first.
  if ((out->count_bytes + static_cast<DWORD>(blockLen)) % kAlignment == 0)
    ok = ok && WriteToPrinter(out, kAlignmentComment, sizeof kAlignmentComment - 1);
  ok = ok && WriteToPrinter(out, outCmdBuf, blockLen);
  DbgMsg("PJL_WriteCloseJobCmd Out, Tick = %u", GetTickCount() - startTick);
  return ok;
}
