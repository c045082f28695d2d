#include "image/crop_scale.h"

#include <cstdlib>
#include <memory>

#include "image/cpu_dispatch.h"
#include "page/page.h"
#include "runtime/debug_log.h"
#include "runtime/page_settings.h"
#include "runtime/win_helpers.h"

namespace {

constexpr BYTE kWhite = 255;

// Bytes per pixel for a depth: whole bytes, at least one.
DWORD PixelBytesFor(WORD colorbits) { return colorbits >= 8 ? colorbits / 8 : 1; }

// Copies the window of `width` x `rows` pixels at (xMargin, firstRow) of rows
// `stride` bytes apart to consecutive rows of `width` bytes at `dest`, in place:
// every source byte lies at or after its destination, so rows go in ascending
// order, front to back.
void CopyWindow(BYTE *bitmap, DWORD stride, DWORD firstRow, DWORD xMargin, DWORD width, DWORD rows,
                BYTE *dest) {
  for (DWORD r = 0; r < rows; ++r)
    MoveMemory(dest + static_cast<size_t>(r) * width,
               bitmap + static_cast<size_t>(firstRow + r) * stride + xMargin, width);
}

void CropPage(BYTE *bitmap, DWORD stride, DWORD pageWidth, DWORD planeRows, bool twoColour,
              DWORD width, DWORD height) {
  const DWORD xMargin = (pageWidth - width) / 2;
  const DWORD yMargin = (planeRows - height) / 2;
  CopyWindow(bitmap, stride, yMargin, xMargin, width, height, bitmap);
  if (twoColour)
    CopyWindow(bitmap, stride, planeRows + yMargin, xMargin, width, height,
               bitmap + static_cast<size_t>(height) * width);
}

// Scales each plane of `planeRows` rows into `height` rows of `width` bytes at the
// start of the bitmap.  False (the bitmap untouched) when the scratch target or
// the scaler's tables cannot be had.
bool ScalePage(const Page *lpJob, BYTE *bitmap, DWORD stride, DWORD planeRows, bool twoColour,
               DWORD width, DWORD height) {
  const cups_page_header2_t &h = lpJob->inheader;
  // The factor is taken to the content size, not to the padded bitmap.
  const float xRatio = static_cast<float>(width) / static_cast<float>(h.cupsWidth);
  const float yRatio = static_cast<float>(height) / static_cast<float>(h.cupsHeight);
  DbgMsg("ImageCrop::page %u scaled by %f x %f", lpJob->PageIndex, static_cast<double>(xRatio),
         static_cast<double>(yRatio));
  const int Xratio = static_cast<int>(xRatio * 1000.0f);
  const int Yratio = static_cast<int>(yRatio * 1000.0f);

  // Each plane yields ScaledRows rows; the next plane's rows start at `height`,
  // so the scratch target holds height rows per plane before the last and
  // max(height, ScaledRows) for the last.
  const DWORD produced = ScaledRows(planeRows, Yratio);
  const DWORD lastPlaneRows = produced > height ? produced : height;
  const uint64_t scratchRows = (twoColour ? height : 0) + static_cast<uint64_t>(lastPlaneRows);
  std::unique_ptr<BYTE, GlobalFreeDeleter> scratch(
      static_cast<BYTE *>(GlobalAlloc(0, static_cast<int64_t>(scratchRows * width))));
  if (!scratch) {
    DbgMsg("ImageCrop::no memory for a scaled page of %ux%llu pixels", width,
           static_cast<unsigned long long>(scratchRows));
    return false;
  }

  const DWORD planes = twoColour ? 2 : 1;
  for (DWORD p = 0; p < planes; ++p) {
    BYTE *source = bitmap + static_cast<size_t>(p) * planeRows * stride;
    BYTE *target = scratch.get() + static_cast<size_t>(p) * height * width;
    long rows = ScaleImage(source, stride, planeRows, planeRows, target, width, Xratio, Yratio, 8);
    if (rows <= 0) {
      DbgMsg("ImageCrop::scaling could not run, page left as it is");
      return false;
    }
    // Rows the scaler did not reach are white.
    if (static_cast<DWORD>(rows) < height)
      FillMemory(target + static_cast<size_t>(rows) * width,
                 (height - static_cast<DWORD>(rows)) * width, kWhite);
  }
  CopyMemory(bitmap, scratch.get(), planes * height * width);
  return true;
}

// The target sample from its four source samples and weights: each partial sum
// is truncated before the next term is added, and the bias is added last.  The
// bias makes up for what the truncations lose; a sum that is 0 lost nothing worth
// a grey level, so black stays black (with the bias, solid black reached the
// screen as 2 and printed with holes under the steeper tone curves).
inline BYTE Bilinear(BYTE upperRight, BYTE lowerRight, BYTE upperLeft, BYTE lowerLeft,
                     float wUpperRight, float wLowerRight, float wUpperLeft, float wLowerLeft) {
  const int p1 = static_cast<int>(static_cast<float>(upperRight) * wUpperRight);
  const int p2 =
      static_cast<int>(static_cast<float>(p1) + static_cast<float>(lowerRight) * wLowerRight);
  const int p3 =
      static_cast<int>(static_cast<float>(p2) + static_cast<float>(upperLeft) * wUpperLeft);
  const int p4 =
      static_cast<int>(static_cast<float>(p3) + static_cast<float>(lowerLeft) * wLowerLeft);
  if (p4 == 0) return 0;
  const int v = static_cast<int>(static_cast<float>(p4) + 2.99f);
  return v >= 255 ? kWhite : static_cast<BYTE>(v);
}

// One target row of pixels of any whole number of bytes, from the upper source
// row S1 and the lower S2 (fractions ry above, fy below).
void ScaleRow(const BYTE *S1, const BYTE *S2, float ry, float fy, DWORD trgWidth, DWORD PixelBytes,
              const DWORD *tmp3, const DWORD *tmp4, const float *fx, const float *remd, BYTE *out) {
  for (DWORD j = 0; j < trgWidth; ++j) {
    const DWORD L = tmp3[j], R = tmp4[j];
    const float wUpperRight = ry * fx[j], wLowerRight = fx[j] * fy;
    const float wUpperLeft = ry * remd[j], wLowerLeft = remd[j] * fy;
    for (DWORD k = 0; k < PixelBytes; ++k)
      out[j * PixelBytes + k] = Bilinear(S1[R + k], S2[R + k], S1[L + k], S2[L + k], wUpperRight,
                                         wLowerRight, wUpperLeft, wLowerLeft);
  }
}

// The same for one byte per pixel: the source samples of the row are gathered
// first into `samples` (four rows of trgWidth bytes), so that the arithmetic runs
// over consecutive columns, several at a time.
ZELVAR_CLONES void ScaleRowOneByte(const BYTE *S1, const BYTE *S2, float ry, float fy,
                                   DWORD trgWidth, const DWORD *tmp3, const DWORD *tmp4,
                                   const float *fx, const float *remd, BYTE *samples, BYTE *out) {
  const size_t n = trgWidth;
  BYTE *upperRight = samples, *lowerRight = samples + n;
  BYTE *upperLeft = samples + 2 * n, *lowerLeft = samples + 3 * n;
  for (size_t j = 0; j < n; ++j) {
    upperRight[j] = S1[tmp4[j]];
    lowerRight[j] = S2[tmp4[j]];
    upperLeft[j] = S1[tmp3[j]];
    lowerLeft[j] = S2[tmp3[j]];
  }
  for (size_t j = 0; j < n; ++j)
    out[j] = Bilinear(upperRight[j], lowerRight[j], upperLeft[j], lowerLeft[j], ry * fx[j],
                      fx[j] * fy, ry * remd[j], remd[j] * fy);
}

}  // namespace

DWORD ScaledRows(DWORD lines, int Yratio) {
  const float Yrate = static_cast<float>(Yratio) / 1000.0f;
  const float rows = static_cast<float>(lines) * Yrate;
  if (!(rows > 0.0f)) return 0;
  return rows >= 4294967295.0f ? 0xFFFFFFFFu : static_cast<DWORD>(rows);
}

BOOL ImageCrop(Page *lpJob) {
  const cups_page_header2_t &h = lpJob->inheader;
  BYTE *bitmap = lpJob->lpbuf;
  const PageSettings settings = PageSettingsOf(h);
  const bool twoColour = settings.twoColour;
  const DWORD pageWidth = lpJob->page_width;
  const DWORD stride = lpJob->linebyte;
  const DWORD planeRows = twoColour ? lpJob->page_height / 2 : lpJob->page_height;
  const DWORD planes = twoColour ? 2 : 1;

  // Both paths cut or shrink into the bitmap's own buffer: the printable area must
  // lie inside each plane of a bitmap whose rows lie inside the buffer.  Any other
  // page keeps its padded size.
  const bool bitmapSound = bitmap != nullptr && pageWidth <= stride &&
                           static_cast<uint64_t>(stride) * planeRows * planes <= lpJob->pagesize;
  if (!bitmapSound) {
    DbgMsg("ImageCrop::page %u: the bitmap does not hold %ux%u pixels, page left as it is",
           lpJob->PageIndex, pageWidth, planeRows);
    return TRUE;
  }
  DWORD width = 0, height = 0;
  if (FitToPrintableArea(h, pageWidth, planeRows, &width, &height) != PageFit::kPrintable)
    return TRUE;
  DbgMsg("ImageCrop::page %u fitted to %ux%u pixels", lpJob->PageIndex, width, height);

  if (settings.scaleToFit) {
    // The scale factor is taken to the content size the padded bitmap was made
    // from; a page without it, or one the scaler cannot take, keeps its padded
    // size like any other page that cannot be fitted.
    const bool contentKnown = h.cupsWidth != 0 && h.cupsHeight != 0 && h.cupsWidth <= pageWidth &&
                              pageWidth - h.cupsWidth < 32 && h.cupsHeight <= planeRows &&
                              planeRows - h.cupsHeight < 32;
    if (!contentKnown) {
      DbgMsg("ImageCrop::content size %ux%u does not match the bitmap, page left as it is",
             h.cupsWidth, h.cupsHeight);
      return TRUE;
    }
    if (!ScalePage(lpJob, bitmap, stride, planeRows, twoColour, width, height)) return FALSE;
  } else {
    CropPage(bitmap, stride, pageWidth, planeRows, twoColour, width, height);
  }

  lpJob->page_width = width;
  lpJob->page_height = height * planes;
  lpJob->linebyte = width;
  return TRUE;
}

long ScaleImage(BYTE *srclpbuf, DWORD srcWidth, DWORD srcHigh, DWORD lines, BYTE *trglpbuf,
                DWORD trgWidth, int Xratio, int Yratio, WORD colorbits) {
  const DWORD PixelBytes = PixelBytesFor(colorbits);
  if (srclpbuf == nullptr || trglpbuf == nullptr) return 0;
  const float Xrate = static_cast<float>(Xratio) / 1000.0f;
  const float Yrate = static_cast<float>(Yratio) / 1000.0f;
  // Rows beyond the source cannot be scaled.
  if (lines > srcHigh) lines = srcHigh;
  if (srcWidth == 0 || srcHigh == 0 || lines == 0 || trgWidth == 0 || Xratio <= 0 || Yratio <= 0) {
    DbgMsg("ScaleImage::%u rows of %u pixels (of %u) cannot be scaled by %d x %d thousandths",
           lines, srcWidth, srcHigh, Xratio, Yratio);
    return 0;
  }

  const DWORD trgHigh = ScaledRows(lines, Yratio);
  const double rowEntries = static_cast<double>(static_cast<float>(srcHigh) * Yrate) + 150.0;
  DWORD rowCount = rowEntries >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<DWORD>(rowEntries);
  if (rowCount < trgHigh) rowCount = trgHigh;
  // The eight tables in one block: four per target column, four per table row,
  // every entry four bytes wide.
  static_assert(sizeof(float) == sizeof(DWORD));
  // After them, one row of the four source samples of every target column.
  const uint64_t entries =
      4 * static_cast<uint64_t>(trgWidth) + 4 * static_cast<uint64_t>(rowCount) + trgWidth;
  std::unique_ptr<DWORD, GlobalFreeDeleter> block(
      static_cast<DWORD *>(GlobalAlloc(0, static_cast<int64_t>(entries * sizeof(DWORD)))));
  if (!block) {
    DbgMsg("ScaleImage::no memory for the tables of %llu entries",
           static_cast<unsigned long long>(entries));
    return 0;
  }
  float *m_scale_fx = reinterpret_cast<float *>(block.get());
  float *m_scale_remd = m_scale_fx + trgWidth;
  DWORD *m_scale_tmp3 = reinterpret_cast<DWORD *>(m_scale_remd + trgWidth);
  DWORD *m_scale_tmp4 = m_scale_tmp3 + trgWidth;
  DWORD *m_scale_iy = m_scale_tmp4 + trgWidth;
  DWORD *m_scale_nextline = m_scale_iy + rowCount;
  float *m_scale_fy = reinterpret_cast<float *>(m_scale_nextline + rowCount);
  float *m_scale_ry = m_scale_fy + rowCount;
  BYTE *samples = reinterpret_cast<BYTE *>(m_scale_ry + rowCount);

  // Columns.  A position clamped to the last source column has fraction 0, and its
  // right-hand pixel, which then carries no weight, is the last pixel itself.
  const float ox = Xrate > 1.0f ? 0.0f : 1.0f - Xrate;
  const float lastColumn = static_cast<float>(srcWidth - 1);
  const DWORD lastOffset = (srcWidth - 1) * PixelBytes;
  for (DWORD j = 0; j < trgWidth; ++j) {
    float x = static_cast<float>(j) / Xrate + ox;
    if (x > lastColumn) x = lastColumn;
    const DWORD ix = static_cast<DWORD>(x);
    m_scale_fx[j] = x - static_cast<float>(ix);
    m_scale_remd[j] = 1.0f - m_scale_fx[j];
    m_scale_tmp3[j] = ix * PixelBytes;
    const DWORD right = m_scale_tmp3[j] + PixelBytes;
    m_scale_tmp4[j] = right > lastOffset ? lastOffset : right;
  }

  // Rows.  The upper row never lies beyond the source (the factor keeps it inside
  // for every produced row; the bound only guards against rounding).
  const float oy = Yrate > 1.0f ? 0.0f : 1.0f - Yrate;
  for (DWORD i = 0; i < rowCount; ++i) {
    const float y = static_cast<float>(i) / Yrate + oy;
    DWORD iy = static_cast<DWORD>(y);
    m_scale_fy[i] = y - static_cast<float>(iy);
    m_scale_ry[i] = 1.0f - m_scale_fy[i];
    if (iy > srcHigh - 1) iy = srcHigh - 1;
    m_scale_iy[i] = iy;
    DWORD next = iy + 1;
    if (next > srcHigh - 1) next = srcHigh - 1;
    m_scale_nextline[i] = next;
  }

  const size_t srcBytesPerLine = static_cast<size_t>(srcWidth) * PixelBytes;
  const size_t trgBytesPerLine = static_cast<size_t>(trgWidth) * PixelBytes;
  for (DWORD i = 0; i < trgHigh; ++i) {
    const BYTE *S1 = srclpbuf + m_scale_iy[i] * srcBytesPerLine;
    const BYTE *S2 = srclpbuf + m_scale_nextline[i] * srcBytesPerLine;
    BYTE *out = trglpbuf + i * trgBytesPerLine;
    if (PixelBytes == 1)
      ScaleRowOneByte(S1, S2, m_scale_ry[i], m_scale_fy[i], trgWidth, m_scale_tmp3, m_scale_tmp4,
                      m_scale_fx, m_scale_remd, samples, out);
    else
      ScaleRow(S1, S2, m_scale_ry[i], m_scale_fy[i], trgWidth, PixelBytes, m_scale_tmp3,
               m_scale_tmp4, m_scale_fx, m_scale_remd, out);
  }
  DbgMsg("ScaleImage::%u rows of %u pixels scaled to %u rows of %u", lines, srcWidth, trgHigh,
         trgWidth);
  return static_cast<long>(trgHigh);
}
