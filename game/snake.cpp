#include "game/snake.h"

#include <cassert>

#include "gfx/graph.h"

namespace {

constexpr std::uint16_t kStartSize = 3;

}  // namespace

bool TSnake::Init() {
  *this = TSnake{};
  Size = kStartSize;
  R = kCellStep;
  Scores = 0;
  MX2 = static_cast<std::uint16_t>(GetMaxX() / 2);
  MY2 = static_cast<std::uint16_t>(GetMaxY() / 2);
  for (std::uint16_t I = 0; I < Size; ++I) {
    Coords[I].Row = MY2;
    Coords[I].Col = static_cast<std::uint16_t>(MX2 - I * R);
  }
  return true;
}

void TSnake::Done() {}

void TSnake::Show() const {
  SetColor(kSnakeOutlineColor);
  SetFillStyle(SolidFill, kSnakeFillColor);
  for (std::uint16_t I = 0; I < Size; ++I) DrawCell(Coords[I], R);
}

void TSnake::Hide() const {
  SetColor(kEraseColor);
  SetFillStyle(SolidFill, kEraseColor);
  for (std::uint16_t I = 0; I < Size; ++I) DrawCell(Coords[I], R);
}

void TSnake::Eat() {
  // The play loop drew exactly this text at the end of the last step; a black copy covers it.
  SetColor(kEraseColor);
  OutTextXY(kScoreTextX, kScoreTextY, ScoreText(Scores));
  assert(Size < Coords.size() && "a snake never outgrows the board");
  ++Size;
  Coords[Size - 1] = Coords[Size - 2];
  Prize.Hide(R);
  // A full board leaves the prize where it is; the step below then takes the head into the wall
  // or the body, and GameOver ends the game.
  (void)Prize.GenerateNew(R, Coords, Size);
  ++Scores;
}

void TSnake::Move(TMove Go) {
  if (Coords[0].Row == Prize.Row && Coords[0].Col == Prize.Col) Eat();
  // After eating, this keeps the repeated tail in place: the snake is one cell longer.
  for (int I = Size - 1; I >= 1; --I) Coords[I] = Coords[I - 1];
  Coords[0] = StepFrom(Coords[0], Go, R);
}

bool TSnake::GameOver() const {
  if (HitsWall(Coords[0])) return true;
  for (std::uint16_t I = 1; I < Size; ++I) {
    if (Coords[I] == Coords[0]) return true;
  }
  return false;
}
