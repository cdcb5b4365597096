#pragma once

// Cells of the board as the game's tests name them, and what a cell's disc does to a pixel.

#include <cstdint>

#include "game/board.h"

// The cell i columns right of and j rows below the centre.
inline TPoint At(int i, int j) {
  return {static_cast<std::uint16_t>(MY2 + 15 * j), static_cast<std::uint16_t>(MX2 + 15 * i)};
}

// What a radius-5 disc centred at the origin does to the pixel (dx, dy): 0 untouched, 1 outline,
// 2 inside. Every cell of the board is drawn as such a disc.
inline int DiscRole(int dx, int dy) {
  const int ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
  if (ay == 5) return ax <= 2 ? 1 : 0;
  if (ay == 4) return ax <= 1 ? 2 : ax <= 4 ? 1 : 0;
  if (ay == 3) return ax <= 3 ? 2 : ax == 4 ? 1 : 0;
  if (ay <= 2) return ax <= 4 ? 2 : ax == 5 ? 1 : 0;
  return 0;
}
