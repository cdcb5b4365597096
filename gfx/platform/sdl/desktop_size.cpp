#include "gfx/platform/sdl/desktop_size.h"

#include <SDL.h>

#include <algorithm>
#include <csetjmp>
#include <thread>

#include "gfx/platform/sdl/sdl_video.h"
#include "gfx/platform/sdl/x11_guards.h"

// The desktop's size: SDL's display bounds, less the frame the window manager puts around a
// window, which is asked of it with a hidden probe window.

namespace gfx::sdl {
namespace {

// How long a window manager may take to report its frame.
constexpr Uint32 kFrameReplyMs = 200;

struct Frame {
  int Top = 0, Left = 0, Bottom = 0, Right = 0;
};
// Stand-in frame of a window manager that will not say how wide its frame is.
constexpr Frame kUnmeasuredFrame{24, 4, 4, 4};

Frame MeasureFrame() {
  SDL_Window* probe = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 64, 64,
                                       SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (probe == nullptr) return kUnmeasuredFrame;
  KeepAliveOnLostConnection(probe);
  Frame frame;
  if (WindowManagerPresent(probe)) {
    RequestFrameExtents(probe);
    const Uint32 start = SDL_GetTicks();
    bool measured = false;
    while (!measured && SDL_GetTicks() - start < kFrameReplyMs) {
      SDL_Event event;
      SDL_WaitEventTimeout(&event, 10);
      measured = SDL_GetWindowBordersSize(probe, &frame.Top, &frame.Left, &frame.Bottom,
                                          &frame.Right) == 0 &&
                 frame.Top + frame.Left + frame.Bottom + frame.Right > 0;
    }
    if (!measured) frame = kUnmeasuredFrame;
  }
  SDL_DestroyWindow(probe);
  return frame;
}

// A maximized window loses only its caption; a framed one its whole frame.
DesktopSize SizesFor(const SDL_Rect& bounds, const SDL_Rect& usable, const Frame& frame) {
  DesktopSize d;
  d.W = std::max(1, bounds.w - frame.Left - frame.Right);
  d.H = std::max(1, bounds.h - frame.Top - frame.Bottom);
  d.FW = std::max(1, usable.w);
  d.FH = std::max(1, usable.h - frame.Top);
  return d;
}

DesktopSize MeasureOnThisThread() {
  DesktopSize standIn;
  if (!StartSdl()) return standIn;
  LostDisplayJump lost;
  if (SET_LOST_DISPLAY_JUMP(lost) != 0) {
    JumpOnLostDisplay(nullptr);
    return standIn;
  }
  JumpOnLostDisplay(&lost);
  DesktopSize measured = standIn;
  SDL_Rect bounds, usable;
  if (ShowsWindows() && SDL_GetDisplayBounds(0, &bounds) == 0 &&
      SDL_GetDisplayUsableBounds(0, &usable) == 0) {
    measured = SizesFor(bounds, usable, MeasureFrame());
  }
  JumpOnLostDisplay(nullptr);
  StopSdl();
  return measured;
}

}  // namespace

// On a thread of its own, so that SDL's thread-bound state is made and dropped there.
DesktopSize MeasureDesktop() {
  DesktopSize measured;
  std::thread([&measured] { measured = MeasureOnThisThread(); }).join();
  return measured;
}

}  // namespace gfx::sdl
