#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "game/random.h"
#include "game/snake.h"
#include "gfx/inspect.h"
#include "tests/support/board_cells.h"
#include "tests/support/fixed_tick.h"
#include "tests/support/headless_graph.h"

namespace {

class SnakeTest : public HeadlessGraph {
 protected:
  void SetUp() override {
    HeadlessGraph::SetUp();
    SetTickSource(TestTick);
    s.Init();
  }
  void TearDown() override {
    SetTickSource(nullptr);
    HeadlessGraph::TearDown();
  }
  void Place(const std::vector<TPoint>& cells) {
    s.Size = static_cast<std::uint16_t>(cells.size());
    std::copy(cells.begin(), cells.end(), s.Coords.begin());
  }
  void PrizeOnHead() { s.Prize = {s.Coords[0].Row, s.Coords[0].Col, 5}; }
  TPoint PrizeCell() const { return {s.Prize.Row, s.Prize.Col}; }

  TSnake s;
};

TEST_F(SnakeTest, InitStartsAGameOnTheCentreAndForgetsTheLastOne) {
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(MX2, GetMaxX() / 2);
    EXPECT_EQ(MY2, GetMaxY() / 2);
    EXPECT_EQ(s.Size, 3);
    EXPECT_EQ(s.R, 15);
    EXPECT_EQ(s.Scores, 0);
    EXPECT_EQ(s.Prize.Row + s.Prize.Col + s.Prize.Time, 0);
    const std::vector<TPoint> start{At(0, 0), At(-1, 0), At(-2, 0)};
    EXPECT_EQ(std::vector<TPoint>(s.Coords.begin(), s.Coords.begin() + 3), start);
    for (std::size_t k = 3; k < s.Coords.size(); ++k) ASSERT_EQ(s.Coords[k], (TPoint{0, 0})) << k;

    // What a finished game leaves behind: a long snake, a score, a live prize, a wrong centre.
    s.Coords.fill({7, 9});
    s.Size = 120;
    s.R = 3;
    s.Scores = 117;
    s.Prize = {11, 12, 13};
    MX2 = MY2 = 1;
    EXPECT_TRUE(s.Init());
  }
}

TEST_F(SnakeTest, MoveShiftsTheBodyAndStepsTheHeadEachWay) {
  s.Move(RIGHT);
  EXPECT_EQ(std::vector<TPoint>(s.Coords.begin(), s.Coords.begin() + 3),
            (std::vector<TPoint>{At(1, 0), At(0, 0), At(-1, 0)}));
  EXPECT_EQ(s.Size, 3);
  EXPECT_EQ(s.Scores, 0);
  s.Move(UP);
  EXPECT_EQ(s.Coords[0], At(1, -1));
  s.Move(LEFT);
  EXPECT_EQ(s.Coords[0], At(0, -1));
  s.Move(DOWN);
  EXPECT_EQ(s.Coords[0], At(0, 0));
  EXPECT_FALSE(s.GameOver());
}

TEST_F(SnakeTest, EatingGrowsAtTheTailScoresAndMovesThePrizeOffTheSnake) {
  const std::vector<TPoint> grown{At(1, 0), At(0, 0), At(-1, 0), At(-2, 0)};
  for (gTick = 0; gTick < 500; ++gTick) {
    s.Init();
    PrizeOnHead();
    s.Move(RIGHT);
    ASSERT_EQ(std::vector<TPoint>(s.Coords.begin(), s.Coords.begin() + s.Size), grown);
    ASSERT_EQ(s.Scores, 1);
    ASSERT_EQ(s.Prize.Time, 20);
    for (std::size_t k = 1; k < 4; ++k) ASSERT_NE(PrizeCell(), grown[k]) << gTick;
    ASSERT_FALSE(s.GameOver());
  }
}

TEST_F(SnakeTest, ANewPrizeMayLandWhereTheHeadIsGoingAndIsEatenNext) {
  bool found = false;
  for (gTick = 0; gTick < 20000 && !found; ++gTick) {
    s.Init();
    PrizeOnHead();
    s.Move(RIGHT);
    found = s.Coords[0] == PrizeCell();
  }
  ASSERT_TRUE(found);
  s.Move(RIGHT);
  EXPECT_EQ(s.Scores, 2);
  EXPECT_EQ(s.Size, 5);
}

TEST_F(SnakeTest, TheHeadMayTakeTheCellTheTailLeavesButNotTheNeckOrAnEatingTail) {
  // A closed square: moving left takes the head onto the tail's cell.
  const std::vector<TPoint> square{At(0, 0), At(0, 1), At(-1, 1), At(-1, 0)};
  Place(square);
  s.Move(LEFT);
  EXPECT_FALSE(s.GameOver());

  Place(square);
  PrizeOnHead();
  s.Move(LEFT);
  EXPECT_EQ(s.Coords[4], square[3]);
  EXPECT_TRUE(s.GameOver());

  s.Init();
  s.Coords[3] = s.Coords[0];  // not part of the snake
  EXPECT_FALSE(s.GameOver());
  s.Move(LEFT);
  EXPECT_TRUE(s.GameOver());
}

TEST_F(SnakeTest, TheWallIsTheFrameLineOnEverySide) {
  struct Case {
    TPoint head, neck;
    TMove go;
  } const cases[] = {{At(9, 0), At(8, 0), RIGHT},
                     {At(-9, 0), At(-8, 0), LEFT},
                     {At(0, -9), At(0, -8), UP},
                     {At(9, 9), At(9, 8), DOWN}};
  for (const Case& c : cases) {
    Place({c.head, c.neck});
    EXPECT_FALSE(s.GameOver()) << c.go;
    s.Move(c.go);
    EXPECT_TRUE(s.GameOver()) << c.go;
  }
}

TEST_F(SnakeTest, EatingOnAFullBoardEndsTheGameInsteadOfSearchingForever) {
  // A snake winding over all 361 cells, row by row, its head in the bottom row.
  std::vector<TPoint> cells;
  for (int j = 9; j >= -9; --j) {
    for (int k = 0; k < 19; ++k) cells.push_back(At(j % 2 != 0 ? k - 9 : 9 - k, j));
  }
  Place(cells);
  PrizeOnHead();
  s.Move(UP);
  EXPECT_EQ(s.Size, 362);
  EXPECT_EQ(s.Scores, 1);
  EXPECT_TRUE(s.GameOver());
}

TEST_F(SnakeTest, ShowDrawsWhiteRimmedDiscsAndHideBlacksThemOut) {
  ClearDevice();
  s.Show();
  for (std::uint32_t rim : {0xFCFCFCu, 0u}) {
    const std::uint32_t inside = rim ? 0x7C7CFC : 0;
    for (int k = 0; k < 3; ++k) {
      for (int dy = -7; dy <= 7; ++dy) {
        for (int dx = -7; dx <= 7; ++dx) {
          const int role = DiscRole(dx, dy);
          ASSERT_EQ(gfx::inspect::Pixel(s.Coords[k].Col + dx, s.Coords[k].Row + dy), role == 1 ? rim
                                                                                     : role == 2
                                                                                         ? inside
                                                                                         : 0u)
              << k << ": " << dx << "," << dy;
        }
      }
    }
    s.Hide();
  }
}

}  // namespace
