#include "driver/filter_entry.h"

#include <cups/ppd.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "driver/image_gate.h"
#include "driver/image_thread.h"
#include "driver/jbig_thread.h"
#include "driver/job.h"
#include "driver/job_options.h"
#include "driver/page_header_check.h"
#include "driver/raster_input.h"
#include "driver/raster_page.h"
#include "output/jbig_compress.h"
#include "output/pjl_framing.h"
#include "output/printer_output.h"
#include "output/spool_file.h"
#include "runtime/cancel_signal.h"
#include "runtime/debug_log.h"
#include "runtime/detached_thread.h"
#include "runtime/page_settings.h"
#include "runtime/status_messages.h"
#include "runtime/win_helpers.h"

namespace {

const char kUsage[] = "Usage: FILTER JOD_ID USERNAME DOC_TITLE COPIES OPTIONS [FILENAME]";

// What the main thread keeps for one run.
struct FilterRun {
  char PrinterLocation[260];
  int numUP;
  BOOL bCollate;
  const char *markedCollate;  // the PPD's marked Collate choice; null without one
  BOOL bDriverDoCollate;
  BOOL bDuplex;
  unsigned nCopies;
  DWORD FlushPage;  // spooled pages already copied to the printer
  cups_page_header2_t inheader;
  cups_page_header2_t inheader_bak;  // the last page header read
  DWORD page;                        // pages handed on so far; the number of the next page
  BOOL bJobHeaderWritten;
  BOOL bStopTakingPages;  // no further page header is read
  int exitStatus;
  // Shared with the threads; image threads are never joined and hold it until
  // they are gone.
  std::shared_ptr<Job> job;
};

// The cancel's wake-up: every slot wait looks at the flag when it wakes, and
// image threads waiting for their turn go through at once, leaving their pages
// unprocessed for the output thread to drop.
void WakeForCancel(void *arg) {
  Job *job = static_cast<Job *>(arg);
  NotifySlotChange(&job->ring);
  ImageGateClose(&job->gate);
}

// Ends the job after the pages already handed on, with exit status 1.
void StopJob(FilterRun *run) {
  run->bStopTakingPages = TRUE;
  run->exitStatus = 1;
}

bool TakeMorePages(const FilterRun *run) { return !run->bStopTakingPages && !CancelRequested(); }

// TRUE once the job can no longer come out as asked: the printer output or the
// spool file failed, or a page could not be processed.  Each has reported its
// "ERROR:" line.
BOOL JobFailed(const Job *job) {
  return PrinterOutputError(&job->output) || SpoolFailed(&job->spool) ||
         PageProcessingFailed(&job->ring);
}

// The seventh argument: the raster file, opened read-only.  -1 (reported) when it
// cannot be opened or is a directory.
int OpenPrintFile(const char *path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    fd = -1;
    errno = EISDIR;
  }
  if (fd < 0) perror("ERROR: Unable to open print file");
  return fd;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

// The queue's PPD, named by the environment.  Without one the job goes on
// without job-control text.
ppd_file_t *OpenPpd() {
  const char *path = getenv("PPD");
  if (path == nullptr || *path == '\0') {
    DbgMsg("main::PPD is not set, the job has no JCL text");
    return nullptr;
  }
  ppd_file_t *ppd = ppdOpenFile(path);
  if (ppd == nullptr) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    DbgMsg("main::ppdOpenFile(%s) failed: %s (line %d), the job has no JCL text", path,
           ppdErrorString(status), line);
  }
  return ppd;
}

void MarkPpdOptions(ppd_file_t *ppd, int num_options, cups_option_t *options) {
  if (ppd == nullptr) return;
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, num_options, options);
}

// The Collate choice marked after the defaults and the job's options; null
// without a PPD or without a Collate option in it.
const char *MarkedCollateChoice(ppd_file_t *ppd) {
  if (ppd == nullptr) return nullptr;
  const ppd_choice_t *choice = ppdFindMarkedChoice(ppd, "Collate");
  DbgMsg("main::marked Collate choice: %s", choice ? choice->choice : "(none)");
  return choice ? choice->choice : nullptr;
}

void ClosePpd(ppd_file_t *ppd) {
  if (ppd) ppdClose(ppd);
}

#pragma GCC diagnostic pop

// The PPD's JCL-begin text, after an escape byte, right after the job header.
void WriteJclBegin(PrinterOutput *out, const ppd_file_t *ppd) {
  if (ppd == nullptr || ppd->jcl_begin == nullptr || ppd->jcl_begin[0] == '\0') return;
  size_t len = strlen(ppd->jcl_begin);
  DbgMsg("jcl_begin = %s, len = %d", ppd->jcl_begin, static_cast<int>(len));
  std::string bytes = "\x1b";
  bytes.append(ppd->jcl_begin, len);
  WriteToPrinter(out, bytes.data(), bytes.size());
}

// Once, on the first page header: collation, the job header, the spool decision,
// the JCL text and the size of the slot ring.
void FirstPageActions(FilterRun *run, char *argv[], const ppd_file_t *ppd) {
  const cups_page_header2_t *h = &run->inheader;
  run->bDriverDoCollate = DriverDoesCollate(run->bCollate, run->markedCollate, h->NumCopies);
  DbgMsg("bDriverDoCollate = %d", run->bDriverDoCollate);
  run->nCopies = h->NumCopies;
  Job *job = run->job.get();
  SetPrinterCopiesPerRecord(&job->output,
                            static_cast<unsigned>(PJL_PrinterCopies(h, run->bDriverDoCollate)));
  PJL_WriteStartJobCmd_Zelvar(&job->output, h, run->numUP, argv[0], argv[2], argv[3], argv[4],
                              run->bDriverDoCollate, run->PrinterLocation);
  run->bJobHeaderWritten = TRUE;
  // Two-sided exactly when the job header tells the printer DUPLEX=ON: a malformed
  // value such as 2 prints one-sided, so its pages must not be reordered as sheets.
  run->bDuplex = PageSettingsOf(*h).duplex ? TRUE : FALSE;
  if (JobNeedsSpool(run->bDuplex, run->bDriverDoCollate) && !CreateSpoolFile(&job->spool))
    DbgMsg("main::no spool file: %s", run->bDriverDoCollate
                                          ? "one copy is printed, in page order"
                                          : "the pages are printed in page order");
  WriteJclBegin(&job->output, ppd);
  SizeSlotRing(&job->ring, h);
}

// Waits until the slot is neither in work nor ready.  FALSE when the job was
// cancelled first.
BOOL WaitForFreeSlot(JobRing *ring, JobInfo *slot, DWORD index) {
  for (;;) {
    DWORD ticket = SlotChangeTicket(ring);
    if (CancelRequested()) return FALSE;
    DWORD finish = SlotState(slot);
    if (finish != kSlotInWork && finish != kSlotReady) return TRUE;
    DbgMsg("main::slot %u still holds page %u", index, slot->page.PageIndex);
    WaitSlotChange(ring, ticket, kPollMs);
  }
}

// Starts the page's image thread, detached.  If no thread can be started the page
// is processed and compressed here, so that its slot still reaches the output
// thread.
void StartImageThread(const std::shared_ptr<Job> &job, JobInfo *slot) {
  ImageWork *work = new ImageWork{job, slot};
  const int rc = StartDetachedThread(ImageProcThread, work);
  if (rc != 0) {
    DbgMsg("main::pthread_create failed: %s, page %u is processed in the main thread", strerror(rc),
           slot->page.PageIndex);
    ImageProcThread(work);
    return;
  }
}

// While spooling, sends what the output thread has appended so far: every
// page of a one-sided job, whole sheets of a two-sided one after each second page.
void FlushSpooledPages(FilterRun *run) {
  Job *job = run->job.get();
  if (!Spooling(&job->spool)) return;
  if (!run->bDuplex)
    PJL_FlushPage(&job->spool, &job->output, &run->FlushPage, 0);
  else if (run->page % 2 == 0)
    PJL_FlushPage(&job->spool, &job->output, &run->FlushPage, run->bDuplex);
}

// One page: header check, first-page actions, slot, pixels, image thread.
void ReadPage(FilterRun *run, cups_raster_t *ras, const RasterInput *input, char *argv[],
              const ppd_file_t *ppd) {
  cups_page_header2_t *h = &run->inheader;
  DbgMsg("Start Page = %u / Copies = %u", run->page, h->NumCopies);
  ReportInfo("Printing page %u", run->page + 1);

  Job *job = run->job.get();
  char reason[256];
  if (!CheckPageHeader(h, reason, sizeof reason, job->settings.maxPageBytes)) {
    DbgMsg("main::page %u header rejected: %s", run->page, reason);
    ReportError("Page %u has an invalid raster header: %s", run->page + 1, reason);
    StopJob(run);
    return;
  }
  // Only a header that was taken may size the trailer and a blank back page.
  run->inheader_bak = *h;
  if (run->page == 0) {
    FirstPageActions(run, argv, ppd);
    if (PrinterOutputFailed(&job->output)) {
      StopJob(run);
      return;
    }
  }

  const DWORD index = run->page % static_cast<DWORD>(MaxThreads(&job->ring));
  JobInfo *slot = &job->ring.slots[index];
  DbgMsg("main::start page %u / index %u!", run->page, index);
  if (!WaitForFreeSlot(&job->ring, slot, index)) return;

  // Reading waits while enough pages hold their 8-bit bitmaps: the work, not the
  // reading, sets the pace, and memory stays bounded.
  ImageGateReservePage(&job->gate);
  if (CancelRequested()) {
    ImageGateReleasePage(&job->gate);
    return;
  }

  slot->page.PageIndex = run->page;
  slot->page.inheader = *h;
  SetSlotState(&job->ring, slot, kSlotInWork);
  DWORD linesRead = 0;
  if (!GetCUPSPageData(&slot->page, ras, &linesRead, input)) {
    ReportError("Unable to read page %u: its page buffers cannot be allocated", run->page + 1);
    ImageGateReleasePage(&job->gate);
    SetSlotState(&job->ring, slot, kSlotFree);
    StopJob(run);
    return;
  }
  // Input cut short inside a page may be the cancel's doing.
  if (linesRead < h->cupsHeight) CancelArrivesWithin(job->settings.cancelGraceMs);
  if (CancelRequested()) {
    // Read whole or cut short by the cancel, the page is dropped unprocessed.
    DbgMsg("main::job cancelled, page %u is not printed", run->page);
    GlobalFree(slot->page.lpbuf);
    slot->page.lpbuf = nullptr;
    ImageGateReleasePage(&job->gate);
    SetSlotState(&job->ring, slot, kSlotFree);
    return;
  }
  ++run->page;
  StartImageThread(run->job, slot);

  if (linesRead < h->cupsHeight) {
    DbgMsg("main::page %u is incomplete, %u of %u lines", run->page - 1, linesRead, h->cupsHeight);
    ReportError("Page %u is incomplete: the raster data ends after %u of its %u lines", run->page,
                linesRead, h->cupsHeight);
    StopJob(run);
  }
  FlushSpooledPages(run);
  if (JobFailed(job)) StopJob(run);
}

// Waits until the output thread has released the last page handed on.  It takes
// the pages in order, so then every page is done.  A cancel ends the wait.
void WaitForLastPage(JobRing *ring, DWORD pages) {
  const DWORD index = (pages - 1) % static_cast<DWORD>(MaxThreads(ring));
  JobInfo *slot = &ring->slots[index];
  for (;;) {
    DWORD ticket = SlotChangeTicket(ring);
    if (CancelRequested()) break;
    const DWORD state = SlotState(slot);
    if (state != kSlotInWork && state != kSlotReady) break;
    DbgMsg("main::waiting for page %u (slot %u, state %u)", pages - 1, index, state);
    WaitSlotChange(ring, ticket, kPollMs);
  }
}

// The spooled job's tail, once the output thread has ended: a blank back
// page for an odd two-sided job, the last flush, and the further collated copies.
// A spool that has failed sends nothing more.
void FinishSpooledJob(FilterRun *run) {
  Job *job = run->job.get();
  if (!Spooling(&job->spool) || CancelRequested()) return;
  if (SpoolFailed(&job->spool)) {
    DbgMsg("main::the spool file failed, the spooled pages are not sent");
    return;
  }
  if (run->bDuplex && run->page % 2 != 0) {
    PJL_SaveBlankPage(&job->spool, run->page, run->inheader_bak);
    ++run->page;
  }
  PJL_FlushPage(&job->spool, &job->output, &run->FlushPage, run->bDuplex);
  if (run->page > 0)
    ReplaySpooledCopies(&job->spool, &job->output, run->bDriverDoCollate, run->bDuplex,
                        run->nCopies);
}

// After the last page: wait for every page, stop the output thread, finish
// a spooled job, write the trailer.  After a cancel the pages in flight are
// dropped: the output thread ends after the record it may be writing, and
// the trailer follows at once.
void EndJob(FilterRun *run, pthread_t jbigThread) {
  Job *job = run->job.get();
  if (run->page > 0) WaitForLastPage(&job->ring, run->page);
  ImageGateClose(&job->gate);
  DbgMsg("main::page = %u", run->page);

  const BOOL cancelled = CancelRequested();
  SetJbigThreadExit(&job->ring, TRUE);
  pthread_join(jbigThread, nullptr);
  DbgMsg("main::output thread stopped%s", cancelled ? " after the cancel" : "");

  FinishSpooledJob(run);
  if (CancelRequested()) ReportInfo("Job cancelled, closing the printer job");
  if (run->bJobHeaderWritten) {
    if (PrinterOutputFailed(&job->output)) {
      DbgMsg("main::printer output failed, no job trailer");
    } else {
      DbgMsg("main::PJL_WriteCloseJobCmd");
      PJL_WriteCloseJobCmd(&job->output);
    }
  }
  if (JobFailed(job)) run->exitStatus = 1;
}

}  // namespace

int FilterMain(int argc, char *argv[], const FilterSettings &settings) {
  SetDebugLogDir(settings.logDir);
  FilterRun runState{};
  FilterRun *run = &runState;
  DbgMsg("Velquin's Filter 20180830");

  if (argc != 6 && argc != 7) {
    printf("%s\n", kUsage);
    fflush(stdout);
    return 1;
  }
  int fd = 0;
  if (argc == 7) {
    fd = OpenPrintFile(argv[6]);
    if (fd < 0) return 1;
  }
  DbgMsg("argc = %d", argc);
  for (int i = 0; i < argc; ++i) DbgMsg("argv[%d] = %s", i, argv[i]);

  run->job = std::make_shared<Job>();
  Job *job = run->job.get();
  job->settings = settings;
  job->output.fd = settings.printerFd;
  job->output.cancelGraceMs = settings.cancelGraceMs;
  ChooseJbigEncoderFromEnvironment();
  RasterInput input;
  cups_raster_t *ras = OpenRasterInput(&input, fd);
  ppd_file_t *ppd = OpenPpd();

  if (settings.lookUpDestinations)
    GetPrinterLocation(argv[0], run->PrinterLocation, sizeof run->PrinterLocation);
  else
    DbgMsg("main::no destination lookup, the queue's location is empty");
  cups_option_t *options = nullptr;
  int num_options = ParseJobOptions(argv[5], &options);
  GetJobOptions(num_options, options, &run->numUP, &run->bCollate);
  MarkPpdOptions(ppd, num_options, options);
  run->markedCollate = MarkedCollateChoice(ppd);

  SetCancelWakeUp(WakeForCancel, job);
  pthread_t jbigThread;
  int rc = pthread_create(&jbigThread, nullptr, JbigThread, job);
  if (rc != 0) {
    ReportError("Unable to start the output thread: %s", strerror(rc));
    run->exitStatus = 1;
  } else {
    ImageGateOpen(&job->gate, ImageGateSize());
    while (TakeMorePages(run)) {
      if (ras == nullptr || !ReadRasterHeader(&input, ras, &run->inheader)) {
        // No further page: the end of the stream, or input that is cut short,
        // refused or unreadable.
        if (!ReportRasterEnd(&input, ras, run->page, settings.cancelGraceMs)) StopJob(run);
        break;
      }
      ReadPage(run, ras, &input, argv, ppd);
    }
    EndJob(run, jbigThread);
  }
  SetCancelWakeUp(nullptr, nullptr);

  cupsFreeOptions(num_options, options);
  if (ras) cupsRasterClose(ras);
  DbgMsg("main::count_bytes = %u", job->output.count_bytes);
  ClosePpd(ppd);
  if (fd != 0) close(fd);
  // The spool file goes now, not with the last image thread that may still hold
  // the job.
  RemoveSpoolFile(&job->spool);
  DbgMsg("main::exit status %d", run->exitStatus);
  return run->exitStatus;
}
