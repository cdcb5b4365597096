#include "gfx/platform/sdl/presenter.h"

#include <algorithm>

#include "gfx/platform/sdl/sdl_video.h"

namespace gfx::sdl {

PictureFit FitPicture(int pictureWidth, int pictureHeight, int windowWidth, int windowHeight) {
  PictureFit fit;
  if (pictureWidth <= 0 || pictureHeight <= 0 || windowWidth <= 0 || windowHeight <= 0) return fit;
  fit.Block = std::min(windowWidth / pictureWidth, windowHeight / pictureHeight);
  int width = pictureWidth * fit.Block, height = pictureHeight * fit.Block;
  if (fit.Block == 0) {
    // The side that is shorter for the picture's proportions sets the size.
    const long long across = static_cast<long long>(windowWidth) * pictureHeight;
    const long long down = static_cast<long long>(windowHeight) * pictureWidth;
    width = across <= down ? windowWidth : static_cast<int>(down / pictureHeight);
    height = across <= down ? static_cast<int>(across / pictureWidth) : windowHeight;
    width = std::max(width, 1);
    height = std::max(height, 1);
  }
  fit.Area = SDL_Rect{(windowWidth - width) / 2, (windowHeight - height) / 2, width, height};
  return fit;
}

// A player's SDL_FRAMEBUFFER_ACCELERATION=0 asks for a software surface, which Wayland lacks.
std::unique_ptr<Presenter> MakePresenter(SDL_Window* window) {
  if (OnWayland() && SDL_GetHintBoolean(SDL_HINT_FRAMEBUFFER_ACCELERATION, SDL_TRUE)) {
    return MakeRendererPresenter(window);
  }
  if (auto presenter = MakeX11Presenter(window)) return presenter;
  return MakeSurfacePresenter(window);
}

}  // namespace gfx::sdl
