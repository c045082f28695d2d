// Building CUPS raster jobs for tests, the demo and the benchmark, written with
// libcups's own raster writer.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testraster {

struct Page {
  cups_page_header2_t header;
  std::vector<uint8_t> pixels;  // cupsHeight rows of cupsBytesPerLine bytes
};

// A page header as a CUPS RIP would send it: chunky pixels, no compression field
// set, imaging box 0 (full sheet) unless changed afterwards.  `bitsPerPixel` 8 is
// one ink sample (black colour space, 0 no ink), 24 three RGB samples.
cups_page_header2_t MakeHeader(unsigned widthPx, unsigned heightPx, unsigned bitsPerPixel,
                               unsigned dpi = 600);
// The header for a sheet given in points, covering the whole sheet at `dpi`.
cups_page_header2_t SheetHeader(unsigned widthPt, unsigned heightPt, unsigned bitsPerPixel,
                                unsigned dpi = 600);

// A white page for `header`.
Page WhitePage(const cups_page_header2_t &header);
// Raw samples: pixel (x, y) of an 8-bit page gets `r`; of a 24-bit page (r, g, b).
void SetPixel(Page &page, unsigned x, unsigned y, uint8_t r, uint8_t g, uint8_t b);
void FillRect(Page &page, unsigned x, unsigned y, unsigned w, unsigned h, uint8_t r, uint8_t g,
              uint8_t b);
// Ink: 0 none, 255 full, whatever the colour space (K: sample = ink; RGB and
// white-based grey: sample = 255 - ink).
void InkRect(Page &page, unsigned x, unsigned y, unsigned w, unsigned h, uint8_t ink);

// The page mark: page number n (0..255) as two black squares, one in slot n % 16 of
// a row at 10 % of the sheet height and one in slot n / 16 of a row at 17 %, the 16
// slots spread over the middle 80 % of the width.  The squares are large enough to
// be found at the same fractions of the printed page after cropping or scaling, so
// a decoded page tells which page it is.
constexpr unsigned kMarkSlots = 16;
struct Rect {
  unsigned x, y, w, h;
};
// Square of `slot` in mark row `row` (0 or 1) on a page of width x height pixels.
Rect MarkSquare(unsigned width, unsigned height, unsigned row, unsigned slot);
void DrawPageMark(Page &page, unsigned n);
// The page mark laid out in `box` of the page, as if the box were the whole page
// (the part of the sheet a printed page shows).
void DrawPageMarkIn(Page &page, const Rect &box, unsigned n);
// Reads the page number back from a 1-bit page (rows of `linebyte` bytes, most
// significant bit leftmost) in which a set bit is ink; -1 if no clear mark is found.
int ReadPageMark(const uint8_t *bits, unsigned width, unsigned height, unsigned linebyte);

// Text-like and photo-like content for benchmarks and the demo.
void DrawTextLike(Page &page, unsigned seed);
void DrawPhotoLike(Page &page, unsigned seed);

// A PWG raster page: the whole sheet of a PWG media name at `dpi` in `type`
// ("sgray_8", "srgb_8", "black_8", ... as cupsRasterInitPWGHeader takes them),
// white.  False for a name or type libcups does not know.
bool PwgPage(const char *media, const char *type, unsigned dpi, Page *page);
// The 1-bit black page ("black_1") of an 8-bit black page: a bit is set where
// the sample is more than half ink.
Page PackedBlack1(const Page &inkPage);

// Writes the pages as one raster stream (uncompressed CUPS raster v3 unless
// `mode` says otherwise).  Returns false if the file cannot be written.
bool WriteRasterFile(const std::string &path, const std::vector<Page> &pages,
                     cups_mode_t mode = CUPS_RASTER_WRITE);
// The same stream as bytes.
std::string RasterBytes(const std::vector<Page> &pages, cups_mode_t mode = CUPS_RASTER_WRITE);

}  // namespace testraster
