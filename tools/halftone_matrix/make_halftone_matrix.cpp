// make-halftone-matrix: writes src/image/halftone_matrix.cpp, the screen's
// 128 x 128 threshold matrix FINE_TAry.
//
// Rebuild the table (from a configured build directory):
//
//   cmake --build build --target regenerate-halftone-matrix
//
// which runs `make-halftone-matrix SOURCE_DIR/src/image/halftone_matrix.cpp`.
// Without an argument the program prints the table on standard output; with
// `--check FILE` it compares FILE with what it would write and exits non-zero
// when they differ.  The construction is pure integer arithmetic, so the output
// is the same byte for byte on every machine.
//
// Construction
// ------------
// The matrix is 16 x 16 cells of 8 x 8 pixels.  Every cell is the base cell
// below (two clustered dots on a 45 degree lattice, lowest thresholds growing
// from (1, 1) and (5, 5), highest from (1, 5) and (5, 1)) plus offsets of a few
// levels, so that the 256 cells together spread each of the 64 cell positions
// over about four neighbouring levels and the tile as a whole uses every level
// 0..254.  A one-level change of grey then always changes the number of set
// bits.
//
// 1. Level histogram H.  The printer's tone reproduction was measured as the
//    number of bits a flat grey sets per 128 x 128 tile.  With the linear
//    curve, grey s sets every threshold <= s, so those counts are the
//    cumulative histogram: 1 -> 97, 64 -> 4161, 128 -> 8289, 192 -> 12417.
//    They are met exactly by 33 zeros, 64 ones, 65 of every even level and 64
//    of every odd level from 2 to 253, and 33 of level 254 (16384 in all).
//    The other measured curves (economy, densities 0 and 4) read the same
//    histogram at other points; the program checks all of them with the tone
//    curves of image/tone_curve.cpp before writing anything.
// 2. Values per position.  Lay the 16384 levels of H out in ascending order
//    and rank the 64 positions of the base cell by their base threshold.  The
//    position of rank r takes the 256 levels at sorted indices 256r..256r+255.
//    Each position so gets four or five neighbouring levels around its base
//    value (the program stops if they ever span more than 5), and in every
//    cell a position with a lower base threshold never gets a higher value
//    than one with a higher base threshold.
// 3. Values per cell.  At each position the 256 levels go to the 256 cells in
//    ascending order of the cell rank
//        rank(cy, cx) = 16 * B[cy mod 4][cx mod 4] + B[cy div 4][cx div 4],
//    B the 4 x 4 dispersed-dot order (the rank is the 16 x 16 dispersed-dot
//    order).  The first term orders the cells within every 4 x 4 block of
//    cells, so the offsets form a dispersed pattern there; the sixteen cells
//    that lie 4 cells (32 pixels) apart share one slice of 16 consecutive
//    sorted levels and so mostly get the same level.  Where a slice straddles
//    two levels, the second term decides which of those cells get the higher
//    one: a one-level deviation, scattered over the tile, so that the matrix
//    repeats only every 128 pixels.
// 4. Fixed cells.  Cell (0, 0) is the base cell itself, and row 0 of cells
//    (0, 1) and (0, 2) has the measured values below.  These values are taken
//    out of their positions' levels first; the other cells share the rest as in
//    step 3.  The program stops with an error if a fixed value is not among
//    its position's levels.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "image/tone_curve.h"

namespace {

constexpr int kCellSize = 8;
constexpr int kCellsPerSide = 16;
constexpr int kTileSize = kCellSize * kCellsPerSide;
constexpr int kPositions = kCellSize * kCellSize;
constexpr int kCells = kCellsPerSide * kCellsPerSide;
constexpr int kLevels = 255;

constexpr int kBaseCell[kCellSize][kCellSize] = {
    {67, 51, 59, 114, 190, 206, 198, 143}, {35, 3, 19, 98, 222, 254, 238, 159},
    {43, 11, 27, 106, 214, 246, 230, 151}, {91, 75, 83, 122, 166, 182, 174, 135},
    {185, 200, 192, 137, 69, 54, 62, 117}, {216, 248, 232, 153, 38, 6, 22, 101},
    {208, 240, 224, 145, 46, 14, 30, 109}, {161, 177, 169, 129, 93, 77, 85, 125},
};

// Row 0 of cells (0, 1) and (0, 2).
constexpr int kCell01Row0[kCellSize] = {64, 48, 56, 111, 187, 203, 195, 140};
constexpr int kCell02Row0[kCellSize] = {67, 51, 59, 115, 190, 205, 197, 142};

constexpr int kDispersed4[4][4] = {
    {0, 8, 2, 10},
    {12, 4, 14, 6},
    {3, 11, 1, 9},
    {15, 7, 13, 5},
};

// Measured set bits per tile for a flat grey: tone curve, grey, bits.
struct ToneCount {
  int select;
  int grey;
  int bits;
};
constexpr ToneCount kMeasuredCounts[] = {
    {3, 1, 97},      {3, 64, 4161},  {3, 128, 8289},  {3, 192, 12417},
    {3, 254, 16384}, {2, 128, 9321}, {0, 128, 13513}, {4, 128, 6999},
};

using Matrix = std::array<int, kTileSize * kTileSize>;

std::array<int, kLevels> TargetHistogram() {
  std::array<int, kLevels> h{};
  h[0] = 33;
  h[1] = 64;
  for (int v = 2; v <= 253; ++v) h[v] = v % 2 == 0 ? 65 : 64;
  h[254] = 33;
  return h;
}

int CellRank(int cy, int cx) {
  return 16 * kDispersed4[cy % 4][cx % 4] + kDispersed4[cy / 4][cx / 4];
}

// The fixed value of cell (cy, cx) at position (py, px), or -1 when it is free.
int FixedValue(int cy, int cx, int py, int px) {
  if (cy == 0 && cx == 0) return kBaseCell[py][px];
  if (cy == 0 && cx == 1 && py == 0) return kCell01Row0[px];
  if (cy == 0 && cx == 2 && py == 0) return kCell02Row0[px];
  return -1;
}

bool Fail(const char *what) {
  std::fprintf(stderr, "make-halftone-matrix: %s\n", what);
  return false;
}

bool BuildMatrix(Matrix &m) {
  std::array<int, kLevels> hist = TargetHistogram();
  std::vector<int> levels;
  for (int v = 0; v < kLevels; ++v) levels.insert(levels.end(), hist[v], v);
  if (levels.size() != static_cast<size_t>(kTileSize * kTileSize))
    return Fail("level histogram does not fill the tile");

  std::vector<int> positions(kPositions);
  for (int p = 0; p < kPositions; ++p) positions[p] = p;
  std::stable_sort(positions.begin(), positions.end(), [](int a, int b) {
    return kBaseCell[a / kCellSize][a % kCellSize] < kBaseCell[b / kCellSize][b % kCellSize];
  });

  std::vector<int> cellsByRank(kCells);
  for (int c = 0; c < kCells; ++c) cellsByRank[CellRank(c / kCellsPerSide, c % kCellsPerSide)] = c;

  for (int r = 0; r < kPositions; ++r) {
    const int py = positions[r] / kCellSize;
    const int px = positions[r] % kCellSize;
    std::vector<int> pool(levels.begin() + r * kCells, levels.begin() + (r + 1) * kCells);
    if (pool.back() - pool.front() > 5) return Fail("a position's levels span more than 5");
    std::vector<bool> fixed(kCells, false);
    for (int c = 0; c < kCells; ++c) {
      const int cy = c / kCellsPerSide;
      const int cx = c % kCellsPerSide;
      const int v = FixedValue(cy, cx, py, px);
      if (v < 0) continue;
      auto it = std::find(pool.begin(), pool.end(), v);
      if (it == pool.end()) return Fail("a fixed value is not among its position's levels");
      pool.erase(it);
      m[(cy * kCellSize + py) * kTileSize + cx * kCellSize + px] = v;
      fixed[c] = true;
    }
    size_t next = 0;
    for (int c : cellsByRank) {
      if (fixed[c]) continue;
      const int cy = c / kCellsPerSide;
      const int cx = c % kCellsPerSide;
      m[(cy * kCellSize + py) * kTileSize + cx * kCellSize + px] = pool[next++];
    }
  }
  return true;
}

// Screens a flat grey with the tile as the filter does and counts the set bits.
int SetBits(const Matrix &m, int select, int grey) {
  BYTE curve[256];
  BuildToneCurve(select, curve);
  int bits = 0;
  for (int t : m) {
    const int tile = curve[std::clamp(t, 1, 254)];
    if (grey != 0 && (grey >= tile || grey == 255)) ++bits;
  }
  return bits;
}

bool CheckToneCounts(const Matrix &m) {
  bool ok = true;
  for (const ToneCount &tc : kMeasuredCounts) {
    const int got = SetBits(m, tc.select, tc.grey);
    if (got != tc.bits) {
      std::fprintf(stderr,
                   "make-halftone-matrix: curve %d grey %d sets %d bits per tile, measured %d\n",
                   tc.select, tc.grey, got, tc.bits);
      ok = false;
    }
  }
  return ok;
}

std::string Render(const Matrix &m) {
  std::ostringstream out;
  out << "// The screen's 128 x 128 threshold matrix.  Generated by make-halftone-matrix\n"
         "// (tools/halftone_matrix/make_halftone_matrix.cpp, which explains the\n"
         "// construction); do not edit.  Rebuild it with\n"
         "//   cmake --build build --target regenerate-halftone-matrix\n"
         "#include \"image/halftone_matrix.h\"\n"
         "\n"
         "// Eight lines of 16 values per matrix row.\n"
         "// clang-format off\n"
         "const BYTE FINE_TAry[kHalftoneTileSize * kHalftoneTileSize] = {\n";
  constexpr int kPerLine = 16;
  for (size_t i = 0; i < m.size(); ++i) {
    out << (i % kPerLine == 0 ? "    " : " ") << std::setw(3) << m[i] << ",";
    if (i % kPerLine == kPerLine - 1) out << "\n";
  }
  out << "};\n"
         "// clang-format on\n";
  return out.str();
}

}  // namespace

int main(int argc, char **argv) {
  const bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
  if (argc > 2 && !check) {
    std::fprintf(stderr, "usage: make-halftone-matrix [OUTPUT.cpp | --check FILE.cpp]\n");
    return 2;
  }
  Matrix m{};
  if (!BuildMatrix(m) || !CheckToneCounts(m)) return 1;
  const std::string text = Render(m);

  if (check) {
    std::ifstream in(argv[2], std::ios::binary);
    const std::string have{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.is_open() || in.bad()) {
      std::fprintf(stderr, "make-halftone-matrix: cannot read %s\n", argv[2]);
      return 1;
    }
    if (have != text) {
      std::fprintf(stderr, "make-halftone-matrix: %s is not the generated matrix\n", argv[2]);
      return 1;
    }
    return 0;
  }
  if (argc == 2) {
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::fprintf(stderr, "make-halftone-matrix: cannot write %s\n", argv[1]);
      return 1;
    }
    return 0;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
