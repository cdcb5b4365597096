#pragma once

// Test and benchmark support: what is on the backing image, and the window going away.

#include <cstdint>

namespace gfx::inspect {

// The pixel at absolute backing-image coordinates as 0x00RRGGBB, read under the drawing lock;
// 0xFFFFFFFF outside the image or when there is none.
std::uint32_t Pixel(int x, int y);
int Width();
int Height();
// How long after the first change the window shows a picture the program has not finished by
// waiting; 0 puts back the usual frame.
void SetFrameLimit(int milliseconds);
// Headless platform: as if the player closed the window.
void SimulateWindowClose();

}  // namespace gfx::inspect
