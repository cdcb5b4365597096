#include <gtest/gtest.h>

#include "gfx/platform/headless/headless_window.h"

// Every in-process test draws on the headless platform; window tests have their own binary.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  gfx::UseHeadlessPlatform();
  return RUN_ALL_TESTS();
}
