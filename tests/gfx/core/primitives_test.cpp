#include <cstdlib>
#include <vector>

#include "gfx/core/hooks.h"
#include "tests/support/headless_graph.h"

namespace {

using Points = std::set<std::pair<int, int>>;

// Client slots that only pass each run on: with them the generic routines go run by run.
void PassHLine(std::int16_t x1, std::int16_t x2, std::int16_t y) {
  gfx::WindowHLine(x1, x2, y);
}

void AddRun(Points& p, int x0, int x1, int y0, int y1) {
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) p.insert({x, y});
  }
}

class ClippingTest : public HeadlessGraph {
 protected:
  void SetUp() override {
    HeadlessGraph::SetUp();
    SetColor(White);
    SetViewPort(100, 100, 199, 149, true);  // 100 x 50 pixels
  }
};

TEST_F(ClippingTest, HLineIsCutAtEachEdgeAndDroppedOutside) {
  auto hline = gfx::Ops().HLine;
  hline(-10, 5, 0);     // crosses the left edge
  hline(120, 90, 10);   // reversed, crosses the right edge
  hline(-5, 200, 20);   // wider than the viewport
  hline(0, 50, -1);     // above
  hline(0, 50, 50);     // below
  hline(-30, -1, 30);   // wholly left
  hline(100, 130, 30);  // wholly right
  Points expected;
  AddRun(expected, 100, 105, 100, 100);
  AddRun(expected, 190, 199, 110, 110);
  AddRun(expected, 100, 199, 120, 120);
  EXPECT_EQ(LitPixels(), expected);
}

TEST_F(ClippingTest, VLineIsCutAtEachEdgeAndDroppedOutside) {
  auto vline = gfx::Ops().VLine;
  vline(0, -10, 5);    // crosses the top edge
  vline(10, 60, 40);   // reversed, crosses the bottom edge
  vline(20, -5, 80);   // taller than the viewport
  vline(-1, 0, 49);    // left
  vline(100, 0, 49);   // right
  vline(30, -20, -1);  // wholly above
  vline(40, 50, 70);   // wholly below
  Points expected;
  AddRun(expected, 100, 100, 100, 105);
  AddRun(expected, 110, 110, 140, 149);
  AddRun(expected, 120, 120, 100, 149);
  EXPECT_EQ(LitPixels(), expected);
}

TEST_F(ClippingTest, PutPixelKeepsInsideTheViewportOnlyWhileClipping) {
  for (auto [x, y] : {std::pair{-1, 0}, {100, 0}, {0, -1}, {0, 50}, {0, 0}, {99, 49}}) {
    PutPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), White);
  }
  EXPECT_EQ(LitPixels(), (Points{{100, 100}, {199, 149}}));

  SetViewPort(100, 100, 199, 149, false);
  PutPixel(-1, 0, White);     // outside the viewport, on the surface
  PutPixel(-101, 0, White);   // off the surface to the left
  PutPixel(600, 400, White);  // off the surface to the bottom right
  PutPixel(0, -101, White);   // off the top
  PutPixel(539, 379, White);  // the last pixel of the surface
  EXPECT_EQ(LitPixels(), (Points{{100, 100}, {199, 149}, {99, 100}, {639, 479}}));
}

TEST_F(ClippingTest, RunsWithoutClippingStopAtTheSurface) {
  SetViewPort(600, 440, 639, 479, false);
  gfx::Ops().HLine(-700, 100, 0);
  gfx::Ops().VLine(39, -500, 500);
  Points expected;
  AddRun(expected, 0, 639, 440, 440);
  AddRun(expected, 639, 639, 0, 479);
  EXPECT_EQ(LitPixels(), expected);
}

TEST_F(ClippingTest, SlantedLinesKeepTheirPathWhereTheViewportCutsThem) {
  SetViewPort(0, 0, 639, 479, true);
  Line(-40, -10, 60, 25);
  const Points whole = LitPixels();
  ClearDevice();
  SetViewPort(10, 5, 50, 20, true);
  Line(-50, -15, 50, 20);  // the same line in the new viewport's coordinates
  Points expected;
  for (auto [x, y] : whole) {
    if (x >= 10 && x <= 50 && y >= 5 && y <= 20) expected.insert({x, y});
  }
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(LitPixels(), expected);
}

using LineTest = HeadlessGraph;

TEST_F(LineTest, SlantedLinesAreConnectedAndIncludeBothEnds) {
  const struct {
    int x1, y1, x2, y2;
  } lines[] = {
      {10, 10, 30, 17}, {30, 17, 10, 10}, {5, 50, 9, 90}, {100, 90, 60, 60}, {200, 10, 210, 20}};
  for (const auto& l : lines) {
    ClearDevice();
    Line(l.x1, l.y1, l.x2, l.y2);
    const Points lit = LitPixels();
    const int dx = std::abs(l.x2 - l.x1), dy = std::abs(l.y2 - l.y1);
    EXPECT_EQ(lit.size(), static_cast<std::size_t>(std::max(dx, dy) + 1)) << l.x1 << "," << l.y1;
    EXPECT_TRUE(lit.count({l.x1, l.y1}));
    EXPECT_TRUE(lit.count({l.x2, l.y2}));
    // One pixel per step along the major axis, each within one of the ideal line.
    for (auto [x, y] : lit) {
      const double t =
          dx >= dy ? double(x - l.x1) / (l.x2 - l.x1) : double(y - l.y1) / (l.y2 - l.y1);
      const double ideal = dx >= dy ? l.y1 + t * (l.y2 - l.y1) : l.x1 + t * (l.x2 - l.x1);
      EXPECT_LE(std::abs((dx >= dy ? y : x) - ideal), 0.5 + 1e-9) << x << "," << y;
    }
  }
}

TEST_F(LineTest, ThickLinesAreThreeParallelLines) {
  SetLineStyle(SolidLn, 0, ThickWidth);
  Line(10, 20, 30, 20);
  Line(50, 10, 50, 30);
  Points expected;
  AddRun(expected, 10, 30, 19, 21);
  AddRun(expected, 49, 51, 10, 30);
  EXPECT_EQ(LitPixels(), expected);
}

TEST_F(LineTest, StyledLinesFollowTheirPatternFromTheStart) {
  SetLineStyle(DottedLn, 0, NormWidth);  // 1100 1100 1100 1100
  Line(0, 5, 19, 5);
  Points expected;
  for (int x = 0; x < 20; ++x) {
    if ((x % 4) < 2) expected.insert({x, 5});
  }
  EXPECT_EQ(LitPixels(), expected);
}

void PassVLine(std::int16_t x, std::int16_t y1, std::int16_t y2) {
  gfx::WindowVLine(x, y1, y2);
}

std::vector<std::uint32_t> SurfacePixels() {
  std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
  return gfx::Backing().Pixels;
}

// Lines and rectangles drawn with the window's own run slots (whole runs and blocks under one
// hold) leave exactly what the generic routine leaves through client slots, one run at a time:
// for every thickness, line style, user pattern and write mode, with and without clipping, in a
// viewport whose edges cut the shapes, on a surface that is not blank (so that XOR, OR, AND and
// NOT show every pixel written, and how often).
TEST_F(LineTest, WholeRunsMatchTheGenericRoutineRunByRun) {
  struct Shape {
    bool Box;
    int x1, y1, x2, y2;
  };
  const Shape shapes[] = {
      {false, 5, 10, 60, 10},  {false, 60, 20, 5, 20},  {false, 30, -5, 30, 70},
      {false, 40, 70, 40, -5}, {false, 50, 50, 50, 50}, {false, -10, 0, 90, 0},
      {false, 0, -10, 0, 90},  {false, 85, 5, 85, 40},  {false, 3, 3, 70, 41},
      {false, 66, 2, 10, 30},  {true, 10, 12, 70, 45},  {true, -5, -5, 79, 59},
      {true, 20, 30, 20, 30},  {true, 60, 8, 40, 25},   {false, 10, 59, 70, 59}};
  const std::uint16_t styles[][2] = {{SolidLn, 0},  {DottedLn, 0},       {CenterLn, 0},
                                     {DashedLn, 0}, {UserBitLn, 0xA5C3}, {UserBitLn, 0x0001}};
  for (const std::uint16_t thickness : {NormWidth, ThickWidth}) {
    for (const auto& style : styles) {
      for (std::int16_t mode = CopyPut; mode <= NotPut; ++mode) {
        for (const bool clip : {true, false}) {
          std::vector<std::uint32_t> drawn[2];
          for (int generic = 0; generic < 2; ++generic) {
            gfx::Ops().HLine = generic ? PassHLine : gfx::WindowHLine;
            gfx::Ops().VLine = generic ? PassVLine : gfx::WindowVLine;
            SetViewPort(0, 0, GetMaxX(), GetMaxY(), true);
            SetWriteMode(CopyPut);
            SetLineStyle(SolidLn, 0, NormWidth);
            SetBkColor(Black);
            ClearDevice();
            for (int y = 0; y < 120; y += 3) {
              SetColor(static_cast<std::uint16_t>(32 + y));
              Line(0, static_cast<std::int16_t>(y), 150, static_cast<std::int16_t>(y + 7));
            }
            SetViewPort(20, 15, 100, 75, clip);
            SetWriteMode(mode);
            SetLineStyle(style[0], style[1], thickness);
            SetColor(LightMagenta);
            for (const Shape& l : shapes) {
              const auto x1 = static_cast<std::int16_t>(l.x1), y1 = static_cast<std::int16_t>(l.y1);
              const auto x2 = static_cast<std::int16_t>(l.x2), y2 = static_cast<std::int16_t>(l.y2);
              if (l.Box) {
                Rectangle(x1, y1, x2, y2);
              } else {
                Line(x1, y1, x2, y2);
              }
            }
            drawn[generic] = SurfacePixels();
          }
          ASSERT_TRUE(drawn[0] == drawn[1])
              << "thickness " << thickness << ", style " << style[0] << "/" << style[1] << ", mode "
              << mode << ", clip " << clip;
        }
      }
    }
  }
  gfx::Ops().HLine = gfx::WindowHLine;
  gfx::Ops().VLine = gfx::WindowVLine;
  SetViewPort(0, 0, GetMaxX(), GetMaxY(), true);
}

using RectangleTest = HeadlessGraph;

TEST_F(RectangleTest, ThinRectangleDrawsEveryCornerExactlyOnce) {
  // In XOR mode a pixel drawn twice would vanish again.
  SetWriteMode(XORPut);
  Rectangle(10, 20, 40, 35);
  Points expected;
  AddRun(expected, 10, 40, 20, 20);
  AddRun(expected, 10, 40, 35, 35);
  AddRun(expected, 10, 10, 20, 35);
  AddRun(expected, 40, 40, 20, 35);
  EXPECT_EQ(LitPixels(), expected);
}

TEST_F(RectangleTest, ThickRectangleLacksExactlyTwoPixelsAtEachOuterCorner) {
  const int x1 = 50, y1 = 40, x2 = 80, y2 = 60;
  SetColor(19);
  SetLineStyle(SolidLn, 0, ThickWidth);
  Rectangle(x1, y1, x2, y2);
  Points expected;
  AddRun(expected, x1, x2 - 1, y1 - 1, y1 + 1);
  AddRun(expected, x1 - 1, x1 + 1, y1 + 1, y2);
  AddRun(expected, x2 - 1, x2 + 1, y1, y2 - 1);
  AddRun(expected, x1 + 1, x2, y2 - 1, y2 + 1);
  const Points lit = LitPixels();
  EXPECT_EQ(lit, expected);
  EXPECT_EQ(gfx::inspect::Pixel(x1, y1), Screen(19));

  Points frame;
  AddRun(frame, x1 - 1, x2 + 1, y1 - 1, y2 + 1);
  for (int y = y1 + 2; y <= y2 - 2; ++y) {
    for (int x = x1 + 2; x <= x2 - 2; ++x) frame.erase({x, y});
  }
  for (const auto& p : lit) frame.erase(p);
  EXPECT_EQ(frame, (Points{{x1 - 1, y1 - 1},
                           {x1 - 1, y1},
                           {x2, y1 - 1},
                           {x2 + 1, y1 - 1},
                           {x2 + 1, y2},
                           {x2 + 1, y2 + 1},
                           {x1 - 1, y2 + 1},
                           {x1, y2 + 1}}));
}

using WriteModeTest = HeadlessGraph;

TEST_F(WriteModeTest, RunsAndDirectPixelsCombineWithTheSurfaceButPutPixelCopies) {
  const std::uint32_t under = Screen(LightCyan);  // (84,252,252)
  const std::uint32_t color = Screen(Magenta);    // (168,0,168)
  const struct {
    std::int16_t mode;
    std::uint32_t expected;
  } modes[] = {{CopyPut, color},
               {XORPut, under ^ color},
               {OrPut, under | color},
               {AndPut, under & color},
               {NotPut, ~color & 0xFFFFFFu}};
  for (const auto& m : modes) {
    ClearDevice();
    SetWriteMode(CopyPut);
    SetColor(LightCyan);
    Line(0, 0, 9, 0);  // under the run
    Line(0, 1, 0, 9);  // under the column
    PutPixel(20, 20, LightCyan);
    PutPixel(30, 30, LightCyan);
    SetWriteMode(m.mode);
    SetColor(Magenta);
    gfx::Ops().HLine(0, 9, 0);
    gfx::Ops().VLine(0, 1, 9);
    gfx::Ops().DirectPutPixel(20, 20);
    PutPixel(30, 30, Magenta);
    for (int x = 0; x <= 9; ++x) EXPECT_EQ(gfx::inspect::Pixel(x, 0), m.expected) << m.mode;
    for (int y = 1; y <= 9; ++y) EXPECT_EQ(gfx::inspect::Pixel(0, y), m.expected) << m.mode;
    EXPECT_EQ(gfx::inspect::Pixel(20, 20), m.expected) << m.mode;
    EXPECT_EQ(gfx::inspect::Pixel(30, 30), color) << m.mode;
  }
}

TEST_F(WriteModeTest, FillsAreAlwaysCopiedWhateverTheWriteMode) {
  SetColor(Yellow);
  SetFillStyle(SolidFill, Yellow);
  FillEllipse(100, 100, 10, 10);
  SetWriteMode(XORPut);
  SetFillStyle(SolidFill, Red);
  FillEllipse(100, 100, 5, 5);
  EXPECT_EQ(gfx::inspect::Pixel(100, 100), Screen(Red));
  EXPECT_EQ(gfx::Draw().WriteMode, XORPut);
}

TEST_F(WriteModeTest, ColoursPastThePaletteWrapAroundIt) {
  PutPixel(1, 1, 256 + Red);
  PutPixel(2, 2, 65535);
  EXPECT_EQ(gfx::inspect::Pixel(1, 1), Screen(Red));
  EXPECT_EQ(gfx::inspect::Pixel(2, 2), Screen(255));
}

TEST_F(WriteModeTest, GetPixelReadsBackColourNumbersRelativeToTheViewport) {
  PutPixel(5, 6, 104);
  SetViewPort(5, 6, 100, 100, true);
  EXPECT_EQ(GetPixel(0, 0), 104);
  EXPECT_EQ(GetPixel(1, 0), Black);
  EXPECT_EQ(GetPixel(-6, -7), Black);  // off the surface
}

using GraphStateTest = HeadlessGraph;

TEST_F(GraphStateTest, ClearDeviceFillsEverythingResetsThePositionAndKeepsTheViewport) {
  SetColor(Red);
  Line(0, 0, 639, 0);
  Line(639, 479, 0, 479);
  SetViewPort(100, 100, 200, 150, true);
  MoveTo(30, 40);
  ClearDevice();
  EXPECT_EQ(GetX(), 0);
  EXPECT_EQ(GetY(), 0);
  ViewPortType view;
  GetViewSettings(view);
  EXPECT_EQ(view.x1, 100);
  EXPECT_EQ(view.y1, 100);
  EXPECT_EQ(view.x2, 200);
  EXPECT_EQ(view.y2, 150);
  EXPECT_EQ(gfx::inspect::Pixel(0, 0), Screen(Black));
  EXPECT_EQ(gfx::inspect::Pixel(639, 479), Screen(Black));
  EXPECT_EQ(GetColor(), Red);
}

TEST_F(GraphStateTest, ClearViewPortClearsOnlyTheViewportInTheBackgroundColour) {
  SetColor(Green);
  SetFillStyle(SolidFill, Green);
  for (int y = 0; y < 40; ++y) Line(0, y, 60, y);
  SetViewPort(10, 10, 20, 30, true);
  SetWriteMode(XORPut);
  gfx::Draw().CurrentBkColor = Blue;  // without SetBkColor's change of entry 0
  ClearViewPort();
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x <= 60; ++x) {
      const bool inside = x >= 10 && x <= 20 && y >= 10 && y <= 30;
      EXPECT_EQ(gfx::inspect::Pixel(x, y), inside ? Screen(Blue) : Screen(Green)) << x << "," << y;
    }
  }
  EXPECT_EQ(gfx::Draw().WriteMode, XORPut);
  EXPECT_EQ(GetColor(), Green);
}

}  // namespace
