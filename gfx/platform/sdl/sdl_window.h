#pragma once

// The window platform on SDL2: X11 and Wayland on Linux.

#include "gfx/platform/platform.h"

namespace gfx {

WindowPlatform& SdlPlatform();

}  // namespace gfx
