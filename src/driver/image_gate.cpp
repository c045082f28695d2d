#include "driver/image_gate.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "runtime/debug_log.h"

namespace {

struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int limit = 1;
  int active = 0;   // pages at work now
  DWORD next = 0;   // the next page in order to admit
  int holding = 0;  // pages holding their 8-bit bitmaps
};

// Never destroyed: detached image threads may pass the gate while the process
// exits.
Gate &TheGate() {
  static Gate *gate = new Gate;
  return *gate;
}

}  // namespace

int ImageGateSizeFor(long cores) {
  if (cores < 1) return 1;
  return cores > 1024 ? 1024 : static_cast<int>(cores);
}

int ImageGateSize() {
  const char *text = getenv("ZELVAR_IMAGE_THREADS");
  if (text != nullptr && *text != '\0') {
    char *end = nullptr;
    const long n = strtol(text, &end, 10);
    if (*end == '\0' && n >= 1 && n <= 64) return static_cast<int>(n);
    DbgMsg("ImageGate::ZELVAR_IMAGE_THREADS=%s is not a number from 1 to 64, ignored", text);
  }
  return ImageGateSizeFor(sysconf(_SC_NPROCESSORS_ONLN));
}

void ImageGateOpen(int limit) {
  Gate &g = TheGate();
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.open = true;
    g.limit = limit < 1 ? 1 : limit;
    g.active = 0;
    g.next = 0;
    g.holding = 0;
  }
  DbgMsg("ImageGate::%d pages at work at once", limit < 1 ? 1 : limit);
  g.changed.notify_all();
}

void ImageGateClose() {
  Gate &g = TheGate();
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.open = false;
  }
  g.changed.notify_all();
}

bool ImageGateEnter(DWORD pageIndex) {
  Gate &g = TheGate();
  std::unique_lock<std::mutex> lock(g.mutex);
  g.changed.wait(
      lock, [&g, pageIndex] { return !g.open || (pageIndex <= g.next && g.active < g.limit); });
  if (!g.open) return false;
  ++g.active;
  if (pageIndex == g.next) ++g.next;
  lock.unlock();
  // The next page may be waiting for its turn.
  g.changed.notify_all();
  return true;
}

void ImageGateReservePage() {
  Gate &g = TheGate();
  std::unique_lock<std::mutex> lock(g.mutex);
  g.changed.wait(lock, [&g] { return !g.open || g.holding <= g.limit; });
  if (g.open) ++g.holding;
}

void ImageGateReleasePage() {
  Gate &g = TheGate();
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    if (g.holding > 0) --g.holding;
  }
  g.changed.notify_all();
}

void ImageGateLeave(bool counted) {
  if (!counted) return;
  Gate &g = TheGate();
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    --g.active;
  }
  g.changed.notify_all();
}
