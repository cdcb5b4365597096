#include "gfx/platform/sdl/presenter.h"

#include "gfx/platform/sdl/sdl_video.h"

namespace gfx::sdl {

// A player's SDL_FRAMEBUFFER_ACCELERATION=0 asks for a software surface, which Wayland lacks.
std::unique_ptr<Presenter> MakePresenter(SDL_Window* window) {
  if (OnWayland() && SDL_GetHintBoolean(SDL_HINT_FRAMEBUFFER_ACCELERATION, SDL_TRUE)) {
    return MakeRendererPresenter(window);
  }
  return MakeSurfacePresenter(window);
}

StagingImage::~StagingImage() {
  if (surface_ != nullptr) SDL_FreeSurface(surface_);
}

SDL_Surface* StagingImage::OfSize(int width, int height) {
  if (surface_ != nullptr && (surface_->w != width || surface_->h != height)) {
    SDL_FreeSurface(surface_);
    surface_ = nullptr;
  }
  if (surface_ == nullptr) {
    surface_ = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGB888);
  }
  return surface_;
}

}  // namespace gfx::sdl
