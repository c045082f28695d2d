#include "page/page.h"

#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/win_helpers.h"

namespace {

constexpr DWORD kUnprintablePoints = 24;  // 12 points on each side of the sheet

}  // namespace

void LayOutPaddedPage(Page *page) {
  const cups_page_header2_t &h = page->inheader;
  page->page_width = static_cast<DWORD>(PaddedTo32(h.cupsWidth));
  page->page_height = static_cast<DWORD>(PaddedTo32(h.cupsHeight));
  if (PageSettingsOf(h).twoColour) page->page_height *= 2;
  page->linebyteLeft = page->page_width - h.cupsWidth;
  page->linebyte = GetBMPBytesPerLine(8, static_cast<LONG>(page->page_width));
  page->pagesize = page->linebyte * page->page_height;
}

DWORD PrintableExtent(DWORD points, DWORD dpi) {
  if (points <= kUnprintablePoints) return 0;
  uint64_t pixels = static_cast<uint64_t>(points - kUnprintablePoints) * dpi / 72;
  pixels = PaddedTo32(pixels);
  return pixels > 0xFFFFFFFFu ? 0 : static_cast<DWORD>(pixels);
}

PageFit FitToPrintableArea(const cups_page_header2_t &h, DWORD planeWidth, DWORD planeRows,
                           DWORD *width, DWORD *height) {
  if (h.ImagingBoundingBox[0] != 0 || h.ImagingBoundingBox[1] != 0) return PageFit::kAsIs;
  *width = PrintableExtent(h.PageSize[0], h.HWResolution[0]);
  *height = PrintableExtent(h.PageSize[1], h.HWResolution[1]);
  if (*width == 0 || *height == 0 || *width > planeWidth || *height > planeRows) {
    DbgMsg("page::printable area %ux%u does not fit the plane %ux%u, the page keeps its size",
           *width, *height, planeWidth, planeRows);
    return PageFit::kNoRoom;
  }
  return PageFit::kPrintable;
}

void LayOutBlankBackPage(Page *page) {
  const cups_page_header2_t &h = page->inheader;
  page->lpbuf = nullptr;
  page->page_width = static_cast<DWORD>(PaddedTo32(h.cupsWidth));
  page->page_height = static_cast<DWORD>(PaddedTo32(h.cupsHeight));
  DWORD width = 0, height = 0;
  if (FitToPrintableArea(h, page->page_width, page->page_height, &width, &height) ==
      PageFit::kPrintable) {
    page->page_width = width;
    page->page_height = height;
  }
  if (PageSettingsOf(h).twoColour) page->page_height *= 2;
  page->linebyte = GetBMPBytesPerLine(1, static_cast<LONG>(page->page_width));
  page->pagesize = page->linebyte * page->page_height;
  page->linebyteLeft = 0;
  DbgMsg("page::blank back page %u: %ux%u pixels, %u bytes of rows", page->PageIndex,
         page->page_width, page->page_height, page->pagesize);
}
