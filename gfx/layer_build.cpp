#include "gfx/layer_build.h"

#include <cstdint>
#include <string_view>

#include "gfx/core/modes.h"
#include "gfx/platform/sdl/sdl_window.h"
#include "gfx/text/text.h"

// The one place that names the window platform of this build: SDL's, on Linux and Windows. A web
// build chooses the browser's here instead. The core knows only the platform interface.

namespace gfx {
namespace {

constexpr LayerBuild kThisBuild{SdlPlatform, WindowOutTextXY};

}  // namespace

void UseWindowPlatform() {
  SelectPlatform(kThisBuild.Platform());
}

}  // namespace gfx

// Opens the window on this build's platform, unless the program chose another first.
void InitGraph(std::int16_t& driver, std::int16_t& mode, std::string_view driverPath) {
  gfx::InitGraph(gfx::kThisBuild, driver, mode, driverPath);
}
