// zelvar-pbm-probe: reads a decoded page (PBM, a set bit a dot of toner) and
// says which test page it is and how much toner lies in given regions.
//
//   zelvar-pbm-probe [--plane all|top|bottom] FILE.pbm [X0 Y0 X1 Y1]...
//
// --plane picks the upper or lower half of a two-colour page (black plane above
// the red one).  Each region is given in thousandths of the plane's width and
// height.  Output, one line:
//   mark=N width=W height=H ink=PERMILLE [region=PERMILLE]...
// where N is the page number read from the page mark (-1 if none is clear) and
// each PERMILLE is the share of set bits, in thousandths.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_raster.h"

namespace {

struct Pbm {
  unsigned width = 0, height = 0, linebyte = 0;
  std::vector<uint8_t> bits;
};

// Skips blanks and comments between header tokens.
int NextToken(FILE *fp, unsigned *value) {
  int c = fgetc(fp);
  for (;;) {
    while (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = fgetc(fp);
    if (c != '#') break;
    while (c != '\n' && c != EOF) c = fgetc(fp);
  }
  if (c < '0' || c > '9') return -1;
  unsigned v = 0;
  while (c >= '0' && c <= '9') {
    v = v * 10 + static_cast<unsigned>(c - '0');
    c = fgetc(fp);
  }
  *value = v;
  return c;  // the single blank after the number
}

bool ReadPbm(const char *path, Pbm *out) {
  FILE *fp = fopen(path, "rb");
  if (!fp) return false;
  bool ok = fgetc(fp) == 'P' && fgetc(fp) == '4' && NextToken(fp, &out->width) >= 0 &&
            NextToken(fp, &out->height) >= 0 && out->width > 0 && out->height > 0;
  if (ok) {
    out->linebyte = (out->width + 7) / 8;
    out->bits.resize(static_cast<size_t>(out->linebyte) * out->height);
    ok = fread(out->bits.data(), 1, out->bits.size(), fp) == out->bits.size();
  }
  fclose(fp);
  return ok;
}

unsigned Permille(const uint8_t *bits, unsigned linebyte, unsigned x0, unsigned y0, unsigned x1,
                  unsigned y1) {
  unsigned long long set = 0, all = 0;
  for (unsigned y = y0; y < y1; ++y)
    for (unsigned x = x0; x < x1; ++x, ++all)
      set += (bits[static_cast<size_t>(y) * linebyte + x / 8] >> (7 - x % 8)) & 1;
  return all ? static_cast<unsigned>(set * 1000 / all) : 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::string plane = "all";
  int i = 1;
  if (i + 1 < argc && strcmp(argv[i], "--plane") == 0) {
    plane = argv[i + 1];
    i += 2;
  }
  if (i >= argc || (argc - i - 1) % 4 != 0 ||
      (plane != "all" && plane != "top" && plane != "bottom")) {
    fputs("Usage: zelvar-pbm-probe [--plane all|top|bottom] FILE.pbm [X0 Y0 X1 Y1]...\n", stderr);
    return 2;
  }
  Pbm pbm;
  if (!ReadPbm(argv[i], &pbm)) {
    fprintf(stderr, "zelvar-pbm-probe: cannot read %s as a binary PBM\n", argv[i]);
    return 2;
  }
  unsigned height = plane == "all" ? pbm.height : pbm.height / 2;
  const uint8_t *bits = pbm.bits.data();
  if (plane == "bottom") bits += static_cast<size_t>(height) * pbm.linebyte;

  int mark = testraster::ReadPageMark(bits, pbm.width, height, pbm.linebyte);
  printf("mark=%d width=%u height=%u ink=%u", mark, pbm.width, height,
         Permille(bits, pbm.linebyte, 0, 0, pbm.width, height));
  for (int r = i + 1; r + 3 < argc; r += 4) {
    unsigned v[4];
    for (int k = 0; k < 4; ++k) {
      unsigned long n = strtoul(argv[r + k], nullptr, 10);
      v[k] = n > 1000 ? 1000 : static_cast<unsigned>(n);
    }
    unsigned x0 = pbm.width * v[0] / 1000, x1 = pbm.width * v[2] / 1000;
    unsigned y0 = height * v[1] / 1000, y1 = height * v[3] / 1000;
    printf(" region=%u",
           Permille(bits, pbm.linebyte, x0, y0, x1 < x0 ? x0 : x1, y1 < y0 ? y0 : y1));
  }
  printf("\n");
  return 0;
}
