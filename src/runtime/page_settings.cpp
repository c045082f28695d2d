#include "runtime/page_settings.h"

#include "runtime/header_value.h"

PageSettings PageSettingsOf(const cups_page_header2_t &h) {
  PageSettings s;
  s.tonerSave = h.cupsInteger[0] != 0;
  s.invert = h.cupsInteger[1] != 0;
  s.mirror = h.cupsInteger[2] != 0;
  s.scaleToFit = h.cupsInteger[3] == 1;
  s.twoColour = h.cupsInteger[4] == 1;
  s.colourMode = h.cupsInteger[4] == 2;
  s.redMargin = static_cast<uint8_t>(h.cupsInteger[5] & 0xFF);
  s.lineArt = h.cupsBitsPerPixel == 24 || h.cupsInteger[6] != 0;
  s.density = h.cupsCompression;
  s.mediaType = h.cupsMediaType;
  s.tray = h.MediaPosition;
  s.duplex = RawHeaderValue(h.Duplex) == 1;
  s.tumble = RawHeaderValue(h.Tumble) != 0;
  s.landscape = RawHeaderValue(h.Orientation) != 0;
  return s;
}
