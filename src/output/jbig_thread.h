// The compression and output thread: takes finished pages strictly in page order,
// compresses them and writes their page records.
#pragma once

// param: the address of slot 0 of the ring.
void *JbigThread(void *param);
