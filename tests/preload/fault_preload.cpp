// A library that the fault-injection tests preload into the filter binary
// (LD_PRELOAD).  It stands between the filter and the C library and, as the
// environment asks, makes one call fail:
//
//   ZELVAR_FAIL_ALLOC_AT=N   the Nth counted allocation (malloc, calloc, realloc,
//                            posix_memalign, aligned_alloc) returns null with
//                            ENOMEM.  Counted are the allocations made directly
//                            by code in an object whose path contains one of the
//                            comma-separated words of ZELVAR_FAIL_ALLOC_FROM, or in
//                            the program itself for the word "main" (the
//                            default: the filter's own code).
//   ZELVAR_FAIL_ALLOC_SITE=S with ZELVAR_FAIL_ALLOC_AT=N
//                            the Nth counted allocation made at the call site S
//                            (as the log names it, "main+0x4a2c") fails instead:
//                            the same site and turn whatever order the threads'
//                            allocations come in.
//   ZELVAR_FAIL_WRITE_AT=N   the Nth write to standard output and every later one
//                            fail with EIO (a printer connection that died).
//   ZELVAR_FAIL_THREAD_AT=N  the Nth pthread_create returns EAGAIN.
//   ZELVAR_FAULT_LOG=PATH    one line per counted call is appended to PATH:
//                            "alloc N SIZE OBJECT+OFFSET", "write N LEN",
//                            "thread N"; "fail ..." marks the call made to fail;
//                            "crash SIGNAL OBJECT+OFFSET" where a crash happened
//                            (unless a sanitizer's own handler reports it).
//
// Nothing here allocates: early calls are served from a small static arena
// while the real functions are looked up.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>

namespace {

using MallocFn = void *(*)(size_t);
using CallocFn = void *(*)(size_t, size_t);
using ReallocFn = void *(*)(void *, size_t);
using FreeFn = void (*)(void *);
using MemalignFn = int (*)(void **, size_t, size_t);
using AlignedAllocFn = void *(*)(size_t, size_t);
using WriteFn = ssize_t (*)(int, const void *, size_t);
using ThreadFn = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

MallocFn realMalloc;
CallocFn realCalloc;
ReallocFn realRealloc;
FreeFn realFree;
MemalignFn realMemalign;
AlignedAllocFn realAlignedAlloc;
WriteFn realWrite;
ThreadFn realThread;

// Served while dlsym looks the real functions up (it may allocate).
alignas(16) char gArena[65536];
std::atomic<size_t> gArenaUsed{0};
std::atomic<bool> gResolving{false};

bool InArena(const void *p) {
  return p >= static_cast<const void *>(gArena) &&
         p < static_cast<const void *>(gArena + sizeof gArena);
}

void *ArenaAlloc(size_t n) {
  n = (n + 15) & ~static_cast<size_t>(15);
  size_t at = gArenaUsed.fetch_add(n);
  if (at + n > sizeof gArena) return nullptr;
  return gArena + at;
}

void Resolve() {
  if (realMalloc) return;
  bool expected = false;
  if (!gResolving.compare_exchange_strong(expected, true)) return;
  realCalloc = reinterpret_cast<CallocFn>(dlsym(RTLD_NEXT, "calloc"));
  realRealloc = reinterpret_cast<ReallocFn>(dlsym(RTLD_NEXT, "realloc"));
  realFree = reinterpret_cast<FreeFn>(dlsym(RTLD_NEXT, "free"));
  realMemalign = reinterpret_cast<MemalignFn>(dlsym(RTLD_NEXT, "posix_memalign"));
  realAlignedAlloc = reinterpret_cast<AlignedAllocFn>(dlsym(RTLD_NEXT, "aligned_alloc"));
  realWrite = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
  realThread = reinterpret_cast<ThreadFn>(dlsym(RTLD_NEXT, "pthread_create"));
  realMalloc = reinterpret_cast<MallocFn>(dlsym(RTLD_NEXT, "malloc"));
}

long EnvNumber(const char *name) {
  const char *v = getenv(name);
  return v && *v ? strtol(v, nullptr, 10) : 0;
}

void Log(const char *format, ...) {
  const char *path = getenv("ZELVAR_FAULT_LOG");
  if (!path || !*path) return;
  char line[512];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  if (n <= 0) return;
  if (n >= static_cast<int>(sizeof line)) n = sizeof line - 1;
  int fd =
      static_cast<int>(syscall(SYS_open, path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd < 0) return;
  syscall(SYS_write, fd, line, static_cast<size_t>(n));
  syscall(SYS_close, fd);
}

// Where the program itself (the first object loaded) begins.
uintptr_t MainBase() {
  static std::atomic<uintptr_t> base{0};
  if (uintptr_t b = base.load()) return b;
  uintptr_t found = 0;
  dl_iterate_phdr(
      [](struct dl_phdr_info *info, size_t, void *data) -> int {
        uintptr_t lowest = UINTPTR_MAX;
        for (int i = 0; i < info->dlpi_phnum; ++i)
          if (info->dlpi_phdr[i].p_type == PT_LOAD && info->dlpi_phdr[i].p_vaddr < lowest)
            lowest = info->dlpi_phdr[i].p_vaddr;
        *static_cast<uintptr_t *>(data) = info->dlpi_addr + (lowest == UINTPTR_MAX ? 0 : lowest);
        return 1;  // the program comes first
      },
      &found);
  base.store(found);
  return found;
}

// Whether the code at `caller` lies in an object named by ZELVAR_FAIL_ALLOC_FROM.
bool Counted(const void *caller, char *where, size_t whereSize) {
  Dl_info info;
  if (!dladdr(caller, &info)) return false;
  const bool inMain = reinterpret_cast<uintptr_t>(info.dli_fbase) == MainBase();
  const char *from = getenv("ZELVAR_FAIL_ALLOC_FROM");
  if (!from || !*from) from = "main";
  const char *name = inMain ? "main" : (info.dli_fname ? info.dli_fname : "?");
  const char *slash = strrchr(name, '/');
  const char *base = slash ? slash + 1 : name;
  snprintf(where, whereSize, "%s+0x%lx", base,
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(caller) -
                                      reinterpret_cast<uintptr_t>(info.dli_fbase)));
  // The words of `from`, each looked for in the object's file name.
  char word[128];
  while (*from) {
    size_t len = strcspn(from, ",");
    if (len > 0 && len < sizeof word) {
      memcpy(word, from, len);
      word[len] = '\0';
      if (strstr(base, word)) return true;
    }
    from += len;
    if (*from == ',') ++from;
  }
  return false;
}

std::atomic<long> gAllocs{0}, gSiteAllocs{0}, gWrites{0}, gThreads{0};
// Initial-exec: reaching it never allocates (the library is loaded at start).
__attribute__((tls_model("initial-exec"))) thread_local bool tInHook = false;

// TRUE when this allocation is to fail.
bool AllocationFails(size_t size, const void *caller) {
  if (tInHook) return false;
  tInHook = true;
  bool fail = false;
  char where[256];
  if (Counted(caller, where, sizeof where)) {
    long n = ++gAllocs;
    const char *site = getenv("ZELVAR_FAIL_ALLOC_SITE");
    if (site && *site)
      fail = strcmp(site, where) == 0 && ++gSiteAllocs == EnvNumber("ZELVAR_FAIL_ALLOC_AT");
    else
      fail = n == EnvNumber("ZELVAR_FAIL_ALLOC_AT");
    Log("%salloc %ld %zu %s\n", fail ? "fail " : "", n, size, where);
  }
  tInHook = false;
  return fail;
}

// Notes where the program crashed, then lets the signal end it as it would have.
void OnCrash(int sig, siginfo_t *, void *context) {
  const ucontext_t *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
  const void *pc = reinterpret_cast<const void *>(uc->uc_mcontext.gregs[REG_RIP]);
#else
  const void *pc = nullptr;
  (void)uc;
#endif
  char where[256] = "?";
  tInHook = true;
  Counted(pc, where, sizeof where);
  Log("crash %d %s\n", sig, where);
  signal(sig, SIG_DFL);
  raise(sig);
}

__attribute__((constructor)) void InstallCrashNotes() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = OnCrash;
  sa.sa_flags = SA_SIGINFO | SA_RESETHAND;
  sigaction(SIGSEGV, &sa, nullptr);
  sigaction(SIGBUS, &sa, nullptr);
  sigaction(SIGABRT, &sa, nullptr);
}

}  // namespace

extern "C" {

void *malloc(size_t size) {
  Resolve();
  if (!realMalloc) return ArenaAlloc(size);
  if (AllocationFails(size, __builtin_return_address(0))) {
    errno = ENOMEM;
    return nullptr;
  }
  return realMalloc(size);
}

void *calloc(size_t count, size_t size) {
  Resolve();
  if (!realCalloc || !realMalloc) {
    void *p = ArenaAlloc(count * size);
    if (p) memset(p, 0, count * size);
    return p;
  }
  if (AllocationFails(count * size, __builtin_return_address(0))) {
    errno = ENOMEM;
    return nullptr;
  }
  return realCalloc(count, size);
}

void *realloc(void *ptr, size_t size) {
  Resolve();
  if (InArena(ptr) || !realRealloc) {
    void *p = realMalloc ? realMalloc(size) : ArenaAlloc(size);
    if (p && ptr) memcpy(p, ptr, size);  // arena blocks are never shorter than asked
    return p;
  }
  if (AllocationFails(size, __builtin_return_address(0))) {
    errno = ENOMEM;
    return nullptr;
  }
  return realRealloc(ptr, size);
}

void free(void *ptr) {
  if (!ptr || InArena(ptr)) return;
  Resolve();
  if (realFree) realFree(ptr);
}

int posix_memalign(void **out, size_t alignment, size_t size) {
  Resolve();
  if (AllocationFails(size, __builtin_return_address(0))) return ENOMEM;
  return realMemalign(out, alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size) {
  Resolve();
  if (AllocationFails(size, __builtin_return_address(0))) {
    errno = ENOMEM;
    return nullptr;
  }
  return realAlignedAlloc(alignment, size);
}

ssize_t write(int fd, const void *buf, size_t count) {
  Resolve();
  if (fd == 1 && !tInHook) {
    long n = ++gWrites;
    long failAt = EnvNumber("ZELVAR_FAIL_WRITE_AT");
    bool fail = failAt > 0 && n >= failAt;
    tInHook = true;
    Log("%swrite %ld %zu\n", fail ? "fail " : "", n, count);
    tInHook = false;
    if (fail) {
      errno = EIO;
      return -1;
    }
  }
  if (!realWrite) return syscall(SYS_write, fd, buf, count);
  return realWrite(fd, buf, count);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *),
                   void *arg) {
  Resolve();
  long n = ++gThreads;
  bool fail = n == EnvNumber("ZELVAR_FAIL_THREAD_AT");
  tInHook = true;
  Log("%sthread %ld\n", fail ? "fail " : "", n);
  tInHook = false;
  if (fail) return EAGAIN;
  return realThread(thread, attr, start, arg);
}

}  // extern "C"
