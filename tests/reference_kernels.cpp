#include "reference_kernels.h"

#include <algorithm>

#include "image/tone_curve.h"
#include "image_slot.h"

namespace reference {

namespace {

BYTE Grey(const BYTE *p) {
  return static_cast<BYTE>((30 * p[0] + 53 * p[1] + 17 * p[2] + 1) / 100);
}

BYTE ReversedBits(BYTE v) {
  BYTE r = 0;
  for (int b = 0; b < 8; ++b)
    if (v & (1 << b)) r |= static_cast<BYTE>(0x80 >> b);
  return r;
}

int PopCount(BYTE v) {
  int n = 0;
  for (; v; v &= static_cast<BYTE>(v - 1)) ++n;
  return n;
}

}  // namespace

Bytes ConvertRgbLine(const BYTE *line, DWORD width) {
  Bytes row(width);
  for (DWORD x = 0; x < width; ++x) row[x] = Grey(line + 3 * x);
  return row;
}

void SplitRedLine(const BYTE *line, DWORD bytesPerLine, DWORD width, DWORD twinColorDiff,
                  Bytes *blackRow, Bytes *redRow) {
  Bytes redbuf(bytesPerLine, 255), blackbuf(bytesPerLine, 255);
  for (DWORD i = 0; i + 2 < bytesPerLine; i += 3) {
    DWORD r = line[i], g = line[i + 1], b = line[i + 2];
    DWORD d = r > twinColorDiff ? r - twinColorDiff : 0;
    if (d > g && d > b && r > 150) {
      redbuf[i] = redbuf[i + 1] = redbuf[i + 2] = 0;
    } else {
      blackbuf[i] = static_cast<BYTE>(r);
      blackbuf[i + 1] = static_cast<BYTE>(g);
      blackbuf[i + 2] = static_cast<BYTE>(b);
    }
  }
  for (DWORD x = 0; x < width; ++x) {
    blackRow->push_back(Grey(&blackbuf[3 * x]));
    redRow->push_back(redbuf[3 * x]);
  }
}

Bytes ApplyFilter3x3(const Bytes &image, DWORD width, DWORD height, const int *kernel,
                     DWORD pixlen) {
  int count = 0;
  for (int i = 0; i < 9; ++i) count += kernel[i];
  if (count <= 0) count = 1;
  Bytes work(static_cast<size_t>(width) * (height + 2));
  std::copy(image.begin(), image.begin() + width, work.begin());
  std::copy(image.begin(), image.end(), work.begin() + width);
  std::copy(image.end() - width, image.end(), work.end() - width);
  Bytes out(image.size());
  for (DWORD r = 0; r < height; ++r)
    for (DWORD x = 0; x < width; ++x) {
      const DWORD left = pixlen == 0 || x < pixlen ? x : x - pixlen;
      const DWORD right = pixlen == 0 || x + pixlen >= width ? x : x + pixlen;
      const DWORD cols[3] = {left, x, right};
      int64_t sum = 0;
      for (int dy = 0; dy < 3; ++dy)
        for (int dx = 0; dx < 3; ++dx)
          sum += static_cast<int64_t>(kernel[dy * 3 + dx] * work[(r + dy) * width + cols[dx]]);
      int64_t value = sum / count;
      out[r * width + x] = static_cast<BYTE>(value > 255 ? 255 : value < 0 ? 0 : value);
    }
  return out;
}

Bytes GrayToLineart(const Bytes &image, DWORD width, DWORD height, int threshold) {
  const DWORD linebytes = width / 8;
  Bytes out(static_cast<size_t>(linebytes) * height, 0);
  for (DWORD y = 0; y < height; ++y)
    for (DWORD x = 0; x < linebytes * 8; ++x)
      if (image[y * width + x] > threshold)
        out[y * linebytes + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
  return out;
}

Bytes Screen(const BYTE *image, DWORD stride, DWORD width, DWORD height, DWORD outStride,
             LONG density, bool economy) {
  BYTE gammatbl[256];
  BuildToneCurve(ToneCurveSelect(density, economy), gammatbl);
  Bytes out(static_cast<size_t>(outStride) * height, 0);
  for (DWORD y = 0; y < height; ++y)
    for (DWORD x = 0; x < width; ++x) {
      if (imagetest::ScreenBit(image[y * stride + x], x, y, gammatbl))
        out[y * outStride + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
    }
  return out;
}

Bytes ScaleImage(const Bytes &source, DWORD srcWidth, DWORD srcHigh, DWORD trgWidth, int Xratio,
                 int Yratio, DWORD pixelBytes, DWORD *rows) {
  const float Xrate = static_cast<float>(Xratio) / 1000.0f;
  const float Yrate = static_cast<float>(Yratio) / 1000.0f;
  const DWORD trgHigh = static_cast<DWORD>(static_cast<float>(srcHigh) * Yrate);
  *rows = trgHigh;
  Bytes out(static_cast<size_t>(trgWidth) * pixelBytes * trgHigh);
  const float ox = Xrate > 1.0f ? 0.0f : 1.0f - Xrate;
  const float oy = Yrate > 1.0f ? 0.0f : 1.0f - Yrate;
  for (DWORD i = 0; i < trgHigh; ++i) {
    const float y = static_cast<float>(i) / Yrate + oy;
    DWORD iy = static_cast<DWORD>(y);
    const float fy = y - static_cast<float>(iy);
    const float ry = 1.0f - fy;
    if (iy > srcHigh - 1) iy = srcHigh - 1;
    const DWORD next = iy + 1 > srcHigh - 1 ? srcHigh - 1 : iy + 1;
    for (DWORD j = 0; j < trgWidth; ++j) {
      float x = static_cast<float>(j) / Xrate + ox;
      if (x > static_cast<float>(srcWidth - 1)) x = static_cast<float>(srcWidth - 1);
      const DWORD ix = static_cast<DWORD>(x);
      const float fx = x - static_cast<float>(ix);
      const float rx = 1.0f - fx;
      const DWORD L = ix * pixelBytes;
      const DWORD R = ix + 1 > srcWidth - 1 ? L : L + pixelBytes;
      for (DWORD k = 0; k < pixelBytes; ++k) {
        const BYTE *S1 = &source[iy * srcWidth * pixelBytes];
        const BYTE *S2 = &source[next * srcWidth * pixelBytes];
        int p = static_cast<int>(static_cast<float>(S1[R + k]) * (ry * fx));
        p = static_cast<int>(static_cast<float>(p) + static_cast<float>(S2[R + k]) * (fx * fy));
        p = static_cast<int>(static_cast<float>(p) + static_cast<float>(S1[L + k]) * (ry * rx));
        p = static_cast<int>(static_cast<float>(p) + static_cast<float>(S2[L + k]) * (rx * fy));
        const int v = p == 0 ? 0 : static_cast<int>(static_cast<float>(p) + 2.99f);
        out[(static_cast<size_t>(i) * trgWidth + j) * pixelBytes + k] =
            static_cast<BYTE>(v >= 255 ? 255 : v);
      }
    }
  }
  return out;
}

void MirrorRows(BYTE *bits, DWORD linebyte, DWORD rows) {
  for (DWORD y = 0; y < rows; ++y) {
    BYTE *row = bits + static_cast<size_t>(y) * linebyte;
    for (DWORD i = 0; i < linebyte / 2; ++i) std::swap(row[i], row[linebyte - 1 - i]);
    for (DWORD i = 0; i < linebyte; ++i) row[i] = ReversedBits(row[i]);
  }
}

void Invert(BYTE *bits, size_t len) {
  for (size_t i = 0; i < len; ++i) bits[i] = static_cast<BYTE>(~bits[i]);
}

DWORD CountSetBits(const BYTE *bits, size_t len) {
  DWORD n = 0;
  for (size_t i = 0; i < len; ++i) n += static_cast<DWORD>(PopCount(bits[i]));
  return n;
}

}  // namespace reference
