#include "printer_app/pappl_job.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "printer_app/child_page.h"
#include "printer_app/filter_child.h"
#include "printer_app/job_settings.h"

namespace zelvarapp {

namespace {

// One printer prints one job at a time.  PAPPL 1.3 can start a second job of a
// printer while the first prints (when a job is cancelled just as its thread
// starts, the thread still runs and, ending, clears the printer's processing
// job); the second then waits here instead of writing into the first's output.
std::timed_mutex *PrinterLock(pappl_printer_t *printer) {
  static std::mutex guard;
  static std::map<pappl_printer_t *, std::unique_ptr<std::timed_mutex>> locks;
  std::lock_guard<std::mutex> hold(guard);
  std::unique_ptr<std::timed_mutex> &lock = locks[printer];
  if (!lock) lock = std::make_unique<std::timed_mutex>();
  return lock.get();
}

// Takes the printer's lock; false if the job is cancelled first.
bool TakePrinter(pappl_job_t *job, std::timed_mutex *lock) {
  while (!lock->try_lock_for(std::chrono::milliseconds(200))) {
    if (papplJobIsCanceled(job)) return false;
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Waiting for the printer's other job to end");
  }
  return true;
}

// One job's printing, from StartJob to EndJob.
struct JobRun {
  pappl_job_t *job = nullptr;
  pappl_device_t *device = nullptr;
  std::timed_mutex *printerLock = nullptr;  // held from StartJob to EndJob
  bool streamedRaster = false;              // the client's PWG or Apple raster, read as it comes
  JobSettings settings;
  FilterChild child;
  cups_raster_t *raster = nullptr;
  bool writeFailed = false;  // the child took no more raster
  ChildPage page;
  std::vector<unsigned char> line;
  unsigned linesWritten = 0;   // lines of the current child page
  unsigned linesReceived = 0;  // lines of the current client page
  unsigned pagesStarted = 0;
  int papplCountsUndone = 0;
  std::atomic<int> sidesPrinted{0};
  std::mutex errorLock;
  std::string lastError;  // the filter's last "ERROR:" line
  std::string refusal;    // why a page could not be printed
};

JobRun *RunOf(pappl_job_t *job) { return static_cast<JobRun *>(papplJobGetData(job)); }

const char *SidesKeyword(pappl_sides_t sides) {
  if (sides & PAPPL_SIDES_TWO_SIDED_LONG_EDGE) return "two-sided-long-edge";
  if (sides & PAPPL_SIDES_TWO_SIDED_SHORT_EDGE) return "two-sided-short-edge";
  return "one-sided";
}

std::string JobAttributeText(pappl_job_t *job, const char *name) {
  ipp_attribute_t *attr = papplJobGetAttribute(job, name);
  const char *value = attr ? ippGetString(attr, 0, nullptr) : nullptr;
  return value ? value : "";
}

// The job's request in IPP's terms, vendor options falling back on the
// printer's defaults.
IppJob RequestOf(pappl_job_t *job, const pappl_pr_options_t *options) {
  IppJob r;
  const pappl_media_col_t &m = options->media;
  r.borderless =
      m.bottom_margin == 0 && m.top_margin == 0 && m.left_margin == 0 && m.right_margin == 0;
  r.mediaSource = m.source;
  r.mediaType = m.type;
  r.sides = SidesKeyword(options->sides);
  r.colorMode = options->print_color_mode == PAPPL_COLOR_MODE_COLOR ? "color" : "monochrome";
  r.contentOptimize = options->print_content_optimize == PAPPL_CONTENT_PHOTO ? "photo" : "auto";
  r.darkness = options->print_darkness;
  r.darknessConfigured = options->darkness_configured;
  r.copies = options->copies;
  r.documentHandling = JobAttributeText(job, "multiple-document-handling");
  ipp_t *defaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
  for (const VendorOption &option : VendorOptions()) {
    const char *value = cupsGetOption(option.ippName, options->num_vendor, options->vendor);
    char text[256] = "";
    if (value == nullptr) {
      const std::string name = std::string(option.ippName) + "-default";
      if (ipp_attribute_t *def = ippFindAttribute(defaults, name.c_str(), IPP_TAG_ZERO)) {
        ippAttributeString(def, text, sizeof text);
        value = text;
      }
    }
    if (value != nullptr) r.vendor.emplace_back(option.ippName, value);
  }
  ippDelete(defaults);
  return r;
}

bool IsStreamedRaster(pappl_job_t *job) {
  const char *format = papplJobGetFormat(job);
  return format && (strcmp(format, "image/pwg-raster") == 0 || strcmp(format, "image/urf") == 0);
}

// PAPPL keeps the header it made itself for a streamed page of fewer than 8 bits
// a pixel and hands on the client's 1-bit lines as they are; such a page cannot
// be read.  A header PAPPL makes again for the job is the same to the byte.
bool HeaderIsPapplsOwn(pappl_job_t *job, const pappl_pr_options_t *options) {
  pappl_pr_options_t *own =
      papplJobCreatePrintOptions(job, static_cast<unsigned>(papplJobGetImpressions(job)), false);
  const bool same = own && memcmp(&own->header, &options->header, sizeof own->header) == 0;
  papplJobDeletePrintOptions(own);
  return same;
}

// PAPPL counts the pages it reads as printed; the job counts what the filter
// reports instead (every side the printer prints).  By a page's start PAPPL has
// counted it when it streams the raster, and the pages before it otherwise.
void UndoPapplPageCounts(JobRun *run, int counted) {
  papplJobSetImpressionsCompleted(run->job, run->papplCountsUndone - counted);
  run->papplCountsUndone = counted;
}

void HandleStatus(JobRun *run, const StatusLine &line) {
  switch (line.kind) {
    case StatusLine::kPage:
      run->sidesPrinted += static_cast<int>(line.copies);
      papplJobSetImpressionsCompleted(run->job, static_cast<int>(line.copies));
      break;
    case StatusLine::kInfo:
      papplJobSetMessage(run->job, "%s", line.text.c_str());
      break;
    case StatusLine::kError: {
      std::lock_guard<std::mutex> guard(run->errorLock);
      run->lastError = line.text;
      papplJobSetMessage(run->job, "%s", line.text.c_str());
      papplLogJob(run->job, PAPPL_LOGLEVEL_ERROR, "rastertoZelvar: %s", line.text.c_str());
      break;
    }
    default:
      papplLogJob(run->job, PAPPL_LOGLEVEL_DEBUG, "rastertoZelvar: %s", line.text.c_str());
      break;
  }
}

ssize_t WriteToChild(void *context, unsigned char *data, size_t size) {
  JobRun *run = static_cast<JobRun *>(context);
  if (run->writeFailed || !run->child.Write(data, size)) {
    run->writeFailed = true;
    return -1;
  }
  return static_cast<ssize_t>(size);
}

bool WriteChildLine(JobRun *run, const unsigned char *sourceLine) {
  ChildLine(run->page, sourceLine, run->line.data());
  ++run->linesWritten;
  return cupsRasterWritePixels(run->raster, run->line.data(), run->page.header.cupsBytesPerLine) !=
         0;
}

void Refuse(JobRun *run, const std::string &reason, pappl_jreason_t jobReason) {
  run->refusal = reason;
  papplJobSetMessage(run->job, "%s", reason.c_str());
  papplJobSetReasons(run->job, PAPPL_JREASON_ABORTED_BY_SYSTEM | jobReason, PAPPL_JREASON_NONE);
  papplLogJob(run->job, PAPPL_LOGLEVEL_ERROR, "%s", reason.c_str());
}

}  // namespace

const char *FilterPath() {
  const char *path = getenv("ZELVAR_FILTER_PATH");
  return path && *path ? path : ZELVAR_FILTER_INSTALL_PATH;
}

bool StartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
  std::timed_mutex *lock = PrinterLock(papplJobGetPrinter(job));
  if (!TakePrinter(job, lock)) return false;
  JobRun *run = new JobRun;
  run->printerLock = lock;
  run->job = job;
  run->device = device;
  run->streamedRaster = IsStreamedRaster(job);
  run->settings = SettingsForJob(RequestOf(job, options));
  // PAPPL renders every copy of an image itself; the filter makes those of a
  // raster document.
  if (!run->streamedRaster) run->settings.copies = 1;

  ChildEvents events;
  events.output = [run](const char *data, size_t size) {
    return papplDeviceWrite(run->device, data, size) >= 0;
  };
  events.status = [run](const StatusLine &line) { HandleStatus(run, line); };
  events.cancelled = [job] { return papplJobIsCanceled(job); };
  pappl_printer_t *printer = papplJobGetPrinter(job);
  const std::vector<std::string> args = {papplPrinterGetName(printer),
                                         std::to_string(papplJobGetID(job)),
                                         papplJobGetUsername(job) ? papplJobGetUsername(job) : "",
                                         papplJobGetName(job) ? papplJobGetName(job) : "",
                                         CopiesArgument(run->settings),
                                         OptionsArgument(run->settings)};
  std::string error;
  if (!run->child.Start(FilterPath(), args, {}, std::move(events), &error)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to start the filter: %s", error.c_str());
    papplJobSetMessage(job, "Unable to start the filter: %s", error.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    delete run;
    lock->unlock();
    return false;
  }
  run->raster = cupsRasterOpenIO(WriteToChild, run, CUPS_RASTER_WRITE_COMPRESSED);
  papplJobSetData(job, run);
  papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Started %s %s %s", FilterPath(), args[4].c_str(),
              args[5].c_str());
  return true;
}

bool StartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
  JobRun *run = RunOf(job);
  if (run == nullptr) return false;
  ++run->pagesStarted;
  UndoPapplPageCounts(run, static_cast<int>(run->pagesStarted) - (run->streamedRaster ? 0 : 1));
  if (run->streamedRaster && HeaderIsPapplsOwn(job, options)) {
    Refuse(run,
           "The document's raster pages have fewer than 8 bits per pixel; the printer takes "
           "8-bit grey (sgray_8) or 24-bit colour (srgb_8)",
           PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
    return false;
  }
  std::string reason;
  if (!SetUpChildPage(run->settings, options->header, &run->page, &reason)) {
    Refuse(run, reason, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
    return false;
  }
  run->line.resize(run->page.header.cupsBytesPerLine);
  run->linesWritten = run->linesReceived = 0;
  return run->raster && cupsRasterWriteHeader2(run->raster, &run->page.header) != 0;
}

bool WriteLine(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y,
               const unsigned char *line) {
  JobRun *run = RunOf(job);
  if (run == nullptr) return false;
  ++run->linesReceived;
  if (run->writeFailed) return false;
  if (papplJobIsCanceled(job)) {
    run->child.Terminate();
    return false;
  }
  const ChildRows rows = ChildRowsFor(run->page, y);
  // Lines come in order; one out of place is left out.
  if (rows.count == 0 || rows.first != run->linesWritten) return true;
  for (unsigned i = 0; i < rows.count; ++i)
    if (!WriteChildLine(run, line)) return false;
  return true;
}

bool EndPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
  JobRun *run = RunOf(job);
  if (run == nullptr) return false;
  if (run->writeFailed) return false;  // the filter has ended; EndJob says why
  // PAPPL hands on the lines it could read of a client's page and, when the
  // data breaks off, takes the page as ended; it is not printed.
  if (run->streamedRaster && !papplJobIsCanceled(job) &&
      run->linesReceived < options->header.cupsHeight) {
    Refuse(run,
           "Page " + std::to_string(run->pagesStarted) + " of the document ends after " +
               std::to_string(run->linesReceived) + " of its " +
               std::to_string(options->header.cupsHeight) +
               " lines: the raster data is malformed or incomplete",
           PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
    return false;
  }
  // A client page shorter than the printable area ends in white.
  while (!run->writeFailed && !papplJobIsCanceled(job) &&
         run->linesWritten < run->page.header.cupsHeight)
    if (!WriteChildLine(run, nullptr)) break;
  return !run->writeFailed;
}

bool EndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  JobRun *run = RunOf(job);
  if (run == nullptr) return false;
  papplJobSetData(job, nullptr);
  // PAPPL has given up on a document it could not read: the pages taken so far
  // end with the printer job's trailer, like a cancelled job's.
  const bool papplAborted = papplJobGetState(job) == IPP_JSTATE_ABORTED;
  // (papplJobIsCanceled is also true for an aborted job.)
  const bool cancelled = papplJobIsCanceled(job) && !papplAborted;
  if (cancelled || papplAborted || !run->refusal.empty()) run->child.Terminate();
  if (run->raster) cupsRasterClose(run->raster);
  const ChildExit exit = run->child.Finish();
  papplDeviceFlush(device);
  UndoPapplPageCounts(run, static_cast<int>(run->pagesStarted));

  bool ok = false;
  if (cancelled) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Cancelled; the printer job was closed after %d sides",
                run->sidesPrinted.load());
    ok = true;
  } else if (exit.outputFailed) {
    papplJobSetMessage(job, "Unable to send the job to the printer");
  } else if (exit.exited ? exit.status != 0 : !(exit.terminated && exit.signal == SIGTERM)) {
    // (A filter told to stop before it could take the signal ends by it.)
    std::string error;
    {
      std::lock_guard<std::mutex> guard(run->errorLock);
      error = run->lastError;
    }
    if (error.empty())
      error = exit.exited ? "rastertoZelvar stopped with status " + std::to_string(exit.status)
                          : "rastertoZelvar was ended by signal " + std::to_string(exit.signal);
    papplJobSetMessage(job, "%s", error.c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
  } else if (!run->refusal.empty()) {
    // Again: the filter's "closing the printer job" came after it.
    papplJobSetMessage(job, "%s", run->refusal.c_str());
  } else if (papplAborted) {
    papplJobSetMessage(job,
                       "The document's raster data is malformed after %u pages; the job was "
                       "stopped",
                       run->pagesStarted);
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM | PAPPL_JREASON_DOCUMENT_FORMAT_ERROR,
                       PAPPL_JREASON_NONE);
  } else {
    ok = true;
  }
  std::timed_mutex *lock = run->printerLock;
  delete run;
  lock->unlock();
  return ok;
}

bool PrintNativeFile(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
  const int fd = open(papplJobGetFilename(job), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the print file: %s", strerror(errno));
    return false;
  }
  char buffer[65536];
  ssize_t n;
  bool ok = true;
  while (ok && !papplJobIsCanceled(job) && (n = read(fd, buffer, sizeof buffer)) > 0)
    ok = papplDeviceWrite(device, buffer, static_cast<size_t>(n)) >= 0;
  close(fd);
  return ok;
}

}  // namespace zelvarapp
