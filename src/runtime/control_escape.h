// Keeping a message on one line of standard error.
#pragma once

#include <cstddef>

// Copies `text` to `out` (room for `room` characters and the terminator) with
// line breaks and the other control bytes but the tab written as escapes ("\n",
// "\r", "\x1B").  A line break inside a message quoting a job's texts (a title,
// say) would start a line that the scheduler reads as a status message
// ("ERROR:", "ATTR:", "PPD:").  The copy stops before an escape that would not
// fit.  Returns its length.
size_t EscapeControls(const char *text, char *out, size_t room);
