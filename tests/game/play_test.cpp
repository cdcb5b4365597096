#include "game/play.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "game/board.h"
#include "game/random.h"
#include "game/snake.h"
#include "tests/support/board_cells.h"
#include "tests/support/scripted_screen.h"

namespace {

constexpr char kEsc = 27;
constexpr std::uint32_t kFrameGrey = 0x2C2C2C;  // colour 19
constexpr std::uint32_t kYellow = 0xFCFC00;     // colour 44
constexpr std::uint32_t kPureWhite = 0xFFFFFF;  // text in colour 15
constexpr std::uint32_t kSnakeRim = 0xFCFCFC;   // colour 15 on shapes
constexpr std::uint32_t kSnakeInside = 0x7C7CFC;

// Each prize placement reads its own tick, so every new prize lands on a new cell, the same in
// every run.
std::uint32_t gTick = 0;
std::uint32_t CountingTick() {
  return ++gTick;
}

TSnake S;

class PlayTest : public ScriptedScreen {
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

  void SetUp() override {
    ScriptedScreen::SetUp();
    gTick = 0;
    SetTickSource(CountingTick);
  }
  void TearDown() override {
    SetTickSource(nullptr);
    ScriptedScreen::TearDown();
  }

  static TPoint Head() { return S.Coords[0]; }
  static TPoint PrizeCell() { return {S.Prize.Row, S.Prize.Col}; }
  // The pure white pixels of the score text's place, where nothing but text is pure white.
  static std::vector<std::pair<int, int>> ScoreInk() {
    std::vector<std::pair<int, int>> ink;
    for (int y = kScoreTextY; y < kScoreTextY + 16; ++y) {
      for (int x = kScoreTextX; x < kScoreTextX + 16 * 10; ++x) {
        if (Pixel(x, y) == kPureWhite) ink.emplace_back(x, y);
      }
    }
    return ink;
  }
  // Pixels of the cell's disc that are not the snake's colours.
  static int NotSnake(TPoint cell) {
    int wrong = 0;
    for (int dy = -5; dy <= 5; ++dy) {
      for (int dx = -5; dx <= 5; ++dx) {
        const int role = DiscRole(dx, dy);
        if (role == 0) continue;
        wrong += Pixel(cell.Col + dx, cell.Row + dy) != (role == 1 ? kSnakeRim : kSnakeInside);
      }
    }
    return wrong;
  }
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

TEST_F(PlayTest, TheScoreTextIsRedrawnCleanAfterEating) {
  S.Init();
  SetTextStyle(DefaultFont, HorizDir, 2);
  S.Prize.Row = MY2;  // where the head arrives on the first tick, to be eaten on the second
  S.Prize.Col = static_cast<std::uint16_t>(MX2 + 15);
  S.Prize.Time = 20;
  std::vector<std::pair<int, int>> afterEating;
  PlayToTheEnd([&](int tick) {
    if (tick == 2) afterEating = ScoreInk();
  });
  ASSERT_EQ(S.Scores, 1);
  ClearDevice();
  SetColor(White);
  OutTextXY(kScoreTextX, kScoreTextY, "Scores 1");
  EXPECT_EQ(afterEating, ScoreInk()) << "what is left of \"Scores 0\" shows through";
}

// Steering round a square of four cells, the snake never meets the wall or itself; the prizes of
// this tick sequence all fall elsewhere, so none is eaten.
TEST_F(PlayTest, AnUneatenPrizeIsPlacedOnTheFirstTickAndReplacedEvery21Ticks) {
  S.Init();
  const std::uint8_t turns[] = {80, 75, 72, 77};  // down, left, up, right
  std::vector<int> placedAt;
  std::vector<TPoint> cells;
  int hidden = 0;
  PlayToTheEnd([&](int tick) {
    if (S.Prize.Time == 20) {
      placedAt.push_back(tick);
      cells.push_back(PrizeCell());
    }
    EXPECT_EQ(PrizeCell(), cells.back()) << "tick " << tick;
    // The prize shows on every tick of its life.
    int lit = 0;
    for (int dy = -5; dy <= 5; ++dy) {
      for (int dx = -5; dx <= 5; ++dx) lit += Pixel(S.Prize.Col + dx, S.Prize.Row + dy) != 0;
    }
    hidden += lit == 0;
    if (tick < 64) AddExtChar(turns[(tick - 1) % 4]);
    if (tick >= 64) AddChar(kEsc);
  });
  ASSERT_EQ(S.Scores, 0);
  EXPECT_EQ(placedAt, (std::vector<int>{1, 22, 43, 64}));
  for (std::size_t i = 1; i < cells.size(); ++i) EXPECT_NE(cells[i], cells[i - 1]);
  EXPECT_EQ(hidden, 0);
}

// Prize, frame, snake, score: the head's disc covers the prize it stands on, the last head covers
// the frame, and the score's strokes cross the frame in text white.
TEST_F(PlayTest, EachTickDrawsThePrizeThenTheFrameThenTheSnakeThenTheScore) {
  S.Init();
  SetTextStyle(DefaultFont, HorizDir, 2);
  S.Prize.Row = MY2;
  S.Prize.Col = static_cast<std::uint16_t>(MX2 + 45);
  S.Prize.Time = 20;
  const int frameX = MX2 - 150;
  PlayToTheEnd([&](int tick) {
    if (tick == 3) {
      ASSERT_EQ(Head(), PrizeCell());
      EXPECT_EQ(NotSnake(Head()), 0) << "the prize shows through the head";
    }
    if (tick == 10) {
      EXPECT_EQ(NotSnake(Head()), 0) << "the frame shows through the last head";
    }
    int crossings = 0;
    for (int y = kScoreTextY; y < kScoreTextY + 16; ++y) {
      for (int x = frameX - 1; x <= frameX + 1; ++x) crossings += Pixel(x, y) == kPureWhite;
    }
    EXPECT_GT(crossings, 0) << "tick " << tick;
  });
  EXPECT_EQ(S.Scores, 1);
}

// With two ticks left, the prize lies three cells ahead: the head arrives on the tick the prize
// runs out, so it is moved away first and never eaten.
TEST_F(PlayTest, APrizeThatRunsOutAsTheHeadArrivesMovesAwayUneaten) {
  S.Init();
  S.Prize.Row = MY2;
  S.Prize.Col = static_cast<std::uint16_t>(MX2 + 45);
  S.Prize.Time = 2;
  const TPoint first = PrizeCell();
  PlayToTheEnd([&](int tick) {
    if (tick == 3) {
      EXPECT_EQ(Head(), first);
      EXPECT_NE(PrizeCell(), first);
      EXPECT_EQ(S.Prize.Time, 20);
      EXPECT_EQ(NotSnake(Head()), 0);
    }
    if (tick == 4) {
      EXPECT_EQ(S.Scores, 0);
    }
  });
}

TEST_F(PlayTest, TheFrameIsColour19ThreePixelsWideWithTwoPixelsMissingAtEachOuterCorner) {
  S.Init();  // fixes the centre even when this test runs alone
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
