#pragma once

// Presenting the backing image in the window: straight through the X connection (X11 with an RGB
// visual), through the window's software surface (other X11 visuals), or through a renderer
// where there is none (Wayland). Only the window thread presents.

#include <SDL.h>

#include <memory>

namespace gfx::sdl {

class Presenter {
 public:
  virtual ~Presenter() = default;
  // Shows what changed in the backing image, or all of it (black where the window is larger).
  virtual void Present(bool full) = 0;
  // Whether the display's connection holds events it has already read (while presenting), which
  // a poll of the connection would not see.
  virtual bool EventsWaiting() { return false; }
};

// The presenter of the window's display system; nullptr when the window cannot be given anything
// to present into, which fails it like a window never created: it would never show (Wayland maps
// a window only once it has a frame).
std::unique_ptr<Presenter> MakePresenter(SDL_Window* window);
std::unique_ptr<Presenter> MakeX11Presenter(SDL_Window* window);
std::unique_ptr<Presenter> MakeSurfacePresenter(SDL_Window* window);
std::unique_ptr<Presenter> MakeRendererPresenter(SDL_Window* window);

}  // namespace gfx::sdl
