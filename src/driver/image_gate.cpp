#include "driver/image_gate.h"

#include <unistd.h>

#include <cstdlib>

#include "runtime/debug_log.h"

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

void ImageGateOpen(ImageGate *gate, int limit) {
  ImageGate &g = *gate;
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

void ImageGateClose(ImageGate *gate) {
  ImageGate &g = *gate;
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.open = false;
  }
  g.changed.notify_all();
}

bool ImageGateEnter(ImageGate *gate, DWORD pageIndex) {
  ImageGate &g = *gate;
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

void ImageGateReservePage(ImageGate *gate) {
  ImageGate &g = *gate;
  std::unique_lock<std::mutex> lock(g.mutex);
  g.changed.wait(lock, [&g] { return !g.open || g.holding <= g.limit; });
  if (g.open) ++g.holding;
}

void ImageGateReleasePage(ImageGate *gate) {
  ImageGate &g = *gate;
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    if (g.holding > 0) --g.holding;
  }
  g.changed.notify_all();
}

void ImageGateLeave(ImageGate *gate, bool counted) {
  if (!counted) return;
  ImageGate &g = *gate;
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    --g.active;
  }
  g.changed.notify_all();
}
