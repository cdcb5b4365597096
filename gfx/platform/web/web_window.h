#pragma once

// The window platform of a web page: the page's canvas, on the page's only thread.

#include "gfx/platform/platform.h"

namespace gfx {

WindowPlatform& WebPlatform();

}  // namespace gfx
