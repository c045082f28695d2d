#include "printer_app/child_page.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "driver/raster_page.h"
#include "runtime/header_value.h"

namespace zelvarapp {

namespace {

constexpr unsigned char kWhite = 255;

// Pixels of `points` at `dpi`, to the nearest pixel as CUPS's RIPs count them.
unsigned Pixels(unsigned points, unsigned dpi) {
  return static_cast<unsigned>((static_cast<unsigned long long>(points) * dpi + 36) / 72);
}

bool SourceSamplesOf(const cups_page_header2_t &h, SourceSamples *samples) {
  // A client can put any number in the enum fields.
  if (h.cupsBitsPerColor != 8 || RawHeaderValue(h.cupsColorOrder) != CUPS_ORDER_CHUNKED)
    return false;
  switch (RawHeaderValue(h.cupsColorSpace)) {
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_SW:
      *samples = SourceSamples::kGrey;
      return h.cupsBitsPerPixel == 8;
    case CUPS_CSPACE_K:
      *samples = SourceSamples::kInk;
      return h.cupsBitsPerPixel == 8;
    case CUPS_CSPACE_RGB:
    case CUPS_CSPACE_SRGB:
    case CUPS_CSPACE_ADOBERGB:
      *samples = SourceSamples::kRgb;
      return h.cupsBitsPerPixel == 24;
    default:
      return false;
  }
}

// Child lines per client line, or 0 for a resolution the printer does not offer.
unsigned LineRepeat(const cups_page_header2_t &h) {
  if (FindByValue(Resolutions(), static_cast<int>(h.HWResolution[0])) == nullptr) return 0;
  if (h.HWResolution[1] == h.HWResolution[0]) return 1;
  return 2 * h.HWResolution[1] == h.HWResolution[0] ? 2 : 0;
}

}  // namespace

bool SetUpChildPage(const JobSettings &settings, const cups_page_header2_t &source, ChildPage *page,
                    std::string *reason) {
  if (!SourceSamplesOf(source, &page->source)) {
    *reason = "The document's raster pages (" + std::to_string(source.cupsBitsPerPixel) +
              " bits per pixel, colour space " +
              std::to_string(RawHeaderValue(source.cupsColorSpace)) +
              ") are not 8-bit grey or 24-bit colour";
    return false;
  }
  page->repeat = LineRepeat(source);
  if (page->repeat == 0) {
    *reason = "The document is rendered at " + std::to_string(source.HWResolution[0]) + "x" +
              std::to_string(source.HWResolution[1]) + " dpi; the printer prints at 300 or 600 dpi";
    return false;
  }
  const unsigned dpi = source.HWResolution[0];
  page->sourceWidth = source.cupsWidth;
  page->sourceHeight = source.cupsHeight;

  // The printer's own points for its sheets; any other size as the client gave it.
  unsigned widthPt = source.PageSize[0], heightPt = source.PageSize[1];
  if (const Sheet *sheet = SheetForSize(widthPt, heightPt)) {
    widthPt = sheet->widthPt;
    heightPt = sheet->heightPt;
  }
  const unsigned margin = settings.fullBleed ? 0 : kMarginPt;

  cups_page_header2_t &h = page->header;
  memset(&h, 0, sizeof h);
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.PageSize[0] = widthPt;
  h.PageSize[1] = heightPt;
  h.cupsPageSize[0] = static_cast<float>(widthPt);
  h.cupsPageSize[1] = static_cast<float>(heightPt);
  h.ImagingBoundingBox[0] = h.ImagingBoundingBox[1] = margin;
  h.ImagingBoundingBox[2] = widthPt > margin ? widthPt - margin : widthPt;
  h.ImagingBoundingBox[3] = heightPt > margin ? heightPt - margin : heightPt;
  h.Margins[0] = h.Margins[1] = margin;
  for (int i = 0; i < 4; ++i) h.cupsImagingBBox[i] = static_cast<float>(h.ImagingBoundingBox[i]);
  h.cupsBorderlessScalingFactor = 1.0f;
  // The printable area, or for a full-bleed page the whole sheet (which the
  // filter then scales or crops to the printable area), in the printer's points:
  // a client's page in millimetres may be a pixel or two larger or smaller.
  h.cupsWidth = Pixels(h.ImagingBoundingBox[2] - h.ImagingBoundingBox[0], dpi);
  h.cupsHeight = Pixels(h.ImagingBoundingBox[3] - h.ImagingBoundingBox[1], dpi);
  page->left = page->top = Pixels(margin, dpi);

  const bool rgb = settings.mode == PrintMode::kBlackRed;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = rgb ? 24 : 8;
  h.cupsBytesPerLine = h.cupsWidth * (rgb ? 3 : 1);
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = rgb ? CUPS_CSPACE_RGB : CUPS_CSPACE_SW;
  h.cupsNumColors = rgb ? 3 : 1;

  h.cupsCompression = settings.density - 1;
  for (int i = 0; i < 6; ++i) h.cupsInteger[i] = settings.integers[i];
  h.cupsInteger[6] = settings.mode == PrintMode::kLineArt ? 1 : 0;
  h.cupsMediaType = settings.mediaType;
  snprintf(h.MediaType, sizeof h.MediaType, "%s", settings.mediaTypeName);
  h.MediaPosition = settings.mediaPosition;
  h.Duplex = settings.duplex ? CUPS_TRUE : CUPS_FALSE;
  h.Tumble = settings.tumble ? CUPS_TRUE : CUPS_FALSE;
  h.NumCopies = settings.copies;
  h.Collate = settings.collate ? CUPS_TRUE : CUPS_FALSE;
  h.Orientation = CUPS_ORIENT_0;  // the client has turned the page already
  return true;
}

ChildRows ChildRowsFor(const ChildPage &page, unsigned sourceLine) {
  ChildRows rows;
  const unsigned long long start = static_cast<unsigned long long>(sourceLine) * page.repeat;
  const unsigned long long end = start + page.repeat;
  const unsigned long long lo = std::max<unsigned long long>(start, page.top);
  const unsigned long long hi =
      std::min<unsigned long long>(end, page.top + page.header.cupsHeight);
  if (lo < hi) {
    rows.first = static_cast<unsigned>(lo - page.top);
    rows.count = static_cast<unsigned>(hi - lo);
  }
  return rows;
}

void ChildLine(const ChildPage &page, const unsigned char *sourceLine, unsigned char *out) {
  const cups_page_header2_t &h = page.header;
  const bool rgbOut = h.cupsBitsPerPixel == 24;
  memset(out, kWhite, h.cupsBytesPerLine);
  if (sourceLine == nullptr || page.left >= page.sourceWidth) return;
  const unsigned n = std::min(h.cupsWidth, page.sourceWidth - page.left);
  if (page.source == SourceSamples::kRgb) {
    const unsigned char *from = sourceLine + 3 * static_cast<size_t>(page.left);
    if (rgbOut)
      memcpy(out, from, 3 * static_cast<size_t>(n));
    else
      ConvertRgbLine(from, n, out);  // the filter's own weights for colour
    return;
  }
  const unsigned char *from = sourceLine + page.left;
  const bool ink = page.source == SourceSamples::kInk;
  if (!rgbOut) {
    if (ink)
      ConvertInkLine(from, n, out);
    else
      memcpy(out, from, n);
    return;
  }
  for (unsigned x = 0; x < n; ++x)
    out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = ink ? 255 - from[x] : from[x];
}

}  // namespace zelvarapp
