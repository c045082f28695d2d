// The raster page rastertoZelvar gets for a page a client sent.
//
// A client renders each page on the whole sheet.  The filter gets what the PPD's
// queue gives it: the sheet of the printer's paper table, and only the printable
// area (12 points in from each edge) with the imaging box saying so; or, for a
// borderless (full-bleed) request, the whole sheet, which the filter fits to the
// printable area itself.  Black-and-red pages go as 24-bit RGB, every other page
// as 8-bit white-based grey: with cupsInteger[6] = 1 on the line-art path, without
// it on the halftone path.  The job's settings fill the header fields the filter
// reads.
#pragma once

#include <cups/raster.h>

#include <string>

#include "printer_app/job_settings.h"

namespace zelvarapp {

// The kinds of client pages the application takes.
enum class SourceSamples {
  kGrey,  // 8-bit white-based grey (W, SW): 0 black, 255 white
  kInk,   // 8-bit black (K): 0 no toner, 255 black
  kRgb,   // 24-bit RGB, sRGB or Adobe RGB
};

struct ChildPage {
  cups_page_header2_t header;  // what the filter reads
  SourceSamples source = SourceSamples::kGrey;
  unsigned sourceWidth = 0;   // pixels of a client line
  unsigned sourceHeight = 0;  // lines of the client page
  unsigned left = 0;          // the client column of the child's first column
  unsigned top = 0;           // sheet lines above the child's first, at its resolution
  unsigned repeat = 1;        // child lines a client line makes (2 for half the dpi down)
};

// Sets up the child page for a client page with header `source`.  False, with a
// reason for the job's state message, when the printer cannot print the page:
// a resolution other than 300 or 600 dpi, or samples of another kind.  A page
// with half the resolution down the page (CUPS's draft quality, 300 x 150 dpi)
// is printed at the resolution across, every client line twice.
bool SetUpChildPage(const JobSettings &settings, const cups_page_header2_t &source, ChildPage *page,
                    std::string *reason);

// The child lines that show client line `sourceLine`: `count` lines from `first`
// (none for a client line outside the printable area).
struct ChildRows {
  unsigned first = 0, count = 0;
};
ChildRows ChildRowsFor(const ChildPage &page, unsigned sourceLine);

// A child line from a client line, or white where the client page has no such
// line (`sourceLine` null) or no such columns.  `out` holds the child header's
// cupsBytesPerLine bytes.
void ChildLine(const ChildPage &page, const unsigned char *sourceLine, unsigned char *out);

}  // namespace zelvarapp
