// zelvar-pbm-probe: reads a decoded page (PBM, a set bit a dot of toner) and
// says which test page it is and how much toner lies in given regions, or how
// two printings of a page differ.
//
//   zelvar-pbm-probe [--plane all|top|bottom] FILE.pbm [X0 Y0 X1 Y1]...
//   zelvar-pbm-probe --diff A.pbm B.pbm [X0 Y0 X1 Y1]...
//
// --plane picks the upper or lower half of a two-colour page (black plane above
// the red one).  Each region is given in thousandths of the plane's width and
// height.  Output, one line:
//   mark=N width=W height=H ink=PERMILLE [region=PERMILLE]...
// where N is the page number read from the page mark (-1 if none is clear) and
// each PERMILLE is the share of set bits, in thousandths.
//
// --diff compares two pages of the same size dot by dot:
//   differ=N outside=M dots=D [region=R]...
// N dots differ in all, M of them outside every region given, R inside each
// region; D is the number of dots of the page.  Pages of different sizes give
// "differ=size" and exit status 1.
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

// A region in thousandths of the page, as pixel bounds.
struct Box {
  unsigned x0, y0, x1, y1;
};

std::vector<Box> ReadRegions(char **arg, int count, unsigned width, unsigned height) {
  std::vector<Box> boxes;
  for (int r = 0; r + 3 < count; r += 4) {
    unsigned v[4];
    for (int k = 0; k < 4; ++k) {
      unsigned long n = strtoul(arg[r + k], nullptr, 10);
      v[k] = n > 1000 ? 1000 : static_cast<unsigned>(n);
    }
    Box b = {width * v[0] / 1000, height * v[1] / 1000, width * v[2] / 1000, height * v[3] / 1000};
    if (b.x1 < b.x0) b.x1 = b.x0;
    if (b.y1 < b.y0) b.y1 = b.y0;
    boxes.push_back(b);
  }
  return boxes;
}

int Diff(int argc, char **argv) {
  Pbm a, b;
  if (argc < 4 || (argc - 4) % 4 != 0) {
    fputs("Usage: zelvar-pbm-probe --diff A.pbm B.pbm [X0 Y0 X1 Y1]...\n", stderr);
    return 2;
  }
  for (int k = 0; k < 2; ++k)
    if (!ReadPbm(argv[2 + k], k == 0 ? &a : &b)) {
      fprintf(stderr, "zelvar-pbm-probe: cannot read %s as a binary PBM\n", argv[2 + k]);
      return 2;
    }
  if (a.width != b.width || a.height != b.height) {
    printf("differ=size %ux%u %ux%u\n", a.width, a.height, b.width, b.height);
    return 1;
  }
  std::vector<Box> boxes = ReadRegions(argv + 4, argc - 4, a.width, a.height);
  std::vector<unsigned long long> inside(boxes.size());
  unsigned long long differ = 0, outside = 0;
  for (unsigned y = 0; y < a.height; ++y)
    for (unsigned x = 0; x < a.width; ++x) {
      size_t at = static_cast<size_t>(y) * a.linebyte + x / 8;
      if (((a.bits[at] ^ b.bits[at]) >> (7 - x % 8) & 1) == 0) continue;
      ++differ;
      bool in = false;
      for (size_t r = 0; r < boxes.size(); ++r)
        if (x >= boxes[r].x0 && x < boxes[r].x1 && y >= boxes[r].y0 && y < boxes[r].y1) {
          ++inside[r];
          in = true;
        }
      if (!in) ++outside;
    }
  printf("differ=%llu outside=%llu dots=%llu", differ, outside,
         static_cast<unsigned long long>(a.width) * a.height);
  for (unsigned long long n : inside) printf(" region=%llu", n);
  printf("\n");
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "--diff") == 0) return Diff(argc, argv);
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
  for (const Box &b : ReadRegions(argv + i + 1, argc - i - 1, pbm.width, height))
    printf(" region=%u", Permille(bits, pbm.linebyte, b.x0, b.y0, b.x1, b.y1));
  printf("\n");
  return 0;
}
