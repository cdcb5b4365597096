#include "game/board.h"

#include <charconv>

#include "gfx/graph.h"

std::uint16_t MX2 = 0;
std::uint16_t MY2 = 0;

TPoint StepFrom(TPoint p, TMove go, std::uint16_t R) {
  switch (go) {
    case UP:
      p.Row = static_cast<std::uint16_t>(p.Row - R);
      break;
    case DOWN:
      p.Row = static_cast<std::uint16_t>(p.Row + R);
      break;
    case LEFT:
      p.Col = static_cast<std::uint16_t>(p.Col - R);
      break;
    case RIGHT:
      p.Col = static_cast<std::uint16_t>(p.Col + R);
      break;
  }
  return p;
}

bool HitsWall(TPoint p) {
  // Compared as int so that a centre closer than 150 pixels to the top or left edge still has a
  // wall above or left of it instead of a wrapped one.
  const int row = p.Row;
  const int col = p.Col;
  return row >= MY2 + kHalfBoard || row <= MY2 - kHalfBoard || col >= MX2 + kHalfBoard ||
         col <= MX2 - kHalfBoard;
}

void DrawCell(TPoint p, std::uint16_t R) {
  const auto radius = static_cast<std::uint16_t>(R - kDiscInset);
  FillEllipse(static_cast<std::int16_t>(p.Col), static_cast<std::int16_t>(p.Row), radius, radius);
}

ShortString ScoreText(std::uint16_t scores) {
  char digits[8];
  const auto result = std::to_chars(digits, digits + sizeof digits, scores);
  ShortString text("Scores ");
  text.Append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
  return text;
}
