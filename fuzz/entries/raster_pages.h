// Counting the pages of a raster stream with libcups's reader alone, as a
// reference for what the filter read.
#pragma once

#include <cups/raster.h>

#include <string>

namespace fuzzentry {

struct RasterPages {
  unsigned whole = 0;        // pages read with all their lines
  bool firstDuplex = false;  // the first page asks for two-sided printing
  bool lastCut = false;      // the stream ends inside a page's lines
};

RasterPages CountRasterPages(const std::string &stream);

}  // namespace fuzzentry
