#include "game/score_screen.h"

#include <cstdio>

#include "game/board.h"
#include "gfx/graph.h"
#include "gfx/keyboard.h"
#include "scores/score_file.h"

namespace {

constexpr std::uint16_t kScoresColor = 4;
constexpr char kEsc = 27;
constexpr int kRowHeight = 20;

// Positions are offsets from the centre of the surface, worked out in int so that a small surface
// gives negative coordinates rather than wrapped ones.
std::int16_t CentreX(int offset) {
  return static_cast<std::int16_t>(MX2 + offset);
}
std::int16_t CentreY(int offset) {
  return static_cast<std::int16_t>(MY2 + offset);
}

ShortString RowNumber(std::uint16_t row) {
  char text[8];
  std::snprintf(text, sizeof text, "%u. ", static_cast<unsigned>(row));
  return ShortString(text);
}

// Right-aligned in three characters; larger scores take the room they need.
ShortString ScoreField(std::uint16_t score) {
  char text[8];
  std::snprintf(text, sizeof text, "%3u", static_cast<unsigned>(score));
  return ShortString(text);
}

void DrawRow(std::uint16_t row, const TScore& entry) {
  const std::int16_t y = CentreY(kRowHeight * row);
  OutTextXY(CentreX(-10), y, RowNumber(row));
  OutTextXY(CentreX(45), y, entry.Name);
  OutTextXY(CentreX(200), y, ScoreField(entry.Scores));
}

}  // namespace

void ShowScores() {
  ClearDevice();
  SetColor(kScoresColor);
  OutTextXY(CentreX(-6), CentreY(0), "High scores");
  // A missing, unreadable or short file just leaves the list empty: nothing is reported. The
  // reader has closed the file by the time it returns, before anything else can happen.
  TRec table;
  if (scores::ReadScoreTable(table)) {
    for (std::uint16_t row = 1; row <= table.Size; ++row) DrawRow(row, table.Arr[row - 1]);
  }
  OutTextXY(CentreX(-10), CentreY(300), "Press ESC ...");
  while (ReadKey() != kEsc) {
  }
}
