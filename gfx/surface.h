#pragma once

// The core's own handle on the window: which platform draws, and closing the window on purpose.

#include "gfx/platform.h"

namespace gfx {

// Makes the platform the one Platform() answers; the mode lists are measured again on next use.
// Only outside graphics mode.
void SelectPlatform(WindowPlatform& platform);
// CloseGraph and mode changes: closes the window without telling the keyboard it was lost.
void CloseWindowOnPurpose();
// The window of this mode number starts maximized and takes the real client size.
constexpr bool IsMaximizedMode(std::int16_t modeNumber) {
  return modeNumber >= 245 && modeNumber <= 249;
}

}  // namespace gfx
