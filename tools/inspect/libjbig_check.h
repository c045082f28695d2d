// Checking a page's data against libjbig's encoder: the filter's own JBIG
// encoder must make exactly the bytes that libjbig makes of the same page.
#pragma once

#include <string>

#include "job_parser.h"
#include "page_decoder.h"

namespace inspect {

// Empty when the data of `page` is the stream libjbig's encoder makes, with the
// printer's parameters, of `bitmap` (the page decoded); otherwise what differs.
std::string DifferenceFromLibjbig(const PageRecord &page, const Bitmap &bitmap);

}  // namespace inspect
