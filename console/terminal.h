#pragma once

// The terminal as each operating system offers it: one file per system (console_posix.cpp,
// console_windows.cpp). A failure of any of these ends the program with the run-time error report,
// after the terminal is put back.

#include <string_view>

namespace console {

inline constexpr int kReadEnd = -1;  // end of input
inline constexpr int kReadTimeout = -2;

// One byte from standard input (0..255), kReadEnd, or kReadTimeout when timeoutMs (not negative)
// passed without input.
int ReadByte(int timeoutMs);
// Writes everything to standard output, after what stdio holds for it.
void WriteOut(std::string_view bytes);
// Writes out what stdio holds for standard output.
void FlushOutput();
bool OutputIsTerminal();
bool InputIsTerminal();
// The line editor's mode: keys one by one, no echo, signal keys still working; false when the
// terminal cannot be switched. LeaveRawMode puts back the mode found.
bool EnterRawMode();
void LeaveRawMode();

}  // namespace console
