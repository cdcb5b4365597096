#pragma once

#include <csetjmp>

// What the SDL window needs from the operating system, one file each (sdl_system_posix.cpp,
// sdl_system_windows.cpp): the wake that the window thread waits on beside its display's
// connection (X11 or Wayland), and the signals a display connection can raise. Windows has no such
// connection: the window thread waits in SDL and is woken by an SDL event, as on any other
// driver.

namespace gfx::sdl {

// A counter the program's thread bumps to wake the window thread (an eventfd), or -1 where the
// system has none.
int OpenWake();
void PostWake(int wake);
// Takes every wake posted so far.
void DrainWake(int wake);
// Waits until the display's connection has input or the wake is posted, or timeoutMs have passed
// (-1: no limit); a wake is taken. True when the connection has input.
bool AwaitConnectionOrWake(int connection, int wake, int timeoutMs);
// A write to a display whose server has gone raises SIGPIPE in the writing thread, which would
// end the process; blocked here, the write fails and Xlib reports the lost connection instead.
void IgnoreBrokenConnections();
// The same for a while on a thread that is not SDL's (the program's, presenting): SIGPIPE is
// held back, and one that a write raised meanwhile is taken before the thread's own signal mask
// comes back, so that the thread's and the program's handling of the signal are left as they
// were.
class BrokenConnectionsIgnored {
 public:
  BrokenConnectionsIgnored();
  ~BrokenConnectionsIgnored();
  BrokenConnectionsIgnored(const BrokenConnectionsIgnored&) = delete;
  BrokenConnectionsIgnored& operator=(const BrokenConnectionsIgnored&) = delete;

 private:
  bool heldBefore_ = true;  // the thread had it blocked already: nothing to undo
};

}  // namespace gfx::sdl

// Where the thread that owns SDL goes when its X connection dies under it: the signal-safe jump
// where there is X11, a plain one where there is none and nothing ever jumps.
#ifdef _WIN32
using LostDisplayJump = std::jmp_buf;
#define SET_LOST_DISPLAY_JUMP(target) setjmp(target)
#else
using LostDisplayJump = sigjmp_buf;
#define SET_LOST_DISPLAY_JUMP(target) sigsetjmp(target, 0)
#endif
