#pragma once

// How the program's thread waits for a key or for time to pass, one file per kind of platform.
// Where the window is served by a thread of its own (SDL, and the headless platform of the
// tests), the program's thread blocks on condition variables that the key queue signals
// (key_wait_threads.cpp). A web page has only one thread: there the wait hands control back to
// the browser until the page's next key or timer (gfx/platform/web/key_wait_page.cpp).

#include <chrono>
#include <mutex>

namespace gfx {

// Both are called with the keyboard lock held, let go of it while they wait, and return with it
// held again. Until ready() holds.
void AwaitKey(std::unique_lock<std::mutex>& lock, bool (*ready)());
// Until the deadline, or sooner once lost() holds; answers lost().
bool AwaitDeadline(std::unique_lock<std::mutex>& lock,
                   std::chrono::steady_clock::time_point deadline, bool (*lost)());

// Called after the lock was let go: a key was queued (wakes AwaitKey), or the window that
// delivers keys opened or went away (wakes both).
void KeyQueued();
void KeySourceChanged();

}  // namespace gfx
