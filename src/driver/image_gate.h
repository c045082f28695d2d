// Admission of image threads to their processing.
//
// Every page has its own image thread, but only a few may process at once: more
// threads than processors only make all pages in flight finish late together,
// while the compression thread waits for the first of them.  The gate admits the
// threads in page order, at most `limit` at a time, so page n is ready before
// page n + 1 and the encoder can start at once.
//
// The gate acts only while a job has opened it.  Unopened, Enter admits at once
// and nothing is counted, so an image thread can also be run on its own.
#pragma once

#include "runtime/win_types.h"

// Threads allowed to process at once on a machine of `cores` processors: one
// fewer than the cores, so that the compression thread always has a processor,
// and at least one.
int ImageGateSizeFor(long cores);
// ImageGateSizeFor the processors online.
int ImageGateSize();

// Opens the gate for a new job: the next page to admit is page 0, `limit` pages
// may process at once.
void ImageGateOpen(int limit);
// Closes the gate at the end of a job; waiting threads are let through.
void ImageGateClose();

// Waits until page `pageIndex` may process: every earlier page has been admitted
// and fewer than `limit` pages are processing.  A page index at or below one
// already admitted waits only for room.  Returns whether the admission was
// counted, to be handed to ImageGateLeave.
bool ImageGateEnter(DWORD pageIndex);
void ImageGateLeave(bool counted);
