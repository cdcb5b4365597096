#include <windows.h>

#include <thread>

#include "gfx/core/address_wait.h"

namespace gfx {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the word is waited on as a plain 32-bit value");

namespace {
// Most holds of the drawing lock are short: a few yields usually see the word change without
// a trip through the kernel.
constexpr int kYields = 16;
}  // namespace

// WaitOnAddress compares and sleeps as one step against WakeByAddressAll, as a futex does.
void WaitWhileEqual(const std::atomic<std::uint32_t>& word, std::uint32_t old) {
  for (int i = 0; i < kYields; ++i) {
    if (word.load(std::memory_order_seq_cst) != old) return;
    std::this_thread::yield();
  }
  WaitOnAddress(const_cast<std::atomic<std::uint32_t>*>(&word), &old, sizeof old, INFINITE);
}

void WakeAll(std::atomic<std::uint32_t>& word) {
  WakeByAddressAll(&word);
}

}  // namespace gfx
