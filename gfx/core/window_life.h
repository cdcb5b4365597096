#pragma once

// The core's own handle on the window's life: closing it on purpose, and at exit.

#include <cstdint>

namespace gfx {

// CloseGraph and mode changes: closes the window without telling the keyboard it was lost.
void CloseWindowOnPurpose();
// A program may end with its window open, returning from main or calling exit without
// CloseGraph. Then an exit handler closes the window, on purpose, and waits for the window
// thread, so that nothing presents while static destructors and library finalisers run. Called
// before every window opens; registers once, before the first window exists, so the handler runs
// ahead of the destructors of everything made until then.
void CloseWindowAtExit();
// The window of this mode number starts maximized and takes the real client size.
constexpr bool IsMaximizedMode(std::int16_t modeNumber) {
  return modeNumber >= 245 && modeNumber <= 249;
}

}  // namespace gfx
