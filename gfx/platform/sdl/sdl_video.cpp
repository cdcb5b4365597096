#include "gfx/platform/sdl/sdl_video.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "gfx/platform/sdl/x11_guards.h"

// SDL's video subsystem, started and stopped by the thread that owns SDL at the time.

namespace gfx::sdl {
namespace {

// Drivers that show a window to a person; SDL's "offscreen" and "dummy" fallbacks do not.
constexpr const char* kDisplayDrivers[] = {"x11", "wayland", "windows", "cocoa"};
constexpr int kDisplayAttempts = 3;
constexpr Uint32 kDisplayRetryMs = 50;

// For good, once SDL holds a window destroyed from outside.
bool sdlStaysUp = false;

}  // namespace

// The message of a window failure: in a message box when one can be shown, else on stderr.
void ShowFailure(const char* text) {
  if (DisplayLost() || SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "", text, nullptr) != 0) {
    std::fprintf(stderr, "%s\n", text);
  }
}

bool OnWayland() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver != nullptr && std::strcmp(driver, "wayland") == 0;
}

// On X11 the software window surface is a plain copy per present; the accelerated one costs
// several milliseconds per frame under a virtual display and re-creates the window. Wayland has
// no software surface, and there the hint would leave the window with nothing to present into.
bool StartSdl() {
  IgnoreBrokenConnections();
  if (sdlStaysUp) return true;
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  InstallXHandlers();
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
  InstallXHandlers();
  if (OnWayland()) SDL_ResetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
  return true;
}

void StopSdl() {
  if (!sdlStaysUp) SDL_Quit();
}

bool ShowsWindows() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || SDL_GetNumVideoDisplays() < 1) return false;
  for (const char* accepted : kDisplayDrivers) {
    if (std::strcmp(driver, accepted) == 0) return true;
  }
  return false;
}

void KeepSdlUp() {
  sdlStaysUp = true;
}

// An X server whose last client has just left (the desktop measurement's, when nothing else is
// connected) resets and refuses connections for a moment; SDL then falls back to a driver that
// shows nothing. A few tries a short while apart get through.
bool StartDisplay() {
  for (int attempt = 1;; ++attempt) {
    if (ShowsWindows()) return true;
    StopSdl();
    if (attempt == kDisplayAttempts) return false;
    SDL_Delay(kDisplayRetryMs);
    if (!StartSdl()) return false;
  }
}

}  // namespace gfx::sdl
