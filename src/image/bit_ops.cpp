#include "image/bit_ops.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/cpu_dispatch.h"
#include "page/page.h"
#include "runtime/debug_log.h"
#include "runtime/win_helpers.h"

// Number of set bits of every byte value.
const BYTE dottbl[256] = {
    0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 1, 2, 2, 3, 2, 3, 3, 4, 2, 3, 3, 4, 3, 4, 4, 5,
    1, 2, 2, 3, 2, 3, 3, 4, 2, 3, 3, 4, 3, 4, 4, 5, 2, 3, 3, 4, 3, 4, 4, 5, 3, 4, 4, 5, 4, 5, 5, 6,
    1, 2, 2, 3, 2, 3, 3, 4, 2, 3, 3, 4, 3, 4, 4, 5, 2, 3, 3, 4, 3, 4, 4, 5, 3, 4, 4, 5, 4, 5, 5, 6,
    2, 3, 3, 4, 3, 4, 4, 5, 3, 4, 4, 5, 4, 5, 5, 6, 3, 4, 4, 5, 4, 5, 5, 6, 4, 5, 5, 6, 5, 6, 6, 7,
    1, 2, 2, 3, 2, 3, 3, 4, 2, 3, 3, 4, 3, 4, 4, 5, 2, 3, 3, 4, 3, 4, 4, 5, 3, 4, 4, 5, 4, 5, 5, 6,
    2, 3, 3, 4, 3, 4, 4, 5, 3, 4, 4, 5, 4, 5, 5, 6, 3, 4, 4, 5, 4, 5, 5, 6, 4, 5, 5, 6, 5, 6, 6, 7,
    2, 3, 3, 4, 3, 4, 4, 5, 3, 4, 4, 5, 4, 5, 5, 6, 3, 4, 4, 5, 4, 5, 5, 6, 4, 5, 5, 6, 5, 6, 6, 7,
    3, 4, 4, 5, 4, 5, 5, 6, 4, 5, 5, 6, 5, 6, 6, 7, 4, 5, 5, 6, 5, 6, 6, 7, 5, 6, 6, 7, 6, 7, 7, 8,
};

namespace {

// Each byte value with its eight bits in reverse order (0x01 -> 0x80, 0xF0 -> 0x0F).
constexpr std::array<BYTE, 256> MakeBitsList() {
  std::array<BYTE, 256> list{};
  for (unsigned v = 0; v < 256; ++v) {
    unsigned r = 0;
    for (unsigned b = 0; b < 8; ++b)
      if (v & (1u << b)) r |= 0x80u >> b;
    list[v] = static_cast<BYTE>(r);
  }
  return list;
}

constexpr std::array<BYTE, 256> BitsList = MakeBitsList();

ZELVAR_CLONES void InvertBytes(BYTE *bits, size_t len) {
  for (size_t i = 0; i < len; ++i) bits[i] = static_cast<BYTE>(~bits[i]);
}

// The 64 bits of a word in reverse order.  Loaded from memory, that is the mirror
// of its eight bytes: byte k becomes byte 7 - k with its bits reversed.
inline uint64_t ReverseBits64(uint64_t v) {
  v = __builtin_bswap64(v);
  v = ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v & 0x0F0F0F0F0F0F0F0Full) << 4);
  v = ((v >> 2) & 0x3333333333333333ull) | ((v & 0x3333333333333333ull) << 2);
  v = ((v >> 1) & 0x5555555555555555ull) | ((v & 0x5555555555555555ull) << 1);
  return v;
}

// Mirrors one row: the pixel at p moves to 8 * n - 1 - p.  Eight bytes at a time
// from both ends, then the bytes between.
void MirrorRow(BYTE *row, size_t n) {
  size_t i = 0, j = n;
  if constexpr (std::endian::native == std::endian::little) {
    for (; j - i >= 16; i += 8, j -= 8) {
      uint64_t front, back;
      memcpy(&front, row + i, 8);
      memcpy(&back, row + j - 8, 8);
      front = ReverseBits64(front);
      back = ReverseBits64(back);
      memcpy(row + i, &back, 8);
      memcpy(row + j - 8, &front, 8);
    }
  }
  for (; j - i >= 2; ++i, --j) {
    BYTE t = row[i];
    row[i] = BitsList[row[j - 1]];
    row[j - 1] = BitsList[t];
  }
  if (j - i == 1) row[i] = BitsList[row[i]];
}

ZELVAR_POPCNT_CLONES DWORD CountSetBits(const BYTE *p, size_t len) {
  // Four independent 64-bit counts, added up in 32-bit arithmetic.
  DWORD c0 = 0, c1 = 0, c2 = 0, c3 = 0;
  size_t i = 0;
  for (; i + 32 <= len; i += 32) {
    uint64_t w[4];
    memcpy(w, p + i, 32);
    c0 += static_cast<DWORD>(__builtin_popcountll(w[0]));
    c1 += static_cast<DWORD>(__builtin_popcountll(w[1]));
    c2 += static_cast<DWORD>(__builtin_popcountll(w[2]));
    c3 += static_cast<DWORD>(__builtin_popcountll(w[3]));
  }
  DWORD count = c0 + c1 + c2 + c3;
  for (; i < len; ++i) count += dottbl[p[i]];
  return count;
}

}  // namespace

void DoNegative(Page *page, int InvertHalfImage) {
  size_t len = BitmapBytes(*page);
  if (InvertHalfImage) len /= 2;
  if (page->lpbuf != nullptr) InvertBytes(page->lpbuf, len);
}

void DoMirror(Page *page) {
  const size_t linebyte = page->linebyte;
  if (page->lpbuf == nullptr || linebyte == 0) return;
  for (DWORD y = 0; y < page->page_height; ++y)
    MirrorRow(page->lpbuf + static_cast<size_t>(y) * linebyte, linebyte);
}

DWORD Prnt_CountBlackDots(const unsigned char *inbuf, long ByteNo) {
  if (inbuf == nullptr) return 0;
  return ByteNo > 0 ? CountSetBits(inbuf, static_cast<size_t>(ByteNo)) : 0;
}
