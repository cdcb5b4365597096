#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <utility>

#include "game/prize.h"
#include "game/random.h"
#include "gfx/inspect.h"
#include "tests/support/board_cells.h"
#include "tests/support/fixed_tick.h"
#include "tests/support/headless_graph.h"

namespace {

class PrizeTest : public testing::Test {
 protected:
  void SetUp() override {
    SetTickSource(TestTick);
    MX2 = 319;
    MY2 = 239;
  }
  void TearDown() override { SetTickSource(nullptr); }
  TPoint Cell() const { return {prize.Row, prize.Col}; }
  // Every cell of the board, row by row.
  static std::uint16_t FillBoard(TCoords& c) {
    std::uint16_t n = 0;
    for (int j = -9; j <= 9; ++j) {
      for (int i = -9; i <= 9; ++i) c[n++] = At(i, j);
    }
    return n;
  }
  TPrize prize;
};

TEST_F(PrizeTest, RestartsTheSequenceOncePerCallAndDrawsTheRowFirst) {
  gTick = 31337;
  TCoords c{};
  ASSERT_TRUE(prize.GenerateNew(15, c, 1));
  const TPoint first = Cell();
  ASSERT_TRUE(prize.GenerateNew(15, c, 1));
  EXPECT_EQ(Cell(), first);

  std::mt19937 reference(gTick);
  std::vector<TPoint> attempts;
  for (int k = 0; k < 3; ++k) {
    const int a = static_cast<int>(Scaled(reference(), 19));
    attempts.push_back(At(9 - static_cast<int>(Scaled(reference(), 19)), a - 9));
  }
  EXPECT_EQ(first, attempts[0]);
  // With that cell taken the search goes on along the same sequence.
  c[1] = first;
  ASSERT_TRUE(prize.GenerateNew(15, c, 2));
  EXPECT_EQ(Cell(), attempts[1] != first ? attempts[1] : attempts[2]);

  std::set<std::pair<int, int>> cells;
  for (gTick = 0; gTick < 50; ++gTick) {
    ASSERT_TRUE(prize.GenerateNew(15, c, 1));
    cells.insert({prize.Row, prize.Col});
  }
  EXPECT_GT(cells.size(), 1u);
}

TEST_F(PrizeTest, LandsOnTheWholeGridButNeverOnACountedEntry) {
  std::mt19937 pick(2024);
  std::set<int> rows, cols;
  for (gTick = 1000; gTick < 3000; ++gTick) {
    TCoords c{};
    const std::uint16_t all = FillBoard(c);
    std::shuffle(c.begin(), c.begin() + all, pick);
    const auto size = static_cast<std::uint16_t>(3 + pick() % 298);
    c[size - 1] = c[size - 2];  // the tail listed twice, as in an eating step
    prize.Time = 0;
    ASSERT_TRUE(prize.GenerateNew(15, c, size));
    ASSERT_EQ(prize.Time, 20);
    ASSERT_EQ(std::find(c.begin(), c.begin() + size, Cell()), c.begin() + size);
    rows.insert(prize.Row - MY2);
    cols.insert(prize.Col - MX2);
  }
  std::set<int> grid;
  for (int k = -9; k <= 9; ++k) grid.insert(15 * k);
  EXPECT_EQ(rows, grid);
  EXPECT_EQ(cols, grid);

  // The last free cell is found, even when it sits in the list just past the counted entries.
  for (const std::uint16_t missing : {0, 180, 360}) {
    TCoords c{};
    const std::uint16_t all = FillBoard(c);
    const TPoint free = c[missing];
    std::swap(c[missing], c[all - 1]);
    ASSERT_TRUE(prize.GenerateNew(15, c, all - 1));
    EXPECT_EQ(Cell(), free);
  }
}

TEST_F(PrizeTest, AFullBoardIsReportedAndLeavesThePrizeAsItWas) {
  TCoords c{};
  const std::uint16_t all = FillBoard(c);
  c[all] = c[all - 1];
  prize = {5, 6, 7};
  EXPECT_FALSE(prize.GenerateNew(15, c, all + 1));
  EXPECT_EQ(prize.Row, 5);
  EXPECT_EQ(prize.Col, 6);
  EXPECT_EQ(prize.Time, 7);
}

using PrizeDrawingTest = HeadlessGraph;

TEST_F(PrizeDrawingTest, ShowsRedRimAndBlueDotsAndHideClearsWithTheSnakesFill) {
  ClearDevice();
  const TPrize prize{101, 203, 20};  // off the 8-pixel pattern phase both ways
  prize.Show(15);
  int dots = 0;
  for (int dy = -7; dy <= 7; ++dy) {
    for (int dx = -7; dx <= 7; ++dx) {
      const int x = prize.Col + dx, y = prize.Row + dy, role = DiscRole(dx, dy);
      const bool lit = (y % 8 == 0 || y % 8 == 4) ? x % 4 == 0 : (y % 4 == 2 && x % 4 == 2);
      const std::uint32_t want = role == 1 ? 0xA80000 : role == 2 && lit ? 0x5454FC : 0;
      ASSERT_EQ(gfx::inspect::Pixel(x, y), want) << dx << "," << dy;
      dots += role == 2 && lit;
    }
  }
  EXPECT_GT(dots, 4);

  SetFillStyle(SolidFill, 0);
  prize.Hide(15);
  for (int dy = -6; dy <= 6; ++dy) {
    for (int dx = -6; dx <= 6; ++dx) {
      ASSERT_EQ(gfx::inspect::Pixel(prize.Col + dx, prize.Row + dy), 0u) << dx << "," << dy;
    }
  }
}

}  // namespace
