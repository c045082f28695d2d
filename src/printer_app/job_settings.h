// A job's request in IPP's terms, and what it asks of the filter: the settings
// of every page's raster header and the filter's copies and options arguments.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "printer_app/printer_table.h"

namespace zelvarapp {

// What a job asks for; empty texts and out-of-range numbers are the defaults.
struct IppJob {
  bool borderless = false;       // media-col asks for no margins
  std::string mediaSource;       // "media-source"
  std::string mediaType;         // "media-type"
  std::string sides;             // "sides"
  std::string colorMode;         // "print-color-mode" after "auto" is resolved
  std::string contentOptimize;   // "print-content-optimize"
  int darkness = 0;              // "print-darkness", -100 to 100
  int darknessConfigured = 50;   // "printer-darkness-configured", 0 to 100
  int copies = 1;                // "copies"
  std::string documentHandling;  // "multiple-document-handling"
  // Vendor attributes: the job's value, or else the printer's default.
  std::vector<std::pair<std::string, std::string>> vendor;
};

struct JobSettings {
  bool fullBleed = false;  // the page covers the whole sheet and the filter fits it
  unsigned mediaPosition = 250;
  unsigned mediaType = 0;          // cupsMediaType
  const char *mediaTypeName = "";  // the PPD's choice, also the header's MediaType
  bool duplex = false;
  bool tumble = false;
  PrintMode mode = PrintMode::kLineArt;
  unsigned density = 3;       // 1 lightest to 5 darkest
  unsigned integers[6] = {};  // cupsInteger[0..5] from the vendor options
  unsigned copies = 1;
  bool collate = true;
};

// The settings for a job; a value the printer does not offer falls back to the
// default.
JobSettings SettingsForJob(const IppJob &job);

// The density step for IPP's print darkness on top of the printer's configured
// darkness: the sum (configured + darkness / 2, 0 to 100) split into five steps.
unsigned DensityFor(int darkness, int darknessConfigured);

// The filter's fifth and sixth arguments: the copy count and the option text
// that asks for (un)collated copies.
std::string CopiesArgument(const JobSettings &settings);
std::string OptionsArgument(const JobSettings &settings);

}  // namespace zelvarapp
