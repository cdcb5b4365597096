#include "gfx/layer_build.h"
#include "gfx/platform/web/web_window.h"

namespace gfx {

WindowPlatform& ThisPlatform() {
  return WebPlatform();
}

}  // namespace gfx
