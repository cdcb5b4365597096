#include "game/play.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "game/board.h"
#include "game/snake.h"
#include "tests/screen_fixture.h"

namespace {

constexpr char kEsc = 27;
constexpr std::uint32_t kFrameGrey = 0x2C2C2C;  // colour 19
constexpr std::uint32_t kYellow = 0xFCFC00;     // colour 44

TSnake S;

class PlayTest : public ScreenTest {
 protected:
  // Runs a game, typing ESC for the end screen during the tick that ends it. Returns the number
  // of ticks played.
  int PlayToTheEnd(std::function<void(int tick)> onTick = nullptr) {
    int ticks = 0;
    script = [&](int, std::uint16_t ms) {
      if (ms != 100) return;
      ++ticks;
      if (onTick) onTick(ticks);
      if (S.GameOver()) AddChar(kEsc);
    };
    Play(S);
    return ticks;
  }

  static TPoint Head() { return S.Coords[0]; }
  static TPoint Cell(int i, int j) {
    return {static_cast<std::uint16_t>(MY2 + 15 * j), static_cast<std::uint16_t>(MX2 + 15 * i)};
  }
};

TEST_F(PlayTest, WithoutKeysTheSnakeRunsRightIntoTheWallOnTheTenthTick) {
  S.Init();
  EXPECT_EQ(PlayToTheEnd(), 10);
  EXPECT_EQ(CountDelays(1500), 3);
  EXPECT_EQ(Head(), (TPoint{MY2, static_cast<std::uint16_t>(MX2 + 150)}));
}

TEST_F(PlayTest, TheOppositeDirectionIsRefusedWhetherArrowOrLetter) {
  for (char key : {'a', '\0'}) {
    S.Init();
    if (key == 0) {
      AddExtChar(75);
    } else {
      AddChar(key);
    }
    EXPECT_EQ(PlayToTheEnd(), 10) << "key " << int(key);
    EXPECT_EQ(Head().Row, MY2);
  }
}

TEST_F(PlayTest, ATurnTakesEffectOnTheNextTick) {
  S.Init();
  const int ticks = PlayToTheEnd([](int tick) {
    if (tick == 1) AddExtChar(72);
  });
  // One step right, then up until the head reaches the wall line 150 pixels above the centre.
  EXPECT_EQ(ticks, 11);
  EXPECT_EQ(Head(), Cell(1, -10));
}

TEST_F(PlayTest, OfTwoKeysInOneTickOnlyTheLastCounts) {
  S.Init();
  const int ticks = PlayToTheEnd([](int tick) {
    if (tick == 1) {
      AddExtChar(72);  // Up, lost
      AddChar('a');    // Left, refused while going right
    }
  });
  EXPECT_EQ(ticks, 10);
  EXPECT_EQ(Head().Row, MY2);
}

TEST_F(PlayTest, CapitalLettersWithAnArrowsCodeSteerLikeTheArrow) {
  S.Init();
  const int ticks = PlayToTheEnd([](int tick) {
    if (tick == 1) AddChar('P');  // 80, the Down arrow's code
  });
  EXPECT_EQ(ticks, 11);
  EXPECT_EQ(Head(), Cell(1, 10));
}

TEST_F(PlayTest, EscDuringTheCountdownEndsTheGameAfterTheFirstTick) {
  S.Init();
  AddChar(kEsc);
  // The second ESC, typed during the last tick, is the end screen's.
  EXPECT_EQ(PlayToTheEnd([](int) { AddChar(kEsc); }), 1);
  EXPECT_EQ(Head(), Cell(1, 0));
}

TEST_F(PlayTest, TheEndScreenWaitsForItsOwnEsc) {
  S.Init();
  AddChar(kEsc);
  std::atomic<int> ticks = 0;
  script = [&](int, std::uint16_t ms) { ticks += ms == 100; };
  std::atomic<bool> finished = false;
  std::thread game([&] {
    Play(S);
    finished = true;
  });
  while (ticks < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(finished);
  AddChar('x');
  AddExtChar(72);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(finished);
  AddChar(kEsc);
  game.join();
  EXPECT_TRUE(finished);
  EXPECT_EQ(ticks, 1);
}

TEST_F(PlayTest, TheEndScreenShowsItsTextsInWhite) {
  S.Init();
  SetTextStyle(DefaultFont, HorizDir, 2);
  AddChar(kEsc);
  PlayToTheEnd([](int) { AddChar(kEsc); });
  // "GaMe OvEr" at (MX2 - 50, MY2) and "Press esc ..." 40 pixels lower, both 16 pixels high.
  auto inkIn = [](int x0, int y0, int width) {
    int ink = 0;
    for (int y = y0; y < y0 + 16; ++y) {
      for (int x = x0; x < x0 + width; ++x) ink += Pixel(x, y) == 0xFFFFFF;
    }
    return ink;
  };
  EXPECT_GT(inkIn(MX2 - 50, MY2, 9 * 16), 100);
  EXPECT_GT(inkIn(MX2 - 50, MY2 + 40, 13 * 16), 100);
  EXPECT_EQ(inkIn(MX2 - 50, MY2 + 20, 13 * 16), 0);
}

TEST_F(PlayTest, TheCountdownIsDrawnInTheColourAndSizeTheMenuLeft) {
  S.Init();
  SetTextStyle(DefaultFont, HorizDir, 2);
  SetColor(44);
  int yellowInFirstCell = 0;
  int yellowOutside = 0;
  script = [&](int index, std::uint16_t ms) {
    if (ms == 1500 && index == 0) {
      for (int y = MY2 - 4; y < MY2 + 20; ++y) {
        for (int x = MX2 - 4; x < MX2 + 20; ++x) {
          const bool inside = x >= MX2 && x < MX2 + 16 && y >= MY2 && y < MY2 + 16;
          (inside ? yellowInFirstCell : yellowOutside) += Pixel(x, y) == kYellow;
        }
      }
    }
    if (ms == 100) AddChar(kEsc);
  };
  Play(S);
  EXPECT_GT(yellowInFirstCell, 20);
  EXPECT_EQ(yellowOutside, 0);
}

TEST_F(PlayTest, ClosingTheWindowEndsTheGameWithItsScoreStanding) {
  S.Init();
  script = [](int, std::uint16_t ms) {
    if (ms == 100 && CountDelays(100) == 3) gfx::inspect::SimulateWindowClose();
  };
  EXPECT_THROW(Play(S), WindowClosed);
  EXPECT_EQ(CountDelays(100), 3);
  EXPECT_EQ(Head(), Cell(3, 0));
}

// The snake fills every cell but the one to the right of its head, with the prize under the
// head: it eats, the last free cell takes the prize, it eats again and no cell is left.
TEST_F(PlayTest, AFullBoardEndsTheGameInsteadOfSearchingForeverForAFreeCell) {
  S.Init();
  std::vector<TPoint> path;  // every cell, row by row, turning at the ends
  for (int j = -9; j <= 9; ++j) {
    for (int k = 0; k < 19; ++k) path.push_back(Cell((j + 9) % 2 == 0 ? k - 9 : 9 - k, j));
  }
  ASSERT_EQ(path.back(), Cell(9, 9));
  S.Size = 360;
  for (int k = 0; k < 360; ++k) S.Coords[k] = path[359 - k];
  S.Prize.Row = S.Coords[0].Row;
  S.Prize.Col = S.Coords[0].Col;
  S.Prize.Time = 20;
  const int ticks = PlayToTheEnd();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(S.Scores, 2);
}

TEST_F(PlayTest, TheFrameIsColour19ThreePixelsWideWithTwoPixelsMissingAtEachOuterCorner) {
  S.Init();  // places the board's centre, which ctest's one-test-per-process run has not set
  ShowBoard();
  const int left = MX2 - 150, right = MX2 + 150, top = MY2 - 150, bottom = MY2 + 150;
  for (int d = -1; d <= 1; ++d) {
    EXPECT_EQ(Pixel(MX2, top + d), kFrameGrey);
    EXPECT_EQ(Pixel(MX2, bottom + d), kFrameGrey);
    EXPECT_EQ(Pixel(left + d, MY2), kFrameGrey);
    EXPECT_EQ(Pixel(right + d, MY2), kFrameGrey);
  }
  EXPECT_EQ(Pixel(MX2, top - 2), 0u);
  EXPECT_EQ(Pixel(MX2, top + 2), 0u);
  for (auto [x, y] : {std::pair{left - 1, top - 1},
                      {left - 1, top},
                      {right, top - 1},
                      {right + 1, top - 1},
                      {right + 1, bottom},
                      {right + 1, bottom + 1},
                      {left - 1, bottom + 1},
                      {left, bottom + 1}}) {
    EXPECT_EQ(Pixel(x, y), 0u) << x - MX2 << "," << y - MY2;
  }
  EXPECT_EQ(Pixel(left, top - 1), kFrameGrey);
  EXPECT_EQ(Pixel(right + 1, bottom - 1), kFrameGrey);
  LineSettingsType line;
  GetLineSettings(line);
  EXPECT_EQ(line.Thickness, NormWidth);
  EXPECT_EQ(GetColor(), 19);
}

}  // namespace
