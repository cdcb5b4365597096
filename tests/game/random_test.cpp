#include "game/random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>

#include "tests/support/fixed_tick.h"

namespace {

class RandomTest : public testing::Test {
 protected:
  void SetUp() override { SetTickSource(TestTick); }
  void TearDown() override { SetTickSource(nullptr); }
};

TEST_F(RandomTest, ScalesTheMersenneTwistersOutputIntoTheRange) {
  // Published first outputs for seeds 5489 and 1: 3499211612, 581869302; 1791095845, 4282876139.
  gTick = 5489;
  Randomize();
  EXPECT_EQ(Random(19), 15u);
  EXPECT_EQ(Random(1000), 135u);
  gTick = 1;
  Randomize();
  EXPECT_EQ(Random(1000), 417u);
  EXPECT_EQ(Random(19), 18u);

  for (std::uint32_t seed : {0u, 42u, 0xFFFFFFFFu}) {
    gTick = seed;
    Randomize();
    std::mt19937 reference(seed);
    for (std::uint32_t n : {1u, 19u, 0x80000000u, 0xFFFFFFFFu}) {
      for (int k = 0; k < 50; ++k) ASSERT_EQ(Random(n), Scaled(reference(), n)) << seed << " " << n;
    }
  }

  std::set<std::uint32_t> seen;
  for (int k = 0; k < 100000; ++k) seen.insert(Random(19));
  EXPECT_EQ(seen.size(), 19u);
  EXPECT_EQ(*seen.rbegin(), 18u);
}

}  // namespace
