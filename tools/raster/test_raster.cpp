#include "test_raster.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>

namespace testraster {

cups_page_header2_t MakeHeader(unsigned widthPx, unsigned heightPx, unsigned bitsPerPixel,
                               unsigned dpi) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  strcpy(h.MediaClass, "PwgRaster");
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.PageSize[0] = (widthPx * 72 + dpi / 2) / dpi;
  h.PageSize[1] = (heightPx * 72 + dpi / 2) / dpi;
  h.cupsWidth = widthPx;
  h.cupsHeight = heightPx;
  h.cupsMediaType = 0;
  h.NumCopies = 1;
  h.MediaPosition = 250;
  h.cupsBitsPerPixel = bitsPerPixel;
  h.cupsBitsPerColor = 8;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  if (bitsPerPixel == 24) {
    h.cupsColorSpace = CUPS_CSPACE_RGB;
  } else {
    // Ink values (0 no ink), as the driver's PPD asks for the screened path.
    h.cupsColorSpace = CUPS_CSPACE_K;
    h.cupsBitsPerColor = bitsPerPixel;
  }
  h.cupsBytesPerLine = (widthPx * bitsPerPixel + 7) / 8;
  return h;
}

cups_page_header2_t SheetHeader(unsigned widthPt, unsigned heightPt, unsigned bitsPerPixel,
                                unsigned dpi) {
  cups_page_header2_t h = MakeHeader(widthPt * dpi / 72, heightPt * dpi / 72, bitsPerPixel, dpi);
  h.PageSize[0] = widthPt;
  h.PageSize[1] = heightPt;
  return h;
}

static bool WhiteIsZero(const cups_page_header2_t &h) { return h.cupsColorSpace == CUPS_CSPACE_K; }

Page WhitePage(const cups_page_header2_t &header) {
  Page p;
  p.header = header;
  p.pixels.assign(static_cast<size_t>(header.cupsBytesPerLine) * header.cupsHeight,
                  WhiteIsZero(header) ? 0 : 255);
  return p;
}

void SetPixel(Page &page, unsigned x, unsigned y, uint8_t r, uint8_t g, uint8_t b) {
  const cups_page_header2_t &h = page.header;
  if (x >= h.cupsWidth || y >= h.cupsHeight) return;
  unsigned bytes = h.cupsBitsPerPixel / 8;
  uint8_t *p = page.pixels.data() + static_cast<size_t>(y) * h.cupsBytesPerLine + x * bytes;
  p[0] = r;
  if (bytes >= 3) {
    p[1] = g;
    p[2] = b;
  }
}

void FillRect(Page &page, unsigned x, unsigned y, unsigned w, unsigned h, uint8_t r, uint8_t g,
              uint8_t b) {
  for (unsigned yy = y; yy < y + h; ++yy)
    for (unsigned xx = x; xx < x + w; ++xx) SetPixel(page, xx, yy, r, g, b);
}

void InkRect(Page &page, unsigned x, unsigned y, unsigned w, unsigned h, uint8_t ink) {
  uint8_t s = WhiteIsZero(page.header) ? ink : static_cast<uint8_t>(255 - ink);
  FillRect(page, x, y, w, h, s, s, s);
}

Rect MarkSquare(unsigned width, unsigned height, unsigned row, unsigned slot) {
  unsigned slotW = width * 8 / 10 / kMarkSlots;
  unsigned side = slotW * 8 / 10;
  unsigned cx = width / 10 + slot * slotW + slotW / 2;
  unsigned cy = height * (row == 0 ? 10 : 17) / 100;
  return Rect{cx - side / 2, cy - side / 2, side, side};
}

void DrawPageMark(Page &page, unsigned n) {
  DrawPageMarkIn(page, Rect{0, 0, page.header.cupsWidth, page.header.cupsHeight}, n);
}

void DrawPageMarkIn(Page &page, const Rect &box, unsigned n) {
  for (unsigned row = 0; row < 2; ++row) {
    Rect r = MarkSquare(box.w, box.h, row, row == 0 ? n % 16 : (n / 16) % 16);
    InkRect(page, box.x + r.x, box.y + r.y, r.w, r.h, 255);
  }
}

static bool InkAround(const uint8_t *bits, unsigned linebyte, const Rect &r) {
  // The centre fifth of the square, mostly set.
  unsigned x0 = r.x + r.w * 2 / 5, x1 = r.x + r.w * 3 / 5;
  unsigned y0 = r.y + r.h * 2 / 5, y1 = r.y + r.h * 3 / 5;
  unsigned set = 0, all = 0;
  for (unsigned y = y0; y < y1; ++y)
    for (unsigned x = x0; x < x1; ++x, ++all)
      set += (bits[static_cast<size_t>(y) * linebyte + x / 8] >> (7 - x % 8)) & 1;
  return all > 0 && set * 10 >= all * 9;
}

int ReadPageMark(const uint8_t *bits, unsigned width, unsigned height, unsigned linebyte) {
  int found[2] = {-1, -1};
  for (unsigned row = 0; row < 2; ++row) {
    for (unsigned slot = 0; slot < kMarkSlots; ++slot) {
      if (InkAround(bits, linebyte, MarkSquare(width, height, row, slot))) {
        if (found[row] >= 0) return -1;
        found[row] = static_cast<int>(slot);
      }
    }
    if (found[row] < 0) return -1;
  }
  return found[1] * 16 + found[0];
}

void DrawTextLike(Page &page, unsigned seed) {
  // Lines of "words": short dark strokes and blocks with white gaps, like 10-point
  // text set at the page's resolution.
  const cups_page_header2_t &h = page.header;
  std::mt19937 rng(seed);
  unsigned dpi = h.HWResolution[1] ? h.HWResolution[1] : 600;
  unsigned lineH = dpi * 14 / 72, glyphH = dpi * 7 / 72, margin = dpi;
  // Sums, not differences: a page smaller than its margins gets no text.
  for (unsigned y = margin; y + lineH + margin / 2 < h.cupsHeight; y += lineH) {
    unsigned x = margin;
    while (x + dpi / 4 + margin < h.cupsWidth) {
      unsigned word = dpi / 12 + rng() % (dpi / 3);
      for (unsigned gx = x; gx < x + word && gx + margin < h.cupsWidth; gx += dpi / 16) {
        unsigned stroke = 1 + dpi / 150 + rng() % 3;
        InkRect(page, gx, y, stroke, glyphH, 255);
        InkRect(page, gx, y + (rng() % 2 ? 0 : glyphH - stroke), dpi / 20, stroke, 255);
      }
      x += word + dpi / 20;
    }
  }
}

void DrawPhotoLike(Page &page, unsigned seed) {
  // Smooth gradients with a little noise, every grey level present.
  const cups_page_header2_t &h = page.header;
  std::mt19937 rng(seed);
  unsigned bytes = h.cupsBitsPerPixel / 8;
  for (unsigned y = 0; y < h.cupsHeight; ++y) {
    uint8_t *row = page.pixels.data() + static_cast<size_t>(y) * h.cupsBytesPerLine;
    for (unsigned x = 0; x < h.cupsWidth; ++x) {
      unsigned v = (x * 255 / (h.cupsWidth ? h.cupsWidth : 1) +
                    y * 255 / (h.cupsHeight ? h.cupsHeight : 1)) /
                   2;
      v = (v + (rng() % 9) + 252) % 256;
      for (unsigned k = 0; k < bytes; ++k)
        row[x * bytes + k] = static_cast<uint8_t>(k == 0 ? v : (v * (3 + k)) / 5 % 256);
    }
  }
}

bool PwgPage(const char *media, const char *type, unsigned dpi, Page *page) {
  pwg_media_t *pwg = pwgMediaForPWG(media);
  cups_page_header2_t h;
  if (pwg == nullptr || !cupsRasterInitPWGHeader(&h, pwg, type, static_cast<int>(dpi),
                                                 static_cast<int>(dpi), "one-sided", "normal"))
    return false;
  *page = WhitePage(h);
  return true;
}

Page PackedBlack1(const Page &inkPage) {
  const cups_page_header2_t &from = inkPage.header;
  Page p;
  p.header = from;
  p.header.cupsBitsPerColor = p.header.cupsBitsPerPixel = 1;
  p.header.cupsBytesPerLine = (from.cupsWidth + 7) / 8;
  p.pixels.assign(static_cast<size_t>(p.header.cupsBytesPerLine) * from.cupsHeight, 0);
  for (unsigned y = 0; y < from.cupsHeight; ++y)
    for (unsigned x = 0; x < from.cupsWidth; ++x)
      if (inkPage.pixels[static_cast<size_t>(y) * from.cupsBytesPerLine + x] > 127)
        p.pixels[static_cast<size_t>(y) * p.header.cupsBytesPerLine + x / 8] |=
            static_cast<uint8_t>(0x80 >> (x % 8));
  return p;
}

bool WriteRasterFile(const std::string &path, const std::vector<Page> &pages, cups_mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  cups_raster_t *ras = cupsRasterOpen(fd, mode);
  bool ok = ras != nullptr;
  for (size_t i = 0; ok && i < pages.size(); ++i) {
    cups_page_header2_t h = pages[i].header;
    ok = cupsRasterWriteHeader2(ras, &h) != 0;
    size_t need = static_cast<size_t>(h.cupsBytesPerLine) * h.cupsHeight;
    if (ok && need > 0 && pages[i].pixels.size() >= need)
      ok = cupsRasterWritePixels(ras, const_cast<unsigned char *>(pages[i].pixels.data()),
                                 static_cast<unsigned>(need)) == need;
  }
  if (ras) cupsRasterClose(ras);
  return close(fd) == 0 && ok;
}

std::string RasterBytes(const std::vector<Page> &pages, cups_mode_t mode) {
  char path[] = "/tmp/zelvar-raster-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return std::string();
  close(fd);
  std::string out;
  if (WriteRasterFile(path, pages, mode)) {
    FILE *f = fopen(path, "rb");
    if (f) {
      char buf[65536];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
      fclose(f);
    }
  }
  unlink(path);
  return out;
}

}  // namespace testraster
