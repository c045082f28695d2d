// The Printer Application's side of a page: the settings a job's IPP request
// gives, and the raster page the filter gets for a page a client sent (its
// header, the part of the client's page it shows, and its samples).  Client pages
// are made with libcups's own PWG header code, as an IPP client makes them.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "printer_app/child_page.h"
#include "printer_app/job_settings.h"
#include "printer_app/printer_table.h"

namespace {

using zelvarapp::ChildPage;
using zelvarapp::IppJob;
using zelvarapp::JobSettings;
using zelvarapp::PrintMode;

cups_page_header2_t ClientPage(const char *media, const char *type, int dpi) {
  cups_page_header2_t h;
  EXPECT_TRUE(
      cupsRasterInitPWGHeader(&h, pwgMediaForPWG(media), type, dpi, dpi, "one-sided", "normal"));
  return h;
}

ChildPage ChildFor(const JobSettings &settings, const cups_page_header2_t &client) {
  ChildPage page;
  std::string reason;
  EXPECT_TRUE(zelvarapp::SetUpChildPage(settings, client, &page, &reason)) << reason;
  return page;
}

std::vector<unsigned char> Line(const ChildPage &page, const std::vector<unsigned char> &source) {
  std::vector<unsigned char> out(page.header.cupsBytesPerLine, 0x5A);
  zelvarapp::ChildLine(page, source.empty() ? nullptr : source.data(), out.data());
  return out;
}

TEST(PrinterAppSettings, PrintDarknessFallsOnTheFiveDensitySteps) {
  // With the printer's configured darkness in the middle (50), -100 to 100
  // covers the steps evenly, 0 being the middle one.
  EXPECT_EQ(zelvarapp::DensityFor(-100, 50), 1u);
  EXPECT_EQ(zelvarapp::DensityFor(-76, 50), 1u);
  EXPECT_EQ(zelvarapp::DensityFor(-74, 50), 2u);
  EXPECT_EQ(zelvarapp::DensityFor(0, 50), 3u);
  EXPECT_EQ(zelvarapp::DensityFor(74, 50), 4u);
  EXPECT_EQ(zelvarapp::DensityFor(100, 50), 5u);
  unsigned previous = 1;
  for (int d = -100; d <= 100; ++d) {
    const unsigned step = zelvarapp::DensityFor(d, 50);
    EXPECT_GE(step, previous) << d;
    EXPECT_LE(step, previous + 1) << d;
    previous = step;
  }
  // The printer's configured darkness moves the job's; the sum stays in range.
  EXPECT_EQ(zelvarapp::DensityFor(0, 100), 5u);
  EXPECT_EQ(zelvarapp::DensityFor(0, 0), 1u);
  EXPECT_EQ(zelvarapp::DensityFor(100, 100), 5u);
  EXPECT_EQ(zelvarapp::DensityFor(-100, 0), 1u);
}

TEST(PrinterAppSettings, ColourIsBlackAndRedAndPhotosInBlackAreScreened) {
  IppJob job;
  EXPECT_EQ(zelvarapp::SettingsForJob(job).mode, PrintMode::kLineArt);
  for (const char *content : {"auto", "text", "graphic", "text-and-graphic"}) {
    job.contentOptimize = content;
    EXPECT_EQ(zelvarapp::SettingsForJob(job).mode, PrintMode::kLineArt) << content;
  }
  job.contentOptimize = "photo";
  EXPECT_EQ(zelvarapp::SettingsForJob(job).mode, PrintMode::kHalftone);
  // Black and red has no screened variant: colour decides.
  job.colorMode = "color";
  const JobSettings s = zelvarapp::SettingsForJob(job);
  EXPECT_EQ(s.mode, PrintMode::kBlackRed);
  EXPECT_EQ(s.integers[4], 1u);
}

TEST(PrinterAppSettings, ValuesThePrinterDoesNotOfferFallBackToTheDefaults) {
  IppJob job;
  job.mediaType = "photographic-glossy";
  job.mediaSource = "tray-9";
  job.sides = "two-sided-sideways";
  job.copies = 100000;
  job.vendor = {{"toner-save", "maybe"}, {"red-detection", "purple"}, {"full-bleed-fit", "crop"}};
  const JobSettings s = zelvarapp::SettingsForJob(job);
  EXPECT_EQ(s.mediaType, 0u);
  EXPECT_STREQ(s.mediaTypeName, "Plain");
  EXPECT_EQ(s.mediaPosition, 250u);
  EXPECT_FALSE(s.duplex);
  EXPECT_EQ(s.copies, 999u);
  EXPECT_EQ(s.integers[0], 0u);   // toner saving off
  EXPECT_EQ(s.integers[5], 60u);  // normal red detection
  EXPECT_EQ(s.integers[3], 0u);   // the valid one is taken: crop
  job.copies = -3;
  EXPECT_EQ(zelvarapp::SettingsForJob(job).copies, 1u);
}

TEST(PrinterAppSettings, CopiesAndCollationBecomeTheFiltersArguments) {
  IppJob job;
  job.copies = 3;
  JobSettings s = zelvarapp::SettingsForJob(job);
  EXPECT_EQ(zelvarapp::CopiesArgument(s), "3");
  // Collated unless the job says otherwise, as IPP has it.
  EXPECT_EQ(zelvarapp::OptionsArgument(s),
            "multiple-document-handling=separate-documents-collated-copies");
  job.documentHandling = "separate-documents-uncollated-copies";
  s = zelvarapp::SettingsForJob(job);
  EXPECT_EQ(zelvarapp::OptionsArgument(s),
            "multiple-document-handling=separate-documents-uncollated-copies");
  EXPECT_FALSE(s.collate);
}

TEST(PrinterAppPage, TheFilterGetsThePrintableAreaOfTheClientsPage) {
  JobSettings settings;  // line art
  const cups_page_header2_t client = ClientPage("na_letter_8.5x11in", "sgray_8", 600);
  ASSERT_EQ(client.cupsWidth, 5100u);
  const ChildPage page = ChildFor(settings, client);
  const cups_page_header2_t &h = page.header;
  EXPECT_EQ(h.cupsWidth, 4900u);  // 588 points
  EXPECT_EQ(h.cupsHeight, 6400u);
  EXPECT_EQ(page.left, 100u);  // 12 points
  EXPECT_EQ(page.top, 100u);
  EXPECT_EQ(h.ImagingBoundingBox[0], 12u);
  EXPECT_EQ(h.ImagingBoundingBox[3], 780u);
  EXPECT_EQ(h.cupsBitsPerPixel, 8u);
  EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_SW);
  EXPECT_EQ(h.cupsInteger[6], 1u) << "8-bit line art";
  EXPECT_EQ(h.cupsBytesPerLine, 4900u);

  std::vector<unsigned char> source(client.cupsBytesPerLine);
  for (size_t x = 0; x < source.size(); ++x) source[x] = static_cast<unsigned char>(x * 7);
  const std::vector<unsigned char> out = Line(page, source);
  for (size_t x : {0u, 1u, 2000u, 4899u}) EXPECT_EQ(out[x], source[x + 100]) << x;
  // Below the client's page the child page is white.
  const std::vector<unsigned char> blank = Line(page, {});
  EXPECT_EQ(blank, std::vector<unsigned char>(4900, 255));
}

TEST(PrinterAppPage, PhotosGoAsGreyWithoutTheLineArtMark) {
  JobSettings settings;
  settings.mode = PrintMode::kHalftone;
  const ChildPage page = ChildFor(settings, ClientPage("iso_a4_210x297mm", "sgray_8", 300));
  EXPECT_EQ(page.header.cupsBitsPerPixel, 8u);
  EXPECT_EQ(page.header.cupsColorSpace, CUPS_CSPACE_SW);
  EXPECT_EQ(page.header.cupsInteger[6], 0u);
  EXPECT_EQ(page.left, 50u);
  EXPECT_EQ(page.header.cupsWidth, 2379u);  // 571 points at 300 dpi
}

TEST(PrinterAppPage, SamplesBecomeWhatTheModeTakes) {
  // Colour in a black job: the filter's own weights (30, 53, 17).
  JobSettings mono;
  const cups_page_header2_t rgb = ClientPage("iso_a6_105x148mm", "srgb_8", 300);
  ChildPage page = ChildFor(mono, rgb);
  std::vector<unsigned char> source(rgb.cupsBytesPerLine, 255);
  const unsigned x0 = page.left;
  const unsigned char pixels[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}};
  for (unsigned i = 0; i < 4; ++i) memcpy(&source[3 * (x0 + i)], pixels[i], 3);
  std::vector<unsigned char> out = Line(page, source);
  EXPECT_EQ(out[0], 76);
  EXPECT_EQ(out[1], 135);
  EXPECT_EQ(out[2], 43);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(out[4], 255);

  // Black and red from grey: every sample three times.
  JobSettings red;
  red.mode = PrintMode::kBlackRed;
  red.integers[4] = 1;
  const cups_page_header2_t grey = ClientPage("iso_a6_105x148mm", "sgray_8", 300);
  page = ChildFor(red, grey);
  EXPECT_EQ(page.header.cupsBitsPerPixel, 24u);
  EXPECT_EQ(page.header.cupsColorSpace, CUPS_CSPACE_RGB);
  EXPECT_EQ(page.header.cupsBytesPerLine, 3 * page.header.cupsWidth);
  source.assign(grey.cupsBytesPerLine, 255);
  source[page.left] = 10;
  out = Line(page, source);
  EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 6),
            std::vector<unsigned char>({10, 10, 10, 255, 255, 255}));

  // Black (device ink): 255 is toner, so white paper in luminance is 255 - it.
  const cups_page_header2_t ink = ClientPage("iso_a6_105x148mm", "black_8", 300);
  page = ChildFor(mono, ink);
  source.assign(ink.cupsBytesPerLine, 0);
  source[page.left] = 255;
  source[page.left + 1] = 100;
  out = Line(page, source);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 155);
  EXPECT_EQ(out[2], 255);
}

TEST(PrinterAppPage, SheetsTakeThePaperTablesPointsAndOtherSizesTheirOwn) {
  JobSettings settings;
  // libcups gives A4 as 595 x 841 points and Hagaki as 283 x 419 (it drops the
  // fraction of 841.89 and 283.46); the printer's table has 595 x 842 and
  // 284 x 419, and only a page of exactly those points gets the sheet's code.
  cups_page_header2_t client = ClientPage("iso_a4_210x297mm", "sgray_8", 600);
  ASSERT_EQ(client.PageSize[1], 841u);
  ChildPage page = ChildFor(settings, client);
  EXPECT_EQ(page.header.PageSize[0], 595u);
  EXPECT_EQ(page.header.PageSize[1], 842u);
  client = ClientPage("jpn_hagaki_100x148mm", "sgray_8", 600);
  ASSERT_EQ(client.PageSize[0], 283u);
  page = ChildFor(settings, client);
  EXPECT_EQ(page.header.PageSize[0], 284u);
  EXPECT_EQ(page.header.PageSize[1], 419u);
  // 4x6 inches is no sheet of the printer's: printed as the client sized it.
  page = ChildFor(settings, ClientPage("na_index-4x6_4x6in", "sgray_8", 600));
  EXPECT_EQ(page.header.PageSize[0], 288u);
  EXPECT_EQ(page.header.PageSize[1], 432u);
  EXPECT_EQ(page.header.cupsWidth, 2200u);  // 264 points
}

TEST(PrinterAppPage, AFullBleedPageIsTheWholeSheetForTheFilterToFit) {
  JobSettings settings;
  settings.fullBleed = true;
  settings.integers[3] = 1;  // scale
  const cups_page_header2_t client = ClientPage("iso_a4_210x297mm", "sgray_8", 600);
  const ChildPage page = ChildFor(settings, client);
  EXPECT_EQ(page.header.ImagingBoundingBox[0], 0u);
  EXPECT_EQ(page.header.ImagingBoundingBox[2], 595u);
  EXPECT_EQ(page.left, 0u);
  // The sheet's points (4958), not the client's millimetres (4960).
  EXPECT_EQ(client.cupsWidth, 4960u);
  EXPECT_EQ(page.header.cupsWidth, 4958u);
  EXPECT_EQ(page.header.cupsHeight, 7017u);
  EXPECT_EQ(page.header.cupsInteger[3], 1u);
}

TEST(PrinterAppPage, AClientPageSmallerThanThePrintableAreaIsPaddedWithWhite) {
  JobSettings settings;
  cups_page_header2_t client = ClientPage("na_letter_8.5x11in", "sgray_8", 300);
  client.cupsWidth = 120;  // a narrow page with a Letter header
  client.cupsBytesPerLine = 120;
  const ChildPage page = ChildFor(settings, client);
  const std::vector<unsigned char> out = Line(page, std::vector<unsigned char>(120, 0));
  EXPECT_EQ(out[69], 0);  // column 50 + 69 = 119, the client's last
  EXPECT_EQ(out[70], 255);
  EXPECT_EQ(out.back(), 255);
}

TEST(PrinterAppPage, ClientLinesFillThePrintableAreaInOrder) {
  JobSettings settings;
  const ChildPage page = ChildFor(settings, ClientPage("na_letter_8.5x11in", "sgray_8", 300));
  ASSERT_EQ(page.top, 50u);
  ASSERT_EQ(page.header.cupsHeight, 3200u);
  auto rows = [&](unsigned line) {
    const zelvarapp::ChildRows r = zelvarapp::ChildRowsFor(page, line);
    return std::to_string(r.first) + "+" + std::to_string(r.count);
  };
  EXPECT_EQ(rows(49), "0+0") << "in the top margin";
  EXPECT_EQ(rows(50), "0+1");
  EXPECT_EQ(rows(3249), "3199+1");
  EXPECT_EQ(rows(3250), "0+0") << "in the bottom margin";
}

TEST(PrinterAppPage, DraftPagesAtHalfTheResolutionDownThePageGetEveryLineTwice) {
  // CUPS's draft quality for a printer of 300 and 600 dpi: 300 x 150 dpi.
  JobSettings settings;
  cups_page_header2_t client;
  ASSERT_TRUE(cupsRasterInitPWGHeader(&client, pwgMediaForPWG("na_letter_8.5x11in"), "sgray_8", 300,
                                      150, "one-sided", "normal"));
  const ChildPage page = ChildFor(settings, client);
  EXPECT_EQ(page.header.HWResolution[0], 300u);
  EXPECT_EQ(page.header.HWResolution[1], 300u);
  EXPECT_EQ(page.header.cupsHeight, 3200u);
  EXPECT_EQ(page.repeat, 2u);
  const zelvarapp::ChildRows first = zelvarapp::ChildRowsFor(page, 25);
  EXPECT_EQ(first.first, 0u);  // the 12-point margin is 50 lines at 300 dpi
  EXPECT_EQ(first.count, 2u);
  const zelvarapp::ChildRows last = zelvarapp::ChildRowsFor(page, 1624);
  EXPECT_EQ(last.first, 3198u);
  EXPECT_EQ(last.count, 2u);
  EXPECT_EQ(zelvarapp::ChildRowsFor(page, 1625).count, 0u);
}

TEST(PrinterAppPage, PagesThePrinterCannotPrintAreRefusedWithAReason) {
  JobSettings settings;
  ChildPage page;
  std::string reason;
  cups_page_header2_t h = ClientPage("na_letter_8.5x11in", "sgray_8", 150);
  EXPECT_FALSE(zelvarapp::SetUpChildPage(settings, h, &page, &reason));
  EXPECT_NE(reason.find("150x150 dpi"), std::string::npos) << reason;
  h = ClientPage("na_letter_8.5x11in", "sgray_8", 600);
  h.HWResolution[1] = 200;
  EXPECT_FALSE(zelvarapp::SetUpChildPage(settings, h, &page, &reason));
  for (const char *type : {"cmyk_8", "srgb_16", "sgray_16", "black_1"}) {
    h = ClientPage("na_letter_8.5x11in", type, 600);
    EXPECT_FALSE(zelvarapp::SetUpChildPage(settings, h, &page, &reason)) << type;
    EXPECT_NE(reason.find("not 8-bit grey or 24-bit colour"), std::string::npos) << reason;
  }
  // Any number in the enum fields is refused, not taken for a colour space.
  h = ClientPage("na_letter_8.5x11in", "sgray_8", 600);
  const unsigned bogus = 0xBADu;
  memcpy(&h.cupsColorSpace, &bogus, sizeof bogus);
  EXPECT_FALSE(zelvarapp::SetUpChildPage(settings, h, &page, &reason));
  EXPECT_NE(reason.find("2989"), std::string::npos) << reason;
}

}  // namespace
