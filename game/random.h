#pragma once

#include <cstdint>

// The program's one random sequence: a 32-bit Mersenne Twister seeded from the millisecond tick
// count. The prize is its only user.

// Restarts the sequence from the current tick count, so two calls that read the same tick are
// followed by the same numbers. Called once per prize placement.
void Randomize();

// A whole number in 0 .. n - 1 for n > 0: the upper 32 bits of u * n for the next 32-bit output u.
std::uint32_t Random(std::uint32_t n);

// Where Randomize reads the time: milliseconds from a fixed start, as a 32-bit value that wraps.
// Tests install their own; nullptr puts back the monotonic clock.
using TickSource = std::uint32_t (*)();
void SetTickSource(TickSource source);
