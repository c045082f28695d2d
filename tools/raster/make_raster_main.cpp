// zelvar-make-raster: writes a CUPS raster job for the demo, the benchmark and
// manual tests, with libcups's own raster writer.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_raster.h"

static void Usage() {
  fprintf(
      stderr,
      "Usage: zelvar-make-raster --out FILE [--pages N] [--size letter|a4|a5|a6|legal|WxH]\n"
      "         [--dpi N] [--depth 8|24] [--content blank|mark|text|photo]\n"
      "         [--duplex] [--tumble] [--copies N] [--collate] [--two-colour]\n"
      "         [--density N] [--toner-save] [--invert] [--mirror] [--scale]\n"
      "         [--margins] [--media-type N] [--tray N] [--compressed]\n"
      "         [--colour-space k|w|sw|rgb|srgb] [--line-art] [--colour-level N]\n"
      "         [--colour-mode N]\n"
      "       zelvar-make-raster --out FILE --pwg sgray_8|srgb_8|black_1|TYPE --media PWG-NAME\n"
      "         [--pages N] [--dpi N] [--content mark|text|photo] [--red N]\n"
      "  WxH is the sheet in points.  --margins gives the page a 12-point imaging box\n"
      "  (the raster then covers only the printable area, as CUPS sends it).\n"
      "  --pwg writes PWG raster, as an IPP client sends it: every page the whole sheet,\n"
      "  its marks laid out 12 points in from the edges; --red N puts a red square\n"
      "  beside a black one on page N (from 0).\n");
}

static bool SheetSize(const char *name, unsigned &w, unsigned &h) {
  struct {
    const char *name;
    unsigned w, h;
  } sizes[] = {{"letter", 612, 792},
               {"a4", 595, 842},
               {"a5", 420, 595},
               {"a6", 297, 420},
               {"legal", 612, 1008}};
  for (auto &s : sizes)
    if (strcmp(name, s.name) == 0) {
      w = s.w;
      h = s.h;
      return true;
    }
  return sscanf(name, "%ux%u", &w, &h) == 2 && w > 0 && h > 0;
}

// --pwg: pages of a PWG raster document.
static bool PwgPages(const std::string &type, const char *media, unsigned pages, unsigned dpi,
                     const std::string &content, int red, std::vector<testraster::Page> *job) {
  // A 1-bit page is drawn in 8-bit black first.
  const bool bits = type == "black_1";
  for (unsigned n = 0; n < pages; ++n) {
    testraster::Page p;
    if (!testraster::PwgPage(media, bits ? "black_8" : type.c_str(), dpi, &p)) return false;
    const cups_page_header2_t &h = p.header;
    const unsigned m = 12 * dpi / 72;
    const testraster::Rect box{m, m, h.cupsWidth - 2 * m, h.cupsHeight - 2 * m};
    if (content == "text")
      testraster::DrawTextLike(p, n + 1);
    else if (content == "photo")
      testraster::DrawPhotoLike(p, n + 1);
    testraster::DrawPageMarkIn(p, box, n);
    if (static_cast<int>(n) == red) {
      const unsigned side = box.w * 15 / 100, y = box.y + box.h * 45 / 100 - side / 2;
      testraster::FillRect(p, box.x + box.w * 30 / 100 - side / 2, y, side, side, 255, 0, 0);
      testraster::InkRect(p, box.x + box.w * 70 / 100 - side / 2, y, side, side, 255);
    }
    job->push_back(bits ? testraster::PackedBlack1(p) : std::move(p));
  }
  return true;
}

int main(int argc, char **argv) {
  std::string out, content = "mark", pwg, media;
  int red = -1;
  unsigned pages = 1, dpi = 600, depth = 24, copies = 1, wPt = 612, hPt = 792;
  int density = 3, mediaType = 0, tray = 250, colourLevel = 0, colourMode = -1;
  std::string colourSpace;
  bool duplex = false, tumble = false, collate = false, twoColour = false, tonerSave = false,
       invert = false, mirror = false, scale = false, margins = false, compressed = false,
       lineArt = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> const char * {
      if (i + 1 >= argc) {
        Usage();
        exit(2);
      }
      return argv[++i];
    };
    if (a == "--out")
      out = next();
    else if (a == "--pages")
      pages = atoi(next());
    else if (a == "--size") {
      if (!SheetSize(next(), wPt, hPt)) {
        Usage();
        return 2;
      }
    } else if (a == "--dpi")
      dpi = atoi(next());
    else if (a == "--depth")
      depth = atoi(next());
    else if (a == "--content")
      content = next();
    else if (a == "--duplex")
      duplex = true;
    else if (a == "--tumble")
      tumble = true;
    else if (a == "--copies")
      copies = atoi(next());
    else if (a == "--collate")
      collate = true;
    else if (a == "--two-colour")
      twoColour = true;
    else if (a == "--density")
      density = atoi(next());
    else if (a == "--toner-save")
      tonerSave = true;
    else if (a == "--invert")
      invert = true;
    else if (a == "--mirror")
      mirror = true;
    else if (a == "--scale")
      scale = true;
    else if (a == "--margins")
      margins = true;
    else if (a == "--media-type")
      mediaType = atoi(next());
    else if (a == "--tray")
      tray = atoi(next());
    else if (a == "--compressed")
      compressed = true;
    else if (a == "--colour-space")
      colourSpace = next();
    else if (a == "--line-art")
      lineArt = true;
    else if (a == "--colour-mode")
      colourMode = atoi(next());
    else if (a == "--colour-level")
      colourLevel = atoi(next());
    else if (a == "--pwg")
      pwg = next();
    else if (a == "--media")
      media = next();
    else if (a == "--red")
      red = atoi(next());
    else {
      Usage();
      return 2;
    }
  }
  // The colour space of the pages; the default is K for 8 bits, RGB for 24.
  const struct {
    const char *name;
    unsigned depth;
    cups_cspace_t space;
  } spaces[] = {{"k", 8, CUPS_CSPACE_K},
                {"w", 8, CUPS_CSPACE_W},
                {"sw", 8, CUPS_CSPACE_SW},
                {"rgb", 24, CUPS_CSPACE_RGB},
                {"srgb", 24, CUPS_CSPACE_SRGB}};
  int space = -1;
  for (unsigned i = 0; i < sizeof spaces / sizeof spaces[0]; ++i)
    if (colourSpace == spaces[i].name && depth == spaces[i].depth) space = static_cast<int>(i);
  if (out.empty() || (depth != 8 && depth != 24) || dpi == 0 ||
      (!colourSpace.empty() && space < 0)) {
    Usage();
    return 2;
  }
  if (!pwg.empty()) {
    std::vector<testraster::Page> job;
    if (media.empty() || !PwgPages(pwg, media.c_str(), pages, dpi, content, red, &job)) {
      Usage();
      return 2;
    }
    if (!testraster::WriteRasterFile(out, job, CUPS_RASTER_WRITE_PWG)) {
      perror(out.c_str());
      return 1;
    }
    return 0;
  }
  std::vector<testraster::Page> job;
  for (unsigned n = 0; n < pages; ++n) {
    cups_page_header2_t h;
    if (margins) {
      unsigned pw = (wPt - 24) * dpi / 72, ph = (hPt - 24) * dpi / 72;
      h = testraster::MakeHeader(pw, ph, depth, dpi);
      h.PageSize[0] = wPt;
      h.PageSize[1] = hPt;
      h.ImagingBoundingBox[0] = h.ImagingBoundingBox[1] = 12;
      h.ImagingBoundingBox[2] = wPt - 12;
      h.ImagingBoundingBox[3] = hPt - 12;
    } else {
      h = testraster::SheetHeader(wPt, hPt, depth, dpi);
    }
    h.Duplex = duplex ? CUPS_TRUE : CUPS_FALSE;
    h.Tumble = tumble ? CUPS_TRUE : CUPS_FALSE;
    h.NumCopies = copies;
    h.Collate = collate ? CUPS_TRUE : CUPS_FALSE;
    h.cupsCompression = density;
    h.cupsInteger[0] = tonerSave;
    h.cupsInteger[1] = invert;
    h.cupsInteger[2] = mirror;
    h.cupsInteger[3] = scale ? 1 : 0;
    h.cupsInteger[4] = twoColour ? 1 : 0;
    if (colourMode >= 0) h.cupsInteger[4] = static_cast<unsigned>(colourMode);
    h.cupsInteger[5] = colourLevel;
    h.cupsInteger[6] = lineArt ? 1 : 0;
    if (space >= 0) h.cupsColorSpace = spaces[space].space;
    h.cupsMediaType = mediaType;
    h.MediaPosition = tray;
    testraster::Page p = testraster::WhitePage(h);
    if (content == "text")
      testraster::DrawTextLike(p, n + 1);
    else if (content == "photo")
      testraster::DrawPhotoLike(p, n + 1);
    if (content != "blank") testraster::DrawPageMark(p, n);
    if (twoColour && depth == 24) {
      // A red band under the marks, so the red plane has something to print.
      unsigned y = h.cupsHeight / 4;
      testraster::FillRect(p, h.cupsWidth / 10, y, h.cupsWidth * 8 / 10, h.cupsHeight / 40, 230, 20,
                           20);
    }
    job.push_back(std::move(p));
  }
  if (!testraster::WriteRasterFile(out, job,
                                   compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE)) {
    perror(out.c_str());
    return 1;
  }
  return 0;
}
