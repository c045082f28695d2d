#include <cmath>
#include <span>
#include <sstream>

#include "libjbig_check.h"
#include "whole_filter.h"

namespace wholefilter {

namespace {

unsigned RoundUp32(uint64_t v) { return static_cast<unsigned>((v + 31) / 32 * 32); }

// The error lines of the filter's log and any sanitizer report, to say why a run
// failed.
std::string ErrorLines(const std::string &err) {
  std::string lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("ERROR:", 0) == 0 || line.find("Sanitizer") != std::string::npos ||
        line.find("runtime error") != std::string::npos)
      lines += line + "\n";
  return lines;
}

}  // namespace

std::unique_ptr<PrintedJob> PrintFile(const filtertest::ScratchDir &dir,
                                      const std::string &rasterPath,
                                      const std::vector<std::string> &environment) {
  auto job = std::make_unique<PrintedJob>();
  filtertest::FilterCall call;
  call.args = filtertest::JobArgs(rasterPath);
  call.environment = environment;
  job->run = filtertest::RunFilter(dir, call);
  const std::string &out = job->run.out;

  std::ostringstream problem;
  if (job->run.status != 0) problem << "the filter exited with " << job->run.status << "; ";
  job->parsed = inspect::ParseJob(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(out.data()), out.size()));
  if (!job->parsed.ok)
    problem << "the job is not well formed: " << job->parsed.error << " (offset "
            << job->parsed.error_offset << "); ";
  if (!out.empty() && out.size() % 512 == 0)
    problem << "the job is " << out.size() << " bytes long, a multiple of 512; ";
  for (size_t i = 0; i < job->parsed.pages.size(); ++i) {
    const inspect::PageRecord &record = job->parsed.pages[i];
    inspect::Bitmap page;
    std::string error;
    if (!inspect::DecodePage(record, &page, &error)) {
      problem << "page " << i + 1 << " does not decode: " << error << "; ";
    } else if (inspect::CountSetBits(page) != record.blackDots) {
      problem << "page " << i + 1 << " has " << inspect::CountSetBits(page)
              << " set bits but blackDots " << record.blackDots << "; ";
    } else if (std::string d = inspect::DifferenceFromLibjbig(record, page); !d.empty()) {
      problem << "page " << i + 1 << " is not libjbig's stream: " << d << "; ";
    }
    job->pages.push_back(std::move(page));
  }
  job->problem = problem.str();
  if (!job->problem.empty()) job->problem += "\n" + ErrorLines(job->run.err);
  return job;
}

std::unique_ptr<PrintedJob> Print(const filtertest::ScratchDir &dir,
                                  const std::vector<testraster::Page> &pages,
                                  const std::vector<std::string> &environment) {
  const std::string path = dir.File("job.ras");
  if (!testraster::WriteRasterFile(path, pages)) {
    auto job = std::make_unique<PrintedJob>();
    job->problem = "the raster file cannot be written";
    return job;
  }
  return PrintFile(dir, path, environment);
}

unsigned CountDots(const inspect::Bitmap &page, unsigned x, unsigned y, unsigned w, unsigned h) {
  unsigned n = 0;
  for (unsigned yy = y; yy < y + h; ++yy)
    for (unsigned xx = x; xx < x + w; ++xx) n += Dot(page, xx, yy) ? 1 : 0;
  return n;
}

Fit ExpectedFit(const cups_page_header2_t &h) {
  Fit f;
  f.width = RoundUp32(h.cupsWidth);
  f.planeHeight = RoundUp32(h.cupsHeight);
  const bool lineArt = h.cupsBitsPerPixel == 24 || h.cupsInteger[6] != 0;
  const bool fitted = lineArt && h.ImagingBoundingBox[0] == 0 && h.ImagingBoundingBox[1] == 0;
  if (fitted) {
    const unsigned width = RoundUp32((uint64_t{h.PageSize[0]} - 24) * h.HWResolution[0] / 72);
    const unsigned height = RoundUp32((uint64_t{h.PageSize[1]} - 24) * h.HWResolution[1] / 72);
    if (h.cupsInteger[3] == 1) {
      f.black.scaleX = std::floor(1000.0 * width / h.cupsWidth) / 1000;
      f.black.scaleY = std::floor(1000.0 * height / h.cupsHeight) / 1000;
    } else {
      f.black.shiftX = (f.width - width) / 2.0;
      f.black.shiftY = (f.planeHeight - height) / 2.0;
    }
    f.width = width;
    f.planeHeight = height;
  }
  const bool twoColour = h.cupsInteger[4] == 1;
  f.height = f.planeHeight * (twoColour ? 2 : 1);
  f.red = f.black;
  f.red.planeRow = f.planeHeight;
  return f;
}

int ReadMark(const inspect::Bitmap &page, unsigned rasterWidth, unsigned rasterHeight,
             const Placement &at) {
  int found[2] = {-1, -1};
  for (unsigned row = 0; row < 2; ++row) {
    for (unsigned slot = 0; slot < testraster::kMarkSlots; ++slot) {
      const testraster::Rect r = testraster::MarkSquare(rasterWidth, rasterHeight, row, slot);
      // The middle half of the square, where it lands.
      const double x0 = std::ceil((r.x + r.w / 4.0) * at.scaleX - at.shiftX);
      const double x1 = std::floor((r.x + r.w * 3 / 4.0) * at.scaleX - at.shiftX);
      const double y0 = std::ceil((r.y + r.h / 4.0) * at.scaleY - at.shiftY) + at.planeRow;
      const double y1 = std::floor((r.y + r.h * 3 / 4.0) * at.scaleY - at.shiftY) + at.planeRow;
      if (x0 < 0 || y0 < 0 || x1 < x0 || y1 < y0 || x1 >= page.width || y1 >= page.height)
        return -1;
      const unsigned w = static_cast<unsigned>(x1 - x0) + 1, h = static_cast<unsigned>(y1 - y0) + 1;
      const unsigned dots =
          CountDots(page, static_cast<unsigned>(x0), static_cast<unsigned>(y0), w, h);
      if (dots * 10 >= w * h * 9) {
        if (found[row] >= 0) return -1;
        found[row] = static_cast<int>(slot);
      } else if (dots * 10 > w * h) {
        return -1;  // neither inked nor blank
      }
    }
    if (found[row] < 0) return -1;
  }
  return found[1] * 16 + found[0];
}

std::string WritePpdWithJcl(const filtertest::ScratchDir &dir, const std::string &jclBegin) {
  const std::string ppd =
      "*PPD-Adobe: \"4.3\"\n"
      "*FormatVersion: \"4.3\"\n"
      "*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"ZELVARW.PPD\"\n"
      "*Manufacturer: \"Test\"\n"
      "*Product: \"(Zelvar Whole)\"\n"
      "*ModelName: \"Zelvar Whole\"\n"
      "*ShortNickName: \"Zelvar Whole\"\n"
      "*NickName: \"Zelvar Whole\"\n"
      "*PSVersion: \"(3010.000) 0\"\n"
      "*LanguageLevel: \"3\"\n"
      "*ColorDevice: False\n"
      "*DefaultColorSpace: Gray\n"
      "*FileSystem: False\n"
      "*cupsFilter: \"application/vnd.cups-raster 0 rastertoZelvar\"\n"
      "*JCLBegin: \"" +
      jclBegin +
      "\"\n"
      "*OpenUI *PageSize/Media Size: PickOne\n"
      "*OrderDependency: 10 AnySetup *PageSize\n"
      "*DefaultPageSize: Letter\n"
      "*PageSize Letter/Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
      "*CloseUI: *PageSize\n"
      "*DefaultPageRegion: Letter\n"
      "*DefaultImageableArea: Letter\n"
      "*ImageableArea Letter: \"12 12 600 780\"\n"
      "*DefaultPaperDimension: Letter\n"
      "*PaperDimension Letter: \"612 792\"\n";
  const std::string path = dir.File("zelvar.ppd");
  filtertest::WriteFile(path, ppd);
  return path;
}

}  // namespace wholefilter
