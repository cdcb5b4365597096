#include "game/intro.h"

#include <cstdint>
#include <string_view>

#include "game/board.h"
#include "gfx/graph.h"
#include "gfx/keyboard.h"

namespace {

// The loops run over the lengths of these texts: 25 and 12 characters.
constexpr std::string_view C = "The Snake Team presents :";
constexpr std::string_view S = "Snake Garden";
static_assert(C.size() == 25 && S.size() == 12);

void DrawLetter(std::string_view text, std::uint16_t I, std::int32_t x, std::int32_t y) {
  OutTextXY(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), text.substr(I - 1, 1));
}

}  // namespace

void Intro() {
  Delay(2000);
  SetTextStyle(DefaultFont, HorizDir, 2);
  for (std::uint16_t I = 1; I <= C.size(); ++I) {
    SetColor(102 + I);
    DrawLetter(C, I, MX2 - 125 + 20 * (I - 1), MY2 - 30);
    Delay(150);
  }
  Delay(1000);
  for (std::uint16_t I = 1; I <= S.size(); ++I) {
    SetColor(200 + I);
    DrawLetter(S, I, MX2 - 12 + 20 * I, MY2);
    Delay(150);
  }
  Delay(2500);
}
