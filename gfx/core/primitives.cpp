#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "gfx/core/hooks.h"
#include "gfx/core/layer.h"
#include "gfx/core/palette.h"
#include "gfx/core/writers.h"

namespace gfx {
namespace {

constexpr std::array<std::array<std::uint8_t, 8>, 12> kFillPatterns{{
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00},
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},
    {0x07, 0x0E, 0x1C, 0x38, 0x70, 0xE0, 0xC1, 0x83},
    {0x07, 0x83, 0xC1, 0xE0, 0x70, 0x38, 0x1C, 0x0E},
    {0x5A, 0x2D, 0x96, 0x4B, 0xA5, 0xD2, 0x69, 0xB4},
    {0xFF, 0x88, 0x88, 0x88, 0xFF, 0x88, 0x88, 0x88},
    {0x18, 0x24, 0x42, 0x81, 0x81, 0x42, 0x24, 0x18},
    {0xCC, 0x33, 0xCC, 0x33, 0xCC, 0x33, 0xCC, 0x33},
    {0x80, 0x00, 0x08, 0x00, 0x80, 0x00, 0x08, 0x00},
    {0x88, 0x00, 0x22, 0x00, 0x88, 0x00, 0x22, 0x00},
}};

// Window slots take the drawing lock once per call; write returns the rectangle it changed.
template <typename Write>
void WriteUnderLock(Write write) {
  DrawingHold hold;
  if (!hold.Drawable()) return;
  hold.Changed(write(hold.Image()));
}

// The area the generic routines clip against. Outside graphics mode there is no surface to clip
// to, so every run goes on to the pixel slot, whose default reports drawing too early.
Rect SurfaceViewArea(bool clip) {
  if (!Mode().IsGraphMode) return Rect{-32768, -32768, 32767, 32767};
  return ClipToView(Rect{0, 0, Mode().MaxX, Mode().MaxY}, clip);
}

}  // namespace

const std::uint8_t* FillPatternRows(std::uint16_t pattern) {
  if (pattern == UserFill) return Draw().UserFillPattern.data();
  return kFillPatterns[pattern < UserFill ? pattern : std::uint16_t{SolidFill}].data();
}

void WindowDirectPutPixel(std::int16_t x, std::int16_t y) {
  const std::uint32_t color = ScreenColor(Draw().CurrentColor);
  const std::int16_t mode = Draw().WriteMode;
  WriteUnderLock([&](BackingImage& image) {
    return WriteRow(image, WriteArea(image, false), x, x, y, color, mode);
  });
}

void WindowPutPixel(std::int16_t x, std::int16_t y, std::uint16_t color) {
  const ViewPort& view = Draw().View;
  const int ax = x + view.StartX;
  const int ay = y + view.StartY;
  const std::uint32_t screen = ScreenColor(color);
  WriteUnderLock([&](BackingImage& image) {
    return WritePixel(image, WriteArea(image, view.Clip), ax, ay, screen);
  });
}

std::uint16_t WindowGetPixel(std::int16_t x, std::int16_t y) {
  const ViewPort& view = Draw().View;
  const int ax = x + view.StartX;
  const int ay = y + view.StartY;
  std::uint32_t screen;
  {
    std::lock_guard<DrawingLock> hold(GraphDrawing());
    BackingImage& image = Backing();
    if (!image.GraphRunning || !Inside(WriteArea(image, false), ax, ay)) return 0;
    screen = image.Row(ay)[ax];
  }
  return PaletteIndexOf(screen);
}

namespace {

// What the window's run slots write, for a caller that holds the drawing lock.
Rect HLineOn(BackingImage& image, int x1, int x2, int y) {
  const DrawState& d = Draw();
  const int a = std::min(x1, x2) + d.View.StartX;
  const int b = std::max(x1, x2) + d.View.StartX;
  const std::uint32_t color = ScreenColor(d.CurrentColor);
  return WriteRow(image, WriteArea(image, d.View.Clip), a, b, y + d.View.StartY, color,
                  d.WriteMode);
}

Rect VLineOn(BackingImage& image, int x, int y1, int y2) {
  const DrawState& d = Draw();
  return WriteColumn(image, WriteArea(image, d.View.Clip), x + d.View.StartX,
                     std::min(y1, y2) + d.View.StartY, std::max(y1, y2) + d.View.StartY,
                     ScreenColor(d.CurrentColor), d.WriteMode);
}

}  // namespace

// The hot path of clearing and filling: one lock, one clipped fill.
void WindowHLine(std::int16_t x1, std::int16_t x2, std::int16_t y) {
  WriteUnderLock([&](BackingImage& image) { return HLineOn(image, x1, x2, y); });
}

void WindowVLine(std::int16_t x, std::int16_t y1, std::int16_t y2) {
  WriteUnderLock([&](BackingImage& image) { return VLineOn(image, x, y1, y2); });
}

namespace {

LineBatch* activeBatch = nullptr;

}  // namespace

LineBatch::LineBatch() {
  const Hooks& ops = Ops();
  if (activeBatch != nullptr || ops.HLine != WindowHLine || ops.VLine != WindowVLine) return;
  hold_.emplace();
  drawable_ = hold_->Drawable();
  activeBatch = this;
}

LineBatch::~LineBatch() {
  if (activeBatch != this) return;
  activeBatch = nullptr;
  if (drawable_) hold_->Changed(changed_);
}

LineBatch* LineBatch::Active() {
  return activeBatch;
}

void LineBatch::Row(int x1, int x2, int y) {
  if (drawable_) changed_ = Union(changed_, HLineOn(hold_->Image(), x1, x2, y));
}

void LineBatch::Column(int x, int y1, int y2) {
  if (drawable_) changed_ = Union(changed_, VLineOn(hold_->Image(), x, y1, y2));
}

void LineBatch::Block(int x1, int y1, int x2, int y2) {
  if (!drawable_) return;
  const DrawState& d = Draw();
  BackingImage& image = hold_->Image();
  const Rect block{std::min(x1, x2) + d.View.StartX, std::min(y1, y2) + d.View.StartY,
                   std::max(x1, x2) + d.View.StartX, std::max(y1, y2) + d.View.StartY};
  changed_ = Union(changed_, WriteBlock(image, WriteArea(image, d.View.Clip), block,
                                        ScreenColor(d.CurrentColor), d.WriteMode));
}

void GenericHLine(std::int16_t x1, std::int16_t x2, std::int16_t y) {
  const ViewPort& view = Draw().View;
  int a = std::min(x1, x2) + view.StartX;
  int b = std::max(x1, x2) + view.StartX;
  const int row = y + view.StartY;
  if (!ClipRun(SurfaceViewArea(Draw().View.Clip), a, b, row)) return;
  for (int x = a; x <= b; ++x) {
    Ops().DirectPutPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(row));
  }
}

void GenericVLine(std::int16_t x, std::int16_t y1, std::int16_t y2) {
  const ViewPort& view = Draw().View;
  const int column = x + view.StartX;
  int a = std::min(y1, y2) + view.StartY;
  int b = std::max(y1, y2) + view.StartY;
  if (!ClipColumn(SurfaceViewArea(view.Clip), column, a, b)) return;
  for (int y = a; y <= b; ++y) {
    Ops().DirectPutPixel(static_cast<std::int16_t>(column), static_cast<std::int16_t>(y));
  }
}

namespace {

bool Fits16(int v) {
  return v >= -32768 && v <= 32767;
}
std::int16_t To16(int v) {
  return static_cast<std::int16_t>(v);
}

bool SolidPattern() {
  const auto& bits = Draw().LinePatterns;
  return std::all_of(bits.begin(), bits.end(), [](bool b) { return b; });
}

// A run of the line: to the writers under the batch's hold, or through the slots.
void Row(LineBatch* batch, int x1, int x2, int y) {
  if (batch != nullptr) {
    batch->Row(x1, x2, y);
  } else {
    Ops().HLine(To16(x1), To16(x2), To16(y));
  }
}

void Column(LineBatch* batch, int x, int y1, int y2) {
  if (batch != nullptr) {
    batch->Column(x, y1, y2);
  } else {
    Ops().VLine(To16(x), To16(y1), To16(y2));
  }
}

// One pixel wide, viewport coordinates, along the Bresenham path. A solid line goes out as one
// run per row (or column) so that the run writers clip it; a styled one pixel by pixel. An
// axis-aligned solid line is the path's one run, without walking it.
void ThinLine(int x1, int y1, int x2, int y2) {
  LineBatch* batch = LineBatch::Active();
  const bool solid = SolidPattern();
  const auto& pattern = Draw().LinePatterns;
  const int dx = std::abs(x2 - x1);
  const int dy = std::abs(y2 - y1);
  const int sx = x1 <= x2 ? 1 : -1;
  const int sy = y1 <= y2 ? 1 : -1;
  const bool xMajor = dx >= dy;
  const int major = xMajor ? dx : dy;
  const int minor = xMajor ? dy : dx;
  if (solid && minor == 0) {
    if (xMajor) {
      Row(batch, x1, x2, y1);
    } else {
      Column(batch, x1, y1, y2);
    }
    return;
  }
  int x = x1;
  int y = y1;
  int runStart = xMajor ? x1 : y1;
  int error = 2 * minor - major;
  for (int i = 0;; ++i) {
    const bool last = i == major;
    const bool stepMinor = !last && error > 0;
    if (!solid) {
      if (pattern[i % 16]) Row(batch, x, x, y);
    } else if (last || stepMinor) {
      if (xMajor) {
        Row(batch, runStart, x, y);
      } else {
        Column(batch, x, runStart, y);
      }
    }
    if (last) break;
    if (stepMinor) {
      (xMajor ? y : x) += xMajor ? sy : sx;
      error -= 2 * major;
    }
    error += 2 * minor;
    (xMajor ? x : y) += xMajor ? sx : sy;
    if (stepMinor) runStart = xMajor ? x : y;
  }
}

}  // namespace

// Thick lines are three thin ones side by side across the line's major direction. With the
// window's run slots the whole line is written under one hold of the drawing lock; a solid
// axis-aligned thick line is then one block, since its three lines share no pixel.
void GenericLine(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2) {
  LineBatch batch;
  if (Draw().LineInfo.Thickness != ThickWidth) {
    ThinLine(x1, y1, x2, y2);
    return;
  }
  const bool xMajor = std::abs(x2 - x1) >= std::abs(y2 - y1);
  if (LineBatch::Active() != nullptr && SolidPattern() && (x1 == x2 || y1 == y2)) {
    // The offsets that fit in 16 bits are consecutive: -1..1 less one at the range's end.
    const int across = xMajor ? y1 : x1;
    const int low = Fits16(across - 1) ? -1 : 0;
    const int high = Fits16(across + 1) ? 1 : 0;
    if (xMajor) {
      LineBatch::Active()->Block(x1, y1 + low, x2, y1 + high);
    } else {
      LineBatch::Active()->Block(x1 + low, y1, x1 + high, y2);
    }
    return;
  }
  for (int offset = -1; offset <= 1; ++offset) {
    if (xMajor && Fits16(y1 + offset) && Fits16(y2 + offset)) {
      ThinLine(x1, y1 + offset, x2, y2 + offset);
    } else if (!xMajor && Fits16(x1 + offset) && Fits16(x2 + offset)) {
      ThinLine(x1 + offset, y1, x2 + offset, y2);
    }
  }
}

// A run with x1 > x2 is empty: the ellipse passes such runs for rows of a sector it skips. Fill
// runs stay inside the viewport whether clipping is on or off.
void GenericPatternLine(std::int16_t x1, std::int16_t x2, std::int16_t y) {
  DrawState& d = Draw();
  const ViewPort view = d.View;
  int a = x1 + view.StartX;
  int b = x2 + view.StartX;
  const int row = y + view.StartY;
  if (a > b || !ClipRun(SurfaceViewArea(true), a, b, row)) return;
  const std::int16_t savedMode = d.WriteMode;
  const std::uint16_t foreground = d.CurrentColor;
  d.WriteMode = CopyPut;
  const std::uint8_t bits = FillPatternRows(d.Fill.Pattern)[row & 7];
  if (bits == 0x00 || bits == 0xFF) {
    if (bits == 0x00) d.CurrentColor = d.CurrentBkColor;
    Ops().HLine(To16(a - view.StartX), To16(b - view.StartX), y);
  } else {
    for (int x = a; x <= b; ++x) {
      d.CurrentColor = (bits & (0x80 >> (x & 7))) ? foreground : d.CurrentBkColor;
      Ops().DirectPutPixel(To16(x), To16(row));
    }
  }
  d.CurrentColor = foreground;
  d.WriteMode = savedMode;
}

// What GenericPatternLine writes over the window's HLine and DirectPutPixel, under one hold.
void WindowPatternLine(std::int16_t x1, std::int16_t x2, std::int16_t y) {
  const DrawState& d = Draw();
  const int a = x1 + d.View.StartX;
  const int b = x2 + d.View.StartX;
  const int row = y + d.View.StartY;
  if (a > b) return;
  const std::uint8_t bits = FillPatternRows(d.Fill.Pattern)[row & 7];
  const std::uint32_t ink = ScreenColor(d.CurrentColor);
  const std::uint32_t background = ScreenColor(d.CurrentBkColor);
  WriteUnderLock([&](BackingImage& image) {
    return WritePatternRow(image, WriteArea(image, true), a, b, row, bits, ink, background);
  });
}

void GenericClearViewPort() {
  DrawState& d = Draw();
  d.CurrentX = 0;
  d.CurrentY = 0;
  const std::uint16_t savedColor = d.CurrentColor;
  const std::int16_t savedMode = d.WriteMode;
  const LineSettingsType savedLine = d.LineInfo;
  d.CurrentColor = d.CurrentBkColor;
  d.WriteMode = CopyPut;
  d.LineInfo = LineSettingsType{SolidLn, 0xFFFF, NormWidth};
  for (int row = 0; row <= d.View.Height; ++row) {
    Ops().HLine(0, d.View.Width, To16(row));
  }
  d.CurrentColor = savedColor;
  d.WriteMode = savedMode;
  d.LineInfo = savedLine;
}

// What the generic routine writes over WindowHLine, each row of the viewport in the background
// colour, under one hold of the lock.
void WindowClearViewPort() {
  DrawState& d = Draw();
  d.CurrentX = 0;
  d.CurrentY = 0;
  const std::uint32_t color = ScreenColor(d.CurrentBkColor);
  DrawingHold hold;
  if (!hold.Drawable()) return;
  BackingImage& image = hold.Image();
  const Rect area = WriteArea(image, d.View.Clip);
  Rect changed;
  for (int row = 0; row <= d.View.Height; ++row) {
    changed = Union(changed, WriteRow(image, area, d.View.StartX, d.View.StartX + d.View.Width,
                                      d.View.StartY + row, color, CopyPut));
  }
  hold.Changed(changed);
}

}  // namespace gfx

using gfx::Draw;
using gfx::Ops;

void PutPixel(std::int16_t x, std::int16_t y, std::uint16_t color) {
  Ops().PutPixel(x, y, color);
}

std::uint16_t GetPixel(std::int16_t x, std::int16_t y) {
  return Ops().GetPixel(x, y);
}

void Line(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2) {
  Ops().Line(x1, y1, x2, y2);
}

// Each side stops one short of the next, so every corner is drawn exactly once. The generic line
// draws all four sides under one hold of the drawing lock.
void Rectangle(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2) {
  auto line = Ops().Line;
  std::optional<gfx::LineBatch> batch;
  if (line == gfx::GenericLine) batch.emplace();
  line(x1, y1, static_cast<std::int16_t>(x2 - 1), y1);
  line(x1, static_cast<std::int16_t>(y1 + 1), x1, y2);
  line(x2, y1, x2, static_cast<std::int16_t>(y2 - 1));
  line(static_cast<std::int16_t>(x1 + 1), y2, x2, y2);
}

void FillEllipse(std::int16_t x, std::int16_t y, std::uint16_t xRadius, std::uint16_t yRadius) {
  Ops().InternalEllipse(x, y, xRadius, yRadius, 0, 360, Ops().PatternLine);
}

void ClearDevice() {
  gfx::DrawState& d = Draw();
  d.CurrentX = 0;
  d.CurrentY = 0;
  const gfx::ViewPort saved = d.View;
  d.View = gfx::ViewPort{0, 0, gfx::Mode().MaxX, gfx::Mode().MaxY, true};
  Ops().ClearViewPort();
  d.View = saved;
}

void ClearViewPort() {
  Ops().ClearViewPort();
}

void OutTextXY(std::int16_t x, std::int16_t y, std::string_view text) {
  Ops().OutTextXY(x, y, text);
}
