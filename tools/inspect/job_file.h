// Reading a printer job file whole.
#pragma once

#include <cstdint>
#include <vector>

namespace inspect {

// Appends the bytes of the file at `path` ("-": standard input) to `out`; false
// when it cannot be opened or read.
bool ReadJobFile(const char *path, std::vector<uint8_t> *out);

}  // namespace inspect
