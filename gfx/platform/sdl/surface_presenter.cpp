#include <cstdint>
#include <utility>

#include "gfx/platform/platform.h"
#include "gfx/platform/sdl/presenter.h"
#include "gfx/platform/sdl/staging_image.h"

// On X11 the picture goes through the window's software surface: a plain copy per present, and
// only the changed box goes to the X server.

namespace gfx::sdl {
namespace {

class SurfacePresenter final : public Presenter {
 public:
  explicit SurfacePresenter(SDL_Window* window) : window_(window) {}

  void Present(bool full) override {
    SDL_Surface* surface = SDL_GetWindowSurface(window_);  // re-made after a resize
    if (surface == nullptr) return;
    int width = 0, height = 0;
    PictureSize(width, height);
    if (surface->w == width && surface->h == height) {
      PresentOneToOne(surface, full);
      return;
    }
    SDL_Rect area = fitted_.PresentInto(surface, width, height, full);
    if (area.w == 0) return;
    SDL_UpdateWindowSurfaceRects(window_, &area, 1);
    presented_ = true;
  }

 private:
  // Only the rows that differ from the window's surface are copied, and the box around them goes
  // to the display as one request: as several, another client could see the picture between two
  // of them, half drawn.
  void PresentOneToOne(SDL_Surface* surface, bool full) {
    SDL_Surface* target = Target(surface);
    if (target == nullptr) return;
    if (SDL_MUSTLOCK(target)) SDL_LockSurface(target);
    const Rect box = PresentTo(static_cast<std::uint32_t*>(target->pixels), target->pitch / 4,
                               target->w, target->h, full);
    if (SDL_MUSTLOCK(target)) SDL_UnlockSurface(target);
    if (box.Empty()) return;
    SDL_Rect changed{box.x0, box.y0, box.x1 - box.x0 + 1, box.y1 - box.y0 + 1};
    if (target != surface) SDL_BlitSurface(target, &changed, surface, &changed);
    SDL_UpdateWindowSurfaceRects(window_, &changed, 1);
    presented_ = true;
  }

 public:
  // SDL waits for the server after each put, reading whatever events came meanwhile into Xlib's
  // queue, where a poll of the connection no longer sees them.
  bool EventsWaiting() override { return std::exchange(presented_, false); }

 private:
  // The surface itself when its pixels are 0x00RRGGBB, else a staging image converted on blit.
  SDL_Surface* Target(SDL_Surface* surface) {
    if (surface->format->format == SDL_PIXELFORMAT_RGB888) return surface;
    return staging_.OfSize(surface->w, surface->h);
  }

  SDL_Window* window_;
  StagingImage staging_;
  bool presented_ = false;
  FittedPicture fitted_;  // for a window of another size than the picture
};

}  // namespace

std::unique_ptr<Presenter> MakeSurfacePresenter(SDL_Window* window) {
  if (SDL_GetWindowSurface(window) == nullptr) return nullptr;
  return std::make_unique<SurfacePresenter>(window);
}

}  // namespace gfx::sdl
