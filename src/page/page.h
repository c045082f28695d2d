// A page on its way from the raster to its page record: the raster header, the
// bitmap and its geometry.  Every size a page takes on is worked out here: the
// padded 8-bit page that raster reading fills, the printable area a full-sheet
// page is fitted to, and the blank back page of an odd two-sided job.
//
// The bitmap is one block from malloc.  From raster reading until screening it
// holds one byte per pixel (255 white), rows of `linebyte` = `page_width` bytes,
// in two-colour mode the black plane and then the red plane; after screening one
// bit per pixel, leftmost pixel in the most significant bit, rows of `linebyte`
// bytes packed from the start of the same block.  `linebyte` always gives the
// current row length; `pagesize` stays the size of the block.
#pragma once

#include <cups/raster.h>

#include <cstddef>

#include "runtime/win_types.h"

struct Page {
  DWORD PageIndex;  // from 0, in input order
  cups_page_header2_t inheader;
  BYTE *lpbuf;  // the bitmap; null while the page holds none
  DWORD page_width;
  DWORD page_height;  // rows of both planes in two-colour mode
  DWORD linebyte;
  DWORD pagesize;      // bytes of the block at lpbuf
  DWORD linebyteLeft;  // white pixels right of the raster in each 8-bit row
};

// `n` rounded up to a multiple of 32, computed wide.
inline uint64_t PaddedTo32(uint64_t n) { return (n + 31) / 32 * 32; }

// The geometry of the 8-bit page raster reading makes from `inheader`: width and
// height rounded up to multiples of 32, the height doubled in two-colour mode.
// The header must have passed CheckPageHeader, which keeps these within 32 bits.
void LayOutPaddedPage(Page *page);

// Printable extent in pixels of a sheet side of `points` at `dpi` (12 points off
// each edge), rounded up to a multiple of 32; 0 when the side has no printable
// part.
DWORD PrintableExtent(DWORD points, DWORD dpi);

// How a page is fitted to the printable area.
enum class PageFit {
  kAsIs,       // the header has imaging margins: the page keeps its size
  kNoRoom,     // the printable area is empty or does not lie inside a plane
  kPrintable,  // the plane is cut or shrunk to *width x *height
};
// The fitting of a page whose planes are planeWidth x planeRows pixels.
PageFit FitToPrintableArea(const cups_page_header2_t &header, DWORD planeWidth, DWORD planeRows,
                           DWORD *width, DWORD *height);

// The geometry of a blank 1-bit back page for a job whose last page header is
// `inheader` (already in the page): the padded size, fitted to the printable
// area as a full-sheet page would be, both planes in two-colour mode.  No bitmap.
void LayOutBlankBackPage(Page *page);

// Bytes of the page's current bitmap rows: linebyte x page_height, taken wide.
inline size_t BitmapBytes(const Page &page) {
  return static_cast<size_t>(page.linebyte) * page.page_height;
}
