#include "gfx/platform/sdl/desktop_size.h"

#include <SDL.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "gfx/platform/sdl/sdl_video.h"
#include "gfx/platform/sdl/x11_guards.h"

// The desktop's size: SDL's display bounds, less the frame the window manager puts around a
// window, which is asked of it with a hidden probe window; and the scale the player or the
// desktop asks for.

namespace gfx::sdl {
namespace {

// How long a window manager may take to report its frame.
constexpr Uint32 kFrameReplyMs = 200;

struct Frame {
  int Top = 0, Left = 0, Bottom = 0, Right = 0;
};
// Stand-in frame of a window manager that will not say how wide its frame is.
constexpr Frame kUnmeasuredFrame{24, 4, 4, 4};

// What a hidden window tells of the desktop: the window manager's frame, and the scale.
struct Probe {
  Frame WindowFrame = kUnmeasuredFrame;
  double PixelRatio = 1.0;  // pixels per window unit of a high-density window
  double OwnScale = 1.0;    // the desktop's own scale
};

Frame MeasureFrame(SDL_Window* probe) {
  if (!WindowManagerPresent(probe)) return Frame{};
  RequestFrameExtents(probe);
  const Uint32 start = SDL_GetTicks();
  Frame frame;
  while (SDL_GetTicks() - start < kFrameReplyMs) {
    SDL_Event event;
    SDL_WaitEventTimeout(&event, 10);
    if (SDL_GetWindowBordersSize(probe, &frame.Top, &frame.Left, &frame.Bottom, &frame.Right) ==
            0 &&
        frame.Top + frame.Left + frame.Bottom + frame.Right > 0) {
      return frame;
    }
  }
  return kUnmeasuredFrame;
}

// A whole number from GDK_SCALE, as GTK takes it; 0 when it is not one.
double GdkScale() {
  const char* text = std::getenv("GDK_SCALE");
  char* end = nullptr;
  const long scale = text != nullptr ? std::strtol(text, &end, 10) : 0;
  return text != nullptr && *text != '\0' && *end == '\0' && scale >= 1 ? static_cast<double>(scale)
                                                                        : 0.0;
}

// The desktop's own scale: on Wayland the output's (a high-density window's pixels per unit); on
// X11, GDK_SCALE, else the published Xft.dpi per 96.
double OwnScale(SDL_Window* probe, double pixelRatio) {
  if (pixelRatio > 1.0) return pixelRatio;
  if (const double gdk = GdkScale(); gdk > 0.0) return gdk;
  if (const double xft = XftScale(probe); xft > 0.0) return xft;
  return 1.0;
}

Probe ProbeDesktop() {
  Probe probed;
  SDL_Window* probe =
      SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 64, 64,
                       SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
  if (probe == nullptr) return probed;
  KeepAliveOnLostConnection(probe);
  int width = 0, pixelWidth = 0;
  SDL_GetWindowSize(probe, &width, nullptr);
  SDL_GetWindowSizeInPixels(probe, &pixelWidth, nullptr);
  if (width > 0 && pixelWidth > width) probed.PixelRatio = static_cast<double>(pixelWidth) / width;
  probed.OwnScale = OwnScale(probe, probed.PixelRatio);
  probed.WindowFrame = MeasureFrame(probe);
  SDL_DestroyWindow(probe);
  return probed;
}

int InPixels(int units, double pixelRatio) {
  return static_cast<int>(std::lround(units * pixelRatio));
}

// A maximized window loses only its caption; a framed one its whole frame. In pixels, with the
// scale the player or the desktop asks for.
DesktopSize SizesFor(const SDL_Rect& bounds, const SDL_Rect& usable, const Probe& probe) {
  const Frame& frame = probe.WindowFrame;
  const double ratio = probe.PixelRatio;
  DesktopSize d;
  d.W = std::max(1, InPixels(bounds.w - frame.Left - frame.Right, ratio));
  d.H = std::max(1, InPixels(bounds.h - frame.Top - frame.Bottom, ratio));
  d.FW = std::max(1, InPixels(usable.w, ratio));
  d.FH = std::max(1, InPixels(usable.h - frame.Top, ratio));
  d.Scale = ScaleAskedFor(std::getenv("SNAKE_GARDEN_SCALE"), probe.OwnScale);
  return d;
}

MeasuredDesktop MeasureOnThisThread() {
  MeasuredDesktop standIn;
  if (!StartSdl()) return standIn;
  LostDisplayJump lost;
  if (SET_LOST_DISPLAY_JUMP(lost) != 0) {
    JumpOnLostDisplay(nullptr);
    return standIn;
  }
  JumpOnLostDisplay(&lost);
  MeasuredDesktop measured = standIn;
  SDL_Rect bounds, usable;
  if (ShowsWindows() && SDL_GetDisplayBounds(0, &bounds) == 0 &&
      SDL_GetDisplayUsableBounds(0, &usable) == 0) {
    const Probe probe = ProbeDesktop();
    measured = MeasuredDesktop{SizesFor(bounds, usable, probe), probe.PixelRatio};
  }
  JumpOnLostDisplay(nullptr);
  StopSdl();
  return measured;
}

}  // namespace

// A desktop at 1.5 gets pixels twice as large rather than none: halves round up.
int ScaleAskedFor(const char* setting, double desktopScale) {
  if (setting != nullptr) {
    const char* end = setting + std::strlen(setting);
    int value = 0;
    const auto [rest, error] = std::from_chars(setting, end, value);
    if (error == std::errc() && rest == end && value >= 1 && value <= kMostScale) return value;
  }
  if (!(desktopScale >= 1.0)) return 1;  // also what is not a number
  return static_cast<int>(std::min(std::floor(desktopScale + 0.5), double{kMostScale}));
}

// On a thread of its own, so that SDL's thread-bound state is made and dropped there.
MeasuredDesktop MeasureDesktop() {
  MeasuredDesktop measured;
  std::thread([&measured] { measured = MeasureOnThisThread(); }).join();
  return measured;
}

}  // namespace gfx::sdl
