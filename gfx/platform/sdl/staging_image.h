#pragma once

// What the presenters copy the backing image into when the window's own pixels will not take it.

#include <SDL.h>

namespace gfx::sdl {

// A 0x00RRGGBB image kept from one present to the next, made again at another size.
class StagingImage {
 public:
  StagingImage() = default;
  ~StagingImage();
  StagingImage(const StagingImage&) = delete;
  StagingImage& operator=(const StagingImage&) = delete;
  // nullptr when SDL cannot make it.
  SDL_Surface* OfSize(int width, int height);

 private:
  SDL_Surface* surface_ = nullptr;
};

}  // namespace gfx::sdl
