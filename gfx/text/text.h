#pragma once

// What the text part hands to the rest of the layer.

#include <cstdint>
#include <string_view>

namespace gfx {

// The window version of the OutTextXY slot, which a build of the layer gives its core
// (LayerBuild): bitmap text straight into the backing image, stroked text through Line.
void WindowOutTextXY(std::int16_t x, std::int16_t y, std::string_view text);

}  // namespace gfx
