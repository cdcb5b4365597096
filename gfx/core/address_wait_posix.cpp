#include "gfx/core/address_wait.h"

namespace gfx {

// libstdc++ waits on a 32-bit word with the futex itself, which checks the word and sleeps in
// one step.
void WaitWhileEqual(const std::atomic<std::uint32_t>& word, std::uint32_t old) {
  word.wait(old, std::memory_order_seq_cst);
}

void WakeAll(std::atomic<std::uint32_t>& word) {
  word.notify_all();
}

}  // namespace gfx
