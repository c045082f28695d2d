// Raster jobs whose pages carry their page numbers in their pixels, and the
// order in which a printer job's decoded pages come out.
#pragma once

#include <string>
#include <vector>

#include "job_parser.h"
#include "test_raster.h"

namespace filtertest {

// Pages 1..n of about A6 at 150 dpi (8-bit), each carrying its number.  The
// sides are multiples of 32 pixels, so the printed page has the raster's size and
// the marks stand where they were drawn.  `photo`: busy content that compresses
// badly, apart from the band of the mark.
std::vector<testraster::Page> NumberedPages(unsigned n, bool duplex, unsigned copies,
                                            bool photo = false);

// The pages of a job as they would come out of the printer: "B" for a blank back
// page, the page number for a page whose mark can be read, "?" otherwise; blank
// separated.
std::string PageOrder(const inspect::ParsedJob &job);
// The same for a printer job's bytes; a malformed job fails the test.
std::string PageOrder(const std::string &out);

}  // namespace filtertest
