#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "gfx/keyboard.h"
#include "tests/support/headless_graph.h"

namespace {

// Waits, sleeping, until another thread queues for the drawing lock.
void AwaitWaiters(int count) {
  while (gfx::GraphDrawing().Waiters() < count) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST(DrawingLockTest, AWaitingThreadGoesBeforeAHolderThatRelocksAtOnce) {
  gfx::DrawingLock& lock = gfx::GraphDrawing();
  std::atomic<int> presents{0};
  lock.lock();
  std::thread presenter([&] {
    lock.lock();
    presents.fetch_add(1);
    lock.unlock();
  });
  AwaitWaiters(1);
  for (int i = 0; i < 3; ++i) {
    lock.unlock();
    lock.lock();  // queues behind the presenter
    EXPECT_EQ(presents.load(), 1) << "relock " << i;
  }
  lock.unlock();
  presenter.join();
}

TEST(DrawingLockTest, WaitersAreServedInTheOrderTheyArrived) {
  gfx::DrawingLock& lock = gfx::GraphDrawing();
  std::vector<int> order;
  std::vector<std::thread> threads;
  lock.lock();
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      lock.lock();
      order.push_back(i);
      lock.unlock();
    });
    AwaitWaiters(i + 1);
  }
  lock.unlock();
  for (auto& t : threads) t.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

class PresentTest : public HeadlessGraph {
 protected:
  // A window-sized destination with a border of 0xEE... so that stray writes show.
  std::vector<std::uint32_t> screen = std::vector<std::uint32_t>(700 * 500, 0xEEEEEEEEu);
  static constexpr int kPitch = 700;
};

TEST_F(PresentTest, OnlyTheDirtyRegionIsCopiedAndThenItIsClean) {
  gfx::PresentTo(screen.data(), kPitch, 640, 480, true);
  PutPixel(10, 20, Red);
  SetColor(Yellow);
  Line(30, 5, 30, 40);
  const gfx::Rect copied = gfx::PresentTo(screen.data(), kPitch, 640, 480, false);
  EXPECT_EQ(copied.x0, 10);
  EXPECT_EQ(copied.y0, 5);
  EXPECT_EQ(copied.x1, 30);
  EXPECT_EQ(copied.y1, 40);
  EXPECT_EQ(screen[20 * kPitch + 10], Screen(Red));
  EXPECT_EQ(screen[40 * kPitch + 30], Screen(Yellow));
  EXPECT_EQ(screen[20 * kPitch + 640], 0xEEEEEEEEu);  // right of the image: untouched
  EXPECT_TRUE(gfx::PresentTo(screen.data(), kPitch, 640, 480, false).Empty());
}

TEST_F(PresentTest, AFullPresentIsClippedToASmallerDestination) {
  PutPixel(639, 479, White);
  PutPixel(99, 49, White);
  const gfx::Rect copied = gfx::PresentTo(screen.data(), kPitch, 100, 50, true);
  EXPECT_EQ(copied.x1, 99);
  EXPECT_EQ(copied.y1, 49);
  EXPECT_EQ(screen[49 * kPitch + 99], Screen(White));
  EXPECT_EQ(screen[49 * kPitch + 100], 0xEEEEEEEEu);
  EXPECT_EQ(screen[50 * kPitch + 0], 0xEEEEEEEEu);
}

TEST_F(PresentTest, NothingIsPresentedOnceTheWindowIsGone) {
  PutPixel(1, 1, White);
  gfx::inspect::SimulateWindowClose();
  EXPECT_TRUE(gfx::PresentTo(screen.data(), kPitch, 640, 480, true).Empty());
  EXPECT_EQ(screen[kPitch + 1], 0xEEEEEEEEu);
}

// The window thread presents while the program draws; the last present shows the final image.
TEST_F(PresentTest, PresentingWhileDrawingEndsWithTheDrawnImage) {
  std::atomic<bool> drawing{true};
  std::thread presenter([&] {
    while (drawing.load()) {
      gfx::PresentTo(screen.data(), kPitch, 640, 480, false);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  SetFillStyle(SolidFill, LightGreen);
  for (int i = 0; i < 200; ++i) {
    SetColor(static_cast<std::uint16_t>(32 + i % 200));
    FillEllipse(static_cast<std::int16_t>(20 + (i * 7) % 600),
                static_cast<std::int16_t>(20 + (i * 13) % 440), 8, 6);
  }
  drawing.store(false);
  presenter.join();
  gfx::PresentTo(screen.data(), kPitch, 640, 480, false);
  for (int y = 0; y < 480; y += 3) {
    for (int x = 0; x < 640; x += 3) {
      ASSERT_EQ(screen[y * kPitch + x], gfx::inspect::Pixel(x, y)) << x << "," << y;
    }
  }
}

// Redrawing what is there sends nothing; a disc moved across the screen sends its old and its
// new place, not the box between them.
TEST_F(PresentTest, OnlyPixelsThatDifferFromTheWindowAreSent) {
  SetColor(19);
  SetLineStyle(SolidLn, 0, ThickWidth);
  Rectangle(100, 100, 400, 400);
  SetLineStyle(SolidLn, 0, NormWidth);
  SetFillStyle(SolidFill, 56);
  SetColor(White);
  FillEllipse(120, 120, 5, 5);
  gfx::PresentTo(screen.data(), kPitch, 640, 480, true);

  SetColor(19);
  SetLineStyle(SolidLn, 0, ThickWidth);
  Rectangle(100, 100, 400, 400);
  SetLineStyle(SolidLn, 0, NormWidth);
  SetColor(Black);
  SetFillStyle(SolidFill, Black);
  FillEllipse(120, 120, 5, 5);
  SetColor(White);
  SetFillStyle(SolidFill, 56);
  FillEllipse(120, 120, 5, 5);
  gfx::Rect shown[8];
  EXPECT_EQ(gfx::PresentTo(screen.data(), kPitch, 640, 480, false, shown, 8), 0);

  SetColor(Black);
  SetFillStyle(SolidFill, Black);
  FillEllipse(120, 120, 5, 5);
  SetColor(White);
  SetFillStyle(SolidFill, 56);
  FillEllipse(380, 380, 5, 5);
  const int count = gfx::PresentTo(screen.data(), kPitch, 640, 480, false, shown, 8);
  long area = 0;
  for (int i = 0; i < count; ++i) area += shown[i].Area();
  EXPECT_EQ(count, 2);
  EXPECT_EQ(area, 2 * 11 * 11);
  EXPECT_EQ(screen[120 * kPitch + 120], 0u);
  EXPECT_EQ(screen[380 * kPitch + 380], Screen(56));
}

// DrawToBitmap off: nothing changes. DrawToScreen off: the image changes, but nothing becomes
// due for the window until it is on again.
TEST_F(PresentTest, TheTwoSwitchesKeepDrawingFromTheImageOrFromTheWindow) {
  SetDrawToBitmap(false);
  PutPixel(10, 10, White);
  SetFillStyle(SolidFill, Red);
  FillEllipse(50, 50, 8, 8);
  OutTextXY(100, 100, "x");
  SetDrawToBitmap(true);
  EXPECT_TRUE(LitPixels().empty());

  gfx::PresentTo(screen.data(), kPitch, 640, 480, true);
  SetDrawToScreen(false);
  PutPixel(10, 10, White);
  EXPECT_FALSE(KeyPressed());  // a wait
  EXPECT_EQ(gfx::inspect::Pixel(10, 10), Screen(White));
  EXPECT_EQ(gfx::PictureDueInMs(), -1);
  SetDrawToScreen(true);
  const int due = gfx::PictureDueInMs();
  EXPECT_GT(due, 0);
  EXPECT_LE(due, 250);  // the program waited a moment ago: the longer limit of a waiting one
  EXPECT_FALSE(gfx::PresentTo(screen.data(), kPitch, 640, 480, false).Empty());
  EXPECT_EQ(screen[10 * kPitch + 10], Screen(White));
}

}  // namespace
