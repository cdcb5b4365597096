#pragma once

// Guards around the X connection that SDL opens: a lost display or a window destroyed by another
// client ends the window, never the process.

#include "gfx/platform/sdl/sdl_system.h"

struct SDL_Window;
struct SDL_SysWMmsg;

namespace gfx::sdl {

// Before SDL starts, and again after: Xlib's handlers, which end the process, are replaced.
void InstallXHandlers();
// The window's connection, once it dies, no longer ends the process (libX11 1.7 and later):
// true when that holds, so that a thread other than SDL's may meet the loss too.
bool KeepAliveOnLostConnection(SDL_Window* window);

// An X connection died: SDL is unusable for good.
bool DisplayLost();
// The thread that owns SDL goes to `target` (SET_LOST_DISPLAY_JUMP) when its connection dies
// under it; nullptr when it leaves SDL.
void JumpOnLostDisplay(LostDisplayJump* target);
// The same, for a loss another thread met first: SDL's thread goes there before its next call.
void JumpIfDisplayLost();
// The X window (0: none) whose destruction by another client the guards look out for; watching
// a new one forgets what happened to the last.
void WatchWindow(unsigned long xWindow);
unsigned long WatchedWindow();
bool DestroyedOutside();

// What X11 answers about a window; without X11, a system with no window manager to ask.
bool WindowManagerPresent(SDL_Window* window);
// A window manager sets a window's frame extents when asked, even for an unmapped window.
void RequestFrameExtents(SDL_Window* window);
unsigned long XWindowOf(SDL_Window* window);
int XConnectionOf(SDL_Window* window);  // -1 without X11
bool DestroyNotifyFor(const SDL_SysWMmsg& message, unsigned long window);
// The font resolution the desktop publishes in its resource database (Xft.dpi, as xrdb sets it
// and as desktops scale their own text), per 96; 0 when it publishes none, or without X11.
double XftScale(SDL_Window* window);

}  // namespace gfx::sdl
