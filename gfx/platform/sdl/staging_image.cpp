#include "gfx/platform/sdl/staging_image.h"

namespace gfx::sdl {

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
