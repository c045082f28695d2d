#include "runtime/win_helpers.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {
constexpr DWORD bufsize = 60000;  // bytes handled per step of the fill and move helpers
}

void FillMemory(void *dest, DWORD count, short fbyte) {
  BYTE *p = static_cast<BYTE *>(dest);
  for (DWORD i = 0; i < count;) {
    DWORD step = count - i < bufsize ? count - i : bufsize;
    memset(p + i, fbyte & 0xFF, step);
    i += step;
  }
}

void MoveMemory(void *dest, const void *src, DWORD count) {
  BYTE *d = static_cast<BYTE *>(dest);
  const BYTE *s = static_cast<const BYTE *>(src);
  for (DWORD i = 0; i < count;) {
    DWORD step = count - i < bufsize ? count - i : bufsize;
    memmove(d + i, s + i, step);
    i += step;
  }
}

void CopyMemory(void *dest, const void *src, DWORD count) { MoveMemory(dest, src, count); }

BOOL DeleteFile(const char *fname) { return remove(fname) == 0 ? TRUE : FALSE; }

namespace {

// Page-sized blocks given back with GlobalFree, kept for the next page.  A block
// fresh from the system is zeroed by the kernel as it is first touched, which
// for a 30 MB page costs about as much as reading the page through the pipe; a
// kept block is ready.  A request that no kept block fits first gives back kept
// blocks, the smallest first, until as many bytes as it asks for are given back
// (or none is left), so the blocks in use and kept together never exceed what
// was once in use at the same time; the blocks left serve the next requests of
// their own size (a page's line-art mask does not cost the next page its block).
constexpr size_t kKeptBlocks = 8;
struct KeptBlock {
  void *block;
  size_t size;  // its malloc_usable_size
};
std::mutex gKeptLock;
KeptBlock gKept[kKeptBlocks];
size_t gKeptCount = 0;

void *TakeKeptBlock(size_t size) {
  std::lock_guard<std::mutex> lock(gKeptLock);
  for (size_t i = 0; i < gKeptCount; ++i) {
    // At most twice the size asked for, so that a small request does not take
    // the block a page needs.
    if (gKept[i].size >= size && gKept[i].size / 2 <= size) {
      void *block = gKept[i].block;
      gKept[i] = gKept[--gKeptCount];
      return block;
    }
  }
  size_t released = 0;
  while (released < size && gKeptCount > 0) {
    size_t smallest = 0;
    for (size_t i = 1; i < gKeptCount; ++i)
      if (gKept[i].size < gKept[smallest].size) smallest = i;
    released += gKept[smallest].size;
    free(gKept[smallest].block);
    gKept[smallest] = gKept[--gKeptCount];
  }
  return nullptr;
}

}  // namespace

HGLOBAL GlobalAlloc(int, int64_t msize) {
  if (msize < 0) return nullptr;
  const size_t size = static_cast<size_t>(msize);
  if (size < kHugePageBytes) return malloc(size);
  if (void *kept = TakeKeptBlock(size)) return kept;
  // A page-sized block on huge pages where the system offers them: a 30 MB page
  // then costs some fifteen page faults instead of thousands, which on a
  // virtual machine take longer than the page's whole processing.
  void *block = nullptr;
  if (posix_memalign(&block, kHugePageBytes, size) != 0) return nullptr;
  madvise(block, size / kHugePageBytes * kHugePageBytes, MADV_HUGEPAGE);
  return block;
}

HGLOBAL GlobalFree(HGLOBAL hmem) {
  const size_t size = hmem ? malloc_usable_size(hmem) : 0;
  if (size >= kHugePageBytes) {
    std::lock_guard<std::mutex> lock(gKeptLock);
    if (gKeptCount < kKeptBlocks) {
      gKept[gKeptCount++] = {hmem, size};
      return nullptr;
    }
  }
  free(hmem);
  return nullptr;
}

uint64_t getTotalSystemMemory() {
  long pages = sysconf(_SC_AVPHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  if (pages < 0 || page_size < 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

int str2Int(const char *string) {
  // Digits from the start of the text, no sign, no blanks.  The value wraps like
  // the unsigned arithmetic it is done in rather than overflowing.
  unsigned value = 0;
  for (const char *p = string; p && *p >= '0' && *p <= '9'; ++p)
    value = value * 10u + static_cast<unsigned>(*p - '0');
  return static_cast<int>(value);
}

DWORD TickCountOf(int64_t sec, int64_t usec) {
  // Milliseconds since the Epoch reduced modulo 2^32: done in unsigned 64-bit
  // arithmetic, so the reduction is a plain wrap.
  uint64_t ms = static_cast<uint64_t>(sec) * 1000u + static_cast<uint64_t>(usec / 1000);
  return static_cast<DWORD>(ms);
}

DWORD GetTickCount() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return TickCountOf(tv.tv_sec, tv.tv_usec);
}

double ThreadCpuSeconds() {
  struct timespec ts;
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0.0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

WORD GetBMPBytesPerLine(LONG bitcolor, LONG width) {
  // Truncating signed divisions; done in 64 bits so no width can overflow them.
  int64_t w = width;
  switch (bitcolor) {
    case 1:
      return static_cast<WORD>(((w + 7) / 8 + 3) / 4 * 4);
    case 4:
      return static_cast<WORD>(((w + 1) / 2 + 3) / 4 * 4);
    case 8:
      return static_cast<WORD>((w + 3) / 4 * 4);
    case 24:
      return static_cast<WORD>((3 * w + 3) / 4 * 4);
    default:
      return 0;
  }
}
