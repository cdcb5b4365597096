#include "gfx/platform/sdl/presenter.h"

#include <algorithm>
#include <cstdint>

#include "gfx/platform/platform.h"
#include "gfx/platform/sdl/sdl_video.h"

namespace gfx::sdl {
namespace {

// The changed areas of one present; more are joined into the last.
constexpr int kMostAreas = 16;

SDL_Rect ToSdl(const Rect& r) {
  return SDL_Rect{r.x0, r.y0, r.x1 - r.x0 + 1, r.y1 - r.y0 + 1};
}

// Each changed area as blocks of the whole factor; answers the box around them.
SDL_Rect ShowBlocks(SDL_Surface* picture, SDL_Surface* window, const PictureFit& fit,
                    const Rect* shown, int count) {
  Rect box;
  for (int i = 0; i < count; ++i) {
    SDL_Rect from = ToSdl(shown[i]);
    const Rect to{fit.Area.x + shown[i].x0 * fit.Block, fit.Area.y + shown[i].y0 * fit.Block,
                  fit.Area.x + (shown[i].x1 + 1) * fit.Block - 1,
                  fit.Area.y + (shown[i].y1 + 1) * fit.Block - 1};
    SDL_Rect blocks = ToSdl(to);
    SDL_BlitScaled(picture, &from, window, &blocks);
    box = Union(box, to);
  }
  return ToSdl(box);
}

}  // namespace

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

SDL_Rect FittedPicture::PresentInto(SDL_Surface* window, int pictureWidth, int pictureHeight,
                                    bool full) {
  SDL_Surface* picture = picture_.OfSize(pictureWidth, pictureHeight);
  const PictureFit fit = FitPicture(pictureWidth, pictureHeight, window->w, window->h);
  if (picture == nullptr || fit.Area.w == 0) return SDL_Rect{0, 0, 0, 0};
  Rect shown[kMostAreas];
  const int count = PresentTo(static_cast<std::uint32_t*>(picture->pixels), picture->pitch / 4,
                              pictureWidth, pictureHeight, full, shown, kMostAreas);
  if (full) SDL_FillRect(window, nullptr, 0);
  if (full || (fit.Block == 0 && count > 0)) {
    SDL_Rect whole = fit.Area;
    SDL_BlitScaled(picture, nullptr, window, &whole);
    return full ? SDL_Rect{0, 0, window->w, window->h} : fit.Area;
  }
  return count > 0 ? ShowBlocks(picture, window, fit, shown, count) : SDL_Rect{0, 0, 0, 0};
}

// A player's SDL_FRAMEBUFFER_ACCELERATION=0 asks for a software surface, which Wayland lacks.
std::unique_ptr<Presenter> MakePresenter(SDL_Window* window) {
  if (OnWayland() && SDL_GetHintBoolean(SDL_HINT_FRAMEBUFFER_ACCELERATION, SDL_TRUE)) {
    if (auto presenter = MakeWaylandPresenter(window)) return presenter;
    return MakeRendererPresenter(window);
  }
  if (auto presenter = MakeX11Presenter(window)) return presenter;
  return MakeSurfacePresenter(window);
}

}  // namespace gfx::sdl
