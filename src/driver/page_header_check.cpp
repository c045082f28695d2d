#include "driver/page_header_check.h"

#include <cstdint>
#include <cstdio>

#include "page/page.h"
#include "runtime/header_value.h"
#include "runtime/page_settings.h"

namespace {

// The names CUPS gives the colour spaces up to Adobe RGB, for the refusal text.
const char *ColorSpaceName(unsigned space) {
  static const char *const kNames[] = {"W",     "RGB",  "RGBA",    "K",      "CMY",    "YMC",
                                       "CMYK",  "YMCK", "KCMY",    "KCMYcm", "GMCK",   "GMCS",
                                       "WHITE", "GOLD", "SILVER",  "CIEXYZ", "CIELab", "RGBW",
                                       "SW",    "SRGB", "ADOBERGB"};
  return space < sizeof kNames / sizeof kNames[0] ? kNames[space] : "other";
}

constexpr uint64_t kNormalPageBytesLimit = UINT32_MAX;

}  // namespace

PixelFormat PagePixelFormat(const cups_page_header2_t *h) {
  const uint32_t space = RawHeaderValue(h->cupsColorSpace);
  if (h->cupsBitsPerPixel == 24 && (space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB))
    return PixelFormat::kRgb;
  if (h->cupsBitsPerPixel == 8 && (space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW))
    return PixelFormat::kWhiteGrey;
  if (h->cupsBitsPerPixel == 8 && space == CUPS_CSPACE_K) return PixelFormat::kBlackInk;
  return PixelFormat::kUnsupported;
}

BOOL CheckPageHeader(const cups_page_header2_t *h, char *reason, size_t reasonSize,
                     uint64_t maxPageBytes) {
  const unsigned bits = h->cupsBitsPerPixel;
  if (h->cupsWidth == 0) {
    snprintf(reason, reasonSize, "cupsWidth is 0");
    return FALSE;
  }
  if (h->cupsHeight == 0) {
    snprintf(reason, reasonSize, "cupsHeight is 0");
    return FALSE;
  }
  if (PagePixelFormat(h) == PixelFormat::kUnsupported) {
    const uint32_t space = RawHeaderValue(h->cupsColorSpace);
    snprintf(reason, reasonSize,
             "cupsBitsPerPixel %u in cupsColorSpace %u (%s) is not supported (8-bit grey in W, "
             "SW or K, or 24-bit RGB or sRGB is needed)",
             bits, space, ColorSpaceName(space));
    return FALSE;
  }
  const uint64_t lineBytes = static_cast<uint64_t>(h->cupsWidth) * (bits / 8);
  if (h->cupsBytesPerLine != lineBytes) {
    snprintf(reason, reasonSize,
             "cupsBytesPerLine %u does not match cupsWidth %u at %u bits per pixel (%llu bytes)",
             h->cupsBytesPerLine, h->cupsWidth, bits, static_cast<unsigned long long>(lineBytes));
    return FALSE;
  }
  const bool twoColour = PageSettingsOf(*h).twoColour;
  if (twoColour && bits != 24) {
    snprintf(reason, reasonSize,
             "cupsInteger[4] (ColorMode) 1 needs 24 bits per pixel, cupsBitsPerPixel is %u", bits);
    return FALSE;
  }
  const uint64_t width = PaddedTo32(h->cupsWidth);
  const uint64_t height = PaddedTo32(h->cupsHeight) * (twoColour ? 2 : 1);
  if (width > kMaxBitmapSide) {
    snprintf(reason, reasonSize, "cupsWidth %u is too wide (the padded bitmap may be %u pixels)",
             h->cupsWidth, kMaxBitmapSide);
    return FALSE;
  }
  if (height > kMaxBitmapSide) {
    snprintf(reason, reasonSize, "cupsHeight %u is too tall (the padded bitmap%s may be %u rows)",
             h->cupsHeight, twoColour ? " of both colour planes" : "", kMaxBitmapSide);
    return FALSE;
  }
  // The 8-bit page and the line buffers must stay within 32-bit byte counts.
  const uint64_t pageBytes = width * height;
  const uint64_t lineBufferBytes = width * bits / 8 * (twoColour ? 3 : 1);
  const uint64_t pageBytesLimit = maxPageBytes != 0 && maxPageBytes < kNormalPageBytesLimit
                                      ? maxPageBytes
                                      : kNormalPageBytesLimit;
  if (pageBytes > pageBytesLimit || lineBufferBytes > UINT32_MAX) {
    snprintf(reason, reasonSize, "cupsWidth %u by cupsHeight %u is too large", h->cupsWidth,
             h->cupsHeight);
    return FALSE;
  }
  return TRUE;
}
