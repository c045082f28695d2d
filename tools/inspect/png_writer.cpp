#include "png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

namespace inspect {

namespace {

bool Bit(const Bitmap &b, size_t x, size_t y) {
  return (b.bits[y * b.linebyte + x / 8] >> (7 - x % 8)) & 1;
}

// One row of the image as PNG wants it, into `row`.
void FormatRow(const Bitmap &b, bool composite, uint32_t y, uint8_t *row) {
  if (!composite) {
    // PNG grey: 0 is black, so set bits are inverted.
    for (size_t i = 0; i < b.linebyte; ++i)
      row[i] = static_cast<uint8_t>(~b.bits[y * b.linebyte + i]);
    return;
  }
  uint32_t plane = b.height / 2;
  for (uint32_t x = 0; x < b.width; ++x) {
    bool black = Bit(b, x, y), red = Bit(b, x, y + plane);
    row[3 * x] = black ? 0 : 255;
    row[3 * x + 1] = (black || red) ? 0 : 255;
    row[3 * x + 2] = (black || red) ? 0 : 255;
  }
}

// The libpng part; it reports errors by longjmp, so nothing here has a destructor.
bool WritePngStream(FILE *fp, const Bitmap &b, bool composite, uint8_t *row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, fp);
  uint32_t height = composite ? b.height / 2 : b.height;
  png_set_IHDR(png, info, b.width, height, composite ? 8 : 1,
               composite ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; ++y) {
    FormatRow(b, composite, y, row);
    png_write_row(png, row);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WritePbm(const std::string &path, const Bitmap &bitmap) {
  FILE *fp = fopen(path.c_str(), "wb");
  if (fp == nullptr) return false;
  bool ok = fprintf(fp, "P4\n%u %u\n", bitmap.width, bitmap.height) > 0 &&
            fwrite(bitmap.bits.data(), 1, bitmap.bits.size(), fp) == bitmap.bits.size();
  return fclose(fp) == 0 && ok;
}

bool WritePng(const std::string &path, const Bitmap &bitmap, int colors) {
  if (bitmap.width == 0 || bitmap.height == 0) return false;
  bool composite = colors == 2 && bitmap.height % 2 == 0;
  std::vector<uint8_t> row(composite ? static_cast<size_t>(bitmap.width) * 3 : bitmap.linebyte);
  FILE *fp = fopen(path.c_str(), "wb");
  if (fp == nullptr) return false;
  bool ok = WritePngStream(fp, bitmap, composite, row.data());
  return fclose(fp) == 0 && ok;
}

}  // namespace inspect
