#pragma once

#include <cstdint>
#include <exception>

// Keyboard and timing: the key queue the graphics window fills, and the program's clock.

// Thrown by ReadKey (when no key is queued) and by Delay once the graphics window has been closed
// by the player or lost with its display: no key can arrive any more, so a waiting screen stops
// waiting. The main loop catches it and ends the run as if "Quit" had been chosen.
class WindowClosed : public std::exception {
 public:
  const char* what() const noexcept override { return "the graphics window was closed"; }
};

// Takes the next byte from the key queue, waiting while it is empty. An extended key arrives as
// 0 followed by its code. Bytes are 0..255, so a typed character 233 compares equal to 233.
std::uint8_t ReadKey();
// True when at least one byte waits; takes nothing and never blocks.
bool KeyPressed();
// Suspends the calling thread for that many milliseconds; keys typed meanwhile are queued.
void Delay(std::uint16_t milliseconds);

// Queue one byte, or 0 and then the byte (window thread; tests).
void AddChar(std::uint8_t c);
void AddExtChar(std::uint8_t c);

// Tests replace the sleep behind Delay (nullptr puts the real one back). The replacement is
// called instead of sleeping, on the thread that called Delay.
using SleepFunction = void (*)(std::uint16_t milliseconds);
void SetSleepFunction(SleepFunction sleep);
