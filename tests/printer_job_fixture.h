// Test support for the printer stream: capturing what the filter's writers send
// to the printer, and writing finished 1-bit pages as page records.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "output/printer_output.h"

namespace testjob {

// A printer output into a temporary file, for the life of the object.
class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture &) = delete;
  OutputCapture &operator=(const OutputCapture &) = delete;
  std::vector<uint8_t> Bytes() const;
  PrinterOutput *output() { return &output_; }

 private:
  PrinterOutput output_;
  std::string path_;
  int fd_ = -1;
};

// A finished page as the image thread leaves it: rows of width / 8 bytes.
struct Page {
  cups_page_header2_t header;
  uint32_t width = 0;
  uint32_t height = 0;  // both planes in two-colour mode
  std::vector<uint8_t> bits;
};

// A page of width x height pixels on an A4 sheet with all bits clear.
Page BlankPage(uint32_t width, uint32_t height);
// A page whose bits are random (every bit set with probability 1/2).
Page RandomPage(uint32_t width, uint32_t height, std::mt19937 *rng);
// A page with a few filled rectangles, like text.
Page BlockPage(uint32_t width, uint32_t height, unsigned seed);

// The page record of each page (BuildPageRecord), written in page order.
void WriteRecords(PrinterOutput *out, const std::vector<Page> &pages);

// A whole job on the printer output: preamble and header block from the first
// page, an optional JCL text (ESC and the text), the pages, the trailer.
void WriteJob(PrinterOutput *out, const std::vector<Page> &pages, const std::string &jclText = "");

}  // namespace testjob
