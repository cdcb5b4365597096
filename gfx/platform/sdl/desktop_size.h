#pragma once

// The desktop's size, as the mode lists need it.

#include "gfx/platform/platform.h"

namespace gfx::sdl {

struct MeasuredDesktop {
  DesktopSize Size;  // in pixels, with the scale the player or the desktop asks for
  // Pixels per unit of SDL's window sizes and mouse positions for a high-density window: the
  // output's scale on Wayland, 1 on X11.
  double PixelRatio = 1.0;
};

// The scale asked for: the player's setting (the text of SNAKE_GARDEN_SCALE, or null) when it
// is a whole number from 1 to kMostScale, else the desktop's own scale (its pixels per desktop
// unit, such as Xft.dpi / 96) rounded to the nearest whole number, halves up.
int ScaleAskedFor(const char* setting, double desktopScale);

// Measures the desktop on a short-lived thread of its own, which owns SDL meanwhile: only while
// no window thread does. With no display to measure, the stand-ins (640 x 480 for all four).
MeasuredDesktop MeasureDesktop();

}  // namespace gfx::sdl
