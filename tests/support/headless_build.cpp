#include <cstdint>
#include <string_view>

#include "gfx/core/modes.h"
#include "gfx/platform/headless/headless_window.h"
#include "gfx/text/text.h"

// The in-process suite's build of the layer, as gfx/layer_build.cpp is the game's: the same core
// and text part on the headless platform, so that the suite links no window system at all.

namespace {

constexpr gfx::LayerBuild kHeadlessBuild{gfx::HeadlessPlatform, gfx::WindowOutTextXY};

}  // namespace

void InitGraph(std::int16_t& driver, std::int16_t& mode, std::string_view driverPath) {
  gfx::InitGraph(kHeadlessBuild, driver, mode, driverPath);
}
