#include <condition_variable>

#include "gfx/core/key_wait.h"

// The program's thread blocks until the window thread queues a key or the window goes away.

namespace gfx {
namespace {

struct Waits {
  std::condition_variable KeyArrived;  // a byte was queued or the window closed
  std::condition_variable SourceLost;  // the window was lost: Delay stops sleeping
};

// Never destroyed: the window thread may still queue a key while the program's exit handlers run.
Waits& TheWaits() {
  static Waits* const waits = new Waits;
  return *waits;
}

}  // namespace

void AwaitKey(std::unique_lock<std::mutex>& lock, bool (*ready)()) {
  TheWaits().KeyArrived.wait(lock, ready);
}

bool AwaitDeadline(std::unique_lock<std::mutex>& lock,
                   std::chrono::steady_clock::time_point deadline, bool (*lost)()) {
  return TheWaits().SourceLost.wait_until(lock, deadline, lost);
}

void KeyQueued() {
  TheWaits().KeyArrived.notify_one();
}

void KeySourceChanged() {
  TheWaits().KeyArrived.notify_all();
  TheWaits().SourceLost.notify_all();
}

}  // namespace gfx
