// The driver's PPD, ppd/zelvar.ppd, read with libcups's own PPD code, and the
// raster page headers a RIP makes from it with cupsRasterInterpretPPD (the
// page-device interpreter the RIP filters use).
#pragma once

#include <cups/ppd.h>

#include <string>
#include <utility>
#include <vector>

namespace ppdtest {

inline constexpr const char *kPpdPath = ZELVAR_SOURCE_DIR "/ppd/zelvar.ppd";

class QueuePpd {
 public:
  QueuePpd();
  ~QueuePpd();
  QueuePpd(const QueuePpd &) = delete;
  QueuePpd &operator=(const QueuePpd &) = delete;
  // Null when the PPD cannot be opened.
  ppd_file_t *get() const { return ppd_; }

  // The header for the defaults with the given choices marked on top.
  cups_page_header2_t Header(const std::vector<std::pair<std::string, std::string>> &marks);
  // The header for the defaults and job options as a filter receives them.
  cups_page_header2_t HeaderForJobOptions(const char *text);
  // The marked choice of an option ("" when none).
  std::string Marked(const char *option);
  // The value of a PPD attribute ("" when none).
  std::string Attribute(const char *name);

 private:
  cups_page_header2_t Interpret(int n, cups_option_t *options);
  ppd_file_t *ppd_;
};

}  // namespace ppdtest
