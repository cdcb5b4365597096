#pragma once

#include <cstdint>

#include "game/board.h"
#include "game/prize.h"

// The player's snake: its cells, its length, the current game's score and the prize it chases.
// The program has one, used in place; the play loop drives it one step at a time.
struct TSnake {
  TPrize Prize{};
  TCoords Coords{};  // Coords[0] is the head; entries from Size on are not part of the snake
  std::uint16_t Size = 0;
  std::uint16_t R = 0;  // one step in pixels, kCellStep; a cell's disc has radius R - kDiscInset
  std::uint16_t Scores = 0;

  // Starts a new game: clears everything (the prize too), puts a snake of three cells on the
  // board's centre heading right and sets MX2, MY2 from the drawing area. Always returns true.
  // Called once after the graphics window opens and again before every game.
  bool Init();

  // Ends the snake's use; it owns nothing, so this changes nothing. Called after every game.
  void Done();

  // Draws every cell: white outline, solid colour 56 inside. Called by the play loop every step.
  void Show() const;

  // Erases every cell in black and leaves the solid black fill set, which the prize's Hide later
  // in the same step relies on.
  void Hide() const;

  // One step in direction Go. If the head stands on the prize, first eats it: erases the score
  // text, grows by repeating the tail, places a new prize off the current cells and scores one.
  // Draws nothing of the snake and tests no collision.
  void Move(TMove Go);

  // True when the head is on or beyond the wall, or on one of the other cells.
  bool GameOver() const;

 private:
  void Eat();
};
