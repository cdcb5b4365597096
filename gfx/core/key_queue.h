#pragma once

// What the core tells the key queue about the window that delivers its keys.

namespace gfx {

// A new window will deliver keys (InitGraph succeeded).
void KeySourceOpened();
// The window can deliver no more keys: lost is true when the player closed it or the display went
// away, false for CloseGraph. Wakes every reader waiting for a key or sleeping in Delay.
void KeySourceClosed(bool lost);

}  // namespace gfx
