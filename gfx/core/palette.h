#pragma once

// The palette of the open mode and the standard 256-colour table it starts from.

#include <array>
#include <cstdint>

namespace gfx {

struct RGBColor {
  std::uint16_t Red = 0;
  std::uint16_t Green = 0;
  std::uint16_t Blue = 0;
};

// The standard 256-colour table: the 16 classic colours, 16 greys, nine rings of 24 hues, black.
const std::array<RGBColor, 256>& DefaultColors();

// Window start-up: the palette gets MaxColor entries copied from DefaultColors.
void AllocatePalette(int count);
// CloseGraph: the palette is gone; colours then map to black.
void FreePalette();
// Entry 0 follows the background colour (SetBkColor).
void SetPaletteEntry(int index, RGBColor color);

// The screen colour of a colour number. Numbers at or above MaxColor wrap around the palette,
// as an 8-bit colour register would, so nothing reads outside it.
std::uint32_t ScreenColor(std::uint16_t color);

// The palette entry showing this screen colour, or the nearest one (GetPixel).
std::uint16_t PaletteIndexOf(std::uint32_t screen);

}  // namespace gfx
