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
// number in bits 0-6.  These tables are indexed by that byte; `take[p]` is what a
// decision of pixel value p takes off A in the form the coding loop reads: Qe when
// p is the more probable symbol, Qe + 0x8000 when it is not, which no A can lose
// and keep 0x8000.
struct StateTables {
  uint16_t lsz[256];
  uint16_t take[2][256];
  uint8_t after[2][256];  // the next state after a more [0] or less [1] probable symbol
};

constexpr StateTables MakeStateTables() {
  StateTables t{};
  for (unsigned s = 0; s < 256; ++s) {
    const unsigned n = s & 0x7F;
    if (n >= 113) continue;  // no context ever reaches these
    const unsigned mps = s & 0x80;
    t.lsz[s] = kQeTable[n].lsz;
    for (unsigned p = 0; p < 2; ++p)
      t.take[p][s] = static_cast<uint16_t>(kQeTable[n].lsz | (p == mps >> 7 ? 0 : 0x8000));
    t.after[0][s] = static_cast<uint8_t>(mps | kQeTable[n].nmps);
    t.after[1][s] = static_cast<uint8_t>((kQeTable[n].swtch ? mps ^ 0x80 : mps) | kQeTable[n].nlps);
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

// The states of all contexts, each both as its state byte and as what a decision
// of either pixel value takes off A, indexed by the pixel's code (see CodeTables).
struct ContextStates {
  BYTE st[kContexts];
  uint16_t take[2 * kContexts];
};

inline void SetState(ContextStates &cs, unsigned cx, unsigned s) {
  cs.st[cx] = static_cast<BYTE>(s);
  cs.take[cx] = kStates.take[0][s];
  cs.take[kContexts + cx] = kStates.take[1][s];
}

constexpr BYTE kMarkerEscape = 0xFF;
constexpr BYTE kStuffing = 0x00;
constexpr BYTE kEndOfStripe = 0x02;  // SDNORM

// The coder's registers (T.82's A, C and CT), kept in locals of the coding loops.
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

  // Room for `n` more bytes; false (and failed from then on) when the area cannot
  // grow that far.
  bool Room(size_t n) {
    if (failed) return false;
    const size_t end = std::min(area->capacity, area->limit);
    if (end >= area->size && end - area->size >= n) return true;
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

// The shifts of a renormalisation that complete bytes: C and CT afterwards, C in
// the high half.  Kept apart so that the coding loops hold A, C and CT in
// registers.
[[gnu::noinline]] uint64_t ShiftBytesOut(uint32_t c, uint32_t ct, uint32_t shifts, ByteSink *sink) {
  while (shifts >= ct) {
    c <<= ct;
    shifts -= ct;
    sink->ByteOut(c >> 19);
    c &= 0x7FFFF;
    ct = 8;
  }
  c <<= shifts;
  ct -= shifts;
  return uint64_t{c} << 32 | ct;
}

// T.82's RENORME: doubles A until it is 0x8000 or more, shifting C along and
// handing each completed byte on.
inline void Renormalise(Registers &r, ByteSink &sink) {
  const uint32_t shifts = static_cast<uint32_t>(std::countl_zero(r.a)) - 16;
  r.a <<= shifts;
  if (shifts < r.ct) {
    r.c <<= shifts;
    r.ct -= shifts;
    return;
  }
  const uint64_t after = ShiftBytesOut(r.c, r.ct, shifts, &sink);
  r.c = static_cast<uint32_t>(after >> 32);
  r.ct = static_cast<uint32_t>(after);
}

// T.82's CODELPS, or CODEMPS for a more probable symbol that leaves A below
// 0x8000: a decision that renormalises.  Without branches, which would go either
// way at random here.
inline void EncodeRenormalising(Registers &r, ContextStates &cs, unsigned cx, unsigned pix,
                                ByteSink &sink) {
  const unsigned s = cs.st[cx];
  const uint32_t qe = kStates.lsz[s];
  const uint32_t a = r.a - qe;
  const uint32_t lps = (pix ^ (s >> 7)) & 1;
  // The coded symbol gets the upper sub-interval, of size Qe, when it is the less
  // probable symbol or when the more probable one's would be the smaller
  // (conditional exchange), but not both.
  const uint32_t upper = static_cast<uint32_t>(a < qe) ^ lps;
  const uint32_t mask = 0u - upper;
  r.c += a & mask;
  r.a = (qe & mask) | (a & ~mask);
  SetState(cs, cx, kStates.after[lps][s]);
  Renormalise(r, sink);
}

// T.82's ENCODE of one decision `pix` in context `cx`.
inline void Encode(Registers &r, ContextStates &cs, unsigned cx, unsigned pix, ByteSink &sink) {
  const unsigned s = cs.st[cx];
  const uint32_t qe = kStates.lsz[s];
  if (pix == (s >> 7) && r.a - qe >= 0x8000) {
    r.a -= qe;
    return;
  }
  EncodeRenormalising(r, cs, cx, pix, sink);
}

// `n` decisions, each the more probable symbol of context `cx`: the same as n
// calls of Encode.  Between renormalisations each decision only takes Qe off A,
// so the decisions up to the next renormalisation go at once.
void EncodeMpsRun(Registers &r, ContextStates &cs, unsigned cx, uint64_t n, ByteSink &sink) {
  while (n > 0) {
    const unsigned s = cs.st[cx];
    const uint32_t qe = kStates.lsz[s];
    const uint32_t keep = (r.a - 0x8000) / qe;  // decisions that leave A at 0x8000 or more
    if (n <= keep) {
      r.a -= static_cast<uint32_t>(n) * qe;
      return;
    }
    r.a -= keep * qe;
    n -= keep;
    EncodeRenormalising(r, cs, cx, s >> 7, sink);
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

// A pixel's code: its context number in bits 0-9, the pixel itself in bit 10.
// The codes of the 8 pixels of one byte of row y are the OR of four table
// entries: one for the byte of each of the rows y-2, y-1 and y, and one for the
// bits of the bytes beside them that reach into the templates.
struct CodeTables {
  uint16_t above2[256][8];
  uint16_t above1[256][8];
  uint16_t current[256][8];
  // Index: bit 0 the pixel after the byte in row y-2, bit 1 the one before it;
  // bits 2-3 the two pixels after it in row y-1, bits 4-5 the two before it;
  // bits 6-7 the two pixels before it in row y.
  uint16_t beside[256][8];
};

constexpr CodeTables MakeCodeTables() {
  CodeTables t{};
  for (unsigned v = 0; v < 256; ++v) {
    for (unsigned i = 0; i < 8; ++i) {  // pixel i of the byte, 0 the leftmost
      // Windows of each row's pixels around the byte, the leftmost in the top bit:
      // row y-2 from one pixel before the byte (10 bits), row y-1 from two before
      // (12 bits), row y from two before (10 bits).
      const unsigned above2 = v << 1, above1 = v << 2, current = v;
      const unsigned beside2 = ((v >> 1) & 1) << 9 | (v & 1);
      const unsigned beside1 = ((v >> 4) & 3) << 10 | ((v >> 2) & 3);
      const unsigned beside0 = ((v >> 6) & 3) << 8;
      t.above2[v][i] = static_cast<uint16_t>(((above2 >> (7 - i)) & 0x7) << 7);
      t.above1[v][i] = static_cast<uint16_t>(((above1 >> (7 - i)) & 0x1F) << 2);
      t.current[v][i] =
          static_cast<uint16_t>(((current >> (8 - i)) & 0x3) | ((current >> (7 - i)) & 1) << 10);
      t.beside[v][i] =
          static_cast<uint16_t>(((beside2 >> (7 - i)) & 0x7) << 7 |
                                ((beside1 >> (7 - i)) & 0x1F) << 2 | ((beside0 >> (8 - i)) & 0x3));
    }
  }
  return t;
}

constexpr CodeTables kCodeTables = MakeCodeTables();

typedef uint16_t EightCodes __attribute__((vector_size(16)));

inline EightCodes Entry(const uint16_t (&e)[8]) {
  EightCodes v;
  memcpy(&v, e, sizeof v);
  return v;
}

constexpr uint64_t kLowBit = 0x0101010101010101u;
constexpr uint64_t kLowTwoBits = 0x0303030303030303u;

// The codes of the 64 pixels from byte k of the rows.
void BlockCodes(const BYTE *r2, const BYTE *r1, const BYTE *r0, size_t k, uint16_t *codes) {
  const BYTE *p2 = r2 + k, *p1 = r1 + k, *p0 = r0 + k;
  const uint64_t w2 = Load64(p2), w1 = Load64(p1), w0 = Load64(p0);
  // The bytes before and after each byte, in its place.
  const uint64_t before2 = (w2 >> 8) | (uint64_t{p2[-1]} << 56);
  const uint64_t after2 = (w2 << 8) | p2[8];
  const uint64_t before1 = (w1 >> 8) | (uint64_t{p1[-1]} << 56);
  const uint64_t after1 = (w1 << 8) | p1[8];
  const uint64_t before0 = (w0 >> 8) | (uint64_t{p0[-1]} << 56);
  const uint64_t beside = ((after2 >> 7) & kLowBit) | ((before2 & kLowBit) << 1) |
                          (((after1 >> 6) & kLowTwoBits) << 2) | ((before1 & kLowTwoBits) << 4) |
                          ((before0 & kLowTwoBits) << 6);
  for (unsigned j = 0; j < 8; ++j) {
    const unsigned shift = 56 - 8 * j;
    const EightCodes v = Entry(kCodeTables.above2[(w2 >> shift) & 0xFF]) |
                         Entry(kCodeTables.above1[(w1 >> shift) & 0xFF]) |
                         Entry(kCodeTables.current[(w0 >> shift) & 0xFF]) |
                         Entry(kCodeTables.beside[(beside >> shift) & 0xFF]);
    memcpy(codes + 8 * j, &v, sizeof v);
  }
}

// The pixels of a padded row's 64-pixel word at byte k and of the words beside it.
struct Word3 {
  uint64_t before, here, after;
};

inline Word3 WordsAt(const BYTE *row, size_t k) {
  const BYTE *p = row + k;
  return {Load64(p - 8), Load64(p), Load64(p + 8)};
}

// Set where a pixel within one (Spread1) or two (Spread2) pixels is set.
inline uint64_t Spread1(const Word3 &w) {
  return w.here | (w.here >> 1) | (w.before << 63) | (w.here << 1) | (w.after >> 63);
}
inline uint64_t Spread2(const Word3 &w) {
  return Spread1(w) | (w.here >> 2) | (w.before << 62) | (w.here << 2) | (w.after >> 62);
}

// Bit 63 - i is set where pixel i of the 64-pixel word at byte k of row y cannot
// be in a white run: it is black or its template holds a black pixel.
inline uint64_t WhiteRunBlockers(const BYTE *r2, const BYTE *r1, const BYTE *r0, size_t k) {
  return Spread1(WordsAt(r2, k)) | Spread2(WordsAt(r1, k)) | Load64(r0 + k);
}

// Length of the run of pixels from x on (before `width`) that are white and whose
// templates are all white.
uint64_t WhiteRun(const BYTE *r2, const BYTE *r1, const BYTE *r0, uint64_t x, uint64_t width) {
  uint64_t word = x >> 6;
  uint64_t blockers = WhiteRunBlockers(r2, r1, r0, static_cast<size_t>(word * 8)) << (x & 63);
  uint64_t p = x;
  if (blockers == 0) {
    for (p = (word + 1) * 64; p < width; p += 64) {
      blockers = WhiteRunBlockers(r2, r1, r0, static_cast<size_t>(p >> 3));
      if (blockers != 0) break;
    }
  }
  if (blockers != 0) p += static_cast<uint64_t>(std::countl_zero(blockers));
  return std::min(p, width) - x;
}

// Codes the pixels of `code` up to `end`.
[[gnu::noinline]] void EncodeCodes(const uint16_t *code, const uint16_t *end, Registers *regs,
                                   ContextStates *cs, ByteSink *sink) {
  Registers r = *regs;
  const uint16_t *take = cs->take;
  while (code < end) {
    // Most decisions are the more probable symbol and leave A at 0x8000 or more:
    // they only take Qe off A.  A less probable symbol takes off 0x8000 more and
    // so fails this test too.  The inner loop holds nothing but A.
    uint32_t a = r.a;
    for (; code < end; ++code) {
      const int32_t left = static_cast<int32_t>(a - take[*code]);
      if (left < 0x8000) break;
      a = static_cast<uint32_t>(left);
    }
    r.a = a;
    if (code == end) break;
    const unsigned c = *code++;
    EncodeRenormalising(r, *cs, c & 0x3FF, c >> 10, *sink);
  }
  *regs = r;
}

// Codes every pixel of row y (r0), with rows y-1 (r1) and y-2 (r2) above it,
// 64 pixels at a time.  Runs of four or more white pixels with all-white
// templates are coded at once while white is context 0's more probable symbol.
void EncodeRow(Registers &r, ContextStates &cs, ByteSink &sink, const BYTE *r2, const BYTE *r1,
               const BYTE *r0, uint64_t width) {
  constexpr uint64_t kBlock = 64;
  alignas(16) uint16_t codes[kBlock];
  uint64_t x = 0;
  while (x < width) {
    const uint64_t x0 = x & ~(kBlock - 1);
    const size_t k = static_cast<size_t>(x0 >> 3);
    BlockCodes(r2, r1, r0, k, codes);
    // Where such runs start, bit 63 for the block's first pixel.  A run that
    // begins less than four pixels before the block's end is seen by the next
    // block.
    const uint64_t white = ~WhiteRunBlockers(r2, r1, r0, k);
    const Word3 w0 = WordsAt(r0, k);
    const uint64_t leftBlack =
        (w0.here >> 1) | (w0.before << 63) | (w0.here >> 2) | (w0.before << 62);
    const uint64_t starts = white & (white << 1) & (white << 2) & (white << 3) & ~leftBlack;
    const uint64_t n = std::min(kBlock, width - x0);
    uint64_t i = x - x0;
    x = x0 + n;
    while (i < n) {
      const uint64_t ahead = starts << i;
      const uint64_t stop =
          ahead == 0 ? n : std::min(n, i + static_cast<uint64_t>(std::countl_zero(ahead)));
      EncodeCodes(codes + i, codes + stop, &r, &cs, &sink);
      if (stop == n) break;
      if (cs.take[0] >= 0x8000) {
        // White is context 0's less probable symbol: one pixel at a time.
        EncodeCodes(codes + stop, codes + stop + 1, &r, &cs, &sink);
        i = stop + 1;
        continue;
      }
      const uint64_t run = WhiteRun(r2, r1, r0, x0 + stop, width);
      EncodeMpsRun(r, cs, 0, run, sink);
      i = stop + run;
      if (i >= n) x = x0 + i;  // the run leaves the block
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

  ContextStates cs;
  for (unsigned cx = 0; cx < kContexts; ++cx) SetState(cs, cx, 0);
  Registers r = {0x10000, 0, 11};
  ByteSink sink{out};
  bool previousTypical = false;  // before the first row: not typical
  for (uint32_t y = 0; y < height && !sink.failed; ++y) {
    const BYTE *row = bits + static_cast<size_t>(y) * linebyte;
    // Typical: equal to the row above, the padding bits aside.
    bool typical = memcmp(row, above1, linebyte - 1) == 0 &&
                   ((row[linebyte - 1] ^ above1[linebyte - 1]) & lastMask) == 0;
    Encode(r, cs, kTpbContext, typical == previousTypical ? 1 : 0, sink);
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
    EncodeRow(r, cs, sink, above2, above1, current, width);
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
