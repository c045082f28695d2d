// The PJL job around the page records: cancel preamble, header block, trailer.
#pragma once

#include <cups/raster.h>

#include <ctime>

#include "runtime/win_types.h"

struct PrinterOutput;

// Longest header line (CR LF included) and longest header block.
constexpr int kPjlLineMax = 255;
constexpr int kPjlBlockMax = 1023;

// The texts of the header block that come from the job and the machine.  Null
// stands for an empty text.
struct PjlJobTexts {
  const char *DocName;
  const char *UserName;
  const char *HostName;
  const char *PrinterName;
  const char *argvCopies;
  const char *PrinterLocation;
};

// Builds the header block into outCmdBuf (kPjlBlockMax + 1 bytes) for the first
// page's header, the job's texts, the local time `now` and the job-name tick, and
// returns its length.  Control characters in the texts become blanks, and texts
// too long for their line or for the block are shortened (never inside a UTF-8
// character), so the block always holds the same 31 lines.
int PJL_BuildHeaderBlock(const cups_page_header2_t *inheader, const PjlJobTexts *texts,
                         BOOL bDriverDoCollate, const struct tm *now, DWORD jobTick,
                         char *outCmdBuf);

// The COPIES setting of the header block: how many times the printer prints each
// page record.  1 when the pages come collated, else the first page's NumCopies.
int PJL_PrinterCopies(const cups_page_header2_t *inheader, BOOL bDriverDoCollate);

// Writes the cancel preamble and the header block to the printer.  FALSE when a
// write failed.
BOOL PJL_WriteStartJobCmd_Zelvar(PrinterOutput *out, const cups_page_header2_t *inheader, int numUP,
                                 const char *PrinterName, const char *UserName, const char *DocName,
                                 const char *argvCopies, BOOL bDriverDoCollate,
                                 const char *PrinterLocation);
// Writes the trailer, with the alignment comment when the job would otherwise end
// on a 512-byte boundary.  FALSE when a write failed.
BOOL PJL_WriteCloseJobCmd(PrinterOutput *out);
