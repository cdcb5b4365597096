#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "gfx/core/hooks.h"
#include "tests/support/headless_graph.h"

namespace {

using WriteModeTest = HeadlessGraph;

void PassHLine(std::int16_t x1, std::int16_t x2, std::int16_t y) {
  gfx::WindowHLine(x1, x2, y);
}

// The one-pass image and clear write what the generic routines write through a client's HLine
// slot: each write mode, an image hanging over a clipped viewport's edge, then a clear.
TEST_F(WriteModeTest, OnePassImagesAndClearsMatchTheGenericRoutines) {
  std::vector<std::uint16_t> image{29, 19};
  for (int i = 0; i < 30 * 20; ++i) image.push_back(static_cast<std::uint16_t>((i * 37) % 300));
  std::set<std::pair<std::pair<int, int>, std::uint32_t>> drawn[2];
  for (int generic = 0; generic < 2; ++generic) {
    if (generic) gfx::Ops().HLine = PassHLine;
    UseGenericShapes(generic);
    SetViewPort(0, 0, GetMaxX(), GetMaxY(), true);
    ClearDevice();
    SetViewPort(50, 40, 120, 90, true);
    SetColor(Yellow);
    Rectangle(0, 0, 70, 50);
    for (std::int16_t mode = CopyPut; mode <= NotPut; ++mode) {
      gfx::Ops().PutImage(static_cast<std::int16_t>(mode * 20 - 15),
                          static_cast<std::int16_t>(mode * 9 - 5), image.data(), mode);
    }
    SetViewPort(60, 50, 80, 70, true);
    SetBkColor(Blue);
    ClearViewPort();
    SetBkColor(Black);
    for (const auto& p : LitPixels())
      drawn[generic].insert({p, gfx::inspect::Pixel(p.first, p.second)});
  }
  gfx::Ops().HLine = gfx::WindowHLine;
  UseGenericShapes(false);
  SetViewPort(0, 0, GetMaxX(), GetMaxY(), true);
  EXPECT_GT(drawn[0].size(), 1000u);
  EXPECT_EQ(drawn[0], drawn[1]);
}

}  // namespace
