#include "game/play.h"

#include <array>

#include "game/board.h"
#include "gfx/graph.h"
#include "gfx/keyboard.h"
#include "runtime/short_string.h"

namespace {

constexpr std::uint8_t kEsc = 27;
constexpr std::uint16_t kCountdownMs = 1500;
constexpr std::uint16_t kTickMs = 100;
constexpr std::uint16_t kFrameColor = 19;

// Draws '3', '2' and '1' at the centre in the colour and text style the menu left. It counts in
// Ch and leaves '1' there, which steers nothing; a 0 left there would wait for a key.
void Countdown(std::uint8_t& Ch) {
  for (Ch = '3'; Ch >= '1'; --Ch) {
    const char digit = static_cast<char>(Ch);
    OutTextXY(MX2, MY2, std::string_view(&digit, 1));
    Delay(kCountdownMs);
    ClearDevice();
  }
  Ch = '1';
}

// Takes every waiting byte and keeps the last; a lone 0 means an extended key whose code is on
// its way, so that code is waited for.
void ReadSteering(std::uint8_t& Ch) {
  while (KeyPressed()) Ch = ReadKey();
  if (Ch == 0) Ch = ReadKey();
}

// The steering table: the arrow's code or the lower-case letter asks for a direction, which is
// refused while the snake goes the opposite way. Only the character's value counts, so an arrow's
// code and the same plain character (a capital H, P, K or M) steer alike.
struct Steering {
  std::uint8_t Arrow;
  std::uint8_t Letter;
  TMove Wanted;
  TMove RefusedWhile;
};
constexpr std::array<Steering, 4> kSteering = {{
    {72, 'w', UP, DOWN},
    {80, 's', DOWN, UP},
    {75, 'a', LEFT, RIGHT},
    {77, 'd', RIGHT, LEFT},
}};

void Steer(std::uint8_t Ch, TMove& Where, TMove& From) {
  for (const Steering& steering : kSteering) {
    if (Ch != steering.Arrow && Ch != steering.Letter) continue;
    if (From != steering.RefusedWhile) Where = From = steering.Wanted;
    return;
  }
}

// Ages the prize, or replaces it once its time is up. False when the snake covers the whole board
// and no cell is left for it.
bool AgePrize(TSnake& S) {
  if (S.Prize.Time > 0) {
    S.Prize.Timer();
    return true;
  }
  S.Prize.Hide(S.R);
  return S.Prize.GenerateNew(S.R, S.Coords, S.Size);
}

void ShowScore(std::uint16_t score) {
  OutTextXY(kScoreTextX, kScoreTextY, ScoreText(score));
}

void EndScreen() {
  ClearDevice();
  OutTextXY(MX2 - 50, MY2, "GaMe OvEr");
  OutTextXY(MX2 - 50, MY2 + 40, "Press esc ...");
  while (ReadKey() != kEsc) {
  }
}

}  // namespace

void ShowBoard() {
  SetColor(kFrameColor);
  SetLineStyle(SolidLn, 0, ThickWidth);
  Rectangle(MX2 - kHalfBoard, MY2 - kHalfBoard, MX2 + kHalfBoard, MY2 + kHalfBoard);
  SetLineStyle(SolidLn, 0, NormWidth);
}

void Play(TSnake& S) {
  bool GameOver = false;
  std::uint8_t Ch = 0;  // the last byte read from the keyboard
  TMove Where = RIGHT;  // where the next step goes
  TMove From = RIGHT;   // the direction last chosen, whose reverse is refused
  ClearDevice();
  Countdown(Ch);
  do {
    ReadSteering(Ch);
    S.Hide();
    Steer(Ch, Where, From);
    S.Move(Where);
    const bool prizePlaced = AgePrize(S);
    S.Prize.Show(S.R);
    ShowBoard();
    S.Show();
    ShowScore(S.Scores);
    Delay(kTickMs);
    // A full board leaves no cell for the prize: the game ends there, as after a collision.
    GameOver = S.GameOver() || !prizePlaced;
  } while (Ch != kEsc && !GameOver);
  S.Done();
  EndScreen();
}
