// The printer settings a raster page header carries in its printer-specific
// fields, read in one place.
#pragma once

#include <cups/raster.h>

#include <cstdint>

struct PageSettings {
  bool tonerSave;      // cupsInteger[0] not 0: the economy tone curve, ECONOMODE=ON
  bool invert;         // cupsInteger[1] not 0: negative print (black plane only)
  bool mirror;         // cupsInteger[2] not 0: every row right to left
  bool scaleToFit;     // cupsInteger[3] 1: content scaled into the printable area, else cut
  bool twoColour;      // cupsInteger[4] 1: a black and a red plane
  bool colourMode;     // cupsInteger[4] 2: the page record's ColorMode 1
  uint8_t redMargin;   // low byte of cupsInteger[5]: how far red must lead to be red
  bool lineArt;        // 24-bit pages, and 8-bit pages with cupsInteger[6] not 0
  unsigned density;    // cupsCompression: the print density (tone curve, DENSITY=density + 1)
  unsigned mediaType;  // cupsMediaType: the row of the media table
  unsigned tray;       // MediaPosition: the input tray, kAnyTray for any
  bool duplex;         // Duplex 1: two-sided; any other value prints one-sided
  bool tumble;         // Tumble not 0: short-edge binding (DUPLEXTYPE=CALENDAR)
  bool landscape;      // Orientation not 0
};

// The MediaPosition that lets the printer choose the tray (AUTOSELECT=ON).
constexpr unsigned kAnyTray = 250;

PageSettings PageSettingsOf(const cups_page_header2_t &h);
