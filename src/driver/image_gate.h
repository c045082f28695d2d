// Admission of image threads to their processing and compression, and of pages
// to reading.
//
// Every page has its own image thread, but only a few may work at once: more
// threads than processors only make all pages in flight finish late together,
// while the output thread waits for the first of them.  The gate admits the
// threads in page order, at most `limit` at a time, so page n is usually ready
// before page n + 1 and the output can go on at once.
//
// A page holds its 8-bit bitmap from reading until it is compressed.  The gate
// also limits those pages to `limit` + 1 (the pages at work and the next one), so
// that reading never runs far ahead of the work: a page waiting for its turn to
// be sent holds only its compressed record.
//
// Every job has its gate, which acts only while the job has it open.  Unopened,
// Enter and ReservePage admit at once and nothing is counted.
#pragma once

#include <condition_variable>
#include <mutex>

#include "runtime/win_types.h"

struct ImageGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int limit = 1;
  int active = 0;   // pages at work now
  DWORD next = 0;   // the next page in order to admit
  int holding = 0;  // pages holding their 8-bit bitmaps
};

// Threads allowed to work at once on a machine of `cores` processors: one per
// processor (each compresses its own page, the output thread only writes), and
// at least one.
int ImageGateSizeFor(long cores);
// The number of image threads that work at once: ZELVAR_IMAGE_THREADS when it
// holds a number from 1 to 64 (1: one page processed and compressed at a time,
// in page order), else ImageGateSizeFor the processors online.
int ImageGateSize();

// Opens the gate for a new job: the next page to admit is page 0, `limit` pages
// may work at once, `limit` + 1 may hold bitmaps.
void ImageGateOpen(ImageGate *gate, int limit);
// Closes the gate at the end of a job; waiting threads are let through.
void ImageGateClose(ImageGate *gate);

// Waits until page `pageIndex` may process: every earlier page has been admitted
// and fewer than `limit` pages are processing.  A page index at or below one
// already admitted waits only for room.  Returns whether the admission was
// counted, to be handed to ImageGateLeave.
bool ImageGateEnter(ImageGate *gate, DWORD pageIndex);
void ImageGateLeave(ImageGate *gate, bool counted);

// The main thread, before it reads a page: waits until fewer than `limit` + 1
// pages hold bitmaps, and counts the page.  A closed gate (the end of the job, or
// a cancel) lets it through at once.
void ImageGateReservePage(ImageGate *gate);
// The page's bitmap is gone (compressed, or dropped): one more page may be read.
void ImageGateReleasePage(ImageGate *gate);
