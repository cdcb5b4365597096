// What one step of a game costs to draw, against the 100 ms the step lasts: everything the play
// loop does from one delay to the next, on a 1920x1080 surface, for a new snake and for a long
// one. The delay does not sleep, but it hands the picture over as it does in a window, so every
// step changes a new picture through the window's slots as the player's game does
// (tools/bench.sh counts its instructions under callgrind).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "game/board.h"
#include "game/play.h"
#include "game/snake.h"
#include "gfx/core/palette.h"
#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/keyboard.h"
#include "gfx/platform/headless/headless_window.h"

namespace {

TSnake S;

// A closed tour of 360 of the board's 361 cells (all but the bottom-right corner): rows 0..16
// serpentine over columns 1..18, then rows 17 and 18 zigzag column by column back to column 0,
// and up column 0 to the start. A snake that follows it never meets the wall or its own body,
// however long it is, so every step is an ordinary one.
std::vector<TPoint> Tour() {
  std::vector<TPoint> cells;
  auto cell = [&cells](int col, int row) {
    cells.push_back(TPoint{static_cast<std::uint16_t>(MY2 + kCellStep * (row - 9)),
                           static_cast<std::uint16_t>(MX2 + kCellStep * (col - 9))});
  };
  cell(0, 0);
  for (int row = 0; row <= 16; ++row) {
    for (int k = 1; k <= 18; ++k) cell(row % 2 == 0 ? k : 19 - k, row);
  }
  cell(18, 17);
  for (int col = 17; col >= 0; --col) {
    cell(col, col % 2 == 1 ? 17 : 18);
    cell(col, col % 2 == 1 ? 18 : 17);
  }
  for (int row = 16; row >= 1; --row) cell(0, row);
  return cells;
}

TMove Toward(TPoint from, TPoint to) {
  if (to.Row < from.Row) return UP;
  if (to.Row > from.Row) return DOWN;
  return to.Col < from.Col ? LEFT : RIGHT;
}

// One step as the play loop runs it, from one wait to the next; apart so that callgrind can
// count it (tools/bench.sh).
[[gnu::noinline]] void PlayOneStep(TMove where) {
  S.Hide();
  S.Move(where);
  if (S.Prize.Time > 0) {
    S.Prize.Timer();
  } else {
    S.Prize.Hide(S.R);
    (void)S.Prize.GenerateNew(S.R, S.Coords, S.Size);
  }
  S.Prize.Show(S.R);
  ShowBoard();
  S.Show();
  OutTextXY(kScoreTextX, kScoreTextY, ScoreText(S.Scores));
  Delay(100);  // the step's wait: with the sleep replaced, only the picture's hand-over
}

void BM_GameTick(benchmark::State& state) {
  gfx::UseHeadlessPlatform(gfx::DesktopSize{1920, 1080, 1920, 1080});
  std::int16_t driver = Detect, mode = 0;
  InitGraph(driver, mode, "");
  if (GraphResult() != grOk) {
    state.SkipWithError("graphics did not open");
    return;
  }
  S.Init();
  const auto tour = Tour();
  const auto length = static_cast<std::uint16_t>(state.range(0));
  // The snake lies on the tour head first, so its next step is the tour's next cell.
  std::size_t head = length - 1;
  S.Size = length;
  for (std::uint16_t I = 0; I < length; ++I) S.Coords[I] = tour[head - I];
  (void)S.Prize.GenerateNew(S.R, S.Coords, S.Size);
  SetTextStyle(DefaultFont, HorizDir, 2);
  SetSleepFunction([](std::uint16_t) {});
  for (auto _ : state) {
    head = (head + 1) % tour.size();
    PlayOneStep(Toward(S.Coords[0], tour[head]));
    // A prize eaten on the way grows the snake by its repeated tail: cut it back so that every
    // step draws the length asked for.
    S.Size = length;
  }
  // The step must really have drawn the head's disc: white rim, colour 56 inside.
  const TPoint h = S.Coords[0];
  if (S.GameOver() || gfx::inspect::Pixel(h.Col, h.Row) != gfx::ScreenColor(kSnakeFillColor)) {
    state.SkipWithError("the snake was not drawn where it went");
  }
  SetSleepFunction(nullptr);
  CloseGraph();
}
BENCHMARK(BM_GameTick)->Arg(3)->Arg(200)->Arg(360)->Unit(benchmark::kMicrosecond);

}  // namespace
