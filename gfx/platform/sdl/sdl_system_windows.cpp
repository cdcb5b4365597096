#include "gfx/platform/sdl/sdl_system.h"

// Windows: no X connection and no SIGPIPE. The window thread waits in SDL and the program's
// thread wakes it with an SDL event, so there is no wake counter.

namespace gfx::sdl {

int OpenWake() {
  return -1;
}

void PostWake(int) {}

void DrainWake(int) {}

// Never called: without an X connection the window thread waits in SDL.
bool AwaitConnectionOrWake(int, int, int) {
  return false;
}

void IgnoreBrokenConnections() {}

BrokenConnectionsIgnored::BrokenConnectionsIgnored() = default;
BrokenConnectionsIgnored::~BrokenConnectionsIgnored() = default;

}  // namespace gfx::sdl
