// Packing per-pixel flags into 1-bit pixels, leftmost pixel in the most
// significant bit, in a form the compiler turns into a few instructions per
// eight pixels.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/win_types.h"

// Eight flags of 0 or 1, the first the leftmost pixel, as one byte of pixels.
inline BYTE PackEightFlags(const BYTE *flags) {
  uint64_t v;
  memcpy(&v, flags, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  // Flag i sits at bit 8i; the product moves it to bit 63 - i.  The partial
  // products that reach the top byte fall on distinct bits, so nothing carries.
  return static_cast<BYTE>((v * 0x8040201008040201ull) >> 56);
}

// Packs `count` flags (a multiple of 8) into count / 8 bytes.
inline void PackFlags(const BYTE *flags, DWORD count, BYTE *out) {
  const size_t n = count / 8;
  for (size_t i = 0; i < n; ++i) out[i] = PackEightFlags(flags + 8 * i);
}

// Packs the last `count` (fewer than 8) flags into one byte, the missing pixels clear.
inline BYTE PackFlagTail(const BYTE *flags, DWORD count) {
  BYTE v = 0;
  for (DWORD b = 0; b < count; ++b) v |= static_cast<BYTE>(flags[b] << (7 - b));
  return v;
}
