#include "printer_app/pappl_driver.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "printer_app/pappl_job.h"
#include "printer_app/printer_table.h"

namespace zelvarapp {

namespace {

constexpr const char *kDriverName = "zelvar";
constexpr const char *kMakeAndModel = "Zelvar Mono Laser";
constexpr int kPagesPerMinute = 20;

template <size_t N>
void CopyText(char (&to)[N], const char *from) {
  snprintf(to, N, "%s", from);
}

// Loaded media: US Letter, plain paper, in every tray, as the PPD's defaults.
pappl_media_col_t LoadedMedia(const char *source) {
  pappl_media_col_t media;
  memset(&media, 0, sizeof media);
  const Sheet &letter = Sheets()[0];
  pwg_media_t *pwg = pwgMediaForPWG(letter.pwgName);
  CopyText(media.size_name, letter.pwgName);
  media.size_width = pwg->width;
  media.size_length = pwg->length;
  media.bottom_margin = media.top_margin = kMarginHundredthsMm;
  media.left_margin = media.right_margin = kMarginHundredthsMm;
  CopyText(media.source, source);
  CopyText(media.type, FindByValue(MediaTypes(), 0)->ippValue);
  return media;
}

// The printer's supplies: its toner, whose level it does not tell.  (PAPPL has
// no red colorant for the second colour's toner.)
bool StatusCallback(pappl_printer_t *printer) {
  if (papplPrinterGetSupplies(printer, 0, nullptr) > 0) return true;
  pappl_supply_t toner;
  memset(&toner, 0, sizeof toner);
  toner.color = PAPPL_SUPPLY_COLOR_BLACK;
  CopyText(toner.description, "Black Toner");
  toner.is_consumed = true;
  toner.level = -1;  // unknown
  toner.type = PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE;
  papplPrinterSetSupplies(printer, 1, &toner);
  return true;
}

// Attributes beyond PAPPL's driver data: "NAME-supported" and "NAME-default"
// of each vendor option, and the one rendering intent (the filter turns colour
// into grey its own way).
ipp_t *DriverAttributes() {
  ipp_t *attrs = ippNew();
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr,
               "auto");
  ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  for (const VendorOption &option : VendorOptions()) {
    const std::string supported = std::string(option.ippName) + "-supported";
    const std::string def = std::string(option.ippName) + "-default";
    if (option.boolean) {
      ippAddBoolean(attrs, IPP_TAG_PRINTER, supported.c_str(), 1);
      ippAddBoolean(attrs, IPP_TAG_PRINTER, def.c_str(), strcmp(option.ippDefault, "true") == 0);
    } else {
      std::vector<const char *> values;
      for (const Choice &choice : option.choices) values.push_back(choice.ippValue);
      ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(),
                    static_cast<int>(values.size()), nullptr, values.data());
      ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, def.c_str(), nullptr,
                   option.ippDefault);
    }
  }
  return attrs;
}

}  // namespace

pappl_pr_driver_t gDrivers[1] = {
    {kDriverName, kMakeAndModel, "MFG:Zelvar;MDL:Mono Laser;CMD:PJL;", nullptr}};

bool DriverCallback(pappl_system_t *, const char *driverName, const char *, const char *,
                    pappl_pr_driver_data_t *data, ipp_t **attrs, void *) {
  if (driverName == nullptr || strcmp(driverName, kDriverName) != 0) return false;

  data->printfile_cb = PrintNativeFile;
  data->rstartjob_cb = StartJob;
  data->rstartpage_cb = StartPage;
  data->rwriteline_cb = WriteLine;
  data->rendpage_cb = EndPage;
  data->rendjob_cb = EndJob;
  data->status_cb = StatusCallback;
  data->format = kNativeFormat;

  CopyText(data->make_and_model, kMakeAndModel);
  data->ppm = kPagesPerMinute;
  data->ppm_color = kPagesPerMinute;  // black and red prints as fast
  data->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE | PAPPL_KIND_POSTCARD;
  data->has_supplies = true;
  // Pages are turned by the client (or PAPPL, for images) before they come in.
  data->orient_default = IPP_ORIENT_PORTRAIT;

  // Monochrome by default; colour is black and red.
  data->color_supported = PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_COLOR;
  data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  // Pages come in as grey or colour, 8 bits a sample: the filter screens them.
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;

  // The filter orders the sides of each sheet for the printer itself: a client
  // sends the back pages as they are.
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported =
      PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;

  data->num_resolution = 0;
  for (const Choice &r : Resolutions()) {
    data->x_resolution[data->num_resolution] = r.value;
    data->y_resolution[data->num_resolution] = r.value;
    ++data->num_resolution;
  }
  data->x_default = data->y_default = 600;

  // Full-bleed pages are fitted to the printable area by the filter.
  data->borderless = true;
  data->left_right = data->bottom_top = kMarginHundredthsMm;
  data->num_media = 0;
  for (const Sheet &sheet : Sheets()) data->media[data->num_media++] = sheet.pwgName;

  data->num_source = 0;
  for (const Choice &source : MediaSources()) {
    data->media_ready[data->num_source] = LoadedMedia(source.ippValue);
    data->source[data->num_source++] = source.ippValue;
  }
  data->media_default = data->media_ready[0];
  data->num_type = 0;
  for (const Choice &type : MediaTypes()) data->type[data->num_type++] = type.ippValue;

  // print-darkness falls on the five density steps; 0 is the middle one.
  data->darkness_supported = static_cast<int>(Densities().size());
  data->darkness_default = 0;
  data->darkness_configured = 50;

  // The printer has no display, light or sound a job could reach.
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_NONE;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_NONE;

  data->num_vendor = 0;
  for (const VendorOption &option : VendorOptions())
    data->vendor[data->num_vendor++] = option.ippName;
  *attrs = DriverAttributes();
  return true;
}

const char *AutoAddCallback(const char *, const char *, const char *deviceId, void *) {
  if (deviceId == nullptr) return nullptr;
  cups_option_t *fields = nullptr;
  const int n = papplDeviceParseID(deviceId, &fields);
  const char *maker = cupsGetOption("MANUFACTURER", n, fields);
  if (maker == nullptr) maker = cupsGetOption("MFG", n, fields);
  const bool ours = maker != nullptr && strcasecmp(maker, "Zelvar") == 0;
  cupsFreeOptions(n, fields);
  return ours ? kDriverName : nullptr;
}

}  // namespace zelvarapp
