#pragma once

#include <atomic>
#include <cstdint>

// Sleeping on a word until another thread changes it, as the drawing lock's waiters do. One file
// per operating system holds it, because the standard library's own waiting is not safe
// everywhere: without a futex, the libstdc++ of GCC 12 (mingw-w64) checks the word and then goes
// to sleep without holding off the waker, so a wake that comes in between is lost for good.

namespace gfx {

// Sleeps while `word` still holds `old`. Returns once another thread has changed it and called
// WakeAll, or for no reason at all: callers look at the word again.
void WaitWhileEqual(const std::atomic<std::uint32_t>& word, std::uint32_t old);
// Wakes every thread sleeping in WaitWhileEqual on `word`; called after changing it.
void WakeAll(std::atomic<std::uint32_t>& word);

}  // namespace gfx
