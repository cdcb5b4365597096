#include "game/intro.h"

#include <numeric>

#include "game/board.h"
#include "game/snake.h"
#include "tests/support/scripted_screen.h"

namespace {

class IntroTest : public ScriptedScreen {};

// Ink of one colour in the 16 x 16 cell whose top-left corner is (x, y), and anywhere else.
std::pair<int, int> CellInk(std::uint32_t rgb, int x, int y) {
  int inside = 0, outside = 0;
  for (int py = 0; py < gfx::inspect::Height(); ++py) {
    for (int px = 0; px < gfx::inspect::Width(); ++px) {
      if (gfx::inspect::Pixel(px, py) != rgb) continue;
      (px >= x && px < x + 16 && py >= y && py < y + 16 ? inside : outside)++;
    }
  }
  return {inside, outside};
}

TEST_F(IntroTest, LastsElevenSecondsAndLeavesTypedKeysForTheMenu) {
  TSnake snake;
  snake.Init();
  script = [](int index, std::uint16_t) {
    if (index == 3) AddChar(13);
  };
  Intro();
  EXPECT_EQ(std::accumulate(delays.begin(), delays.end(), 0), 11050);
  EXPECT_EQ(delays.size(), 1u + 25 + 1 + 12 + 1);
  ASSERT_TRUE(KeyPressed());
  EXPECT_EQ(ReadKey(), 13);
}

TEST_F(IntroTest, EachLetterStandsInItsOwnCellAndColour) {
  TSnake snake;
  snake.Init();
  Intro();
  // The presenter line's first letter in colour 103, the title's first in 201 and last in 212.
  auto [firstIn, firstOut] = CellInk(0xB4C4FC, MX2 - 125, MY2 - 30);
  EXPECT_GT(firstIn, 10);
  EXPECT_EQ(firstOut, 0);
  auto [titleIn, titleOut] = CellInk(0x282040, MX2 + 8, MY2);
  EXPECT_GT(titleIn, 10);
  EXPECT_EQ(titleOut, 0);
  auto [lastIn, lastOut] = CellInk(0x404020, MX2 + 228, MY2);
  EXPECT_GT(lastIn, 10);
  EXPECT_EQ(lastOut, 0);
  EXPECT_EQ(GetColor(), 212);
}

TEST_F(IntroTest, AClosedWindowEndsTheIntroAtOnce) {
  TSnake snake;
  snake.Init();
  script = [](int index, std::uint16_t) {
    if (index == 5) gfx::inspect::SimulateWindowClose();
  };
  EXPECT_THROW(Intro(), WindowClosed);
  EXPECT_LE(delays.size(), 7u);
}

}  // namespace
