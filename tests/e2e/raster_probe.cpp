// zelvar-raster-probe: a stand-in for rastertoZelvar at the end of a real CUPS
// filter chain.  It reads the raster the chain delivers and writes, instead of a
// printer job, a plain report of what it received: its arguments, the job
// options, the raster stream's sync word (which says whether the stream is
// compressed), and for every page the header fields that carry the printer's
// settings, the commonest value of a pixel's first sample (the paper's), the
// number of inked pixels, their mean position across the page (in thousandths of
// the width) and the number of red pixels.  The end-to-end suite prints through
// it to see which header fields each PPD choice produces in practice.
#include <cups/cups.h>
#include <cups/raster.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

// Reads the raster stream through libcups while keeping its first four bytes,
// the sync word, for the report.
struct SyncKeeper {
  int fd;
  char sync[5];
  size_t kept;
};

static ssize_t ReadKeepingSync(void *ctx, unsigned char *buffer, size_t bytes) {
  SyncKeeper *k = static_cast<SyncKeeper *>(ctx);
  ssize_t n;
  do n = read(k->fd, buffer, bytes);
  while (n < 0 && errno == EINTR);
  for (ssize_t i = 0; n > 0 && i < n && k->kept < 4; ++i) k->sync[k->kept++] = buffer[i];
  return n;
}

// The commonest first sample of the page's pixels: the paper's value.
static unsigned PaperSample(const std::vector<unsigned long long> &counts) {
  unsigned best = 0;
  for (unsigned v = 1; v < counts.size(); ++v)
    if (counts[v] > counts[best]) best = v;
  return best;
}

// Counts the pixels of a line that carry ink (a K sample above half, an RGB or
// grey sample below half) and adds up their x positions.
static void CountInk(const cups_page_header2_t &h, const std::vector<unsigned char> &line,
                     unsigned long long &inked, unsigned long long &sumX) {
  unsigned bytes = h.cupsBitsPerPixel / 8;
  if (bytes == 0) return;
  for (unsigned x = 0; x < h.cupsWidth; ++x) {
    const unsigned char *p = line.data() + x * bytes;
    bool ink = false;
    for (unsigned k = 0; k < bytes; ++k)
      ink |= h.cupsColorSpace == CUPS_CSPACE_K ? p[k] > 127 : p[k] < 128;
    if (ink) {
      ++inked;
      sumX += x;
    }
  }
}

// Pixels that are clearly red.
static unsigned long long RedPixels(const cups_page_header2_t &h,
                                    const std::vector<unsigned char> &line) {
  unsigned long long red = 0;
  if (h.cupsColorSpace != CUPS_CSPACE_RGB || h.cupsBitsPerPixel != 24) return 0;
  for (unsigned x = 0; x < h.cupsWidth; ++x) {
    const unsigned char *p = line.data() + x * 3;
    red += p[0] > 200 && p[1] < 80 && p[2] < 80;
  }
  return red;
}

int main(int argc, char **argv) {
  if (argc != 6 && argc != 7) {
    fputs("Usage: zelvar-raster-probe JOB USER TITLE COPIES OPTIONS [FILE]\n", stderr);
    return 1;
  }
  int fd = 0;
  if (argc == 7 && (fd = open(argv[6], O_RDONLY)) < 0) {
    perror("ERROR: Unable to open print file");
    return 1;
  }
  printf("argc=%d\n", argc);
  for (int i = 0; i < argc && i < 6; ++i) printf("argv[%d]=%s\n", i, argv[i]);
  cups_option_t *options = nullptr;
  int n = cupsParseOptions(argv[5], 0, &options);
  for (int i = 0; i < n; ++i) printf("option %s=%s\n", options[i].name, options[i].value);
  cupsFreeOptions(n, options);
  const char *ppd = getenv("PPD");
  printf("PPD=%s\n", ppd ? ppd : "");
  fprintf(stderr, "DEBUG: zelvar-raster-probe started, options: %s\n", argv[5]);

  SyncKeeper keeper = {fd, {}, 0};
  cups_raster_t *ras = cupsRasterOpenIO(ReadKeepingSync, &keeper, CUPS_RASTER_READ);
  printf("sync=%s\n", keeper.sync);
  cups_page_header2_t h;
  unsigned page = 0;
  while (ras && cupsRasterReadHeader2(ras, &h)) {
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    std::vector<unsigned long long> firstSamples(256);
    const unsigned pixelBytes = h.cupsBitsPerPixel >= 8 ? h.cupsBitsPerPixel / 8 : 1;
    unsigned long long inked = 0, sumX = 0, red = 0;
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
      if (cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) break;
      for (unsigned x = 0; x < h.cupsWidth && (x + 1) * pixelBytes <= line.size(); ++x)
        ++firstSamples[line[x * pixelBytes]];
      CountInk(h, line, inked, sumX);
      red += RedPixels(h, line);
    }
    printf(
        "page %u HWResolution=%u,%u PageSize=%u,%u ImagingBoundingBox=%u,%u,%u,%u "
        "cupsWidth=%u cupsHeight=%u cupsBitsPerPixel=%u cupsBitsPerColor=%u "
        "cupsColorSpace=%u cupsColorOrder=%u cupsCompression=%u cupsMediaType=%u "
        "MediaType=%s MediaPosition=%u Duplex=%u Tumble=%u Collate=%u NumCopies=%u "
        "Orientation=%u MirrorPrint=%u NegativePrint=%u "
        "cupsInteger=%u,%u,%u,%u,%u,%u,%u paper=%u inked=%llu inkx=%llu red=%llu\n",
        page, h.HWResolution[0], h.HWResolution[1], h.PageSize[0], h.PageSize[1],
        h.ImagingBoundingBox[0], h.ImagingBoundingBox[1], h.ImagingBoundingBox[2],
        h.ImagingBoundingBox[3], h.cupsWidth, h.cupsHeight, h.cupsBitsPerPixel, h.cupsBitsPerColor,
        h.cupsColorSpace, h.cupsColorOrder, h.cupsCompression, h.cupsMediaType, h.MediaType,
        h.MediaPosition, h.Duplex, h.Tumble, h.Collate, h.NumCopies, h.Orientation, h.MirrorPrint,
        h.NegativePrint, h.cupsInteger[0], h.cupsInteger[1], h.cupsInteger[2], h.cupsInteger[3],
        h.cupsInteger[4], h.cupsInteger[5], h.cupsInteger[6], PaperSample(firstSamples), inked,
        inked && h.cupsWidth ? sumX * 1000 / inked / h.cupsWidth : 0, red);
    fprintf(stderr, "PAGE: %u 1\n", page + 1);
    ++page;
  }
  printf("pages=%u\n", page);
  if (ras) cupsRasterClose(ras);
  if (fd) close(fd);
  return 0;
}
