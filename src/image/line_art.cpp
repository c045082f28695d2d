#include "image/line_art.h"

#include <cstdlib>
#include <memory>

#include "image/bit_pack.h"
#include "image/cpu_dispatch.h"
#include "image/halftone.h"
#include "page/page.h"
#include "runtime/debug_log.h"
#include "runtime/win_helpers.h"

// The edge kernel: a pixel darker than its eight neighbours responds positively,
// a flat area of any grey with 0.
const int FilterArray[9] = {2, 1, 2, 1, -12, 1, 2, 1, 2};

namespace {

constexpr int kLineArtThreshold = 220;
constexpr int kKernelWidth = 3;

// Geometry the 16-bit filter interfaces can take without truncation.
bool FitsWord(DWORD value) { return value != 0 && value <= 0xFFFF; }

// The kernel as the row filter takes it.  `narrow`: the divisor is 1 and no sum
// of nine 8-bit samples can leave the 16-bit range, so the sums may be formed in
// 16-bit lanes.
struct Kernel {
  int k[9];
  int64_t divisor;
  bool narrow;
  bool symmetric;  // one weight for the corners, one for the four sides
};

Kernel MakeKernel(const int *filterArray, int MatrixCount) {
  Kernel kernel{};
  int64_t reach = 0;
  for (int i = 0; i < 9; ++i) {
    kernel.k[i] = filterArray[i];
    reach += 255 * (filterArray[i] < 0 ? -static_cast<int64_t>(filterArray[i]) : filterArray[i]);
  }
  kernel.divisor = MatrixCount;
  kernel.narrow = MatrixCount == 1 && reach <= 32767;
  const int *k = filterArray;
  kernel.symmetric =
      k[0] == k[2] && k[0] == k[6] && k[0] == k[8] && k[1] == k[3] && k[1] == k[5] && k[1] == k[7];
  return kernel;
}

// One response: the nine neighbours are up/cur/down at offsets -l, 0, +r.
inline BYTE Response(const BYTE *up, const BYTE *cur, const BYTE *down, DWORD x, DWORD l, DWORD r,
                     const Kernel &kn) {
  const int *k = kn.k;
  int64_t sum = 0;
  sum += k[0] * up[x - l];
  sum += k[1] * up[x];
  sum += k[2] * up[x + r];
  sum += k[3] * cur[x - l];
  sum += k[4] * cur[x];
  sum += k[5] * cur[x + r];
  sum += k[6] * down[x - l];
  sum += k[7] * down[x];
  sum += k[8] * down[x + r];
  int64_t value = kn.divisor == 1 ? sum : sum / kn.divisor;
  if (value > 255) return 255;
  if (value < 0) return 0;
  return static_cast<BYTE>(value);
}

// Responses of the columns pixlen .. width - pixlen - 1, which have both
// neighbours, for a kernel whose sums fit 16 bits: the products and sums wrap
// in 16-bit arithmetic to the exact value, which the compiler can keep in
// 16-bit vector lanes.
ZELVAR_CLONES void NarrowInterior(const BYTE *up, const BYTE *cur, const BYTE *down, DWORD from,
                                  DWORD to, DWORD p, const Kernel &kn, BYTE *out) {
  const int16_t k0 = static_cast<int16_t>(kn.k[0]), k1 = static_cast<int16_t>(kn.k[1]),
                k2 = static_cast<int16_t>(kn.k[2]), k3 = static_cast<int16_t>(kn.k[3]),
                k4 = static_cast<int16_t>(kn.k[4]), k5 = static_cast<int16_t>(kn.k[5]),
                k6 = static_cast<int16_t>(kn.k[6]), k7 = static_cast<int16_t>(kn.k[7]),
                k8 = static_cast<int16_t>(kn.k[8]);
  // Left, centre and right samples of the three rows, from the first column on.
  const BYTE *ul = up + from - p, *uc = up + from, *ur = up + from + p;
  const BYTE *cl = cur + from - p, *cc = cur + from, *cr = cur + from + p;
  const BYTE *dl = down + from - p, *dc = down + from, *dr = down + from + p;
  BYTE *o = out + from;
  const size_t n = to - from;
  for (size_t i = 0; i < n; ++i) {
    const int16_t sum =
        static_cast<int16_t>(k0 * ul[i] + k1 * uc[i] + k2 * ur[i] + k3 * cl[i] + k4 * cc[i] +
                             k5 * cr[i] + k6 * dl[i] + k7 * dc[i] + k8 * dr[i]);
    const int16_t clamped = sum < 0 ? 0 : (sum > 255 ? 255 : sum);
    o[i] = static_cast<BYTE>(clamped);
  }
}

// One filtered row from its three source rows (the row above, the row, the row
// below), horizontal neighbours `pixlen` bytes away; the first and last pixlen
// columns stand in for their missing outer neighbour with the centre, and with
// pixlen 0 every column does.
void FilterRow(const BYTE *up, const BYTE *cur, const BYTE *down, DWORD width, DWORD pixlen,
               const Kernel &kn, BYTE *out) {
  if (pixlen == 0) {
    for (DWORD x = 0; x < width; ++x) out[x] = Response(up, cur, down, x, 0, 0, kn);
    return;
  }
  for (DWORD x = 0; x < pixlen; ++x) out[x] = Response(up, cur, down, x, 0, pixlen, kn);
  const DWORD interiorEnd = width - pixlen;
  if (kn.narrow) {
    NarrowInterior(up, cur, down, pixlen, interiorEnd, pixlen, kn, out);
  } else {
    for (DWORD x = pixlen; x < interiorEnd; ++x)
      out[x] = Response(up, cur, down, x, pixlen, pixlen, kn);
  }
  for (DWORD x = interiorEnd; x < width; ++x) out[x] = Response(up, cur, down, x, pixlen, 0, kn);
}

// The full bytes of one thresholded row: bit set for every pixel above
// `threshold`.  Output byte i is stored only after pixels 8i..8i+7 of its chunk
// have been read, so `out` may lie at or before `src` in the same buffer.
ZELVAR_CLONES void ThresholdRow(const BYTE *src, DWORD width, int threshold, BYTE *out) {
  // Thresholds outside the byte range compare the same as their nearest end.
  const int t = threshold < -1 ? -1 : (threshold > 255 ? 255 : threshold);
  constexpr DWORD kChunk = 128;
  BYTE flags[kChunk];
  const DWORD fullBytes = width / 8;
  DWORD x = 0;
  for (; x + kChunk <= fullBytes * 8; x += kChunk) {
    const BYTE *s = src + x;
    for (size_t i = 0; i < kChunk; ++i) flags[i] = s[i] > t ? 1 : 0;
    PackFlags(flags, kChunk, out + x / 8);
  }
  const DWORD rest = fullBytes * 8 - x;
  const BYTE *s = src + x;
  for (size_t i = 0; i < rest; ++i) flags[i] = s[i] > t ? 1 : 0;
  PackFlags(flags, rest, out + x / 8);
}

// Mask flags (1 where the response exceeds `t`, 0 <= t <= 254) of the columns
// from .. to - 1, which have both neighbours, for a narrow kernel of the shape
// {a b a, b c b, a b a}: three products per pixel, compared in 16-bit lanes
// without being stored.  For such a threshold the clamped response exceeds t
// exactly when the response itself does.
ZELVAR_CLONES void SymmetricMaskInterior(const BYTE *up, const BYTE *cur, const BYTE *down,
                                         DWORD from, DWORD to, DWORD p, const Kernel &kn, int t,
                                         BYTE *flags) {
  const int16_t corner = static_cast<int16_t>(kn.k[0]), side = static_cast<int16_t>(kn.k[1]),
                centre = static_cast<int16_t>(kn.k[4]);
  const int16_t limit = static_cast<int16_t>(t);
  const BYTE *ul = up + from - p, *uc = up + from, *ur = up + from + p;
  const BYTE *cl = cur + from - p, *cc = cur + from, *cr = cur + from + p;
  const BYTE *dl = down + from - p, *dc = down + from, *dr = down + from + p;
  BYTE *f = flags + from;
  const size_t n = to - from;
  for (size_t i = 0; i < n; ++i) {
    const int16_t corners = static_cast<int16_t>(ul[i] + ur[i] + dl[i] + dr[i]);
    const int16_t sides = static_cast<int16_t>(uc[i] + cl[i] + cr[i] + dc[i]);
    const int16_t sum = static_cast<int16_t>(corner * corners + side * sides + centre * cc[i]);
    f[i] = sum > limit ? 1 : 0;
  }
}

// Filter and threshold in one pass: mask row r (width / 8 bytes) from the
// response at rows r - 1, r, r + 1 of the 8-bit image (rows `stride` apart, the
// first and last row standing in for their missing neighbour), through one row
// of scratch.  The image is left untouched.
void BuildLineArtMask(const BYTE *image, DWORD stride, DWORD width, DWORD height, DWORD pixlen,
                      const Kernel &kn, int threshold, BYTE *scratch, BYTE *mask) {
  const DWORD maskBytes = width / 8;
  const bool fused = kn.narrow && kn.symmetric && pixlen != 0 && threshold >= 0 && threshold <= 254;
  for (DWORD r = 0; r < height; ++r) {
    const BYTE *cur = image + static_cast<size_t>(r) * stride;
    const BYTE *up = r == 0 ? cur : cur - stride;
    const BYTE *down = r + 1 == height ? cur : cur + stride;
    BYTE *out = mask + static_cast<size_t>(r) * maskBytes;
    if (!fused) {
      FilterRow(up, cur, down, width, pixlen, kn, scratch);
      ThresholdRow(scratch, width, threshold, out);
      continue;
    }
    // Flags straight from the sums; the edge columns through the plain response.
    for (DWORD x = 0; x < pixlen; ++x)
      scratch[x] = Response(up, cur, down, x, 0, pixlen, kn) > threshold ? 1 : 0;
    SymmetricMaskInterior(up, cur, down, pixlen, width - pixlen, pixlen, kn, threshold, scratch);
    for (DWORD x = width - pixlen; x < width; ++x)
      scratch[x] = Response(up, cur, down, x, pixlen, 0, kn) > threshold ? 1 : 0;
    PackFlags(scratch, maskBytes * 8, out);
  }
}

// A masked pixel becomes dark; every other pixel keeps its screen bit.
ZELVAR_CLONES void MergeLineArt(BYTE *screen, DWORD screenStride, const BYTE *mask, DWORD maskBytes,
                                DWORD height) {
  for (DWORD y = 0; y < height; ++y) {
    BYTE *s = screen + static_cast<size_t>(y) * screenStride;
    const BYTE *m = mask + static_cast<size_t>(y) * maskBytes;
    for (size_t i = 0; i < maskBytes; ++i) s[i] &= static_cast<BYTE>(~m[i]);
  }
}

// The filter's divisor: the kernel's sum, or 1 when that is not positive.
int KernelDivisor(const int *filterArray) {
  int MatrixCount = 0;
  for (int i = 0; i < kKernelWidth * kKernelWidth; ++i) MatrixCount += filterArray[i];
  return MatrixCount <= 0 ? 1 : MatrixCount;
}

// Horizontal neighbours are pixlen bytes away; 0 when every column stands in for
// both of its horizontal neighbours.
DWORD PixelStep(WORD bits, DWORD width) {
  DWORD pixlen = bits / 8;
  return pixlen == 0 || pixlen >= width ? 0 : pixlen;
}

}  // namespace

BOOL DoBorderQuality(Page *page) {
  const DWORD width = page->page_width;
  const DWORD height = page->page_height;
  BYTE *bitmap = page->lpbuf;
  const DWORD stride = page->linebyte;
  const DWORD BWlinebytes = width / 8;

  // The line-art mask, filtered and thresholded straight from the grey page into
  // rows of width / 8 bytes: the grey page itself is needed unchanged for the
  // screen.  Without it the page still gets the plain screen.
  std::unique_ptr<BYTE, GlobalFreeDeleter> mask;
  std::unique_ptr<BYTE, GlobalFreeDeleter> scratch;
  if (bitmap != nullptr && FitsWord(width) && FitsWord(height) && width <= stride) {
    mask.reset(static_cast<BYTE *>(GlobalAlloc(0, static_cast<int64_t>(BWlinebytes) * height + 1)));
    scratch.reset(static_cast<BYTE *>(GlobalAlloc(0, width)));
  }
  if (mask && scratch) {
    const Kernel kernel = MakeKernel(FilterArray, KernelDivisor(FilterArray));
    BuildLineArtMask(bitmap, stride, width, height, PixelStep(8, width), kernel, kLineArtThreshold,
                     scratch.get(), mask.get());
  } else {
    mask.reset();
    DbgMsg("DoBorderQuality::page %u of %ux%u pixels: no line-art mask, screen without line art",
           page->PageIndex, width, height);
  }
  scratch.reset();

  BOOL rc = ApplyHalftone(page);
  if (rc && mask)
    MergeLineArt(bitmap, page->linebyte, mask.get(), BWlinebytes, height);
  else
    rc = FALSE;
  return rc;
}
