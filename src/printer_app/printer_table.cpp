#include "printer_app/printer_table.h"

#include <cstdlib>
#include <cstring>

namespace zelvarapp {

namespace {

// IPP names its sizes in millimetres or inches; each of these rounds to the
// printer's points (8K and 16K have no standard name and get self-describing
// ones).
const Sheet kSheets[] = {
    {"na_letter_8.5x11in", "Letter", 612, 792},
    {"na_legal_8.5x14in", "Legal", 612, 1008},
    {"na_ledger_11x17in", "Tabloid", 792, 1224},
    {"iso_a3_297x420mm", "A3", 842, 1191},
    {"iso_a4_210x297mm", "A4", 595, 842},
    {"iso_a5_148x210mm", "A5", 420, 595},
    {"jis_b4_257x364mm", "B4", 729, 1032},
    {"jis_b5_182x257mm", "B5", 516, 729},
    {"jis_b6_128x182mm", "B6", 363, 516},
    {"iso_a6_105x148mm", "A6", 297, 420},
    {"na_foolscap_8.5x13in", "FanFoldGermanLegal", 612, 936},
    {"jpn_hagaki_100x148mm", "Postcard", 284, 419},
    {"na_invoice_5.5x8.5in", "Statement", 396, 612},
    {"om_8k_267x390mm", "8K", 757, 1106},
    {"om_16k_195x267mm", "16K", 553, 757},
};

const Choice kResolutions[] = {
    {"Resolution", "300dpi", "printer-resolution", "300dpi", 300},
    {"Resolution", "600dpi", "printer-resolution", "600dpi", 600},
};

// The printer picks the tray itself for MediaPosition 250.
const Choice kMediaSources[] = {
    {"InputSlot", "Auto", "media-source", "auto", 250},
    {"InputSlot", "Tray1", "media-source", "tray-1", 1},
    {"InputSlot", "Manual", "media-source", "manual", 2},
};

// Standard IPP keywords where one means the same; Laser, Bond and Postcard have
// none and get the names CUPS itself derives from the PPD's choices.
const Choice kMediaTypes[] = {
    {"MediaType", "Plain", "media-type", "stationery", 0},
    {"MediaType", "Cardstock", "media-type", "cardstock", 1},
    {"MediaType", "Thick", "media-type", "stationery-heavyweight", 2},
    {"MediaType", "Laser", "media-type", "laser", 3},
    {"MediaType", "Bond", "media-type", "bond", 4},
    {"MediaType", "Transparency", "media-type", "transparency", 5},
    {"MediaType", "Thin", "media-type", "stationery-lightweight", 6},
    {"MediaType", "Envelope", "media-type", "envelope", 7},
    {"MediaType", "Postcard", "media-type", "postcard", 8},
    {"MediaType", "Auto", "media-type", "auto", 9},
};

const Choice kSides[] = {
    {"Duplex", "None", "sides", "one-sided", 0},
    {"Duplex", "DuplexNoTumble", "sides", "two-sided-long-edge", 1},
    {"Duplex", "DuplexTumble", "sides", "two-sided-short-edge", 3},
};

const Choice kCollation[] = {
    {"Collate", "False", "multiple-document-handling", "separate-documents-uncollated-copies", 0},
    {"Collate", "True", "multiple-document-handling", "separate-documents-collated-copies", 1},
};

const Choice kDensities[] = {
    {"Density", "1", "print-darkness", "-100", 1}, {"Density", "2", "print-darkness", "-50", 2},
    {"Density", "3", "print-darkness", "0", 3},    {"Density", "4", "print-darkness", "50", 4},
    {"Density", "5", "print-darkness", "100", 5},
};

const Choice kPrintModes[] = {
    {"PrintMode", "LineArt", "print-content-optimize", "auto",
     static_cast<int>(PrintMode::kLineArt)},
    {"PrintMode", "Halftone", "print-content-optimize", "photo",
     static_cast<int>(PrintMode::kHalftone)},
    {"PrintMode", "BlackRed", "print-color-mode", "color", static_cast<int>(PrintMode::kBlackRed)},
};

const Choice kTonerSave[] = {
    {"TonerSave", "False", "toner-save", "false", 0},
    {"TonerSave", "True", "toner-save", "true", 1},
};
const Choice kNegative[] = {
    {"Negative", "False", "negative-print", "false", 0},
    {"Negative", "True", "negative-print", "true", 1},
};
const Choice kMirror[] = {
    {"MirrorImage", "False", "mirror-image", "false", 0},
    {"MirrorImage", "True", "mirror-image", "true", 1},
};
// How a full-bleed (borderless) page is fitted to the printable area.
const Choice kFullBleedFit[] = {
    {"FullBleedFit", "Scale", "full-bleed-fit", "scale", 1},
    {"FullBleedFit", "Crop", "full-bleed-fit", "crop", 0},
};
// How much a pixel's red must exceed its green and blue to print in red.
const Choice kRedDetection[] = {
    {"RedLevel", "Wide", "red-detection", "wide", 20},
    {"RedLevel", "Normal", "red-detection", "normal", 60},
    {"RedLevel", "Narrow", "red-detection", "narrow", 100},
};

const VendorOption kVendorOptions[] = {
    {"toner-save", true, 0, "false", kTonerSave},
    {"negative-print", true, 1, "false", kNegative},
    {"mirror-image", true, 2, "false", kMirror},
    {"full-bleed-fit", false, 3, "scale", kFullBleedFit},
    {"red-detection", false, 5, "normal", kRedDetection},
};

unsigned Distance(unsigned a, unsigned b) { return a > b ? a - b : b - a; }

}  // namespace

std::span<const Sheet> Sheets() { return kSheets; }

const Sheet *SheetForPwgName(const char *pwgName) {
  if (pwgName == nullptr) return nullptr;
  for (const Sheet &sheet : kSheets)
    if (strcmp(sheet.pwgName, pwgName) == 0) return &sheet;
  return nullptr;
}

const Sheet *SheetForSize(unsigned widthPt, unsigned heightPt) {
  for (const Sheet &sheet : kSheets)
    if (Distance(sheet.widthPt, widthPt) <= 1 && Distance(sheet.heightPt, heightPt) <= 1)
      return &sheet;
  return nullptr;
}

std::span<const Choice> Resolutions() { return kResolutions; }
std::span<const Choice> MediaSources() { return kMediaSources; }
std::span<const Choice> MediaTypes() { return kMediaTypes; }
std::span<const Choice> Sides() { return kSides; }
std::span<const Choice> Collation() { return kCollation; }
std::span<const Choice> Densities() { return kDensities; }
std::span<const Choice> PrintModes() { return kPrintModes; }
std::span<const VendorOption> VendorOptions() { return kVendorOptions; }

const Choice *FindByIpp(std::span<const Choice> table, const char *ippValue) {
  if (ippValue == nullptr) return nullptr;
  for (const Choice &choice : table)
    if (strcmp(choice.ippValue, ippValue) == 0) return &choice;
  return nullptr;
}

const Choice *FindByValue(std::span<const Choice> table, int value) {
  for (const Choice &choice : table)
    if (choice.value == value) return &choice;
  return nullptr;
}

const Choice *VendorChoice(const VendorOption &option, const char *ippValue) {
  return FindByIpp(option.choices, ippValue);
}

}  // namespace zelvarapp
