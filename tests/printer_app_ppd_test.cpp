// The Printer Application against the driver's PPD: every choice of every PPD
// option is marked with libcups and run through cupsRasterInterpretPPD, the same
// choice is asked for in IPP through the application's tables, and the raster
// header the application gives the filter must carry the same settings in every
// field the filter reads.  A PPD choice the application does not offer, or a
// table entry that names no PPD choice, fails: the two front ends cannot drift
// apart.

// libcups marks its PPD API deprecated; it is still the API that CUPS raster
// filters and RIPs use.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "image/page_image.h"
#include "printer_app/child_page.h"
#include "printer_app/job_settings.h"
#include "printer_app/printer_table.h"
#include "queue_ppd.h"

namespace {

using zelvarapp::Choice;

using ppdtest::kPpdPath;

using Ppd = ppdtest::QueuePpd;

// A job asking for the defaults and one IPP choice, and what a client renders
// for it: the job's sheet at the job's resolution, grey or (for colour) sRGB.
struct IppRequest {
  zelvarapp::IppJob job;
  const zelvarapp::Sheet *sheet = &zelvarapp::Sheets()[0];
  unsigned dpi = 600;
};

void Apply(const Choice &choice, IppRequest *r) {
  const std::string name = choice.ippName, value = choice.ippValue;
  if (name == "printer-resolution")
    r->dpi = static_cast<unsigned>(choice.value);
  else if (name == "media-source")
    r->job.mediaSource = value;
  else if (name == "media-type")
    r->job.mediaType = value;
  else if (name == "sides")
    r->job.sides = value;
  else if (name == "multiple-document-handling")
    r->job.documentHandling = value;
  else if (name == "print-darkness")
    r->job.darkness = std::stoi(value);
  else if (name == "print-color-mode")
    r->job.colorMode = value;
  else if (name == "print-content-optimize")
    r->job.contentOptimize = value;
  else
    r->job.vendor.emplace_back(name, value);  // a vendor attribute
}

// The IPP request for a PPD choice, from the application's tables; none when it
// offers no such choice.
std::optional<IppRequest> RequestFor(const std::string &option, const std::string &choice) {
  IppRequest r;
  if (option == "PageSize" || option == "PageRegion") {
    const std::string suffix = zelvarapp::kFullBleedSuffix;
    const bool fullBleed =
        choice.size() > suffix.size() &&
        choice.compare(choice.size() - suffix.size(), suffix.size(), suffix) == 0;
    const std::string base = fullBleed ? choice.substr(0, choice.size() - suffix.size()) : choice;
    for (const zelvarapp::Sheet &sheet : zelvarapp::Sheets()) {
      if (base != sheet.ppdName) continue;
      r.sheet = &sheet;
      r.job.borderless = fullBleed;
      return r;
    }
    return std::nullopt;
  }
  std::vector<std::span<const Choice>> tables = {
      zelvarapp::Resolutions(), zelvarapp::MediaSources(), zelvarapp::MediaTypes(),
      zelvarapp::Sides(),       zelvarapp::Collation(),    zelvarapp::Densities(),
      zelvarapp::PrintModes()};
  for (const zelvarapp::VendorOption &v : zelvarapp::VendorOptions()) tables.push_back(v.choices);
  for (std::span<const Choice> table : tables)
    for (const Choice &c : table)
      if (option == c.ppdOption && choice == c.ppdChoice) {
        Apply(c, &r);
        return r;
      }
  return std::nullopt;
}

// The raster header the application gives the filter for the request.
cups_page_header2_t AppHeader(const IppRequest &r) {
  const zelvarapp::JobSettings settings = zelvarapp::SettingsForJob(r.job);
  cups_page_header2_t client;
  const char *type = settings.mode == zelvarapp::PrintMode::kBlackRed ? "srgb_8" : "sgray_8";
  EXPECT_TRUE(cupsRasterInitPWGHeader(&client, pwgMediaForPWG(r.sheet->pwgName), type,
                                      static_cast<int>(r.dpi), static_cast<int>(r.dpi), "one-sided",
                                      "normal"));
  zelvarapp::ChildPage page;
  std::string reason;
  EXPECT_TRUE(zelvarapp::SetUpChildPage(settings, client, &page, &reason)) << reason;
  return page.header;
}

// Every field the filter reads for the printer and its page.
// IPP's default collates copies (multiple-document-handling), the PPD's does
// not; the Collate field is compared where collation is asked for.
void ExpectSameSettings(const cups_page_header2_t &app, const cups_page_header2_t &ppd,
                        bool compareCollate) {
  EXPECT_EQ(app.HWResolution[0], ppd.HWResolution[0]);
  EXPECT_EQ(app.HWResolution[1], ppd.HWResolution[1]);
  EXPECT_EQ(app.PageSize[0], ppd.PageSize[0]);
  EXPECT_EQ(app.PageSize[1], ppd.PageSize[1]);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(app.ImagingBoundingBox[i], ppd.ImagingBoundingBox[i]) << i;
  EXPECT_EQ(app.cupsWidth, ppd.cupsWidth);
  EXPECT_EQ(app.cupsHeight, ppd.cupsHeight);
  EXPECT_EQ(app.cupsCompression, ppd.cupsCompression) << "density";
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(app.cupsInteger[i], ppd.cupsInteger[i]) << "cupsInteger " << i;
  EXPECT_EQ(app.cupsMediaType, ppd.cupsMediaType);
  EXPECT_STREQ(app.MediaType, ppd.MediaType);
  EXPECT_EQ(app.MediaPosition, ppd.MediaPosition);
  EXPECT_EQ(app.Duplex, ppd.Duplex);
  EXPECT_EQ(app.Tumble, ppd.Tumble);
  if (compareCollate) {
    EXPECT_EQ(app.Collate, ppd.Collate);
  }
  // The application sends line art as 8-bit grey where the PPD asks the RIP for
  // 24-bit RGB; the filter takes both the same way.
  EXPECT_EQ(TakesLineArtPath(app), TakesLineArtPath(ppd)) << "print path";
  // Black and red needs the colour of every pixel.
  if (ppd.cupsInteger[4] == 1) {
    EXPECT_EQ(app.cupsBitsPerPixel, 24u);
  }
}

TEST(PrinterAppPpd, EveryPpdChoiceInIppGivesTheFilterTheSameHeader) {
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr) << "cannot open " << kPpdPath;
  // Marking moves libcups's option iterator, so list the options first.
  std::vector<ppd_option_t *> options;
  for (ppd_option_t *o = ppdFirstOption(ppd.get()); o; o = ppdNextOption(ppd.get()))
    options.push_back(o);
  size_t checked = 0;
  for (ppd_option_t *option : options) {
    for (int i = 0; i < option->num_choices; ++i) {
      const std::string choice = option->choices[i].choice;
      SCOPED_TRACE(std::string(option->keyword) + "=" + choice);
      std::optional<IppRequest> request = RequestFor(option->keyword, choice);
      if (!request) {
        ADD_FAILURE() << "the Printer Application has no IPP choice for it";
        continue;
      }
      ExpectSameSettings(AppHeader(*request), ppd.Header({{option->keyword, choice}}),
                         strcmp(option->keyword, "Collate") == 0);
      ++checked;
    }
  }
  // 30 page sizes twice (PageSize and PageRegion) and 39 other choices.
  EXPECT_EQ(checked, 99u);
}

TEST(PrinterAppPpd, EveryTableChoiceNamesAChoiceOfThePpd) {
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr);
  auto expectInPpd = [&](const char *option, const char *choice) {
    ppd_option_t *o = ppdFindOption(ppd.get(), option);
    ASSERT_NE(o, nullptr) << option;
    EXPECT_NE(ppdFindChoice(o, choice), nullptr) << option << "=" << choice;
  };
  std::vector<std::span<const Choice>> tables = {
      zelvarapp::Resolutions(), zelvarapp::MediaSources(), zelvarapp::MediaTypes(),
      zelvarapp::Sides(),       zelvarapp::Collation(),    zelvarapp::Densities(),
      zelvarapp::PrintModes()};
  for (const zelvarapp::VendorOption &v : zelvarapp::VendorOptions()) {
    tables.push_back(v.choices);
    EXPECT_NE(zelvarapp::VendorChoice(v, v.ippDefault), nullptr) << v.ippName;
  }
  for (std::span<const Choice> table : tables)
    for (const Choice &c : table) expectInPpd(c.ppdOption, c.ppdChoice);
  for (const zelvarapp::Sheet &sheet : zelvarapp::Sheets()) {
    expectInPpd("PageSize", sheet.ppdName);
    expectInPpd("PageSize", (std::string(sheet.ppdName) + zelvarapp::kFullBleedSuffix).c_str());
  }
}

TEST(PrinterAppPpd, DefaultsAreThePpdDefaults) {
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr);
  ExpectSameSettings(AppHeader(IppRequest{}), ppd.Header({}), /*compareCollate=*/false);
}

TEST(PrinterAppPpd, EveryIppSizeRoundsToThePrintersPoints) {
  // A client writes the page size in whole points, rounded from IPP's
  // hundredths of a millimetre; each must lead back to its sheet, and the sheet
  // to the points of the printer's paper table.
  for (const zelvarapp::Sheet &sheet : zelvarapp::Sheets()) {
    SCOPED_TRACE(sheet.pwgName);
    pwg_media_t *pwg = pwgMediaForPWG(sheet.pwgName);
    ASSERT_NE(pwg, nullptr);
    cups_page_header2_t h;
    ASSERT_TRUE(cupsRasterInitPWGHeader(&h, pwg, "sgray_8", 300, 300, "one-sided", "normal"));
    EXPECT_EQ(zelvarapp::SheetForSize(h.PageSize[0], h.PageSize[1]), &sheet);
    EXPECT_EQ(zelvarapp::SheetForPwgName(sheet.pwgName), &sheet);
  }
  EXPECT_EQ(zelvarapp::SheetForSize(288, 432), nullptr) << "4x6 is not in the paper table";
  EXPECT_EQ(zelvarapp::SheetForSize(792, 612), nullptr) << "a sheet given landscape";
}

}  // namespace
