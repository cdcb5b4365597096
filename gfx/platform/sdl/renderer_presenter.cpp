#include <cstdint>

#include "gfx/platform/platform.h"
#include "gfx/platform/sdl/presenter.h"
#include "gfx/platform/sdl/staging_image.h"

// Wayland has no software surface: the picture goes through SDL's renderer into a streaming
// texture of the picture's size, which the renderer draws into the window, scaled to fit (whole
// blocks, by nearest neighbour) and centred on black. Only the changed area is uploaded; the
// compositor takes the whole frame whatever changed.

namespace gfx::sdl {
namespace {

class RendererPresenter final : public Presenter {
 public:
  explicit RendererPresenter(SDL_Renderer* renderer) : renderer_(renderer) {}
  ~RendererPresenter() override {
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    SDL_DestroyRenderer(renderer_);
  }
  RendererPresenter(const RendererPresenter&) = delete;
  RendererPresenter& operator=(const RendererPresenter&) = delete;

  // Every frame is drawn whole: black, then the picture in its place.
  void Present(bool full) override {
    int windowWidth = 0, windowHeight = 0, width = 0, height = 0;
    if (SDL_GetRendererOutputSize(renderer_, &windowWidth, &windowHeight) != 0) return;
    PictureSize(width, height);
    const PictureFit fit = FitPicture(width, height, windowWidth, windowHeight);
    SDL_Surface* staging = staging_.OfSize(width, height);
    SDL_Texture* texture = staging != nullptr ? TextureOfSize(width, height) : nullptr;
    if (texture == nullptr || fit.Area.w == 0) return;
    const Rect area = PresentTo(static_cast<std::uint32_t*>(staging->pixels), staging->pitch / 4,
                                width, height, full);
    if (area.Empty() && !full) return;
    if (!area.Empty()) {
      const SDL_Rect changed{area.x0, area.y0, area.x1 - area.x0 + 1, area.y1 - area.y0 + 1};
      const auto* first = static_cast<const std::uint8_t*>(staging->pixels) +
                          changed.y * staging->pitch + changed.x * 4;
      SDL_UpdateTexture(texture, &changed, first, staging->pitch);
    }
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture, nullptr, &fit.Area);
    SDL_RenderPresent(renderer_);
  }

 private:
  // A streaming texture of the picture's size, made again for a picture of another size.
  SDL_Texture* TextureOfSize(int width, int height) {
    int textureWidth = 0, textureHeight = 0;
    if (texture_ != nullptr &&
        (SDL_QueryTexture(texture_, nullptr, nullptr, &textureWidth, &textureHeight) != 0 ||
         textureWidth != width || textureHeight != height)) {
      SDL_DestroyTexture(texture_);
      texture_ = nullptr;
    }
    if (texture_ == nullptr) {
      texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                   width, height);
      if (texture_ != nullptr) SDL_SetTextureScaleMode(texture_, SDL_ScaleModeNearest);
    }
    return texture_;
  }

  SDL_Renderer* renderer_;
  StagingImage staging_;
  SDL_Texture* texture_ = nullptr;
};

}  // namespace

// A black frame maps the window at once: a tiling compositor sizes it only then.
std::unique_ptr<Presenter> MakeRendererPresenter(SDL_Window* window) {
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, 0);
  if (renderer == nullptr) return nullptr;
  SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
  SDL_RenderClear(renderer);
  SDL_RenderPresent(renderer);
  return std::make_unique<RendererPresenter>(renderer);
}

}  // namespace gfx::sdl
