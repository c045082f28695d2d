#include "image/line_art.h"

#include <cstdlib>
#include <memory>

#include "driver/job_state.h"
#include "image/halftone.h"
#include "runtime/debug_log.h"
#include "runtime/win_helpers.h"

// The edge kernel: a pixel darker than its eight neighbours responds positively,
// a flat area of any grey with 0.
const int FilterArray[9] = {2, 1, 2, 1, -12, 1, 2, 1, 2};

namespace {

constexpr int kLineArtThreshold = 220;
constexpr int kKernelWidth = 3;

struct FreeDeleter {
  void operator()(void *p) const { GlobalFree(p); }
};

// Geometry the 16-bit filter interfaces can take without truncation.
bool FitsWord(DWORD value) { return value != 0 && value <= 0xFFFF; }

// One response: the nine neighbours are up/cur/down at offsets -l, 0, +r.
inline BYTE Response(const BYTE *up, const BYTE *cur, const BYTE *down, DWORD x, DWORD l, DWORD r,
                     const int *k, int64_t divisor) {
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
  int64_t value = divisor == 1 ? sum : sum / divisor;
  if (value > 255) return 255;
  if (value < 0) return 0;
  return static_cast<BYTE>(value);
}

}  // namespace

WORD ApplyFilter3x3(JobInfo *lpJob, BYTE *lpbuf, WORD bits, const int *filterArray,
                    short filterArrayWidth) {
  const DWORD start = GetTickCount();
  const DWORD pageWidth = lpJob->page_width;
  const DWORD pageHeight = lpJob->page_height;
  DbgMsg("ApplyFilter3x3 In, width = %u, height = %u, lines = %u, bits = %d, ArrayWidth = %d",
         pageWidth, pageHeight, pageHeight, bits, filterArrayWidth);
  if (lpbuf == nullptr || !FitsWord(pageWidth) || !FitsWord(pageHeight)) {
    DbgMsg("ApplyFilter3x3::image of %ux%u cannot be filtered", pageWidth, pageHeight);
    return 0;
  }
  const WORD width = static_cast<WORD>(pageWidth);
  const WORD height = static_cast<WORD>(pageHeight);

  // The kernel is always 3 x 3.
  int MatrixCount = 0;
  for (int i = 0; i < kKernelWidth * kKernelWidth; ++i) {
    MatrixCount += filterArray[i];
    DbgMsg("ApplyFilter3x3::Matrix[i][j] = %d", filterArray[i]);
    DbgMsg("ApplyFilter3x3::filterArray = %d", filterArray[i]);
  }
  if (MatrixCount <= 0) MatrixCount = 1;
  DbgMsg("ApplyFilter3x3::MatrixCount = %d", MatrixCount);

  // Horizontal neighbours are pixlen bytes away; the first and last pixel of a
  // row stand in for their missing outer neighbour.
  DWORD pixlen = bits / 8;
  if (pixlen == 0 || pixlen >= width) pixlen = 0;

  // Working copy with one extra row above and below: copies of the first and
  // last row, so the loop needs no test for the upper and lower edge.
  DbgMsg("ApplyFilter3x3::Allocate s_imgbuf");
  const size_t bufsize = static_cast<size_t>(width) * (height + 2);
  std::unique_ptr<BYTE, FreeDeleter> s_imgbuf(
      static_cast<BYTE *>(GlobalAlloc(0, static_cast<int64_t>(bufsize))));
  DbgMsg("ApplyFilter3x3::bufsize = %zu", bufsize);
  if (!s_imgbuf) return 0;
  BYTE *work = s_imgbuf.get();
  DbgMsg("ApplyFilter3x3::First Block");
  DbgMsg("ApplyFilter3x3::HelfKeepMatrixLines = %d, line_bytes = %d, lines = %d", 1, width, height);
  CopyMemory(work + width, lpbuf, static_cast<DWORD>(width) * height);
  CopyMemory(work, lpbuf, width);
  DbgMsg("ApplyFilter3x3::Last Block");
  CopyMemory(work + static_cast<size_t>(height + 1) * width,
             lpbuf + static_cast<size_t>(height - 1) * width, width);
  DbgMsg("ApplyFilter3x3::HelfKeepMatrixLines = %d, lines = %d", 1, height + 1);

  const DWORD last = width - 1u;
  for (DWORD r = 0; r < height; ++r) {
    const BYTE *up = work + static_cast<size_t>(r) * width;
    const BYTE *cur = up + width;
    const BYTE *down = cur + width;
    BYTE *out = lpbuf + static_cast<size_t>(r) * width;
    if (pixlen == 0) {
      for (DWORD x = 0; x < width; ++x)
        out[x] = Response(up, cur, down, x, 0, 0, filterArray, MatrixCount);
      continue;
    }
    for (DWORD x = 0; x < pixlen; ++x)
      out[x] = Response(up, cur, down, x, 0, pixlen, filterArray, MatrixCount);
    for (DWORD x = pixlen; x + pixlen <= last; ++x)
      out[x] = Response(up, cur, down, x, pixlen, pixlen, filterArray, MatrixCount);
    for (DWORD x = width - pixlen; x < width; ++x)
      out[x] = Response(up, cur, down, x, pixlen, 0, filterArray, MatrixCount);
  }
  DbgMsg("ApplyFilter3x3::Final Copy Memory");
  DbgMsg("ApplyFilter3x3 Out, Tick = %u", GetTickCount() - start);
  return height;
}

void GrayToLineart(JobInfo *lpJob, BYTE *lpbuf, int threshold) {
  const DWORD start = GetTickCount();
  const DWORD width = lpJob->page_width;
  const DWORD height = lpJob->page_height;
  const DWORD linebytes = width / 8;
  DbgMsg("GrayToLineart In, threshold = %d", threshold);
  if (lpbuf == nullptr || !FitsWord(width) || !FitsWord(height)) {
    DbgMsg("GrayToLineart Out, Tick = %u", GetTickCount() - start);
    return;
  }
  // Packed in place, rows in ascending order: 1-bit byte i of row y is stored
  // after pixels 8i..8i+7 of that row have been read, and lies at or before them.
  for (DWORD y = 0; y < height; ++y) {
    const BYTE *src = lpbuf + static_cast<size_t>(y) * width;
    BYTE *dst = lpbuf + static_cast<size_t>(y) * linebytes;
    for (DWORD i = 0; i < linebytes; ++i) {
      const BYTE *s = src + 8 * i;
      BYTE v = 0;
      for (int b = 0; b < 8; ++b) v = static_cast<BYTE>((v << 1) | (s[b] > threshold ? 1 : 0));
      dst[i] = v;
    }
  }
  DbgMsg("GrayToLineart Out, Tick = %u", GetTickCount() - start);
}

BOOL DoBorderQuality(JobInfo *lpJob) {
  const DWORD start = GetTickCount();
  const DWORD width = lpJob->page_width;
  const DWORD height = lpJob->page_height;
  DbgMsg("DoBorderQuality In, imgWidth = %u, imgHeight = %u", width, height);
  BYTE *bitmap = SlotBitmap(lpJob);
  const DWORD stride = lpJob->linebyte;

  // The line-art mask: the grey page filtered and thresholded in a copy of its own.
  // Without it the page still gets the plain screen.
  std::unique_ptr<BYTE, FreeDeleter> mask;
  if (bitmap != nullptr && width != 0 && width <= stride)
    mask.reset(static_cast<BYTE *>(GlobalAlloc(0, static_cast<int64_t>(width) * height)));
  if (mask) {
    DbgMsg("DoBorderQuality::Copy Image Data");
    for (DWORD y = 0; y < height; ++y)
      CopyMemory(mask.get() + static_cast<size_t>(y) * width,
                 bitmap + static_cast<size_t>(y) * stride, width);
    DbgMsg("DoBorderQuality::Apply Filter");
    if (ApplyFilter3x3(lpJob, mask.get(), 8, FilterArray, kKernelWidth) == 0) {
      DbgMsg("DoBorderQuality::filter could not run, screen without line art");
      mask.reset();
    } else {
      DbgMsg("DoBorderQuality::Convert to Lineart");
      GrayToLineart(lpJob, mask.get(), kLineArtThreshold);
    }
  } else {
    DbgMsg("DoBorderQuality::no line-art mask, screen without line art");
  }

  BOOL rc = ApplyHalftone(lpJob);
  if (rc && mask) {
    // A masked pixel becomes dark; every other pixel keeps its screen bit.
    DbgMsg("DoBorderQuality::Merge Halftone and Filter");
    const DWORD BWlinebytes = width / 8;
    const DWORD screenStride = lpJob->linebyte;
    DbgMsg("DoBorderQuality::BWlinebytes = %u", BWlinebytes);
    DbgMsg("DoBorderQuality::lpJob->page_height = %u", height);
    DbgMsg("DoBorderQuality::bufsize = %u", BWlinebytes * height);
    for (DWORD y = 0; y < height; ++y) {
      BYTE *screen = bitmap + static_cast<size_t>(y) * screenStride;
      const BYTE *m = mask.get() + static_cast<size_t>(y) * BWlinebytes;
      for (DWORD i = 0; i < BWlinebytes; ++i) screen[i] &= static_cast<BYTE>(~m[i]);
    }
  } else {
    rc = FALSE;
  }
  DbgMsg("DoBorderQuality Out, using %f sec, rc = %d", (GetTickCount() - start) / 1000.0, rc);
  return rc;
}
