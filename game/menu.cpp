#include "game/menu.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "game/board.h"
#include "game/play.h"
#include "game/score_screen.h"
#include "gfx/graph.h"
#include "gfx/keyboard.h"

namespace {

constexpr std::uint8_t kEnter = 13;
constexpr std::uint8_t kEsc = 27;

constexpr std::int32_t N = 4;
constexpr std::array<std::string_view, N> M = {"New Game", "Controls", "Best players", "Quit"};

constexpr std::array<std::string_view, 6> C = {
    "Alternative controls : ", "w - UP", "s - DOWN", "a - LEFT", "d - RIGHT", "Press ESC to exit"};

constexpr std::uint16_t kHighlightColor = 9;

// Text I of a list starts half its character count (not half its width) left of the centre.
void DrawAt(std::int32_t I, std::string_view text) {
  OutTextXY(static_cast<std::int16_t>(MX2 - text.size() / 2),
            static_cast<std::int16_t>(MY2 + 25 * I), text);
}

void DrawMenu(std::int32_t Choice) {
  ClearDevice();
  for (std::int32_t I = 1; I <= N; ++I) {
    SetTextStyle(DefaultFont, HorizDir, 2);
    if (I == Choice) {
      SetColor(kHighlightColor);
      SetTextStyle(DefaultFont, HorizDir, 3);
    } else {
      SetColor(static_cast<std::uint16_t>(I + 40));
    }
    DrawAt(I, M[I - 1]);
  }
}

// Waits for a key instead of polling, then takes everything else that is waiting: only the last
// key counts, with an extended key's zero dropped so that its code stands for it.
std::uint8_t ReadLastKey() {
  std::uint8_t Ch;
  do {
    Ch = ReadKey();
    if (Ch == 0) Ch = ReadKey();
  } while (KeyPressed());
  return Ch;
}

void ShowControls() {
  ClearDevice();
  for (std::uint16_t I = 1; I <= C.size(); ++I) {
    SetColor(I + 56);
    DrawAt(I, C[I - 1]);
  }
  std::uint8_t Ch;
  do {
    Ch = ReadKey();
    while (KeyPressed()) Ch = ReadKey();
  } while (Ch != kEsc);
}

void RunItem(std::int32_t Choice, TSnake& S, bool& Q) {
  switch (Choice) {
    case 1:
      S.Init();
      Play(S);
      break;
    case 2:
      ShowControls();
      break;
    case 3:
      ShowScores();
      break;
    default:
      S.Done();
      Q = true;
      break;
  }
}

}  // namespace

void Menu(TSnake& S, bool& Q, std::uint16_t& Scores) {
  std::int32_t Choice = 1;
  std::uint8_t Ch = 'w';
  SetTextStyle(DefaultFont, HorizDir, 2);
  DrawMenu(Choice);
  do {
    Ch = ReadLastKey();
    if (Ch == 72 || Ch == 'w') {
      if (Choice != 1) --Choice;
    } else if (Ch == 80 || Ch == 's') {
      if (Choice != N) ++Choice;
    }
    DrawMenu(Choice);
  } while (Ch != kEnter);
  RunItem(Choice, S, Q);
  if (S.Scores > Scores) Scores = S.Scores;
}
