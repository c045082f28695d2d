#include "driver/image_gate.h"

#include <unistd.h>

#include <condition_variable>
#include <mutex>

namespace {

struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int limit = 1;
  int active = 0;  // pages processing now
  DWORD next = 0;  // the next page in order to admit
};

// Never destroyed: detached image threads may pass the gate while the process
// exits.
Gate &TheGate() {
  static Gate *gate = new Gate;
  return *gate;
}

}  // namespace

int ImageGateSizeFor(long cores) {
  // One core stays for the compression thread, the one that sets the pace.
  if (cores <= 2) return 1;
  return cores > 1024 ? 1023 : static_cast<int>(cores - 1);
}

int ImageGateSize() { return ImageGateSizeFor(sysconf(_SC_NPROCESSORS_ONLN)); }

void ImageGateOpen(int limit) {
  Gate &g = TheGate();
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    g.open = true;
    g.limit = limit < 1 ? 1 : limit;
    g.active = 0;
    g.next = 0;
  }
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

void ImageGateLeave(bool counted) {
  if (!counted) return;
  Gate &g = TheGate();
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    --g.active;
  }
  g.changed.notify_all();
}
