#include "gfx/layer_build.h"
#include "gfx/platform/sdl/sdl_window.h"

namespace gfx {

WindowPlatform& ThisPlatform() {
  return SdlPlatform();
}

}  // namespace gfx
