// Windows-style memory, timing, file and allocation helpers on top of POSIX.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/win_types.h"

void FillMemory(void *dest, DWORD count, short fbyte);
void MoveMemory(void *dest, const void *src, DWORD count);
void CopyMemory(void *dest, const void *src, DWORD count);
BOOL DeleteFile(const char *fname);
// A block of msize bytes (null for a negative size or when memory is short),
// released with GlobalFree or free().  Blocks of kHugePageBytes or more start on
// a huge-page boundary and are offered to the system for huge pages; GlobalFree
// keeps a few of them for the next requests of about their size (a fresh block
// costs the kernel's zeroing of every page), and a request none of them fits
// releases them.
constexpr size_t kHugePageBytes = size_t{2} << 20;
HGLOBAL GlobalAlloc(int dummy, int64_t msize);
HGLOBAL GlobalFree(HGLOBAL hmem);

// Gives a GlobalAlloc block back when its owner (a std::unique_ptr) lets go.
struct GlobalFreeDeleter {
  void operator()(void *p) const { GlobalFree(p); }
};
uint64_t getTotalSystemMemory();
int str2Int(const char *string);
// Milliseconds of the wall clock modulo 2^32; elapsed times are differences of two
// readings in DWORD arithmetic, which stay right across the wrap.
DWORD GetTickCount();
// The reading GetTickCount gives for a wall-clock time.
DWORD TickCountOf(int64_t sec, int64_t usec);
// Processor time the calling thread has used, in seconds: a step's own work,
// without the time it waited for input or for a processor.
double ThreadCpuSeconds();
WORD GetBMPBytesPerLine(LONG bitcolor, LONG width);
