#include <algorithm>

#include "gfx/core/key_wait.h"

// A page has only one thread: the program's waits hand control back to the browser, which runs
// the page's events meanwhile, and the program goes on once the page's next key (for ReadKey) or
// its timer (for Delay) brings it back (library_page.js). Nothing runs in between, so a program
// waiting for a key costs nothing at all.

extern "C" void snake_web_await_page(int timeoutMs, int wakeOnKey);

namespace gfx {

void AwaitKey(std::unique_lock<std::mutex>& lock, bool (*ready)()) {
  while (!ready()) {
    lock.unlock();
    snake_web_await_page(-1, 1);
    lock.lock();
  }
}

bool AwaitDeadline(std::unique_lock<std::mutex>& lock,
                   std::chrono::steady_clock::time_point deadline, bool (*lost)()) {
  for (;;) {
    if (lost()) return true;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    lock.unlock();
    snake_web_await_page(static_cast<int>(std::min<long long>(left.count(), 1 << 30)), 0);
    lock.lock();
  }
}

// The page's key handler wakes a waiting ReadKey itself, once the key is queued and the program's
// code has returned to it; nothing can wait on another thread.
void KeyQueued() {}
void KeySourceChanged() {}

}  // namespace gfx
