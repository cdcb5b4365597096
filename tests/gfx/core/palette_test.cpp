#include "gfx/core/palette.h"

#include <cstdint>

#include "tests/support/headless_graph.h"

namespace {

using PaletteTest = HeadlessGraph;

TEST_F(PaletteTest, TheColoursTheGameUsesHaveTheirValues) {
  const struct {
    std::int16_t index, r, g, b;
  } colours[] = {
      {4, 168, 0, 0},      {9, 84, 84, 252},    {15, 252, 252, 252}, {19, 44, 44, 44},
      {41, 252, 64, 0},    {42, 252, 124, 0},   {43, 252, 188, 0},   {44, 252, 252, 0},
      {56, 124, 124, 252}, {57, 156, 124, 252}, {62, 252, 124, 188}, {103, 180, 196, 252},
      {104, 0, 0, 112},    {201, 40, 32, 64},   {212, 64, 64, 32},   {255, 0, 0, 0},
      {32, 0, 0, 252},     {247, 44, 48, 64},   {248, 0, 0, 0},      {16, 0, 0, 0},
      {31, 252, 252, 252}, {6, 168, 84, 0},
  };
  for (const auto& c : colours) {
    std::int16_t r = -1, g = -1, b = -1;
    GetRGBPalette(c.index, r, g, b);
    EXPECT_EQ(r, c.r) << c.index;
    EXPECT_EQ(g, c.g) << c.index;
    EXPECT_EQ(b, c.b) << c.index;
    PutPixel(c.index, 0, c.index);
    EXPECT_EQ(gfx::inspect::Pixel(c.index, 0),
              (std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) | std::uint32_t(c.b));
  }
  EXPECT_EQ(GraphResult(), grOk);
}

TEST_F(PaletteTest, EntriesChangeLaterDrawingOnlyAndBadIndicesAreRefused) {
  PutPixel(1, 1, 100);
  SetRGBPalette(100, 1, 2, 3);
  EXPECT_EQ(GraphResult(), grOk);
  PutPixel(2, 2, 100);
  EXPECT_EQ(gfx::inspect::Pixel(1, 1), Screen(100));
  EXPECT_EQ(gfx::inspect::Pixel(2, 2), 0x010203u);

  for (std::int16_t index : {-1, 256, 32767}) {
    std::int16_t r = 7, g = 7, b = 7;
    SetRGBPalette(index, 9, 9, 9);
    EXPECT_EQ(GraphResult(), grError) << index;
    GetRGBPalette(index, r, g, b);
    EXPECT_EQ(GraphResult(), grError) << index;
    EXPECT_EQ(r, 7);
  }
}

TEST_F(PaletteTest, TheBackgroundColourBecomesEntryZero) {
  SetBkColor(Red);
  std::int16_t r, g, b;
  GetRGBPalette(0, r, g, b);
  EXPECT_EQ(r, 168);
  EXPECT_EQ(g, 0);
  ClearDevice();
  EXPECT_EQ(gfx::inspect::Pixel(5, 5), Screen(Red));
  GraphDefaults();
  GetRGBPalette(0, r, g, b);
  EXPECT_EQ(r, 0);
}

}  // namespace
