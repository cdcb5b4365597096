#pragma once

#include <array>
#include <cstdint>

#include "runtime/short_string.h"

// The types the snake, the prize and the play loop share, and the board's geometry in pixels.

// A cell as the pixel position of its centre: Row is y, Col is x.
struct TPoint {
  std::uint16_t Row;
  std::uint16_t Col;

  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// The snake's cells, head first. The board has 361 cells, so the capacity is never reached.
using TCoords = std::array<TPoint, 400>;

enum TMove : std::uint8_t { UP, DOWN, LEFT, RIGHT };

// The centre of the drawing area; 0 until the snake's Init sets it, the same after every Init.
extern std::uint16_t MX2;
extern std::uint16_t MY2;

// The distance between neighbouring cell centres and the length of one step.
inline constexpr std::uint16_t kCellStep = 15;
// The board square is kBoardSpan pixels wide and high, centred on (MX2, MY2); its edge is the wall.
inline constexpr std::uint16_t kBoardSpan = 300;
inline constexpr std::uint16_t kHalfBoard = kBoardSpan / 2;
// A cell's disc has radius R - kDiscInset, which leaves 4 pixels between neighbouring discs.
inline constexpr std::uint16_t kDiscInset = 10;
// Cells per row and per column of the board.
inline constexpr int kGridSide = kBoardSpan / kCellStep - 1;

// The score text's top-left corner, fixed on the drawing area rather than on the board.
inline constexpr std::int16_t kScoreTextX = 100;
inline constexpr std::int16_t kScoreTextY = 100;

// Colours of what moves on the board.
inline constexpr std::uint16_t kSnakeOutlineColor = 15;
inline constexpr std::uint16_t kSnakeFillColor = 56;
inline constexpr std::uint16_t kPrizeOutlineColor = 4;
inline constexpr std::uint16_t kPrizeFillPattern = 11;
inline constexpr std::uint16_t kPrizeFillColor = 9;
inline constexpr std::uint16_t kEraseColor = 0;

// The cell one step of R pixels away in direction go, in 16-bit unsigned arithmetic like the
// stored coordinates. Used by the snake's Move.
TPoint StepFrom(TPoint p, TMove go, std::uint16_t R);

// True when p lies on or beyond the board's edge. Used by the snake's GameOver.
bool HitsWall(TPoint p);

// Draws the disc of the cell at p with the current colour and fill; the snake and the prize draw
// and erase every cell through this.
void DrawCell(TPoint p, std::uint16_t R);

// "Scores " followed by the score in decimal, built without the heap; the play loop draws it and
// the snake's Move erases the same text before the score grows.
ShortString ScoreText(std::uint16_t scores);
