#pragma once

// SDL's video subsystem, which only the thread that owns SDL at the time starts, uses and stops.

namespace gfx::sdl {

inline constexpr char kRegistrationFailed[] = "Window registration failed";
inline constexpr char kCreationFailed[] = "Window creation failed";

// Starts video (true when it is up): the X11 guards first, and the software window surface
// wherever the display system has one.
bool StartSdl();
// Quits video, unless SDL is kept up for good.
void StopSdl();
// SDL holds a window destroyed from outside, which quitting would destroy (and wait for) again:
// SDL stays up from now on.
void KeepSdlUp();
// The video driver shows windows to a person (not SDL's offscreen or dummy fallbacks).
bool ShowsWindows();
bool OnWayland();
// After StartSdl: a display that shows windows, trying again a few times; false (SDL stopped)
// when none answers.
bool StartDisplay();
// The message of a window failure: in a message box when one can be shown, else on stderr.
void ShowFailure(const char* text);

}  // namespace gfx::sdl
