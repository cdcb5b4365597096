#include "game/random.h"

#include <cassert>
#include <chrono>
#include <random>

namespace {

std::uint32_t SteadyTicks() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
  return static_cast<std::uint32_t>(ms);
}

struct RandomState {
  std::mt19937 generator;
  TickSource ticks = SteadyTicks;
};

RandomState& State() {
  static RandomState state;
  return state;
}

}  // namespace

void Randomize() {
  State().generator.seed(State().ticks());
}

std::uint32_t Random(std::uint32_t n) {
  assert(n > 0 && "Random needs a positive range");
  const std::uint64_t u = State().generator();
  return static_cast<std::uint32_t>((u * n) >> 32);
}

void SetTickSource(TickSource source) {
  State().ticks = source ? source : SteadyTicks;
}
