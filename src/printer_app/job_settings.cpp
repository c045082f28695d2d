#include "printer_app/job_settings.h"

#include <algorithm>

namespace zelvarapp {

namespace {

// The value of the choice a job names, or the fallback's when it names none the
// printer offers.
int ValueOr(std::span<const Choice> table, const std::string &ippValue, int fallback) {
  const Choice *choice = FindByIpp(table, ippValue.c_str());
  return choice ? choice->value : fallback;
}

const std::string *VendorValue(const IppJob &job, const char *name) {
  for (const auto &[n, value] : job.vendor)
    if (n == name) return &value;
  return nullptr;
}

}  // namespace

unsigned DensityFor(int darkness, int darknessConfigured) {
  const int effective = std::clamp(darknessConfigured + darkness / 2, 0, 100);
  return static_cast<unsigned>(1 + (effective * 4 + 50) / 100);
}

JobSettings SettingsForJob(const IppJob &job) {
  JobSettings s;
  s.fullBleed = job.borderless;
  s.mediaPosition = static_cast<unsigned>(ValueOr(MediaSources(), job.mediaSource, 250));
  const Choice *type = FindByIpp(MediaTypes(), job.mediaType.c_str());
  if (type == nullptr) type = FindByIpp(MediaTypes(), "stationery");
  s.mediaType = static_cast<unsigned>(type->value);
  s.mediaTypeName = type->ppdChoice;
  const int sides = ValueOr(Sides(), job.sides, 0);
  s.duplex = (sides & 1) != 0;
  s.tumble = (sides & 2) != 0;
  // Colour is black and red on the line-art path; photos in black are screened.
  if (job.colorMode == "color")
    s.mode = PrintMode::kBlackRed;
  else if (job.contentOptimize == "photo")
    s.mode = PrintMode::kHalftone;
  else
    s.mode = PrintMode::kLineArt;
  s.integers[4] = s.mode == PrintMode::kBlackRed ? 1 : 0;
  s.density = DensityFor(job.darkness, job.darknessConfigured);
  for (const VendorOption &option : VendorOptions()) {
    const std::string *value = VendorValue(job, option.ippName);
    const Choice *choice = value ? VendorChoice(option, value->c_str()) : nullptr;
    if (choice == nullptr) choice = VendorChoice(option, option.ippDefault);
    s.integers[option.integer] = static_cast<unsigned>(choice->value);
  }
  s.copies = static_cast<unsigned>(std::clamp(job.copies, 1, 999));
  // IPP's default is collated copies.
  s.collate = ValueOr(Collation(), job.documentHandling, 1) != 0;
  return s;
}

std::string CopiesArgument(const JobSettings &settings) { return std::to_string(settings.copies); }

std::string OptionsArgument(const JobSettings &settings) {
  const Choice *choice = FindByValue(Collation(), settings.collate ? 1 : 0);
  return std::string(choice->ippName) + "=" + choice->ippValue;
}

}  // namespace zelvarapp
