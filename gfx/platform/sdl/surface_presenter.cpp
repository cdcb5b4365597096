#include <cstdint>
#include <utility>

#include "gfx/platform/platform.h"
#include "gfx/platform/sdl/presenter.h"
#include "gfx/platform/sdl/staging_image.h"

// On X11 the picture goes through the window's software surface: a plain copy per present, and
// only the changed box goes to the X server.

namespace gfx::sdl {
namespace {

// The changed areas of one present; more are joined into the last.
constexpr int kMostAreas = 16;

SDL_Rect ToSdl(const Rect& r) {
  return SDL_Rect{r.x0, r.y0, r.x1 - r.x0 + 1, r.y1 - r.y0 + 1};
}

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
    } else {
      PresentFitted(surface, width, height, full);
    }
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
    SDL_Rect changed = ToSdl(box);
    if (target != surface) SDL_BlitSurface(target, &changed, surface, &changed);
    SDL_UpdateWindowSurfaceRects(window_, &changed, 1);
    presented_ = true;
  }

 public:
  // SDL waits for the server after each put, reading whatever events came meanwhile into Xlib's
  // queue, where a poll of the connection no longer sees them.
  bool EventsWaiting() override { return std::exchange(presented_, false); }

 private:

  // The picture goes first into an image of its own size, which holds what was last shown, and
  // from there, scaled, into the window: whole blocks for what changed, or all of a shrunk picture
  // (whose window pixels do not map to whole picture pixels).
  void PresentFitted(SDL_Surface* surface, int width, int height, bool full) {
    SDL_Surface* picture = picture_.OfSize(width, height);
    const PictureFit fit = FitPicture(width, height, surface->w, surface->h);
    if (picture == nullptr || fit.Area.w == 0) return;
    Rect shown[kMostAreas];
    const int count = PresentTo(static_cast<std::uint32_t*>(picture->pixels), picture->pitch / 4,
                                width, height, full, shown, kMostAreas);
    SDL_Rect area = fit.Area;  // what goes to the display
    if (full) {
      SDL_FillRect(surface, nullptr, 0);
      area = SDL_Rect{0, 0, surface->w, surface->h};
    }
    if (full || (fit.Block == 0 && count > 0)) {
      SDL_Rect whole = fit.Area;
      SDL_BlitScaled(picture, nullptr, surface, &whole);
    } else if (count > 0) {
      area = ShowBlocks(picture, surface, fit, shown, count);
    } else {
      return;
    }
    SDL_UpdateWindowSurfaceRects(window_, &area, 1);
    presented_ = true;
  }

  // Each changed area as blocks of the whole factor; answers the box around them.
  static SDL_Rect ShowBlocks(SDL_Surface* picture, SDL_Surface* surface, const PictureFit& fit,
                             const Rect* shown, int count) {
    Rect box;
    for (int i = 0; i < count; ++i) {
      SDL_Rect from = ToSdl(shown[i]);
      const Rect to{fit.Area.x + shown[i].x0 * fit.Block, fit.Area.y + shown[i].y0 * fit.Block,
                    fit.Area.x + (shown[i].x1 + 1) * fit.Block - 1,
                    fit.Area.y + (shown[i].y1 + 1) * fit.Block - 1};
      SDL_Rect blocks = ToSdl(to);
      SDL_BlitScaled(picture, &from, surface, &blocks);
      box = Union(box, to);
    }
    return ToSdl(box);
  }

  // The surface itself when its pixels are 0x00RRGGBB, else a staging image converted on blit.
  SDL_Surface* Target(SDL_Surface* surface) {
    if (surface->format->format == SDL_PIXELFORMAT_RGB888) return surface;
    return staging_.OfSize(surface->w, surface->h);
  }

  SDL_Window* window_;
  StagingImage staging_;
  bool presented_ = false;
  StagingImage picture_;  // the picture at its own size, for a window of another size
};

}  // namespace

std::unique_ptr<Presenter> MakeSurfacePresenter(SDL_Window* window) {
  if (SDL_GetWindowSurface(window) == nullptr) return nullptr;
  return std::make_unique<SurfacePresenter>(window);
}

}  // namespace gfx::sdl
