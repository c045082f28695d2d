#include "queue_ppd.h"

#include <gtest/gtest.h>

#include <cstring>

// libcups marks its PPD API deprecated; it is still the API that CUPS raster
// filters and RIPs use.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace ppdtest {

QueuePpd::QueuePpd() : ppd_(ppdOpenFile(kPpdPath)) {}

QueuePpd::~QueuePpd() {
  if (ppd_) ppdClose(ppd_);
}

cups_page_header2_t QueuePpd::Header(
    const std::vector<std::pair<std::string, std::string>> &marks) {
  ppdMarkDefaults(ppd_);
  for (const auto &[option, choice] : marks) ppdMarkOption(ppd_, option.c_str(), choice.c_str());
  return Interpret(0, nullptr);
}

cups_page_header2_t QueuePpd::HeaderForJobOptions(const char *text) {
  cups_option_t *options = nullptr;
  int n = cupsParseOptions(text, 0, &options);
  ppdMarkDefaults(ppd_);
  cupsMarkOptions(ppd_, n, options);
  cups_page_header2_t h = Interpret(n, options);
  cupsFreeOptions(n, options);
  return h;
}

std::string QueuePpd::Marked(const char *option) {
  ppd_choice_t *c = ppdFindMarkedChoice(ppd_, option);
  return c ? c->choice : "";
}

std::string QueuePpd::Attribute(const char *name) {
  ppd_attr_t *a = ppdFindAttr(ppd_, name, nullptr);
  return a && a->value ? a->value : "";
}

cups_page_header2_t QueuePpd::Interpret(int n, cups_option_t *options) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  EXPECT_EQ(cupsRasterInterpretPPD(&h, ppd_, n, options, nullptr), 0) << cupsRasterErrorString();
  return h;
}

}  // namespace ppdtest
