#include <array>

#include "gfx/core/layer.h"

using gfx::Draw;
using gfx::Mode;

void SetColor(std::uint16_t color) {
  Draw().CurrentColor = color;
}
std::uint16_t GetColor() {
  return Draw().CurrentColor;
}

void SetFillStyle(std::uint16_t pattern, std::uint16_t color) {
  if (pattern > UserFill || color > GetMaxColor()) {
    gfx::SetResult(grError);
    return;
  }
  Draw().Fill = FillSettingsType{pattern, color};
}

void GetFillSettings(FillSettingsType& settings) {
  settings = Draw().Fill;
}

void SetLineStyle(std::uint16_t style, std::uint16_t pattern, std::uint16_t thickness) {
  static constexpr std::array<std::uint16_t, 4> kStylePatterns{0xFFFF, 0xCCCC, 0xFC78, 0xF8F8};
  if (style > UserBitLn || (thickness != NormWidth && thickness != ThickWidth)) {
    gfx::SetResult(grError);
    return;
  }
  gfx::DrawState& d = Draw();
  const std::uint16_t bits = style == UserBitLn ? pattern : kStylePatterns[style];
  d.LineInfo = LineSettingsType{style, bits, thickness};
  for (int i = 0; i < 16; ++i) d.LinePatterns[i] = (bits >> (15 - i)) & 1;
}

void GetLineSettings(LineSettingsType& settings) {
  settings = Draw().LineInfo;
}

// Only the five write modes exist; anything else is refused and changes nothing.
void SetWriteMode(std::int16_t mode) {
  if (mode < CopyPut || mode > NotPut) {
    gfx::SetResult(grError);
    return;
  }
  Draw().WriteMode = mode;
}

void SetViewPort(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2, bool clip) {
  const gfx::ModeState& m = Mode();
  if (x1 < 0 || y1 < 0 || x1 > x2 || y1 > y2 || x2 > m.MaxX || y2 > m.MaxY) {
    gfx::SetResult(grError);
    return;
  }
  gfx::DrawState& d = Draw();
  d.View = gfx::ViewPort{x1, y1, static_cast<std::int16_t>(x2 - x1),
                         static_cast<std::int16_t>(y2 - y1), clip};
  d.CurrentX = 0;
  d.CurrentY = 0;
}

void GetViewSettings(ViewPortType& viewport) {
  const gfx::ViewPort& v = Draw().View;
  viewport = ViewPortType{v.StartX, v.StartY, static_cast<std::int16_t>(v.StartX + v.Width),
                          static_cast<std::int16_t>(v.StartY + v.Height), v.Clip};
}

void MoveTo(std::int16_t x, std::int16_t y) {
  Draw().CurrentX = x;
  Draw().CurrentY = y;
}

std::int16_t GetX() {
  return Draw().CurrentX;
}
std::int16_t GetY() {
  return Draw().CurrentY;
}
