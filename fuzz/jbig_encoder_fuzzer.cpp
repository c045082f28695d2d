// libFuzzer target: fuzzentry::JbigEncoders.  A broken promise aborts, so libFuzzer keeps
// the input.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string broken = fuzzentry::JbigEncoders(data, size);
  if (!broken.empty()) {
    fprintf(stderr, "zelvar fuzz (jbig_encoder): %s\n", broken.c_str());
    abort();
  }
  return 0;
}
