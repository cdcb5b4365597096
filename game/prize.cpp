#include "game/prize.h"

#include <cassert>

#include "game/random.h"
#include "gfx/graph.h"

namespace {

constexpr std::uint16_t kLifetime = 20;

// Both the search and the full-board check run over this grid, so they agree on which cells
// exist: rows downward from the top, columns leftward from the right, in 16-bit arithmetic.
struct PrizeGrid {
  std::uint16_t R;
  std::uint32_t side;  // cells per row and per column

  explicit PrizeGrid(std::uint16_t r) : R(r), side(kBoardSpan / r - 1u) {}
  std::uint16_t RowAt(std::uint32_t a) const {
    return static_cast<std::uint16_t>(MY2 - kHalfBoard + R + R * a);
  }
  std::uint16_t ColAt(std::uint32_t b) const {
    return static_cast<std::uint16_t>(MX2 + kHalfBoard - R - R * b);
  }
};

bool Listed(TPoint p, const TCoords& C, std::uint16_t Size) {
  for (std::uint16_t I = 0; I < Size; ++I) {
    if (C[I] == p) return true;
  }
  return false;
}

bool AnyFreeCell(const PrizeGrid& grid, const TCoords& C, std::uint16_t Size) {
  for (std::uint32_t a = 0; a < grid.side; ++a) {
    for (std::uint32_t b = 0; b < grid.side; ++b) {
      if (!Listed({grid.RowAt(a), grid.ColAt(b)}, C, Size)) return true;
    }
  }
  return false;
}

}  // namespace

bool TPrize::GenerateNew(std::uint16_t R, const TCoords& C, std::uint16_t Size) {
  assert(R > 0 && kBoardSpan / R >= 2 && "the cell step must leave a grid");
  assert(Size <= C.size() && "more cells than the list holds");
  const PrizeGrid grid(R);
  // Checked before anything changes, so that the unbounded search below always has a free cell
  // to find and picks it exactly as it would without the check.
  if (!AnyFreeCell(grid, C, Size)) return false;
  Time = kLifetime;
  Randomize();
  do {
    Row = grid.RowAt(Random(grid.side));
    Col = grid.ColAt(Random(grid.side));
  } while (Listed({Row, Col}, C, Size));
  return true;
}

void TPrize::Show(std::uint16_t R) const {
  SetColor(kPrizeOutlineColor);
  SetFillStyle(kPrizeFillPattern, kPrizeFillColor);
  DrawCell({Row, Col}, R);
}

void TPrize::Hide(std::uint16_t R) const {
  SetColor(kEraseColor);
  DrawCell({Row, Col}, R);
}

void TPrize::Timer() {
  assert(Time > 0 && "the play loop replaces an expired prize instead");
  --Time;
}
