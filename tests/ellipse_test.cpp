#include <map>
#include <set>
#include <utility>

#include "gfx/hooks.h"
#include "tests/headless_graph.h"

namespace {

using Point = std::pair<int, int>;

// The disc of radius 5 about the origin: outline and fill, row by row.
struct Disc {
  std::set<Point> Outline;
  std::set<Point> Fill;
};

Disc ExpectedDisc5() {
  Disc d;
  auto outline = [&](int x0, int x1, int y) {
    for (int x = x0; x <= x1; ++x) d.Outline.insert({x, y});
  };
  auto fill = [&](int x0, int x1, int y) {
    for (int x = x0; x <= x1; ++x) d.Fill.insert({x, y});
  };
  for (int s : {-1, 1}) {
    outline(-2, 2, 5 * s);
    outline(-4, -2, 4 * s);
    outline(2, 4, 4 * s);
    fill(-1, 1, 4 * s);
    outline(-4, -4, 3 * s);
    outline(4, 4, 3 * s);
    fill(-3, 3, 3 * s);
  }
  for (int y = -2; y <= 2; ++y) {
    outline(-5, -5, y);
    outline(5, 5, y);
    fill(-4, 4, y);
  }
  return d;
}

// Records which pixels each role writes, then draws them as usual.
struct RoleSpy {
  static inline std::map<Point, int> outlineWrites;
  static inline std::map<Point, int> fillWrites;
  static inline int originX = 0;
  static inline int originY = 0;

  static void PutPixel(std::int16_t x, std::int16_t y, std::uint16_t color) {
    ++outlineWrites[{x - originX, y - originY}];
    gfx::WindowPutPixel(x, y, color);
  }
  static void PatternLine(std::int16_t x1, std::int16_t x2, std::int16_t y) {
    for (int x = x1; x <= x2; ++x) ++fillWrites[{x - originX, y - originY}];
    gfx::GenericPatternLine(x1, x2, y);
  }
};

using EllipseTest = HeadlessGraph;

TEST_F(EllipseTest, RadiusFiveDiscTouchesExactlyItsPixelsEachInOneRole) {
  const int cx = 100, cy = 60;
  RoleSpy::outlineWrites.clear();
  RoleSpy::fillWrites.clear();
  RoleSpy::originX = cx;
  RoleSpy::originY = cy;
  gfx::Ops().PutPixel = RoleSpy::PutPixel;
  gfx::Ops().PatternLine = RoleSpy::PatternLine;
  SetColor(Red);
  SetFillStyle(SolidFill, LightBlue);
  FillEllipse(cx, cy, 5, 5);

  const Disc expected = ExpectedDisc5();
  std::set<Point> outline, fill;
  for (const auto& [p, n] : RoleSpy::outlineWrites) outline.insert(p);
  for (const auto& [p, n] : RoleSpy::fillWrites) fill.insert(p);
  EXPECT_EQ(outline, expected.Outline);
  EXPECT_EQ(fill, expected.Fill);
  for (const auto& p : outline) EXPECT_EQ(fill.count(p), 0u) << p.first << "," << p.second;

  // On the surface: the two colours where expected, untouched black everywhere else around.
  for (int y = -8; y <= 8; ++y) {
    for (int x = -8; x <= 8; ++x) {
      std::uint32_t want = Screen(Black);
      if (expected.Outline.count({x, y})) want = Screen(Red);
      if (expected.Fill.count({x, y})) want = Screen(LightBlue);
      EXPECT_EQ(gfx::inspect::Pixel(cx + x, cy + y), want) << x << "," << y;
    }
  }
}

TEST_F(EllipseTest, PatternElevenLightsOnlyItsEightCellsInside) {
  SetColor(White);
  SetFillStyle(CloseDotFill, Yellow);
  SetBkColor(Black);
  // Paint the area first so that background writes show.
  SetFillStyle(SolidFill, Green);
  FillEllipse(200, 100, 30, 20);
  SetFillStyle(CloseDotFill, Yellow);
  FillEllipse(203, 101, 5, 5);

  const Disc expected = ExpectedDisc5();
  const std::set<Point> lit{{0, 0}, {4, 0}, {2, 2}, {6, 2}, {0, 4}, {4, 4}, {2, 6}, {6, 6}};
  int litCount = 0;
  for (const Point& p : expected.Fill) {
    const int x = 203 + p.first, y = 101 + p.second;
    const bool on = lit.count({x % 8, y % 8}) > 0;
    litCount += on;
    EXPECT_EQ(gfx::inspect::Pixel(x, y), on ? Screen(Yellow) : Screen(Black)) << x << "," << y;
  }
  EXPECT_GT(litCount, 0);
  for (const Point& p : expected.Outline) {
    EXPECT_EQ(gfx::inspect::Pixel(203 + p.first, 101 + p.second), Screen(White));
  }
}

TEST_F(EllipseTest, TinyRadiiDrawTheCentreOnly) {
  SetColor(LightRed);
  SetFillStyle(SolidFill, Blue);
  for (std::uint16_t r : {0, 1}) {
    ClearDevice();
    FillEllipse(50, 40, r, r);
    for (int y = 37; y <= 43; ++y) {
      for (int x = 47; x <= 53; ++x) {
        const bool centre = x == 50 && y == 40;
        EXPECT_EQ(gfx::inspect::Pixel(x, y), centre ? Screen(LightRed) : Screen(Black))
            << "r=" << r << " at " << x << "," << y;
      }
    }
  }
}

}  // namespace
