#include "image/bit_ops.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/job_state.h"
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

// Bytes of the 1-bit page: rows of linebyte bytes, page_height rows.  Both are
// 32-bit values; the product is taken wide so that it cannot wrap.
size_t BitmapBytes(const JobInfo *lpJob) {
  return static_cast<size_t>(lpJob->linebyte) * lpJob->page_height;
}

}  // namespace

void DoNegative(JobInfo *lpJob, int InvertHalfImage) {
  DWORD tick = GetTickCount();
  size_t len = BitmapBytes(lpJob);
  if (InvertHalfImage) len /= 2;
  DbgMsg("DoNegative In, len = %zu", len);
  BYTE *bits = SlotBitmap(lpJob);
  if (bits != nullptr) {
    // A 32-bit word at a time, then the bytes that do not fill a word.
    size_t words = len / 4;
    for (size_t i = 0; i < words; ++i) {
      uint32_t w;
      memcpy(&w, bits + i * 4, 4);
      w = ~w;
      memcpy(bits + i * 4, &w, 4);
    }
    for (size_t i = words * 4; i < len; ++i) bits[i] = static_cast<BYTE>(~bits[i]);
  }
  DbgMsg("DoNegative Out, using %f sec, rc = %d", (GetTickCount() - tick) / 1000.0, 1);
}

void DoMirror(JobInfo *lpJob) {
  DWORD tick = GetTickCount();
  DbgMsg("DoMirror In");
  BYTE *bits = SlotBitmap(lpJob);
  size_t linebyte = lpJob->linebyte;
  if (bits != nullptr && linebyte > 0) {
    for (DWORD y = 0; y < lpJob->page_height; ++y) {
      BYTE *row = bits + static_cast<size_t>(y) * linebyte;
      // Reverse the byte order of the row, then the bit order of every byte: the
      // pixel at p moves to 8 * linebyte - 1 - p.
      for (size_t i = 0; i < linebyte / 2; ++i) {
        BYTE t = row[i];
        row[i] = row[linebyte - 1 - i];
        row[linebyte - 1 - i] = t;
      }
      for (size_t i = 0; i < linebyte; ++i) row[i] = BitsList[row[i]];
    }
  }
  DbgMsg("DoMirror Out, using %f sec, rc = %d", (GetTickCount() - tick) / 1000.0, 1);
}

DWORD Prnt_CountBlackDots(const unsigned char *inbuf, long ByteNo) {
  if (inbuf == nullptr) return 0;
  DbgMsg("Prnt_CountBlackDots Start, ByteNo = %ld", ByteNo);
  DWORD count = 0;
  for (long i = 0; i < ByteNo; ++i) count += dottbl[inbuf[i]];
  DbgMsg("Prnt_CountBlackDots Out");
  return count;
}
