#include "gfx/layer_build.h"

#include <cstdint>
#include <string_view>

#include "gfx/core/modes.h"
#include "gfx/platform/platform.h"
#include "gfx/text/text.h"

// This build's window platform is named by one file of the build's (this_platform_sdl.cpp on
// Linux and Windows, this_platform_web.cpp in a web page); the core knows only the platform
// interface.

namespace gfx {
namespace {

constexpr LayerBuild kThisBuild{ThisPlatform, WindowOutTextXY};

}  // namespace

void UseWindowPlatform() {
  SelectPlatform(kThisBuild.Platform());
}

}  // namespace gfx

// Opens the window on this build's platform, unless the program chose another first.
void InitGraph(std::int16_t& driver, std::int16_t& mode, std::string_view driverPath) {
  gfx::InitGraph(gfx::kThisBuild, driver, mode, driverPath);
}
