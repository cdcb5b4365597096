#include "gfx/platform/sdl/presenter.h"

#include "gfx/platform/sdl/sdl_video.h"

namespace gfx::sdl {

// A player's SDL_FRAMEBUFFER_ACCELERATION=0 asks for a software surface, which Wayland lacks.
std::unique_ptr<Presenter> MakePresenter(SDL_Window* window) {
  if (OnWayland() && SDL_GetHintBoolean(SDL_HINT_FRAMEBUFFER_ACCELERATION, SDL_TRUE)) {
    return MakeRendererPresenter(window);
  }
  if (auto presenter = MakeX11Presenter(window)) return presenter;
  return MakeSurfacePresenter(window);
}

}  // namespace gfx::sdl
