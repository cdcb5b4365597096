#include "gfx/platform/sdl/desktop_size.h"

#include <gtest/gtest.h>

namespace {

// The player's setting is text from the environment and wins when it is a whole number from 1
// to 8; else a desktop's scale counts, which may be fractional (Xft.dpi 144 is 1.5).
TEST(DesktopSizeTest, TheScaleIsThePlayersSettingElseTheDesktopsRoundedHalvesUp) {
  using gfx::sdl::ScaleAskedFor;
  EXPECT_EQ(ScaleAskedFor("2", 1.0), 2);
  EXPECT_EQ(ScaleAskedFor("1", 2.0), 1);
  EXPECT_EQ(ScaleAskedFor("8", 1.0), 8);
  for (const char* refused : {"", "0", "9", "-2", "1.5", "2x", " 2", "two"}) {
    EXPECT_EQ(ScaleAskedFor(refused, 3.0), 3) << '"' << refused << '"';
  }
  EXPECT_EQ(ScaleAskedFor(nullptr, 1.25), 1);  // Xft.dpi 120
  EXPECT_EQ(ScaleAskedFor(nullptr, 1.5), 2);   // Xft.dpi 144
  EXPECT_EQ(ScaleAskedFor(nullptr, 2.5), 3);
  EXPECT_EQ(ScaleAskedFor(nullptr, 0.5), 1);
  EXPECT_EQ(ScaleAskedFor(nullptr, 100.0), gfx::kMostScale);
}

}  // namespace
