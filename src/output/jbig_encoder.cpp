// The arithmetic coder and the context model of ITU-T T.82 for the printer's one
// configuration.
//
// Most of a printed page is white, and two shortcuts make such pages cheap while
// keeping every coded decision exactly as the pixel-by-pixel procedure codes it:
// a row equal to the row above costs its one typical-prediction decision, and a
// run of white pixels whose template is all white is coded at once.  Such a run
// is a run of more-probable-symbol decisions in context 0: each one only narrows
// the interval by the same Qe, and the state of context 0 (hence Qe) changes only
// at the decision that renormalises, which is coded singly.
#include "output/jbig_encoder.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The probability estimation table: Qe (LSZ), the next state after a more
// probable symbol (NMPS) and after a less probable one (NLPS), and whether a less
// probable symbol in this state swaps the meanings of the two (SWTCH).
struct QeRow {
  uint16_t lsz;
  uint8_t nmps;
  uint8_t nlps;
  uint8_t swtch;
};

constexpr QeRow kQeTable[113] = {
    {0x5a1d, 1, 1, 1},     {0x2586, 2, 14, 0},    {0x1114, 3, 16, 0},    {0x080b, 4, 18, 0},
    {0x03d8, 5, 20, 0},    {0x01da, 6, 23, 0},    {0x00e5, 7, 25, 0},    {0x006f, 8, 28, 0},
    {0x0036, 9, 30, 0},    {0x001a, 10, 33, 0},   {0x000d, 11, 35, 0},   {0x0006, 12, 9, 0},
    {0x0003, 13, 10, 0},   {0x0001, 13, 12, 0},   {0x5a7f, 15, 15, 1},   {0x3f25, 16, 36, 0},
    {0x2cf2, 17, 38, 0},   {0x207c, 18, 39, 0},   {0x17b9, 19, 40, 0},   {0x1182, 20, 42, 0},
    {0x0cef, 21, 43, 0},   {0x09a1, 22, 45, 0},   {0x072f, 23, 46, 0},   {0x055c, 24, 48, 0},
    {0x0406, 25, 49, 0},   {0x0303, 26, 51, 0},   {0x0240, 27, 52, 0},   {0x01b1, 28, 54, 0},
    {0x0144, 29, 56, 0},   {0x00f5, 30, 57, 0},   {0x00b7, 31, 59, 0},   {0x008a, 32, 60, 0},
    {0x0068, 33, 62, 0},   {0x004e, 34, 63, 0},   {0x003b, 35, 32, 0},   {0x002c, 9, 33, 0},
    {0x5ae1, 37, 37, 1},   {0x484c, 38, 64, 0},   {0x3a0d, 39, 65, 0},   {0x2ef1, 40, 67, 0},
    {0x261f, 41, 68, 0},   {0x1f33, 42, 69, 0},   {0x19a8, 43, 70, 0},   {0x1518, 44, 72, 0},
    {0x1177, 45, 73, 0},   {0x0e74, 46, 74, 0},   {0x0bfb, 47, 75, 0},   {0x09f8, 48, 77, 0},
    {0x0861, 49, 78, 0},   {0x0706, 50, 79, 0},   {0x05cd, 51, 48, 0},   {0x04de, 52, 50, 0},
    {0x040f, 53, 50, 0},   {0x0363, 54, 51, 0},   {0x02d4, 55, 52, 0},   {0x025c, 56, 53, 0},
    {0x01f8, 57, 54, 0},   {0x01a4, 58, 55, 0},   {0x0160, 59, 56, 0},   {0x0125, 60, 57, 0},
    {0x00f6, 61, 58, 0},   {0x00cb, 62, 59, 0},   {0x00ab, 63, 61, 0},   {0x008f, 32, 61, 0},
    {0x5b12, 65, 65, 1},   {0x4d04, 66, 80, 0},   {0x412c, 67, 81, 0},   {0x37d8, 68, 82, 0},
    {0x2fe8, 69, 83, 0},   {0x293c, 70, 84, 0},   {0x2379, 71, 86, 0},   {0x1edf, 72, 87, 0},
    {0x1aa9, 73, 87, 0},   {0x174e, 74, 72, 0},   {0x1424, 75, 72, 0},   {0x119c, 76, 74, 0},
    {0x0f6b, 77, 74, 0},   {0x0d51, 78, 75, 0},   {0x0bb6, 79, 77, 0},   {0x0a40, 48, 77, 0},
    {0x5832, 81, 80, 1},   {0x4d1c, 82, 88, 0},   {0x438e, 83, 89, 0},   {0x3bdd, 84, 90, 0},
    {0x34ee, 85, 91, 0},   {0x2eae, 86, 92, 0},   {0x299a, 87, 93, 0},   {0x2516, 71, 86, 0},
    {0x5570, 89, 88, 1},   {0x4ca9, 90, 95, 0},   {0x44d9, 91, 96, 0},   {0x3e22, 92, 97, 0},
    {0x3824, 93, 99, 0},   {0x32b4, 94, 99, 0},   {0x2e17, 86, 93, 0},   {0x56a8, 96, 95, 1},
    {0x4f46, 97, 101, 0},  {0x47e5, 98, 102, 0},  {0x41cf, 99, 103, 0},  {0x3c3d, 100, 104, 0},
    {0x375e, 93, 99, 0},   {0x5231, 102, 105, 0}, {0x4c0f, 103, 106, 0}, {0x4639, 104, 107, 0},
    {0x415e, 99, 103, 0},  {0x5627, 106, 105, 1}, {0x50e7, 107, 108, 0}, {0x4b85, 103, 109, 0},
    {0x5597, 109, 110, 0}, {0x504f, 107, 111, 0}, {0x5a10, 111, 110, 1}, {0x5522, 109, 112, 0},
    {0x59eb, 111, 112, 1},
};

// A context's state is one byte: the more probable symbol in bit 7, the state
// number in bits 0-6.  These tables are indexed by that byte.
struct StateTables {
  uint16_t lsz[256];
  uint8_t afterMps[256];
  uint8_t afterLps[256];
};

constexpr StateTables MakeStateTables() {
  StateTables t{};
  for (unsigned s = 0; s < 256; ++s) {
    unsigned n = s & 0x7F;
    if (n >= 113) continue;  // no context ever reaches these
    unsigned mps = s & 0x80;
    t.lsz[s] = kQeTable[n].lsz;
    t.afterMps[s] = static_cast<uint8_t>(mps | kQeTable[n].nmps);
    t.afterLps[s] = static_cast<uint8_t>((kQeTable[n].swtch ? mps ^ 0x80 : mps) | kQeTable[n].nlps);
  }
  return t;
}

constexpr StateTables kStates = MakeStateTables();

// The three-line template with the AT pixel in its default place, as the bits of
// the context number (x is the pixel being coded):
//   row y-2:          x-1  x  x+1          bits 9 8 7
//   row y-1:     x-2  x-1  x  x+1  x+2     bits 6 5 4 3 2
//   row y:       x-2  x-1                  bits 1 0 (x-2 is the AT pixel)
constexpr unsigned kContexts = 1024;
// The context in which each row's typical-prediction decision is coded.
constexpr unsigned kTpbContext = 0x0E5;

constexpr BYTE kMarkerEscape = 0xFF;
constexpr BYTE kStuffing = 0x00;
constexpr BYTE kEndOfStripe = 0x02;  // SDNORM

// The registers that change with every decision (T.82's A, C and CT): kept in
// locals of the coding loops.
struct Registers {
  uint32_t a;   // size of the interval, 0x8000 or more between decisions
  uint32_t c;   // carry in bit 27, the next byte in bits 26-19, the interval's base below
  uint32_t ct;  // shifts left until the byte in C is complete
};

// Where the coded bytes go, with T.82's bytes held back for a carry: BUFFER, the
// last complete byte, and SC, the 0xFF bytes after it.
struct ByteSink {
  JbigOutputArea *area;
  int buffer = -1;  // none yet
  size_t sc = 0;
  bool failed = false;

  // Room for `n` more bytes; false (and failed from then on) when memory is short.
  bool Room(size_t n) {
    if (failed) return false;
    if (area->capacity - area->size >= n) return true;
    failed = !MakeRoomInOutputArea(area, n);
    return !failed;
  }
  void Put(BYTE b) {
    if (!Room(2)) return;
    area->data[area->size++] = b;
    if (b == kMarkerEscape) area->data[area->size++] = kStuffing;
  }
  // `n` copies of `b`, each stuffed if it is 0xFF.
  void PutRepeated(BYTE b, size_t n) {
    if (n == 0) return;
    size_t each = b == kMarkerEscape ? 2 : 1;
    if (n > SIZE_MAX / 2 || !Room(n * each)) return;
    BYTE *at = area->data + area->size;
    for (size_t i = 0; i < n; ++i) {
      *at++ = b;
      if (each == 2) *at++ = kStuffing;
    }
    area->size += n * each;
  }

  // T.82's BYTEOUT: `temp` is the completed byte with the carry above it.
  void ByteOut(uint32_t temp) {
    if (temp > 0xFF) {
      // The carry turns the held-back 0xFF bytes into 0x00 and adds to BUFFER.
      if (buffer >= 0) Put(static_cast<BYTE>(buffer + 1));
      PutRepeated(0x00, sc);
      sc = 0;
      buffer = static_cast<int>(temp & 0xFF);
    } else if (temp == 0xFF) {
      ++sc;  // a later carry may still reach it
    } else {
      if (buffer >= 0) Put(static_cast<BYTE>(buffer));
      PutRepeated(0xFF, sc);
      sc = 0;
      buffer = static_cast<int>(temp);
    }
  }
};

[[gnu::noinline]] void ByteOutOf(ByteSink &sink, uint32_t temp) { sink.ByteOut(temp); }

// T.82's RENORME: doubles A until it is 0x8000 or more, shifting C along and
// handing each completed byte on.
inline void Renormalise(Registers &r, ByteSink &sink) {
  uint32_t shifts = static_cast<uint32_t>(std::countl_zero(r.a)) - 16;
  r.a <<= shifts;
  while (shifts >= r.ct) {
    r.c <<= r.ct;
    shifts -= r.ct;
    ByteOutOf(sink, r.c >> 19);
    r.c &= 0x7FFFF;
    r.ct = 8;
  }
  r.c <<= shifts;
  r.ct -= shifts;
}

// T.82's ENCODE of one decision `pix` in context `cx` (CODEMPS or CODELPS, with
// the conditional exchange of the two sub-intervals).
inline void Encode(Registers &r, BYTE *st, unsigned cx, unsigned pix, ByteSink &sink) {
  unsigned s = st[cx];
  uint32_t qe = kStates.lsz[s];
  r.a -= qe;
  if (pix == (s >> 7)) {
    if (r.a >= 0x8000) return;
    if (r.a < qe) {
      r.c += r.a;
      r.a = qe;
    }
    st[cx] = kStates.afterMps[s];
  } else {
    if (r.a >= qe) {
      r.c += r.a;
      r.a = qe;
    }
    st[cx] = kStates.afterLps[s];
  }
  Renormalise(r, sink);
}

// `n` decisions, each the more probable symbol of context `cx`: the same as n
// calls of Encode.  Between renormalisations each decision only takes Qe off A,
// so the decisions up to the next renormalisation go at once.
inline void EncodeMpsRun(Registers &r, BYTE *st, unsigned cx, uint64_t n, ByteSink &sink) {
  while (n > 0) {
    unsigned s = st[cx];
    uint32_t qe = kStates.lsz[s];
    uint32_t keep = (r.a - 0x8000) / qe;  // decisions that leave A at 0x8000 or more
    if (n <= keep) {
      r.a -= static_cast<uint32_t>(n) * qe;
      return;
    }
    r.a -= keep * qe;
    n -= keep;
    Encode(r, st, cx, s >> 7, sink);  // this one renormalises
    --n;
  }
}

uint64_t Load64(const BYTE *p) {
  uint64_t v;
  memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// A row kept for the template: the row's bytes with room for reading past both
// ends, where every pixel counts as 0.
constexpr size_t kPadBefore = 8;
constexpr size_t kPadAfter = 16;

// 64 pixels of a padded row from pixel `p` on (p >= -8), the first in bit 63.
uint64_t PixelsFrom(const BYTE *row, int64_t p) {
  int64_t byte = p >> 3;  // rounds down for negative p
  unsigned bit = static_cast<unsigned>(p & 7);
  uint64_t v = Load64(row + byte);
  if (bit != 0) v = (v << bit) | (row[byte + 8] >> (8 - bit));
  return v;
}

// Bit 63 - i is set where pixel p + i of row y cannot be in a white run: the pixel
// itself or a pixel of its template in the rows above is black.
uint64_t WhiteRunBlockers(const BYTE *r2, const BYTE *r1, const BYTE *r0, int64_t p) {
  return PixelsFrom(r2, p - 1) | PixelsFrom(r2, p) | PixelsFrom(r2, p + 1) | PixelsFrom(r1, p - 2) |
         PixelsFrom(r1, p - 1) | PixelsFrom(r1, p) | PixelsFrom(r1, p + 1) | PixelsFrom(r1, p + 2) |
         PixelsFrom(r0, p);
}

// Length of the run of pixels from x on (before `width`) that are white and whose
// templates are all white.
uint64_t WhiteRun(const BYTE *r2, const BYTE *r1, const BYTE *r0, uint64_t x, uint64_t width) {
  uint64_t p = x;
  while (p < width) {
    uint64_t blockers = WhiteRunBlockers(r2, r1, r0, static_cast<int64_t>(p));
    if (blockers != 0) {
      p += static_cast<uint64_t>(std::countl_zero(blockers));
      break;
    }
    p += 64;
  }
  return std::min(p, width) - x;
}

// Codes every pixel of row y (r0), with rows y-1 (r1) and y-2 (r2) above it.
void EncodeRow(Registers &r, BYTE *st, ByteSink &sink, const BYTE *r2, const BYTE *r1,
               const BYTE *r0, uint64_t width) {
  uint64_t x = 0;
  while (x < width) {
    // 64-pixel windows of the three rows from 8 pixels before the 32-pixel block
    // that holds x, shifted so that one shift places each row's part of the
    // context: pixel x0 + j is coded with shift 47 - j.
    uint64_t x0 = x & ~uint64_t{31};
    const size_t b = static_cast<size_t>(x0 >> 3);
    const uint64_t w2 = Load64(r2 + b - 1);
    const uint64_t w1 = Load64(r1 + b - 1) >> 4;
    const uint64_t w0 = Load64(r0 + b - 1) >> 9;
    const uint64_t end = std::min(x0 + 32, width);
    for (; x < end; ++x) {
      unsigned sh = static_cast<unsigned>(47 - (x - x0));
      unsigned cx =
          static_cast<unsigned>(((w2 >> sh) & 0x380) | ((w1 >> sh) & 0x7C) | ((w0 >> sh) & 0x3));
      unsigned pix = static_cast<unsigned>((w0 >> (sh - 1)) & 1);
      if (cx == 0 && pix == 0 && st[0] < 0x80) {
        uint64_t n = WhiteRun(r2, r1, r0, x, width);
        EncodeMpsRun(r, st, 0, n, sink);
        x += n;
        break;  // reload the windows at the run's end
      }
      Encode(r, st, cx, pix, sink);
    }
  }
}

// T.82's FLUSH: CLEARBITS picks the value in the final interval with the most
// trailing zero bits, FINALWRITES sends out what is held back and the rest of C.
void Flush(Registers &r, ByteSink &sink) {
  uint32_t temp = (r.a - 1 + r.c) & 0xFFFF0000u;
  r.c = temp < r.c ? temp + 0x8000 : temp;
  r.c <<= r.ct;
  if (r.c & 0xF8000000u) {
    if (sink.buffer >= 0) sink.Put(static_cast<BYTE>(sink.buffer + 1));
    sink.PutRepeated(0x00, sink.sc);
  } else {
    if (sink.buffer >= 0) sink.Put(static_cast<BYTE>(sink.buffer));
    sink.PutRepeated(0xFF, sink.sc);
  }
  sink.sc = 0;
  sink.buffer = -1;
  sink.Put(static_cast<BYTE>((r.c >> 19) & 0xFF));
  sink.Put(static_cast<BYTE>((r.c >> 11) & 0xFF));
}

struct FreeDeleter {
  void operator()(void *p) const { free(p); }
};

}  // namespace

BOOL EncodeJbigStripe(const BYTE *bits, uint32_t width, uint32_t height, JbigOutputArea *out) {
  if (bits == nullptr || out == nullptr || width == 0 || height == 0) return FALSE;
  const size_t startSize = out->size;
  const size_t linebyte = (static_cast<size_t>(width) + 7) / 8;
  const BYTE lastMask = static_cast<BYTE>(0xFF << ((8 - width % 8) % 8));
  const size_t stride = kPadBefore + linebyte + kPadAfter;

  // Three padded rows: the one being coded and the two above it.  All zero at the
  // start: the rows above the page are white.
  if (stride > SIZE_MAX / 3) return FALSE;
  std::unique_ptr<BYTE, FreeDeleter> rows(static_cast<BYTE *>(calloc(3, stride)));
  if (!rows) return FALSE;
  BYTE *buffers[3] = {rows.get() + kPadBefore, rows.get() + stride + kPadBefore,
                      rows.get() + 2 * stride + kPadBefore};
  const BYTE *above2 = buffers[0];
  const BYTE *above1 = buffers[0];

  BYTE st[kContexts] = {};
  Registers r = {0x10000, 0, 11};
  ByteSink sink{out};
  bool previousTypical = false;  // before the first row: not typical
  for (uint32_t y = 0; y < height && !sink.failed; ++y) {
    const BYTE *row = bits + static_cast<size_t>(y) * linebyte;
    // Typical: equal to the row above, the padding bits aside.
    bool typical = memcmp(row, above1, linebyte - 1) == 0 &&
                   ((row[linebyte - 1] ^ above1[linebyte - 1]) & lastMask) == 0;
    Encode(r, st, kTpbContext, typical == previousTypical ? 1 : 0, sink);
    previousTypical = typical;
    if (typical) {
      above2 = above1;
      continue;
    }
    BYTE *current = buffers[0];
    for (BYTE *b : buffers)
      if (b != above1 && b != above2) current = b;
    memcpy(current, row, linebyte);
    current[linebyte - 1] &= lastMask;
    EncodeRow(r, st, sink, above2, above1, current, width);
    above2 = above1;
    above1 = current;
  }
  Flush(r, sink);

  // Trailing 0x00 bytes carry nothing (the decoder reads 0 past the end), but
  // the 0x00 that stuffs a final 0xFF stays.
  if (!sink.failed) {
    size_t end = out->size;
    while (end > startSize && out->data[end - 1] == 0x00) --end;
    out->size = end;
    if (end > startSize && out->data[end - 1] == kMarkerEscape) sink.Put(kStuffing);
    const BYTE marker[2] = {kMarkerEscape, kEndOfStripe};
    if (!sink.failed && !AppendToOutputArea(out, marker, sizeof marker)) sink.failed = true;
  }
  if (sink.failed) {
    out->size = startSize;
    return FALSE;
  }
  return TRUE;
}
