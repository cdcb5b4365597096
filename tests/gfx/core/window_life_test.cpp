#include "gfx/core/backing_image.h"
#include "gfx/core/layer.h"
#include "gfx/keyboard.h"
#include "tests/support/headless_graph.h"

// The window going away under the program: the player closed it, or the program did.

namespace {

using GraphStateTest = HeadlessGraph;

TEST_F(GraphStateTest, TheUserClosingTheWindowStopsDrawingButNotTheProgram) {
  gfx::inspect::SimulateWindowClose();
  EXPECT_EQ(gfx::inspect::Width(), 0);
  EXPECT_EQ(gfx::inspect::Pixel(0, 0), 0xFFFFFFFFu);
  EXPECT_TRUE(gfx::Mode().IsGraphMode);
  EXPECT_FALSE(gfx::Backing().GraphRunning);
  // None of these may touch a surface that is gone.
  SetColor(Red);
  PutPixel(1, 1, Red);
  Line(0, 0, 100, 37);
  Rectangle(5, 5, 50, 50);
  FillEllipse(100, 100, 20, 10);
  ClearDevice();
  EXPECT_EQ(GetPixel(1, 1), 0);
  EXPECT_EQ(gfx::inspect::Width(), 0);
  CloseGraph();
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_FALSE(gfx::Mode().IsGraphMode);
  // The slots keep the window versions: drawing after CloseGraph is ignored too.
  PutPixel(1, 1, Red);
  ClearDevice();
}

TEST_F(GraphStateTest, OnlyAWindowThePlayerClosedCountsAsLostForTheKeyboard) {
  SetSleepFunction([](std::uint16_t) {});
  EXPECT_NO_THROW(Delay(1));
  gfx::inspect::SimulateWindowClose();
  EXPECT_THROW(Delay(1), WindowClosed);
  CloseGraph();
  OpenOn(gfx::DesktopSize{});  // a new window delivers keys again
  EXPECT_NO_THROW(Delay(1));
  CloseGraph();  // closed on purpose: not lost
  EXPECT_NO_THROW(Delay(1));
  SetSleepFunction(nullptr);
}

}  // namespace
