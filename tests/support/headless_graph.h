#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <utility>

#include "gfx/core/backing_image.h"
#include "gfx/core/hooks.h"
#include "gfx/core/layer.h"
#include "gfx/core/palette.h"
#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/platform/headless/headless_window.h"

// What a colour number of the default palette looks like on the surface.
inline std::uint32_t Screen(std::uint16_t color) {
  const gfx::RGBColor c = gfx::DefaultColors()[color];
  return (std::uint32_t{c.Red} << 16) | (std::uint32_t{c.Green} << 8) | c.Blue;
}

// A graphics window on the headless platform for each test, closed afterwards with no result
// code left pending.
class HeadlessGraph : public ::testing::Test {
 protected:
  void SetUp() override { OpenOn(gfx::DesktopSize{}); }

  void TearDown() override {
    if (gfx::Mode().IsGraphMode) CloseGraph();
    GraphResult();
  }

  static void OpenOn(gfx::DesktopSize desktop) {
    if (gfx::Mode().IsGraphMode) CloseGraph();
    gfx::UseHeadlessPlatform(desktop);
    std::int16_t driver = Detect;
    std::int16_t mode = 0;
    InitGraph(driver, mode, "");
    ASSERT_EQ(GraphResult(), grOk);
  }
};

// The generic routines in the shape and fill slots, drawing through the pixel and run slots, or
// the window's one-pass versions back in them.
inline void UseGenericShapes(bool generic) {
  gfx::Hooks& ops = gfx::Ops();
  ops.InternalEllipse = generic ? gfx::GenericInternalEllipse : gfx::WindowInternalEllipse;
  ops.PatternLine = generic ? gfx::GenericPatternLine : gfx::WindowPatternLine;
  ops.ClearViewPort = generic ? gfx::GenericClearViewPort : gfx::WindowClearViewPort;
  ops.PutImage = generic ? gfx::GenericPutImage : gfx::WindowPutImage;
}

// A box of image pixels, inclusive.
struct Box {
  int x0, y0, x1, y1;
  bool Contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

// Pixels of the whole image that differ from black outside `box`.
inline int InkOutside(const Box& box) {
  int count = 0;
  for (int y = 0; y < gfx::inspect::Height(); ++y)
    for (int x = 0; x < gfx::inspect::Width(); ++x)
      if (!box.Contains(x, y) && gfx::inspect::Pixel(x, y) != 0) ++count;
  return count;
}

// Every pixel that is not black, read under the drawing lock.
inline std::set<std::pair<int, int>> LitPixels() {
  std::set<std::pair<int, int>> lit;
  std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
  gfx::BackingImage& image = gfx::Backing();
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < image.Width; ++x) {
      if (image.Row(y)[x] != 0) lit.insert({x, y});
    }
  }
  return lit;
}
