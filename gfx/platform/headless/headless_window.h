#pragma once

// The headless platform: the same core, no window and no thread. What the in-process tests, the
// benchmarks and the icon draw on.

#include "gfx/platform/platform.h"

namespace gfx {

WindowPlatform& HeadlessPlatform();
// Chooses the headless platform, with that desktop, before InitGraph.
void UseHeadlessPlatform(DesktopSize desktop = {});

}  // namespace gfx
