#include <algorithm>
#include <cstdlib>

#include "gfx/core/hooks.h"
#include "gfx/core/layer.h"
#include "gfx/core/palette.h"
#include "gfx/core/writers.h"

namespace gfx {
namespace {

std::int16_t To16(int v) {
  return static_cast<std::int16_t>(v);
}

}  // namespace

// What the generic routine writes over WindowHLine, each pixel a one-pixel run, under one hold
// of the lock.
void WindowPutImage(std::int16_t x, std::int16_t y, const std::uint16_t* image,
                    std::int16_t writeMode) {
  const ViewPort& view = Draw().View;
  const int width = image[0] + 1;
  const int height = image[1] + 1;
  DrawingHold hold;
  if (!hold.Drawable()) return;
  BackingImage& surface = hold.Image();
  const Rect area = WriteArea(surface, view.Clip);
  Rect changed;
  const std::uint16_t* in = image + 2;
  for (int row = 0; row < height; ++row) {
    const int ay = To16(y + row) + view.StartY;
    for (int column = 0; column < width; ++column) {
      const int ax = To16(x + column) + view.StartX;
      changed = Union(changed, WriteRow(surface, area, ax, ax, ay, ScreenColor(*in++), writeMode));
    }
  }
  hold.Changed(changed);
}

std::uint32_t GenericImageSize(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2) {
  const std::uint32_t width = static_cast<std::uint32_t>(std::abs(x2 - x1)) + 1;
  const std::uint32_t height = static_cast<std::uint32_t>(std::abs(y2 - y1)) + 1;
  return 2 + width * height;
}

void GenericGetImage(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2,
                     std::uint16_t* image) {
  const int left = std::min(x1, x2);
  const int top = std::min(y1, y2);
  const int width = std::abs(x2 - x1) + 1;
  const int height = std::abs(y2 - y1) + 1;
  image[0] = static_cast<std::uint16_t>(width - 1);
  image[1] = static_cast<std::uint16_t>(height - 1);
  std::uint16_t* out = image + 2;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) *out++ = Ops().GetPixel(To16(left + x), To16(top + y));
  }
}

// Each pixel goes out as a one-pixel run, so the run writer clips it and applies the write mode.
void GenericPutImage(std::int16_t x, std::int16_t y, const std::uint16_t* image,
                     std::int16_t writeMode) {
  DrawState& d = Draw();
  const int width = image[0] + 1;
  const int height = image[1] + 1;
  const std::uint16_t savedColor = d.CurrentColor;
  const std::int16_t savedMode = d.WriteMode;
  d.WriteMode = writeMode;
  const std::uint16_t* in = image + 2;
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      d.CurrentColor = *in++;
      Ops().HLine(To16(x + column), To16(x + column), To16(y + row));
    }
  }
  d.CurrentColor = savedColor;
  d.WriteMode = savedMode;
}

void GenericGetScanLine(std::int16_t x1, std::int16_t x2, std::int16_t y, std::uint16_t* colors) {
  for (int x = x1; x <= x2; ++x) *colors++ = Ops().GetPixel(To16(x), y);
}

}  // namespace gfx
