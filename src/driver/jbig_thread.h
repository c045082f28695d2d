// Page records: each page is compressed on its own image thread, and the output
// thread sends the finished records strictly in page order.
#pragma once

struct Job;
struct JobInfo;

// Compresses the finished 1-bit page in `slot` into its page record, on the
// calling thread: every page has its own encoder state, so several pages may be
// compressed at once.  Frees the bitmap (and stores null in `lpbuf`) and leaves
// the record in the slot's `lprecord` for JbigThread; the caller then marks the
// slot ready.  A page of a cancelled job, or one that can no longer reach the
// printer (the output or the spool file failed), is not compressed and leaves no
// record.  A page that cannot be compressed leaves none either and is marked
// `bRecordFailed`: the job fails when its turn comes.
void CompressSlotPage(Job *job, JobInfo *slot);

// The output thread.  param: the job (Job *).  Runs until the
// exit flag is set.  Takes the ready slots in page order and sends each record:
// to the printer, or while the job is spooled to the end of the spool file.
// Once a write to the printer or the spool file has failed, or a page could not
// be compressed, it no longer writes, but still releases every page in order, so
// the main thread never waits for ever.
void *JbigThread(void *param);
