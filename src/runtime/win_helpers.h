// Windows-style memory, timing, file and allocation helpers on top of POSIX.
#pragma once

#include <cstdint>

#include "runtime/win_types.h"

void FillMemory(void *dest, DWORD count, short fbyte);
void ZeroMemory(void *dest, DWORD count);
void MoveMemory(void *dest, const void *src, DWORD count);
void CopyMemory(void *dest, const void *src, DWORD count);
void Sleep(DWORD msec);
BOOL DeleteFile(const char *fname);
HGLOBAL GlobalAlloc(int dummy, int64_t msize);
HGLOBAL GlobalFree(HGLOBAL hmem);
uint64_t getTotalSystemMemory();
int str2Int(const char *string);
// Milliseconds of the wall clock modulo 2^32; elapsed times are differences of two
// readings in DWORD arithmetic, which stay right across the wrap.
DWORD GetTickCount();
// The reading GetTickCount gives for a wall-clock time.
DWORD TickCountOf(int64_t sec, int64_t usec);
WORD GetBMPBytesPerLine(LONG bitcolor, LONG width);
