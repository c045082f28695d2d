#include "driver/raster_page.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver/job_state.h"
#include "driver/page_header_check.h"
#include "runtime/debug_log.h"
#include "runtime/header_value.h"
#include "runtime/win_helpers.h"

namespace {

// Bytes after each line buffer that hold the paper sample for the conversion's
// reach past the last pixel.
constexpr DWORD kLineTail = 2;

struct FreeDeleter {
  void operator()(BYTE *p) const { free(p); }
};
using MallocBuffer = std::unique_ptr<BYTE[], FreeDeleter>;

inline BYTE GreyOf(const BYTE *p) {
  return static_cast<BYTE>((av_rRate * p[0] + av_gRate * p[1] + av_bRate * p[2] + 1) / av_rgbTotal);
}

// One grey row from one line of source pixels.
void ConvertLine(const BYTE *line, DWORD width, DWORD srcPixelBytes, BYTE *row) {
  for (DWORD x = 0; x < width; ++x) row[x] = GreyOf(line + static_cast<size_t>(srcPixelBytes) * x);
}

// Two-colour mode: a pixel whose first sample exceeds the other two by more than
// TwinColorDiff and exceeds kRedThreshold goes to the red plane (black there,
// white in the black plane); every other pixel keeps its grey in the black plane.
void SplitRedLine(const BYTE *line, DWORD bytesPerLine, DWORD width, DWORD twinColorDiff,
                  BYTE *redbuf, BYTE *blackbuf, BYTE *blackRow, BYTE *redRow) {
  memset(redbuf, 255, bytesPerLine);
  memset(blackbuf, 255, bytesPerLine);
  for (DWORD i = 0; i + 2 < bytesPerLine; i += 3) {
    DWORD r = line[i], g = line[i + 1], b = line[i + 2];
    DWORD d = r > twinColorDiff ? r - twinColorDiff : 0;
    if (d > g && d > b && r > kRedThreshold) {
      redbuf[i] = redbuf[i + 1] = redbuf[i + 2] = 0;
    } else {
      blackbuf[i] = static_cast<BYTE>(r);
      blackbuf[i + 1] = static_cast<BYTE>(g);
      blackbuf[i + 2] = static_cast<BYTE>(b);
    }
  }
  ConvertLine(blackbuf, width, 3, blackRow);
  for (DWORD x = 0; x < width; ++x) redRow[x] = redbuf[3 * static_cast<size_t>(x)];
}

}  // namespace

BYTE PaperSample(const cups_page_header2_t *header) {
  return header->cupsBitsPerPixel == 24 ? 255 : 0;
}

BOOL GetCUPSPageData(JobInfo *lpJob, DWORD *linesRead) {
  const DWORD start = GetTickCount();
  const cups_page_header2_t *h = &lpJob->inheader;
  if (linesRead) *linesRead = 0;

  char reason[256];
  if (!CheckPageHeader(h, reason, sizeof reason)) {
    DbgMsg("GetCUPSPageData::page header rejected: %s", reason);
    return FALSE;
  }

  const DWORD TwinColorDiff = h->cupsInteger[5] & 0xFF;
  DbgMsg("GetCUPSPageData:: TwinColorDiff = %d", static_cast<int>(TwinColorDiff));
  const bool twoColour = h->cupsInteger[4] == 1;

  lpJob->page_width = (h->cupsWidth + 31) / 32 * 32;
  lpJob->page_height = (h->cupsHeight + 31) / 32 * 32;
  DbgMsg("GetCUPSPageData::page_width = %u", lpJob->page_width);
  DbgMsg("GetCUPSPageData::page_height = %u", lpJob->page_height);
  lpJob->linebyteLeft = lpJob->page_width - h->cupsWidth;
  lpJob->linebyte = GetBMPBytesPerLine(8, static_cast<LONG>(lpJob->page_width));
  DbgMsg("GetCUPSPageData::linebyte = %u", lpJob->linebyte);

  const DWORD srcPixelBytes = h->cupsBitsPerPixel / 8;
  const DWORD linesize = h->cupsBitsPerPixel * lpJob->page_width / 8;
  const DWORD bufferSize = linesize + kLineTail;

  // The line buffer, and in two-colour mode redbuf and blackbuf after it.  Their
  // bytes past what a line read fills keep the paper sample.
  const size_t blockSize = static_cast<size_t>(bufferSize) * (twoColour ? 3 : 1);
  MallocBuffer block(static_cast<BYTE *>(malloc(blockSize)));
  if (!block) {
    DbgMsg("GetCUPSPageData::line buffer of %zu bytes cannot be allocated", blockSize);
    return FALSE;
  }
  const BYTE paper = PaperSample(h);
  memset(block.get(), paper, blockSize);
  BYTE *line = block.get();
  BYTE *redbuf = twoColour ? line + bufferSize : nullptr;
  BYTE *blackbuf = twoColour ? line + 2 * static_cast<size_t>(bufferSize) : nullptr;
  if (twoColour) {
    lpJob->page_height *= 2;
    DbgMsg("Page_24BitProcessRedColor, TwinColorDiff = %d", static_cast<int>(TwinColorDiff));
  }

  lpJob->pagesize = lpJob->linebyte * lpJob->page_height;
  DbgMsg("GetCUPSPageData::pagesize = %u bytes", lpJob->pagesize);
  DbgMsg("linesize = %u", linesize);

  BYTE *page = static_cast<BYTE *>(malloc(lpJob->pagesize));
  if (!page) {
    DbgMsg("GetCUPSPageData::page bitmap of %u bytes cannot be allocated", lpJob->pagesize);
    return FALSE;
  }
  FillMemory(page, lpJob->pagesize, paper);
  BYTE *RedPage = page + lpJob->pagesize / 2;

  const DWORD bytesPerLine = h->cupsBytesPerLine;
  DWORD y = 0;
  for (; y < h->cupsHeight; ++y) {
    unsigned got = cupsRasterReadPixels(lpJob->inras, line, bytesPerLine);
    if (got != bytesPerLine) {
      DbgMsg("GetCUPSPageData::raster data ends in line %u of %u (%u of %u bytes read)", y,
             h->cupsHeight, got, bytesPerLine);
      break;
    }
    BYTE *row = page + static_cast<size_t>(lpJob->linebyte) * y;
    if (twoColour)
      SplitRedLine(line, bytesPerLine, h->cupsWidth, TwinColorDiff, redbuf, blackbuf, row,
                   RedPage + static_cast<size_t>(lpJob->linebyte) * y);
    else
      ConvertLine(line, h->cupsWidth, srcPixelBytes, row);
  }
  if (linesRead) *linesRead = y;
  SetSlotBitmap(lpJob, page);

  DbgMsg("GetCUPSPageData Out, using %f sec, rc = %d", (GetTickCount() - start) / 1000.0, 1);
  return TRUE;
}

void DisplayPageInfo(const cups_page_header2_t *h) {
  DbgMsg("DisplayPageInfo In");
  DbgMsg("MediaClass = \"%.64s\"", h->MediaClass);
  DbgMsg("MediaColor = \"%.64s\"", h->MediaColor);
  DbgMsg("MediaType = \"%.64s\"", h->MediaType);
  DbgMsg("OutputType = \"%.64s\"", h->OutputType);
  DbgMsg("AdvanceDistance = %d", h->AdvanceDistance);
  DbgMsg("AdvanceMedia = %d", static_cast<int>(RawHeaderValue(h->AdvanceMedia)));
  DbgMsg("Collate = %d", static_cast<int>(RawHeaderValue(h->Collate)));
  DbgMsg("cupsBitsPerColor = %d", h->cupsBitsPerColor);
  DbgMsg("cupsBitsPerPixel = %d", h->cupsBitsPerPixel);
  DbgMsg("cupsBytesPerLine = %d", h->cupsBytesPerLine);
  DbgMsg("cupsColorOrder = %d", static_cast<int>(RawHeaderValue(h->cupsColorOrder)));
  DbgMsg("cupsColorSpace = %d", static_cast<int>(RawHeaderValue(h->cupsColorSpace)));
  DbgMsg("cupsCompression = %d (Density)", h->cupsCompression);
  DbgMsg("cupsHeight = %d", h->cupsHeight);
  DbgMsg("cupsInteger[0] = %d (TonerSave)", h->cupsInteger[0]);
  DbgMsg("cupsInteger[1] = %d (Invert)", h->cupsInteger[1]);
  DbgMsg("cupsInteger[2] = %d (Mirror)", h->cupsInteger[2]);
  DbgMsg("cupsInteger[3] = %d (zero edge)", h->cupsInteger[3]);
  DbgMsg("cupsInteger[4] = %d (ColorMode)", h->cupsInteger[4]);
  DbgMsg("cupsInteger[5] = %d (ColorLevel)", h->cupsInteger[5]);
  DbgMsg("cupsMediaType = %d (MediaType)", h->cupsMediaType);
  DbgMsg("cupsWidth = %d", h->cupsWidth);
  DbgMsg("CutMedia = %d", static_cast<int>(RawHeaderValue(h->CutMedia)));
  DbgMsg("Duplex = %d (Duplex)", static_cast<int>(RawHeaderValue(h->Duplex)));
  DbgMsg("HWResolution = [ %d %d ]", h->HWResolution[0], h->HWResolution[1]);
  DbgMsg("ImagingBoundingBox = [ %d %d %d %d ]", h->ImagingBoundingBox[0], h->ImagingBoundingBox[1],
         h->ImagingBoundingBox[2], h->ImagingBoundingBox[3]);
  DbgMsg("cupsImagingBBox = [ %f %f %f %f ]", h->cupsImagingBBox[0], h->cupsImagingBBox[1],
         h->cupsImagingBBox[2], h->cupsImagingBBox[3]);
  DbgMsg("InsertSheet = %d", static_cast<int>(RawHeaderValue(h->InsertSheet)));
  DbgMsg("Jog = %d", static_cast<int>(RawHeaderValue(h->Jog)));
  DbgMsg("LeadingEdge = %d", static_cast<int>(RawHeaderValue(h->LeadingEdge)));
  DbgMsg("ManualFeed = %d", static_cast<int>(RawHeaderValue(h->ManualFeed)));
  DbgMsg("Margins = [ %d %d ]", h->Margins[0], h->Margins[1]);
  DbgMsg("MediaPosition = %d (Tray)", h->MediaPosition);
  DbgMsg("MediaWeight = %d", h->MediaWeight);
  DbgMsg("MirrorPrint = %d", static_cast<int>(RawHeaderValue(h->MirrorPrint)));
  DbgMsg("NegativePrint = %d", static_cast<int>(RawHeaderValue(h->NegativePrint)));
  DbgMsg("NumCopies = %d", h->NumCopies);
  DbgMsg("Orientation = %d", static_cast<int>(RawHeaderValue(h->Orientation)));
  DbgMsg("OutputFaceUp = %d", static_cast<int>(RawHeaderValue(h->OutputFaceUp)));
  DbgMsg("PageSize = [ %d %d ]", h->PageSize[0], h->PageSize[1]);
  DbgMsg("Separations = %d", static_cast<int>(RawHeaderValue(h->Separations)));
  DbgMsg("TraySwitch = %d", static_cast<int>(RawHeaderValue(h->TraySwitch)));
  DbgMsg("Tumble = %d (Duplex)", static_cast<int>(RawHeaderValue(h->Tumble)));
  DbgMsg("DisplayPageInfo Out");
}
