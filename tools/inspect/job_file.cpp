#include "job_file.h"

#include <cstdio>
#include <cstring>

namespace inspect {

bool ReadJobFile(const char *path, std::vector<uint8_t> *out) {
  FILE *fp = strcmp(path, "-") == 0 ? stdin : fopen(path, "rb");
  if (fp == nullptr) return false;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, fp)) > 0) out->insert(out->end(), chunk, chunk + n);
  bool ok = !ferror(fp);
  if (fp != stdin) fclose(fp);
  return ok;
}

}  // namespace inspect
