// What the printer offers, in the terms of both front ends: every choice names
// the IPP value a client sends to the Printer Application and the option and
// choice of the queue's PPD (ppd/zelvar.drv) that ask for the same thing, and
// carries the setting both hand to rastertoZelvar.  The application builds its
// IPP attributes and reads its jobs through these tables; a test marks each PPD
// choice with libcups and checks that the same choice in IPP gives the filter the
// same raster header, so the two front ends cannot drift apart.
#pragma once

#include <cstddef>
#include <span>

namespace zelvarapp {

// A sheet of the printer's paper table.  The filter finds the paper code by
// comparing the page size in whole points, so these are the points it knows.
struct Sheet {
  const char *pwgName;  // IPP "media" keyword
  const char *ppdName;  // PageSize choice; the full-bleed one adds ".Fullbleed"
  unsigned widthPt, heightPt;
};
std::span<const Sheet> Sheets();
// The sheet of an IPP media keyword, or null.
const Sheet *SheetForPwgName(const char *pwgName);
// The sheet a page of this size in points is meant for: the one whose sides
// differ by at most a point (IPP sizes are millimetres, rounded to points by
// whoever writes the raster), or null for a size the printer does not know.
const Sheet *SheetForSize(unsigned widthPt, unsigned heightPt);
constexpr const char *kFullBleedSuffix = ".Fullbleed";

// The unprintable border on every side of a sheet, in points and in IPP's
// hundredths of a millimetre.
constexpr unsigned kMarginPt = 12;
constexpr int kMarginHundredthsMm = 423;

// One choice: the PPD's option and choice, the IPP attribute and value (in the
// text form of IPP, as cupsParseOptions reads it) and the setting they stand for.
struct Choice {
  const char *ppdOption;
  const char *ppdChoice;
  const char *ippName;
  const char *ippValue;
  int value;
};

// Resolutions: value in dots per inch ("printer-resolution").
std::span<const Choice> Resolutions();
// Input trays: value is the raster header's MediaPosition ("media-source").
std::span<const Choice> MediaSources();
// Media types: value is the raster header's cupsMediaType, the index of the
// printer's media table ("media-type").
std::span<const Choice> MediaTypes();
// Sides: value is Duplex + 2 * Tumble ("sides").
std::span<const Choice> Sides();
// Collation: value is the raster header's Collate ("multiple-document-handling").
std::span<const Choice> Collation();
// Print density 1 to 5: value is the density; IPP's "print-darkness" runs from
// -100 to 100, and these are the values that fall on each step exactly.
std::span<const Choice> Densities();

// The filter's three ways of printing a page.
enum class PrintMode {
  kLineArt,   // fitted, edge-enhanced line art in black
  kHalftone,  // screened for photos
  kBlackRed,  // line art in black and red
};
// The print modes, each with the one IPP attribute that selects it on top of
// the defaults (monochrome, automatic content); value is the PrintMode.
std::span<const Choice> PrintModes();

// Settings without a standard IPP attribute, offered as vendor attributes; each
// sets one cupsInteger of the raster header.
struct VendorOption {
  const char *ippName;  // the attribute; "-supported" and "-default" are added
  bool boolean;         // true: a boolean attribute, else keywords
  unsigned integer;     // index into cupsInteger
  const char *ippDefault;
  std::span<const Choice> choices;  // value is the cupsInteger
};
std::span<const VendorOption> VendorOptions();
// The choice of a vendor option for an IPP value, or null.
const Choice *VendorChoice(const VendorOption &option, const char *ippValue);

// The choice of a table whose IPP value is `ippValue`, or null.
const Choice *FindByIpp(std::span<const Choice> table, const char *ippValue);
// The choice of a table whose value is `value`, or null.
const Choice *FindByValue(std::span<const Choice> table, int value);

}  // namespace zelvarapp
