#include <cstdint>

#include "gfx/platform/platform.h"
#include "gfx/platform/sdl/presenter.h"
#include "gfx/platform/sdl/staging_image.h"

// Wayland has no software surface: the picture goes through SDL's renderer into a streaming
// texture of the window's size. Only the changed area is uploaded; the compositor takes the
// whole frame whatever changed.

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

  void Present(bool full) override {
    int width = 0, height = 0;
    if (SDL_GetRendererOutputSize(renderer_, &width, &height) != 0) return;
    SDL_Surface* staging = staging_.OfSize(width, height);
    SDL_Texture* texture = staging != nullptr ? TextureOfSize(width, height) : nullptr;
    if (texture == nullptr) return;
    if (full) SDL_FillRect(staging, nullptr, 0);
    const Rect area = PresentTo(static_cast<std::uint32_t*>(staging->pixels), staging->pitch / 4,
                                width, height, full);
    SDL_Rect changed{area.x0, area.y0, area.x1 - area.x0 + 1, area.y1 - area.y0 + 1};
    if (full) changed = SDL_Rect{0, 0, width, height};
    if (changed.w <= 0 || changed.h <= 0) return;
    const auto* first = static_cast<const std::uint8_t*>(staging->pixels) +
                        changed.y * staging->pitch + changed.x * 4;
    SDL_UpdateTexture(texture, &changed, first, staging->pitch);
    SDL_RenderCopy(renderer_, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
  }

 private:
  // A streaming texture of the window's size, made again after a resize.
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
