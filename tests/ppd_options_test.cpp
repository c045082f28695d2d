// The driver's PPD, read with libcups's own PPD code: every choice of every
// option is marked and run through cupsRasterInterpretPPD (the page-device
// interpreter the RIP filters use), and the raster header fields the filter reads
// are checked against the printer's own tables.  A PPD option without a check
// here fails, so PPD and filter cannot drift apart.

// libcups marks its PPD API deprecated; it is still the API that CUPS raster
// filters and RIPs use.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include <cups/ppd.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "queue_ppd.h"

namespace {

using ppdtest::kPpdPath;

// The printer's paper table, in points, with the PPD's name for each sheet.
struct Sheet {
  const char *ppdName;
  unsigned width, height;
};
const Sheet kPrinterSheets[] = {
    {"Letter", 612, 792},
    {"Legal", 612, 1008},
    {"Tabloid", 792, 1224},
    {"A3", 842, 1191},
    {"A4", 595, 842},
    {"A5", 420, 595},
    {"B4", 729, 1032},
    {"B5", 516, 729},
    {"B6", 363, 516},
    {"A6", 297, 420},
    {"FanFoldGermanLegal", 612, 936},  // Foolscap
    {"Postcard", 284, 419},
    {"Statement", 396, 612},
    {"8K", 757, 1106},
    {"16K", 553, 757},
};
constexpr unsigned kMargin = 12;  // points on every side of a sheet with margins
const char *const kFullBleed = ".Fullbleed";

// The printer's media table is indexed by cupsMediaType.
const std::map<std::string, unsigned> kMediaTypes = {
    {"Plain", 0},        {"Cardstock", 1}, {"Thick", 2},    {"Laser", 3},    {"Bond", 4},
    {"Transparency", 5}, {"Thin", 6},      {"Envelope", 7}, {"Postcard", 8}, {"Auto", 9}};

constexpr unsigned kAutoTray = 250;
// The cupsInteger fields the filter reads, [0..6], when every option has its
// default (the default print mode sets [6], line art on an 8-bit page).
constexpr size_t kIntegersRead = 7;
const unsigned kDefaultIntegers[kIntegersRead] = {0, 0, 0, 1, 0, 60, 1};

using Ppd = ppdtest::QueuePpd;

std::vector<unsigned> Integers(const cups_page_header2_t &h) {
  return std::vector<unsigned>(h.cupsInteger, h.cupsInteger + kIntegersRead);
}
std::vector<unsigned> DefaultsWith(unsigned index, unsigned value) {
  std::vector<unsigned> v(kDefaultIntegers, kDefaultIntegers + kIntegersRead);
  v[index] = value;
  return v;
}

const Sheet *FindSheet(const std::string &ppdName) {
  for (const Sheet &s : kPrinterSheets)
    if (ppdName == s.ppdName) return &s;
  return nullptr;
}

bool EndsWith(const std::string &s, const std::string &suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A page size choice: the sheet of the paper table, the raster covering the
// printable area (12 points in from each edge) or, for a full-bleed size, the
// whole sheet.
void CheckPageSize(const std::string &choice, const cups_page_header2_t &h) {
  bool fullBleed = EndsWith(choice, kFullBleed);
  std::string base = fullBleed ? choice.substr(0, choice.size() - strlen(kFullBleed)) : choice;
  const Sheet *sheet = FindSheet(base);
  ASSERT_NE(sheet, nullptr) << "page size " << choice << " is not in the printer's paper table";
  EXPECT_EQ(h.PageSize[0], sheet->width) << choice;
  EXPECT_EQ(h.PageSize[1], sheet->height) << choice;
  unsigned m = fullBleed ? 0 : kMargin;
  EXPECT_EQ(h.ImagingBoundingBox[0], m) << choice;
  EXPECT_EQ(h.ImagingBoundingBox[1], m) << choice;
  EXPECT_EQ(h.ImagingBoundingBox[2], sheet->width - m) << choice;
  EXPECT_EQ(h.ImagingBoundingBox[3], sheet->height - m) << choice;
  EXPECT_NEAR(h.cupsWidth, (sheet->width - 2.0 * m) * h.HWResolution[0] / 72.0, 0.51) << choice;
  EXPECT_NEAR(h.cupsHeight, (sheet->height - 2.0 * m) * h.HWResolution[1] / 72.0, 0.51) << choice;
}

using Check = std::function<void(const std::string &choice, const cups_page_header2_t &h)>;

// One check per option of the PPD: what each of its choices must put into the
// header.
std::map<std::string, Check> OptionChecks() {
  std::map<std::string, Check> checks;
  checks["PageSize"] = CheckPageSize;
  checks["PageRegion"] = CheckPageSize;
  checks["Resolution"] = [](const std::string &c, const cups_page_header2_t &h) {
    static const std::map<std::string, unsigned> dpi = {{"600dpi", 600}, {"300dpi", 300}};
    ASSERT_TRUE(dpi.count(c)) << "unexpected resolution " << c;
    EXPECT_EQ(h.HWResolution[0], dpi.at(c));
    EXPECT_EQ(h.HWResolution[1], dpi.at(c));
  };
  checks["InputSlot"] = [](const std::string &c, const cups_page_header2_t &h) {
    static const std::map<std::string, unsigned> tray = {
        {"Auto", kAutoTray}, {"Tray1", 1}, {"Manual", 2}};
    ASSERT_TRUE(tray.count(c)) << "unexpected tray " << c;
    EXPECT_EQ(h.MediaPosition, tray.at(c));
  };
  checks["MediaType"] = [](const std::string &c, const cups_page_header2_t &h) {
    ASSERT_TRUE(kMediaTypes.count(c)) << "media type " << c << " is not in the printer's table";
    EXPECT_EQ(h.cupsMediaType, kMediaTypes.at(c));
    EXPECT_STREQ(h.MediaType, c.c_str());
  };
  checks["Duplex"] = [](const std::string &c, const cups_page_header2_t &h) {
    static const std::map<std::string, std::pair<unsigned, unsigned>> sides = {
        {"None", {0, 0}}, {"DuplexNoTumble", {1, 0}}, {"DuplexTumble", {1, 1}}};
    ASSERT_TRUE(sides.count(c)) << "unexpected duplex choice " << c;
    EXPECT_EQ(h.Duplex, sides.at(c).first);
    EXPECT_EQ(h.Tumble, sides.at(c).second);
  };
  checks["Collate"] = [](const std::string &c, const cups_page_header2_t &h) {
    ASSERT_TRUE(c == "True" || c == "False");
    EXPECT_EQ(h.Collate, c == "True" ? 1u : 0u);
  };
  checks["PrintMode"] = [](const std::string &c, const cups_page_header2_t &h) {
    // Line art comes as 8-bit white-based grey with cupsInteger[6] set, which
    // sends an 8-bit page down the line-art path; photos as 8-bit black (K) for
    // the halftone path.  Black and red needs colour to find the red and takes
    // the line-art path by its 24 bits.
    struct Mode {
      unsigned bits, space, colourMode, lineArt;
    };
    static const std::map<std::string, Mode> modes = {{"LineArt", {8, CUPS_CSPACE_SW, 0, 1}},
                                                      {"Halftone", {8, CUPS_CSPACE_K, 0, 0}},
                                                      {"BlackRed", {24, CUPS_CSPACE_RGB, 1, 0}}};
    ASSERT_TRUE(modes.count(c)) << "unexpected print mode " << c;
    const Mode &m = modes.at(c);
    EXPECT_EQ(h.cupsBitsPerPixel, m.bits);
    EXPECT_EQ(h.cupsBitsPerColor, 8u);
    EXPECT_EQ(h.cupsColorSpace, m.space);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_CHUNKED);
    EXPECT_EQ(h.cupsBytesPerLine, h.cupsWidth * m.bits / 8);
    std::vector<unsigned> integers = DefaultsWith(4, m.colourMode);
    integers[6] = m.lineArt;
    EXPECT_EQ(Integers(h), integers);
  };
  checks["Density"] = [](const std::string &c, const cups_page_header2_t &h) {
    // The choice is the printer's density 1..5; the filter sends
    // cupsCompression + 1 and picks one of its ten tone curves by it.
    int density = std::stoi(c);
    ASSERT_GE(density, 1);
    ASSERT_LE(density, 5);
    EXPECT_EQ(h.cupsCompression + 1, static_cast<unsigned>(density));
    EXPECT_LE(h.cupsCompression, 9u);
  };
  auto boolean = [](unsigned index) {
    return [index](const std::string &c, const cups_page_header2_t &h) {
      ASSERT_TRUE(c == "True" || c == "False");
      EXPECT_EQ(Integers(h), DefaultsWith(index, c == "True" ? 1 : 0));
    };
  };
  checks["TonerSave"] = boolean(0);
  checks["Negative"] = boolean(1);
  checks["MirrorImage"] = boolean(2);
  checks["FullBleedFit"] = [](const std::string &c, const cups_page_header2_t &h) {
    ASSERT_TRUE(c == "Scale" || c == "Crop") << "unexpected fit " << c;
    EXPECT_EQ(Integers(h), DefaultsWith(3, c == "Scale" ? 1 : 0));
  };
  checks["RedLevel"] = [](const std::string &c, const cups_page_header2_t &h) {
    // The margin by which red must exceed green and blue; the filter uses the
    // low 8 bits.
    static const std::map<std::string, unsigned> margin = {
        {"Wide", 20}, {"Normal", 60}, {"Narrow", 100}};
    ASSERT_TRUE(margin.count(c)) << "unexpected red level " << c;
    EXPECT_EQ(Integers(h), DefaultsWith(5, margin.at(c)));
    EXPECT_LT(h.cupsInteger[5], 256u);
  };
  return checks;
}

TEST(PpdOptions, EveryChoiceOfEveryOptionSetsTheHeaderFieldsTheFilterReads) {
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr) << "cannot open " << kPpdPath;
  std::map<std::string, Check> checks = OptionChecks();
  // Marking moves libcups's option iterator, so list the options first.
  std::vector<ppd_option_t *> options;
  for (ppd_option_t *o = ppdFirstOption(ppd.get()); o; o = ppdNextOption(ppd.get()))
    options.push_back(o);
  std::set<std::string> seen;
  for (ppd_option_t *option : options) {
    seen.insert(option->keyword);
    auto check = checks.find(option->keyword);
    if (check == checks.end()) {
      ADD_FAILURE() << "PPD option " << option->keyword << " has no check here";
      continue;
    }
    for (int i = 0; i < option->num_choices; ++i) {
      std::string choice = option->choices[i].choice;
      SCOPED_TRACE(std::string(option->keyword) + "=" + choice);
      cups_page_header2_t h = ppd.Header({{option->keyword, choice}});
      // libcups marks a PageRegion choice as the PageSize of the same name.
      bool region = strcmp(option->keyword, "PageRegion") == 0;
      EXPECT_EQ(ppd.Marked(region ? "PageSize" : option->keyword), choice);
      check->second(choice, h);
    }
  }
  for (const auto &[keyword, check] : checks)
    EXPECT_TRUE(seen.count(keyword)) << "the PPD has no option " << keyword;
}

TEST(PpdOptions, DefaultsPrintLetterAt600DpiOnTheLineArtPathWithDensityThree) {
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr);
  cups_page_header2_t h = ppd.Header({});
  EXPECT_EQ(ppdConflicts(ppd.get()), 0);
  EXPECT_EQ(h.HWResolution[0], 600u);
  EXPECT_EQ(h.HWResolution[1], 600u);
  EXPECT_EQ(h.PageSize[0], 612u);
  EXPECT_EQ(h.PageSize[1], 792u);
  EXPECT_EQ(h.ImagingBoundingBox[0], 12u);
  EXPECT_EQ(h.ImagingBoundingBox[3], 780u);
  EXPECT_EQ(h.cupsWidth, 4900u);
  EXPECT_EQ(h.cupsHeight, 6400u);
  EXPECT_EQ(h.cupsBitsPerPixel, 8u);
  EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_SW);
  EXPECT_EQ(h.cupsCompression, 2u);  // printer density 3, the middle of 1..5
  EXPECT_EQ(Integers(h), std::vector<unsigned>({0, 0, 0, 1, 0, 60, 1}));
  EXPECT_EQ(h.cupsMediaType, 0u);
  EXPECT_EQ(h.MediaPosition, kAutoTray);
  EXPECT_EQ(h.Duplex, 0u);
  EXPECT_EQ(h.Collate, 0u);
}

TEST(PpdOptions, SheetsAreThePrinterPaperTableEachWithMarginsAndFullBleed) {
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr);
  std::map<std::string, int> margins, fullBleed;
  for (int i = 0; i < ppd.get()->num_sizes; ++i) {
    const ppd_size_t &size = ppd.get()->sizes[i];
    std::string name = size.name;
    bool bleed = EndsWith(name, kFullBleed);
    std::string base = bleed ? name.substr(0, name.size() - strlen(kFullBleed)) : name;
    const Sheet *sheet = FindSheet(base);
    ASSERT_NE(sheet, nullptr) << name << " is not in the printer's paper table";
    // The filter finds the paper code by comparing whole points exactly.
    EXPECT_EQ(size.width, static_cast<float>(sheet->width)) << name;
    EXPECT_EQ(size.length, static_cast<float>(sheet->height)) << name;
    float m = bleed ? 0.0f : static_cast<float>(kMargin);
    EXPECT_EQ(size.left, m) << name;
    EXPECT_EQ(size.bottom, m) << name;
    EXPECT_EQ(size.right, sheet->width - m) << name;
    EXPECT_EQ(size.top, sheet->height - m) << name;
    ++(bleed ? fullBleed : margins)[base];
  }
  for (const Sheet &s : kPrinterSheets) {
    EXPECT_EQ(margins[s.ppdName], 1) << s.ppdName << " with margins";
    EXPECT_EQ(fullBleed[s.ppdName], 1) << s.ppdName << " full bleed";
  }
  EXPECT_EQ(ppd.get()->num_sizes, 30);
  EXPECT_EQ(ppd.get()->variable_sizes, 0);
}

TEST(PpdOptions, HalftoneModeKeepsEightBitBlackAtEitherResolution) {
  // Resolution's code also sets cupsBitsPerColor; the print mode must win
  // whichever order a RIP runs them in the PPD's order.
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr);
  for (const char *res : {"300dpi", "600dpi"}) {
    cups_page_header2_t h = ppd.Header({{"PrintMode", "Halftone"}, {"Resolution", res}});
    EXPECT_EQ(h.cupsBitsPerPixel, 8u) << res;
    EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_K) << res;
    EXPECT_EQ(h.cupsBytesPerLine, h.cupsWidth) << res;
  }
  cups_page_header2_t h = ppd.Header({{"PrintMode", "BlackRed"}, {"Resolution", "300dpi"}});
  EXPECT_EQ(h.HWResolution[0], 300u);
  EXPECT_EQ(h.cupsBitsPerPixel, 24u);
  EXPECT_EQ(h.cupsBytesPerLine, 3 * h.cupsWidth);
}

TEST(PpdOptions, IppStyleJobOptionsMarkTheMatchingChoices) {
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr);
  cups_page_header2_t h = ppd.HeaderForJobOptions("sides=two-sided-long-edge");
  EXPECT_EQ(h.Duplex, 1u);
  EXPECT_EQ(h.Tumble, 0u);
  h = ppd.HeaderForJobOptions("sides=two-sided-short-edge");
  EXPECT_EQ(h.Duplex, 1u);
  EXPECT_EQ(h.Tumble, 1u);
  h = ppd.HeaderForJobOptions("media=iso_a4_210x297mm");
  EXPECT_EQ(ppd.Marked("PageSize"), "A4");
  EXPECT_EQ(h.PageSize[0], 595u);
  EXPECT_EQ(h.ImagingBoundingBox[0], kMargin);
  h = ppd.HeaderForJobOptions("media=A4.Fullbleed");
  EXPECT_EQ(h.ImagingBoundingBox[0], 0u);
  EXPECT_EQ(h.ImagingBoundingBox[2], 595u);
  // lp -o collate=true reaches the filter as a bare "collate" token.
  ppd.HeaderForJobOptions("collate");
  EXPECT_EQ(ppd.Marked("Collate"), "True");
  ppd.HeaderForJobOptions("nocollate");
  EXPECT_EQ(ppd.Marked("Collate"), "False");
  // libcups maps the IPP collation request onto the Collate option; the
  // cups-filters RIP does not pass the header's Collate on, so the filter must
  // read the request from its options (see the end-to-end probe).
  ppd.HeaderForJobOptions("multiple-document-handling=separate-documents-collated-copies");
  EXPECT_EQ(ppd.Marked("Collate"), "True");
  ppd.HeaderForJobOptions("multiple-document-handling=separate-documents-uncollated-copies");
  EXPECT_EQ(ppd.Marked("Collate"), "False");
}

TEST(PpdOptions, CopiesCollationAndBackSidesAreLeftToTheFilter) {
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr);
  // The filter makes and collates copies itself from its spool of compressed
  // pages, so CUPS must not render every copy.
  EXPECT_EQ(ppd.get()->manual_copies, 0);
  EXPECT_EQ(ppd.Attribute("cupsManualCopies"), "False");
  EXPECT_NE(ppdFindOption(ppd.get(), "Collate"), nullptr);
  // The filter orders the sides of each sheet for the printer: CUPS must neither
  // turn back sides nor reorder or pad the pages.
  EXPECT_EQ(ppd.Attribute("cupsBackSide"), "Normal");
  EXPECT_NE(ppd.Attribute("cupsEvenDuplex"), "True");
  EXPECT_NE(ppd.Attribute("cupsFlipDuplex"), "True");
  EXPECT_EQ(ppd.Attribute("DefaultOutputOrder"), "Normal");
  // The filter writes the job's PJL header itself; JCL text from the PPD would
  // follow it inside the job.
  EXPECT_EQ(ppd.get()->jcl_begin, nullptr);
  EXPECT_EQ(ppd.get()->jcl_end, nullptr);
  // rastertoZelvar is the one driver filter, on CUPS raster.
  ASSERT_EQ(ppd.get()->num_filters, 1);
  EXPECT_STREQ(ppd.get()->filters[0], "application/vnd.cups-raster 100 rastertoZelvar");
}

TEST(PpdOptions, NoOptionIsNamedLikeOnesThatPdftopdfActsOnItself) {
  // pdftopdf reads these names from the job options and then changes the page
  // itself (mirroring it for "Mirror", for example), so an option of that name
  // would act twice or never reach the filter.
  Ppd ppd;
  ASSERT_NE(ppd.get(), nullptr);
  for (const char *name : {"Mirror", "MirrorPrint", "mirror", "fitplot", "fit-to-page", "fill",
                           "crop-to-fit", "print-scaling", "page-border", "number-up",
                           "orientation-requested", "page-set", "OutputOrder", "page-delivery"})
    EXPECT_EQ(ppdFindOption(ppd.get(), name), nullptr) << name;
}

}  // namespace
