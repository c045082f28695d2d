// The screen's threshold matrix: its cell structure, its levels, and the number
// of bits a flat grey sets per tile under each measured tone curve.
#include "image/halftone_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>

#include "image/tone_curve.h"

namespace {

constexpr int kTile = 128;
constexpr int kCell = 8;
constexpr int kCellsPerSide = kTile / kCell;

constexpr int kBaseCell[kCell][kCell] = {
    {67, 51, 59, 114, 190, 206, 198, 143}, {35, 3, 19, 98, 222, 254, 238, 159},
    {43, 11, 27, 106, 214, 246, 230, 151}, {91, 75, 83, 122, 166, 182, 174, 135},
    {185, 200, 192, 137, 69, 54, 62, 117}, {216, 248, 232, 153, 38, 6, 22, 101},
    {208, 240, 224, 145, 46, 14, 30, 109}, {161, 177, 169, 129, 93, 77, 85, 125},
};

int At(int y, int x) { return FINE_TAry[(y % kTile) * kTile + (x % kTile)]; }

int CellValue(int cy, int cx, int py, int px) { return At(cy * kCell + py, cx * kCell + px); }

// Cells (0, 0), (0, 1) and (0, 2) carry measured values and need not follow the
// pattern of the others.
bool InFixedCell(int y, int x) { return y % kTile < kCell && x % kTile < 3 * kCell; }

// Bits set in one tile by a flat grey, with the tile built as the screen builds
// it: the tone curve of each threshold limited to 1..254.
int SetBitsPerTile(int select, int grey) {
  BYTE curve[256];
  BuildToneCurve(select, curve);
  int bits = 0;
  for (int k = 0; k < kTile * kTile; ++k) {
    const int tile = curve[std::clamp(static_cast<int>(FINE_TAry[k]), 1, 254)];
    if (grey != 0 && (grey >= tile || grey == 255)) ++bits;
  }
  return bits;
}

}  // namespace

TEST(HalftoneMatrix, StartsWithTheMeasuredBaseCellAndRowZero) {
  for (int py = 0; py < kCell; ++py)
    for (int px = 0; px < kCell; ++px)
      EXPECT_EQ(CellValue(0, 0, py, px), kBaseCell[py][px]) << "at " << py << "," << px;
  const int row0[24] = {67,  51,  59,  114, 190, 206, 198, 143, 64,  48,  56,  111,
                        187, 203, 195, 140, 67,  51,  59,  115, 190, 205, 197, 142};
  for (int x = 0; x < 24; ++x) EXPECT_EQ(At(0, x), row0[x]) << "column " << x;
}

TEST(HalftoneMatrix, EachCellPositionVariesByAtMostFiveLevelsAcrossCells) {
  for (int py = 0; py < kCell; ++py)
    for (int px = 0; px < kCell; ++px) {
      int lo = 255, hi = -1;
      for (int cy = 0; cy < kCellsPerSide; ++cy)
        for (int cx = 0; cx < kCellsPerSide; ++cx) {
          lo = std::min(lo, CellValue(cy, cx, py, px));
          hi = std::max(hi, CellValue(cy, cx, py, px));
        }
      EXPECT_LE(hi - lo, 5) << "position " << py << "," << px;
      EXPECT_LE(hi, 254);
    }
}

TEST(HalftoneMatrix, EveryCellOrdersItsPositionsLikeTheBaseCell) {
  std::array<int, kCell * kCell> order;
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [](int a, int b) {
    return kBaseCell[a / kCell][a % kCell] < kBaseCell[b / kCell][b % kCell];
  });
  // Ties are allowed; an inversion is not.  The lowest thresholds therefore
  // stay at the dot centres (1, 1) and (5, 5) and the highest at (1, 5) and
  // (5, 1) in every cell.
  for (int cy = 0; cy < kCellsPerSide; ++cy)
    for (int cx = 0; cx < kCellsPerSide; ++cx)
      for (int r = 1; r < kCell * kCell; ++r) {
        const int a = order[r - 1], b = order[r];
        EXPECT_LE(CellValue(cy, cx, a / kCell, a % kCell), CellValue(cy, cx, b / kCell, b % kCell))
            << "cell " << cy << "," << cx << " positions " << a << " and " << b;
      }
}

TEST(HalftoneMatrix, OffsetsNearlyRepeatEveryFourCellsButTheMatrixOnlyEvery128Pixels) {
  struct Shift {
    int dy, dx;
  };
  for (Shift s : {Shift{0, 32}, Shift{32, 0}}) {
    int same = 0, compared = 0;
    std::array<std::array<bool, 4>, 4> blockDeviates{};
    for (int y = 0; y < kTile; ++y)
      for (int x = 0; x < kTile; ++x) {
        if (InFixedCell(y, x) || InFixedCell(y + s.dy, x + s.dx)) continue;
        const int d = At(y + s.dy, x + s.dx) - At(y, x);
        EXPECT_LE(std::abs(d), 1) << "at " << y << "," << x;
        ++compared;
        if (d == 0)
          ++same;
        else
          blockDeviates[y / 32][x / 32] = true;
      }
    EXPECT_GE(same * 10, compared * 8) << "shift " << s.dy << "," << s.dx;
    for (int by = 0; by < 4; ++by)
      for (int bx = 0; bx < 4; ++bx)
        EXPECT_TRUE(blockDeviates[by][bx]) << "block " << by << "," << bx;
  }
  for (int period : {8, 16, 32, 64}) {
    bool rowsDiffer = false, columnsDiffer = false;
    for (int y = 0; y < kTile; ++y)
      for (int x = 0; x < kTile; ++x) {
        rowsDiffer |= At(y, x) != At(y, x + period);
        columnsDiffer |= At(y, x) != At(y + period, x);
      }
    EXPECT_TRUE(rowsDiffer) << "repeats every " << period << " pixels across";
    EXPECT_TRUE(columnsDiffer) << "repeats every " << period << " pixels down";
  }
}

TEST(HalftoneMatrix, UsesEveryLevelWithTheEndLevelsThirtyThreeTimes) {
  std::array<int, 256> count{};
  for (BYTE t : FINE_TAry) ++count[t];
  EXPECT_EQ(count[0], 33);
  EXPECT_EQ(count[254], 33);
  EXPECT_EQ(count[255], 0);
  for (int v = 1; v <= 253; ++v) {
    EXPECT_GE(count[v], 16) << "level " << v;
    EXPECT_LE(count[v], 113) << "level " << v;
  }
}

TEST(HalftoneMatrix, FlatGreySetsTheMeasuredBitsPerTile) {
  const int linear = ToneCurveSelect(3, false);
  EXPECT_EQ(SetBitsPerTile(linear, 1), 97);
  EXPECT_EQ(SetBitsPerTile(linear, 64), 4161);
  EXPECT_EQ(SetBitsPerTile(linear, 128), 8289);
  EXPECT_EQ(SetBitsPerTile(linear, 192), 12417);
  EXPECT_EQ(SetBitsPerTile(linear, 254), kTile * kTile);
  EXPECT_EQ(SetBitsPerTile(ToneCurveSelect(7, true), 128), 9321);
  EXPECT_EQ(SetBitsPerTile(ToneCurveSelect(0, false), 128), 13513);
  EXPECT_EQ(SetBitsPerTile(ToneCurveSelect(4, false), 128), 6999);
}

TEST(HalftoneMatrix, EveryOneLevelGreyStepChangesTheBitCountOnTheLinearCurve) {
  const int linear = ToneCurveSelect(3, false);
  EXPECT_EQ(SetBitsPerTile(linear, 0), 0);
  int previous = 0;
  for (int grey = 1; grey <= 254; ++grey) {
    const int bits = SetBitsPerTile(linear, grey);
    EXPECT_GT(bits, previous) << "grey " << grey;
    previous = bits;
  }
}
