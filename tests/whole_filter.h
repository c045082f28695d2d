// Whole-filter checks: a raster job written with libcups's writer goes through the
// filter binary, and what it prints is parsed and every page decoded with libjbig's
// decoder.  Where a page's content is expected is worked out here from the page
// header alone, so the checks never lean on the filter's own geometry code.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filter_process.h"
#include "job_parser.h"
#include "page_decoder.h"
#include "test_raster.h"

namespace wholefilter {

// What the filter printed for one job.
struct PrintedJob {
  filtertest::FilterResult run;
  inspect::ParsedJob parsed;  // views into run.out
  std::vector<inspect::Bitmap> pages;
  // Empty when the filter exited with 0, the job is well formed, every page record
  // decodes, its blackDots is the number of set bits and its data is the stream
  // libjbig's encoder makes of the page; otherwise what was wrong.
  std::string problem;

  bool good() const { return problem.empty(); }
};

// Runs the filter on the raster file (as its seventh argument) and checks and
// decodes its output.  Held by pointer: the parsed records point into the output.
std::unique_ptr<PrintedJob> PrintFile(const filtertest::ScratchDir &dir,
                                      const std::string &rasterPath,
                                      const std::vector<std::string> &environment = {});
// The same for pages written to a raster file in `dir` first.
std::unique_ptr<PrintedJob> Print(const filtertest::ScratchDir &dir,
                                  const std::vector<testraster::Page> &pages,
                                  const std::vector<std::string> &environment = {});

// Pixel (x, y) of a decoded page; a set bit is a dot of toner.
inline bool Dot(const inspect::Bitmap &page, unsigned x, unsigned y) {
  return (page.bits[static_cast<size_t>(y) * page.linebyte + x / 8] >> (7 - x % 8)) & 1;
}
// Set bits in the w x h window at (x, y).
unsigned CountDots(const inspect::Bitmap &page, unsigned x, unsigned y, unsigned w, unsigned h);

// Where a raster pixel lands on the printed page: printed x = raster x * scaleX -
// shiftX, printed y = raster y * scaleY - shiftY + planeRow (planeRow: the first row
// of the plane, the red plane's in two-colour mode).
struct Placement {
  double scaleX = 1, scaleY = 1;
  double shiftX = 0, shiftY = 0;
  unsigned planeRow = 0;
};

// The printed page the printer must get for a raster page header: a page on the
// line-art path (24 bits, or 8 bits with cupsInteger[6] set) without imaging
// margins is fitted to the printable area, 12 points inside each
// edge of the sheet, both sides rounded up to multiples of 32 pixels, by cutting
// the centre out of the page padded to multiples of 32 (cupsInteger[3] other than 1)
// or by scaling the content by the ratio truncated to thousandths (cupsInteger[3]
// 1); every other page keeps its size padded to multiples of 32.
struct Fit {
  unsigned width = 0;
  unsigned planeHeight = 0;  // rows of one plane
  unsigned height = 0;       // rows of the page record, both planes in two-colour mode
  Placement black;           // the raster's black plane
  Placement red;             // its red plane, in two-colour mode
};
Fit ExpectedFit(const cups_page_header2_t &h);

// Reads the page number drawn with testraster::DrawPageMark on a raster page of
// rasterWidth x rasterHeight pixels back from the printed page: each of the 32 mark
// squares must be clearly inked or clearly blank where it lands.  -1 when the mark
// is missing, unclear or outside the page.
int ReadMark(const inspect::Bitmap &page, unsigned rasterWidth, unsigned rasterHeight,
             const Placement &at);

// A PPD file in `dir` with the given JCL-begin text (PPD quoting: <0D0A> for CR LF).
std::string WritePpdWithJcl(const filtertest::ScratchDir &dir, const std::string &jclBegin);

}  // namespace wholefilter
