#pragma once

#include <cstdint>

#include "game/board.h"

// What the snake eats: one cell of the board and the number of play-loop steps it has left there.
// Held inside the snake and reset with it; it has no constructor of its own.
struct TPrize {
  std::uint16_t Row = 0;
  std::uint16_t Col = 0;
  std::uint16_t Time = 0;

  // Moves the prize to a random cell of the board's grid that is none of C[0] .. C[Size - 1], sets
  // Time to 20 and returns true. Restarts the random sequence once, then draws a row and a column
  // per attempt until the cell is free. Draws nothing: callers Hide before and Show after.
  //
  // A full board: when those entries cover every cell of the grid there is nowhere to go; the
  // prize then stays as it was and the result is false. The play loop ends the game there as
  // after a collision. Inside the snake's Move this cannot go unnoticed: a snake covering the
  // board has nowhere to step but the wall or its own body, so the same step's GameOver is true.
  [[nodiscard]] bool GenerateNew(std::uint16_t R, const TCoords& C, std::uint16_t Size);

  // Draws the prize: red outline, close dots in light blue. Called by the play loop every step.
  void Show(std::uint16_t R) const;

  // Erases the prize's disc in black with the fill already in effect, which at both callers is
  // the solid black that the snake's Hide has just set.
  void Hide(std::uint16_t R) const;

  // Counts one step off the lifetime; the play loop calls it only while Time is above 0.
  void Timer();
};
