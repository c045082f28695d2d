#include "driver/raster_page.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "driver/page_header_check.h"
#include "driver/raster_input.h"
#include "image/cpu_dispatch.h"
#include "page/page.h"
#include "runtime/debug_log.h"
#include "runtime/header_value.h"
#include "runtime/page_settings.h"
#include "runtime/win_helpers.h"

namespace {

struct FreeDeleter {
  void operator()(BYTE *p) const { free(p); }
};
using MallocBuffer = std::unique_ptr<BYTE[], FreeDeleter>;

// Bytes of lines asked for at a time from an uncompressed stream.
constexpr DWORD kReadChunkBytes = 128 * 1024;

// Grey of one source pixel from its three samples.  The weighted sum is at most
// 25501, so it is formed in 16 bits, where the compiler keeps 16 pixels per
// vector and divides by a multiplication.
inline BYTE GreyOf(BYTE r, BYTE g, BYTE b) {
  const uint16_t sum = static_cast<uint16_t>(av_rRate * r + av_gRate * g + av_bRate * b + 1);
  return static_cast<BYTE>(sum / av_rgbTotal);
}

}  // namespace

ZELVAR_CLONES void ConvertRgbLine(const BYTE *line, DWORD width, BYTE *row) {
  const size_t n = width;
  for (size_t x = 0; x < n; ++x) row[x] = GreyOf(line[3 * x], line[3 * x + 1], line[3 * x + 2]);
}

ZELVAR_CLONES void ConvertInkLine(const BYTE *line, DWORD width, BYTE *row) {
  const size_t n = width;
  for (size_t x = 0; x < n; ++x) row[x] = static_cast<BYTE>(255 - line[x]);
}

ZELVAR_CLONES void SplitRedLine(const BYTE *line, DWORD width, DWORD twinColorDiff, BYTE *blackRow,
                                BYTE *redRow) {
  // A red pixel is white in the black plane: the grey of (255, 255, 255).
  const size_t n = width;
  for (size_t x = 0; x < n; ++x) {
    const DWORD r = line[3 * x], g = line[3 * x + 1], b = line[3 * x + 2];
    const DWORD d = r > twinColorDiff ? r - twinColorDiff : 0;
    const bool red = d > g && d > b && r > kRedThreshold;
    const BYTE grey = GreyOf(static_cast<BYTE>(r), static_cast<BYTE>(g), static_cast<BYTE>(b));
    blackRow[x] = red ? 255 : grey;
    redRow[x] = red ? 0 : 255;
  }
}

BOOL GetCUPSPageData(Page *lpJob, cups_raster_t *inras, DWORD *linesRead,
                     const RasterInput *input) {
  const DWORD start = GetTickCount();
  const double cpuStart = ThreadCpuSeconds();
  const cups_page_header2_t *h = &lpJob->inheader;
  if (linesRead) *linesRead = 0;
  lpJob->lpbuf = nullptr;

  char reason[256];
  if (!CheckPageHeader(h, reason, sizeof reason)) {
    DbgMsg("GetCUPSPageData::page header rejected: %s", reason);
    return FALSE;
  }

  const PageSettings settings = PageSettingsOf(*h);
  const DWORD TwinColorDiff = settings.redMargin;
  const bool twoColour = settings.twoColour;
  LayOutPaddedPage(lpJob);

  const PixelFormat format = PagePixelFormat(h);
  const DWORD linesize = h->cupsBitsPerPixel * lpJob->page_width / 8;
  const DWORD bytesPerLine = h->cupsBytesPerLine;
  // An uncompressed stream is read some 128 KB of lines at a time: one read (and
  // one poll for a cancel) for many lines instead of one for each.
  const DWORD chunkLines = RasterPixelsUncompressed(input) && bytesPerLine > 0
                               ? std::max<DWORD>(1, kReadChunkBytes / bytesPerLine)
                               : 1;

  // The line buffer, for chunkLines lines.  The conversions (the two-colour split
  // among them) read each line straight from it.
  MallocBuffer block(static_cast<BYTE *>(malloc(static_cast<size_t>(linesize) * chunkLines)));
  if (!block) {
    DbgMsg("GetCUPSPageData::line buffer of %u bytes cannot be allocated", linesize * chunkLines);
    return FALSE;
  }
  BYTE *line = block.get();
  DbgMsg("GetCUPSPageData::page %u: %ux%u pixels, red margin %u", lpJob->PageIndex,
         lpJob->page_width, lpJob->page_height, TwinColorDiff);
  DbgMsg("GetCUPSPageData::pagesize = %u bytes", lpJob->pagesize);

  BYTE *page = static_cast<BYTE *>(GlobalAlloc(0, lpJob->pagesize));
  if (!page) {
    DbgMsg("GetCUPSPageData::page bitmap of %u bytes cannot be allocated", lpJob->pagesize);
    return FALSE;
  }
  BYTE *RedPage = page + lpJob->pagesize / 2;

  const size_t stride = lpJob->linebyte;
  const size_t padding = stride - h->cupsWidth;
  DWORD y = 0;
  while (y < h->cupsHeight) {
    const DWORD asked = std::min(chunkLines, h->cupsHeight - y);
    const uint64_t before = input ? input->bytesRead : 0;
    const unsigned got = cupsRasterReadPixels(inras, line, bytesPerLine * asked);
    DWORD whole = asked;
    if (got != bytesPerLine * asked) {
      // The stream ended or failed inside these lines.  Uncompressed lines come
      // straight from the read function, so its byte count says how many arrived
      // whole; a compressed stream is read one line at a time.
      whole = chunkLines > 1 ? static_cast<DWORD>(std::min<uint64_t>(
                                   asked, (input->bytesRead - before) / bytesPerLine))
                             : 0;
      DbgMsg("GetCUPSPageData::raster data ends in line %u of %u (%u of %u bytes read)", y + whole,
             h->cupsHeight, static_cast<unsigned>(input ? input->bytesRead - before : got),
             bytesPerLine * asked);
    }
    for (DWORD k = 0; k < whole; ++k, ++y) {
      const BYTE *from = line + static_cast<size_t>(bytesPerLine) * k;
      BYTE *row = page + stride * y;
      BYTE *redRow = RedPage + stride * y;
      if (twoColour)
        SplitRedLine(from, h->cupsWidth, TwinColorDiff, row, redRow);
      else if (format == PixelFormat::kRgb)
        ConvertRgbLine(from, h->cupsWidth, row);
      else if (format == PixelFormat::kBlackInk)
        ConvertInkLine(from, h->cupsWidth, row);
      else
        memcpy(row, from, h->cupsWidth);
      // Blank paper right of the raster.
      memset(row + h->cupsWidth, 255, padding);
      if (twoColour) memset(redRow + h->cupsWidth, 255, padding);
    }
    if (whole < asked) break;
  }
  if (linesRead) *linesRead = y;
  // Blank paper below the raster, and in the lines not received (of both planes).
  const size_t planeRows = twoColour ? lpJob->page_height / 2 : lpJob->page_height;
  memset(page + stride * y, 255, stride * (planeRows - y));
  if (twoColour) memset(RedPage + stride * y, 255, stride * (planeRows - y));
  lpJob->lpbuf = page;

  DbgMsg("GetCUPSPageData::cpu %f sec", ThreadCpuSeconds() - cpuStart);
  DbgMsg("GetCUPSPageData Out, using %f sec, page %u", (GetTickCount() - start) / 1000.0,
         lpJob->PageIndex);
  return TRUE;
}

void DisplayPageInfo(const cups_page_header2_t *h) {
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
  DbgMsg("cupsInteger[6] = %d (LineArt)", h->cupsInteger[6]);
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
}
