#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "gfx/core/backing_image.h"
#include "gfx/core/hooks.h"
#include "gfx/core/layer.h"
#include "tests/support/headless_graph.h"

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

// The generic routine through the slots, with a client's PutPixel.
void PassPutPixel(std::int16_t x, std::int16_t y, std::uint16_t color) {
  gfx::WindowPutPixel(x, y, color);
}

// The backing image's pixels in an absolute box, cut to the image.
std::vector<std::uint32_t> Snapshot(int x0, int y0, int x1, int y1) {
  std::vector<std::uint32_t> pixels;
  std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
  gfx::BackingImage& image = gfx::Backing();
  for (int y = std::max(y0, 0); y <= std::min(y1, image.Height - 1); ++y) {
    for (int x = std::max(x0, 0); x <= std::min(x1, image.Width - 1); ++x) {
      pixels.push_back(image.Row(y)[x]);
    }
  }
  return pixels;
}

// A background of many colours, so that writes of the background colour and skipped writes of
// a colour already there both show.
void PaintBackground(int x0, int y0, int x1, int y1) {
  std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
  gfx::BackingImage& image = gfx::Backing();
  for (int y = std::max(y0, 0); y <= std::min(y1, image.Height - 1); ++y) {
    for (int x = std::max(x0, 0); x <= std::min(x1, image.Width - 1); ++x) {
      image.Row(y)[x] = (x * 7 + y * 13) % 5 == 0 ? 0 : Screen(static_cast<std::uint16_t>(x ^ y));
    }
  }
}

// The one-pass disc against the generic routine over the slots, pixel for pixel, and against
// the generic routine with the window's own fill run: every radius pair up to 45, each with a
// fill pattern, a viewport offset, clipping on or off, a write mode and a centre near the
// viewport's corner so that both clip.
TEST_F(EllipseTest, OnePassDiscIsPixelIdenticalToTheGenericRoutine) {
  gfx::Draw().UserFillPattern = {0x81, 0x42, 0x24, 0x18, 0xF0, 0x0F, 0xAA, 0x55};
  const gfx::PutPixelProc windowPutPixel = gfx::Ops().PutPixel;
  int cases = 0;
  for (int rx = 0; rx <= 45; ++rx) {
    for (int ry = 0; ry <= 45; ++ry, ++cases) {
      const int vx = 100 + cases % 37, vy = 80 + cases % 23;
      SetViewPort(static_cast<std::int16_t>(vx), static_cast<std::int16_t>(vy), 400, 300,
                  cases % 2 == 0);
      SetWriteMode(static_cast<std::int16_t>(cases % 5));
      SetColor(static_cast<std::uint16_t>(cases % 256));
      SetBkColor(static_cast<std::uint16_t>(cases % 7));
      SetFillStyle(static_cast<std::uint16_t>(cases % 13), static_cast<std::uint16_t>(cases % 250));
      const int cx = (cases % 3) * 10 - 10, cy = (cases % 4) * 7 - 7;
      const int bx0 = vx + cx - rx - 2, by0 = vy + cy - ry - 2;
      const int bx1 = vx + cx + rx + 2, by1 = vy + cy + ry + 2;
      std::vector<std::uint32_t> drawn[3];
      for (int generic = 0; generic < 3; ++generic) {
        gfx::Ops().PutPixel = generic ? PassPutPixel : windowPutPixel;
        UseGenericShapes(generic);
        if (generic == 2) gfx::Ops().PatternLine = gfx::WindowPatternLine;
        PaintBackground(bx0, by0, bx1, by1);
        FillEllipse(static_cast<std::int16_t>(cx), static_cast<std::int16_t>(cy),
                    static_cast<std::uint16_t>(rx), static_cast<std::uint16_t>(ry));
        drawn[generic] = Snapshot(bx0, by0, bx1, by1);
      }
      gfx::Ops().PutPixel = windowPutPixel;
      UseGenericShapes(false);
      ASSERT_EQ(drawn[0], drawn[1]) << "radii " << rx << "," << ry << " case " << cases;
      ASSERT_EQ(drawn[0], drawn[2]) << "radii " << rx << "," << ry << " case " << cases;
    }
  }
  SetBkColor(Black);
}

// Clipping off lets outline points out of the viewport but keeps every fill run in it: inside,
// the picture is the clipped one; outside, only outline colour.
TEST_F(EllipseTest, WithClippingOffOnlyTheOutlineLeavesTheViewport) {
  const gfx::PutPixelProc windowPutPixel = gfx::Ops().PutPixel;
  for (int generic = 0; generic < 2; ++generic) {
    gfx::Ops().PutPixel = generic ? PassPutPixel : windowPutPixel;
    UseGenericShapes(generic);
    std::set<Point> lit[2];
    for (int clip = 1; clip >= 0; --clip) {  // clipping off last: its picture stays
      SetViewPort(0, 0, GetMaxX(), GetMaxY(), true);
      ClearDevice();
      SetViewPort(100, 100, 200, 200, clip == 1);
      SetColor(White);
      SetFillStyle(SolidFill, LightBlue);
      FillEllipse(0, 0, 20, 12);
      lit[clip] = LitPixels();
    }
    int outside = 0;
    for (const Point& p : lit[0]) {
      const bool inView = p.first >= 100 && p.first <= 200 && p.second >= 100 && p.second <= 200;
      if (inView) {
        EXPECT_EQ(lit[1].count(p), 1u) << p.first << "," << p.second;
      } else {
        ++outside;
        EXPECT_EQ(gfx::inspect::Pixel(p.first, p.second), Screen(White))
            << p.first << "," << p.second;
      }
    }
    for (const Point& p : lit[1]) EXPECT_EQ(lit[0].count(p), 1u) << p.first << "," << p.second;
    EXPECT_GT(outside, 0) << "the outline should leave the viewport";
    EXPECT_LT(outside, 120) << "only the outline may leave it";
  }
  gfx::Ops().PutPixel = windowPutPixel;
  UseGenericShapes(false);
  SetViewPort(0, 0, GetMaxX(), GetMaxY(), true);
}

// Every fill pattern, row by row as the table gives it, against the inside of a disc of
// unequal radii: ink where the bit for (x mod 8, y mod 8) is set, background where not.
TEST_F(EllipseTest, FillPatternsLightExactlyTheirBitsInside) {
  constexpr std::array<std::array<std::uint8_t, 8>, 9> kRows{{
      {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00},
      {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},
      {0x07, 0x0E, 0x1C, 0x38, 0x70, 0xE0, 0xC1, 0x83},
      {0x07, 0x83, 0xC1, 0xE0, 0x70, 0x38, 0x1C, 0x0E},
      {0x5A, 0x2D, 0x96, 0x4B, 0xA5, 0xD2, 0x69, 0xB4},
      {0xFF, 0x88, 0x88, 0x88, 0xFF, 0x88, 0x88, 0x88},
      {0x18, 0x24, 0x42, 0x81, 0x81, 0x42, 0x24, 0x18},
      {0xCC, 0x33, 0xCC, 0x33, 0xCC, 0x33, 0xCC, 0x33},
      {0x80, 0x00, 0x08, 0x00, 0x80, 0x00, 0x08, 0x00},
  }};
  const std::array<std::uint8_t, 8> user{0xF0, 0x0F, 0x3C, 0xC3, 0x01, 0x80, 0x00, 0xFF};
  gfx::Draw().UserFillPattern = user;
  const int cx = 203, cy = 117;
  SetColor(White);
  SetBkColor(Green);
  SetFillStyle(SolidFill, Yellow);
  FillEllipse(cx, cy, 31, 17);
  std::set<Point> inside;
  for (const Point& p : LitPixels()) {
    if (gfx::inspect::Pixel(p.first, p.second) == Screen(Yellow)) inside.insert(p);
  }
  ASSERT_GT(inside.size(), 1000u);
  for (std::uint16_t pattern = LineFill; pattern <= UserFill; ++pattern) {
    if (pattern == CloseDotFill) continue;  // checked on its own above
    const auto& rows = pattern == UserFill ? user : kRows[pattern - LineFill];
    SetFillStyle(pattern, LightRed);
    FillEllipse(cx, cy, 31, 17);
    for (const Point& p : inside) {
      const bool ink = rows[p.second % 8] & (0x80 >> (p.first % 8));
      ASSERT_EQ(gfx::inspect::Pixel(p.first, p.second), ink ? Screen(LightRed) : Screen(Green))
          << "pattern " << pattern << " at " << p.first << "," << p.second;
    }
  }
  SetBkColor(Black);
}

}  // namespace
