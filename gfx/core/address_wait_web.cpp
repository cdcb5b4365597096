#include "gfx/core/address_wait.h"

namespace gfx {

// A page runs the game on one thread, so the drawing lock is never held by another while this
// one asks for it: nothing ever sleeps on its word. A return without a change is within the
// contract (callers look at the word again).
void WaitWhileEqual(const std::atomic<std::uint32_t>&, std::uint32_t) {}

void WakeAll(std::atomic<std::uint32_t>&) {}

}  // namespace gfx
