// The printer settings a raster page header carries in its printer-specific
// fields, read in one place.
#pragma once

#include <cups/raster.h>

#include <cstdint>

struct PageSettings {
  bool tonerSave;     // cupsInteger[0] not 0: the economy tone curve, ECONOMODE=ON
  bool invert;        // cupsInteger[1] not 0: negative print (black plane only)
  bool mirror;        // cupsInteger[2] not 0: every row right to left
  bool scaleToFit;    // cupsInteger[3] 1: content scaled into the printable area, else cut
  bool twoColour;     // cupsInteger[4] 1: a black and a red plane
  bool colourMode;    // cupsInteger[4] 2: the page record's ColorMode 1
  uint8_t redMargin;  // low byte of cupsInteger[5]: how far red must lead to be red
  bool lineArt;       // 24-bit pages, and 8-bit pages with cupsInteger[6] not 0
};

PageSettings PageSettingsOf(const cups_page_header2_t &h);
