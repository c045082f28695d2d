// The compression and output thread: takes finished pages strictly in page order,
// compresses them and writes their page records.
#pragma once

#include "output/jbig_compress.h"
#include "runtime/win_types.h"

struct JobInfo;

// param: the address of slot 0 of the ring.  Runs until the exit flag is set.
// While the job is spooled each record is appended to the spool file instead of
// written.  Once a write to the printer or the spool file has failed it no longer
// compresses or writes, but still releases every page in order, so the main
// thread never waits for ever.
void *JbigThread(void *param);

// Builds the page record of the finished page in `slot` (bitmap `bitmap`) in
// `record`: ESC E, the PageHeader and the JBIG stream.  FALSE when the page
// cannot be encoded or memory runs short; the record is then not to be written.
BOOL BuildPageRecord(const JobInfo *slot, BYTE *bitmap, JbigOutputArea *record);
