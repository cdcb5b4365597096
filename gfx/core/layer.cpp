#include "gfx/core/layer.h"

#include "gfx/core/constinit.h"

// The layer's state in one place, behind the classic free functions that read it.

namespace gfx {
namespace {

constexpr DrawState MakeInitialDrawState() {
  DrawState d;
  d.LinePatterns.fill(true);
  return d;
}

struct LayerState {
  DrawState Draw = MakeInitialDrawState();
  ModeState Mode;
  std::int16_t PendingResult = grOk;
};

// Constant-initialised: every drawing call reads it, and no guard is needed.
SNAKE_CONSTINIT LayerState layer;

}  // namespace

DrawState& Draw() {
  return layer.Draw;
}
ModeState& Mode() {
  return layer.Mode;
}
void SetResult(std::int16_t code) {
  layer.PendingResult = code;
}

}  // namespace gfx

std::int16_t GraphResult() {
  const std::int16_t code = gfx::layer.PendingResult;
  gfx::layer.PendingResult = grOk;
  return code;
}

std::int16_t GetMaxX() {
  return gfx::Mode().MaxX;
}
std::int16_t GetMaxY() {
  return gfx::Mode().MaxY;
}
std::uint16_t GetMaxColor() {
  return static_cast<std::uint16_t>(gfx::Mode().MaxColor - 1);
}
std::int16_t GetGraphMode() {
  return gfx::Mode().IntCurrentMode;
}
