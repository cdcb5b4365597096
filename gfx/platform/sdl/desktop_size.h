#pragma once

// The desktop's size, as the mode lists need it.

#include "gfx/platform/platform.h"

namespace gfx::sdl {

// Measures the desktop on a short-lived thread of its own, which owns SDL meanwhile: only while
// no window thread does. With no display to measure, the stand-ins (640 x 480 for all four).
DesktopSize MeasureDesktop();

}  // namespace gfx::sdl
