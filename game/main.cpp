#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "console/console.h"
#include "game/board.h"
#include "game/intro.h"
#include "game/menu.h"
#include "game/snake.h"
#include "gfx/graph.h"
#include "gfx/keyboard.h"
#include "runtime/run_error.h"
#include "runtime/short_string.h"
#include "scores/score_file.h"

namespace {

TSnake S;  // the program's one snake, which every game starts again
bool Quit = false;
std::uint16_t Scores = 0;  // the run's best
ShortString Name;

// Every console write is checked; a failure ends the run with the run-time error report.
void Write(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    runtime::RunError(runtime::IoResultFromErrno(errno, runtime::IoDirection::kWrite));
  }
}

void ReportGraphError(std::int16_t GE) {
  Write("Graphic error : ");
  Write(GraphErrorMsg(GE));
  Write("\n");
}

// Opens graphics in the detected mode or ends the program with exit code 1.
void GrOpen() {
  std::int16_t GD = Detect;
  std::int16_t GM = 0;
  InitGraph(GD, GM, "");
  const std::int16_t GE = GraphResult();
  if (GE != grOk) {
    ReportGraphError(GE);
    std::exit(1);
  }
}

void GrClose() {
  CloseGraph();
  const std::int16_t GE = GraphResult();
  if (GE != grOk) ReportGraphError(GE);
}

// The menu until "Quit". A closed window ends the run the same way; the game it interrupted
// still counts toward the run's best.
void MainLoop() {
  try {
    Intro();
    Quit = false;
    while (!Quit) Menu(S, Quit, Scores);
  } catch (const WindowClosed&) {
    if (S.Scores > Scores) Scores = S.Scores;
  }
}

void RecordBest() {
  Write("Enter your name : ");
  Name = ReadLine();
  char digits[8];
  const int length = std::snprintf(digits, sizeof digits, "%u\n", static_cast<unsigned>(Scores));
  Write(std::string_view(digits, static_cast<std::size_t>(length)));
  RefreshScores(Scores, Name);
}

}  // namespace

int main() {
  ClrScr();
  GrOpen();
  S.Init();
  MainLoop();
  GrClose();
  if (Scores != 0) RecordBest();
  return 0;
}
