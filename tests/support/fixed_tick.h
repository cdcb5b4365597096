#pragma once

// The random generator's tick under the test's control (SetTickSource(TestTick)), and the
// generator's scaling of a 32-bit output into 0..n-1 written out from its definition.

#include <cstdint>

inline std::uint32_t gTick = 0;

inline std::uint32_t TestTick() {
  return gTick;
}

inline std::uint32_t Scaled(std::uint64_t u, std::uint32_t n) {
  return static_cast<std::uint32_t>(u * n / 4294967296ull);
}
