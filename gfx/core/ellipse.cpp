#include <array>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "gfx/core/hooks.h"
#include "gfx/core/layer.h"
#include "gfx/core/palette.h"
#include "gfx/core/writers.h"

namespace gfx {
namespace {

// std::nearbyint under the default rounding mode rounds halves to even.
int RoundEven(double v) {
  return static_cast<int>(std::nearbyint(v));
}

std::int16_t To16(int v) {
  return static_cast<std::int16_t>(v);
}

void NoRun(std::int16_t, std::int16_t, std::int16_t) {}

bool InArc(float angle, int start, int end) {
  return angle >= start && angle <= end;
}

// One point of the first quadrant's outline at angle J, and whether the rows it reaches are
// filled (the outline moved to another row at the next step).
struct OutlineStep {
  int Xt = 0;
  int Yt = 0;
  float J = 0.0f;
  bool FillRows = false;
};

// The outline is stepped in equal angles over the first quadrant; angles are single precision
// and every rounding goes half to even, so the points are the same on every machine.
std::vector<OutlineStep> TraceOutline(int rx, int ry) {
  const int steps = RoundEven(
      std::sqrt(3.0) * std::sqrt(static_cast<double>(rx) * rx + static_cast<double>(ry) * ry));
  const float delta = 90.0f / static_cast<float>(steps);
  constexpr double kPi = std::numbers::pi;
  std::vector<OutlineStep> outline;
  float j = 0.0f;
  int xn = rx;
  int yn = 0;
  do {
    const int xt = xn;
    const int yt = yn;
    const float a = static_cast<float>((static_cast<double>(j) + delta) * kPi / 180.0);
    xn = RoundEven(rx * std::cos(static_cast<double>(a)));
    yn = RoundEven(ry * std::sin(static_cast<double>(a) + kPi));
    outline.push_back(OutlineStep{xt, yt, j, yn != yt});
    j += delta;
  } while (j <= 91.0f);
  return outline;
}

// Mirrors the first quadrant's steps into all four: `point` gets each outline point that lies in
// the arc, `fillRows` the two rows between the outline points of a step that starts new rows
// (left and right end, row; upper row first). A side with no point in the arc leaves its end at
// the far edge of the coordinate range.
template <typename Point, typename Rows>
void MirrorOutline(const std::vector<OutlineStep>& outline, int x, int y, int start, int end,
                   Point&& point, Rows&& fillRows) {
  for (const OutlineStep& step : outline) {
    const int xp = x + step.Xt;
    const int xm = x - step.Xt;
    const int yp = y + step.Yt;
    const int ym = y - step.Yt;
    int rightUpper = 32767, leftUpper = -32768, leftLower = -32768, rightLower = 32767;
    auto plot = [&](int px, int py, float angle, int& remembered) {
      if (!InArc(angle, start, end)) return;
      point(px, py);
      remembered = px;
    };
    plot(xp, yp, step.J, rightUpper);
    plot(xm, yp, 180.0f - step.J, leftUpper);
    plot(xm, ym, 180.0f + step.J, leftLower);
    plot(xp, ym, 360.0f - step.J, rightLower);
    if (step.FillRows && xp - xm >= 1) {
      fillRows(leftUpper + 1, rightUpper - 1, yp, leftLower + 1, rightLower - 1, ym);
    }
  }
}

// A game draws discs of one or two sizes thousands of times: their outlines are traced once.
const std::vector<OutlineStep>& Outline(int rx, int ry) {
  struct Entry {
    int Rx = -1;
    int Ry = -1;
    std::vector<OutlineStep> Steps;
  };
  thread_local std::array<Entry, 8> cache;
  thread_local std::size_t next = 0;
  for (const Entry& entry : cache) {
    if (entry.Rx == rx && entry.Ry == ry) return entry.Steps;
  }
  Entry& entry = cache[next];
  next = (next + 1) % cache.size();
  entry = Entry{rx, ry, TraceOutline(rx, ry)};
  return entry.Steps;
}

// The generic routine's writes over the window's slots: outline points as WindowPutPixel, fill
// runs as WindowPatternLine (copy mode, cut to the viewport).
void OnePassEllipse(int x, int y, const std::vector<OutlineStep>& outline, int start, int end,
                    bool fill) {
  const DrawState& d = Draw();
  const ViewPort view = d.View;
  const std::uint32_t outlineColor = ScreenColor(d.CurrentColor);
  const std::uint32_t ink = ScreenColor(d.Fill.Color);
  const std::uint32_t background = ScreenColor(d.CurrentBkColor);
  const std::uint8_t* pattern = FillPatternRows(d.Fill.Pattern);
  DrawingHold hold;
  if (!hold.Drawable()) return;
  BackingImage& image = hold.Image();
  const Rect pointArea = WriteArea(image, view.Clip);
  const Rect runArea = WriteArea(image, true);
  Rect changed;
  auto point = [&](int px, int py) {
    const Rect written =
        WritePixel(image, pointArea, To16(px) + view.StartX, To16(py) + view.StartY, outlineColor);
    changed = Union(changed, written);
  };
  auto run = [&](int x1, int x2, int row) {
    const int a = To16(x1) + view.StartX;
    const int b = To16(x2) + view.StartX;
    const int r = To16(row) + view.StartY;
    if (a > b) return;
    changed =
        Union(changed, WritePatternRow(image, runArea, a, b, r, pattern[r & 7], ink, background));
  };
  MirrorOutline(outline, x, y, start, end, point,
                [&](int l1, int r1, int y1, int l2, int r2, int y2) {
                  if (!fill) return;
                  run(l1, r1, y1);
                  run(l2, r2, y2);
                });
  hold.Changed(changed);
}

// A whole ellipse as the one-pass routine leaves it, row by row: runs of outline and of fill
// relative to the centre, each pixel in the role of the last write to it. Built once per radius
// pair by replaying the routine's writes on a grid, so that a disc drawn where nothing cuts it is
// a few runs instead of dozens of separate writes.
struct ShapeRun {
  int Dy = 0;
  int Dx0 = 0;
  int Dx1 = 0;
  bool Fill = false;
};

struct Shape {
  int Rx = -1;
  int Ry = -1;
  bool Filled = false;
  Rect Box;  // relative to the centre
  std::vector<ShapeRun> Runs;
  // The same pixels with outline and fill joined: for a disc whose outline and fill are one
  // colour (erasing one, every step of a game).
  std::vector<ShapeRun> Joined;
};

enum Role : std::uint8_t { kNone, kOutline, kFill };

Shape TraceShape(int rx, int ry, bool fill) {
  Shape shape{rx, ry, fill, Rect{-rx, -ry, rx, ry}, {}, {}};
  const int width = 2 * rx + 1;
  std::vector<Role> grid(static_cast<std::size_t>(width) * (2 * ry + 1), kNone);
  auto at = [&](int dx, int dy) -> Role& {
    return grid[static_cast<std::size_t>(dy + ry) * width + (dx + rx)];
  };
  MirrorOutline(
      Outline(rx, ry), 0, 0, 0, 360, [&](int px, int py) { at(px, py) = kOutline; },
      [&](int l1, int r1, int y1, int l2, int r2, int y2) {
        if (!fill) return;
        for (int dx = l1; dx <= r1; ++dx) at(dx, y1) = kFill;
        for (int dx = l2; dx <= r2; ++dx) at(dx, y2) = kFill;
      });
  for (int dy = -ry; dy <= ry; ++dy) {
    for (int dx = -rx; dx <= rx;) {
      const Role role = at(dx, dy);
      int end = dx;
      while (end < rx && at(end + 1, dy) == role) ++end;
      if (role != kNone) shape.Runs.push_back(ShapeRun{dy, dx, end, role == kFill});
      dx = end + 1;
    }
    for (int dx = -rx; dx <= rx;) {
      int end = dx;
      while (end < rx && (at(end + 1, dy) == kNone) == (at(dx, dy) == kNone)) ++end;
      if (at(dx, dy) != kNone) shape.Joined.push_back(ShapeRun{dy, dx, end, false});
      dx = end + 1;
    }
  }
  return shape;
}

const Shape& CachedShape(int rx, int ry, bool fill) {
  thread_local std::array<Shape, 4> cache;
  thread_local std::size_t next = 0;
  for (const Shape& shape : cache) {
    if (shape.Rx == rx && shape.Ry == ry && shape.Filled == fill) return shape;
  }
  Shape& shape = cache[next];
  next = (next + 1) % cache.size();
  shape = TraceShape(rx, ry, fill);
  return shape;
}

// Whether all eight rows of a fill pattern are `bits`.
bool SolidIn(const std::uint8_t* pattern, std::uint8_t bits) {
  for (int row = 0; row < 8; ++row) {
    if (pattern[row] != bits) return false;
  }
  return true;
}

// The whole ellipse from its shape, when the viewport and the surface hold all of it: then no
// write of the one-pass routine would have been cut, and the shape is exactly what it leaves.
bool ShapeEllipse(int x, int y, int rx, int ry, bool fill) {
  const DrawState& d = Draw();
  const ViewPort view = d.View;
  const int cx = x + view.StartX;
  const int cy = y + view.StartY;
  const Shape& shape = CachedShape(rx, ry, fill);
  const std::uint32_t outlineColor = ScreenColor(d.CurrentColor);
  const std::uint32_t ink = ScreenColor(d.Fill.Color);
  const std::uint32_t background = ScreenColor(d.CurrentBkColor);
  const std::uint8_t* pattern = FillPatternRows(d.Fill.Pattern);
  DrawingHold hold;
  if (!hold.Drawable()) return true;
  BackingImage& image = hold.Image();
  const Rect area = WriteArea(image, true);
  if (!area.Contains(
          Rect{cx + shape.Box.x0, cy + shape.Box.y0, cx + shape.Box.x1, cy + shape.Box.y1})) {
    return false;
  }
  bool changed = false;
  // Every fill row the one colour of the outline: each row's pixels are one or two runs.
  const bool joined = fill && SolidIn(pattern, outlineColor == ink ? 0xFF : 0x00) &&
                      (outlineColor == ink || outlineColor == background);
  for (const ShapeRun& run : joined ? shape.Joined : shape.Runs) {
    const int row = cy + run.Dy;
    const int x0 = cx + run.Dx0;
    const int x1 = cx + run.Dx1;
    std::uint32_t* pixels = image.Row(row);
    if (joined || !run.Fill) {
      changed |= PaintRun(pixels, x0, x1, outlineColor);
      continue;
    }
    const std::uint8_t bits = pattern[row & 7];
    if (bits == 0x00 || bits == 0xFF) {
      changed |= PaintRun(pixels, x0, x1, bits == 0 ? background : ink);
    } else {
      changed |= !WritePatternRow(image, area, x0, x1, row, bits, ink, background).Empty();
    }
  }
  if (changed) {
    hold.Changed(Rect{cx + shape.Box.x0, cy + shape.Box.y0, cx + shape.Box.x1, cy + shape.Box.y1});
  }
  return true;
}

void Run(PatternLineProc run, int x1, int x2, int y) {
  run(To16(x1), To16(x2), To16(y));
}

// The radii after the aspect and the arc's angles, in degrees.
struct Arc {
  int Rx = 0;
  int Ry = 0;
  int Start = 0;
  int End = 0;
};

// What every ellipse does first: a thick outline becomes thin ones through `self` (the slot's
// routine: the two outlines, then the inside at the smaller radii), the radii take the aspect,
// and a one-pixel ellipse is its centre. Anything else is left to `draw`, given the arc.
template <typename DrawArc>
void Ellipse(std::int16_t x, std::int16_t y, std::uint16_t xRadius, std::uint16_t yRadius,
             std::uint16_t startAngle, std::uint16_t endAngle, PatternLineProc run,
             InternalEllipseProc self, DrawArc draw) {
  DrawState& d = Draw();
  if (d.LineInfo.Thickness == ThickWidth) {
    d.LineInfo.Thickness = NormWidth;
    self(x, y, xRadius, yRadius, startAngle, endAngle, NoRun);
    self(x, y, static_cast<std::uint16_t>(xRadius + 1), static_cast<std::uint16_t>(yRadius + 1),
         startAngle, endAngle, NoRun);
    if (xRadius > 0 && yRadius > 0) {
      self(x, y, static_cast<std::uint16_t>(xRadius - 1), static_cast<std::uint16_t>(yRadius - 1),
           startAngle, endAngle, run);
    }
    d.LineInfo.Thickness = ThickWidth;
    return;
  }
  Arc arc;
  arc.Rx = static_cast<int>(static_cast<long>(xRadius) * 10000 / (d.XAspect ? d.XAspect : 1));
  arc.Ry = static_cast<int>(static_cast<long>(yRadius) * 10000 / (d.YAspect ? d.YAspect : 1));
  if (arc.Rx == 0) arc.Rx = 1;
  if (arc.Ry == 0) arc.Ry = 1;
  if (arc.Rx <= 1 && arc.Ry <= 1) {
    Ops().PutPixel(x, y, d.CurrentColor);
    return;
  }
  arc.Start = startAngle % 361;
  arc.End = endAngle % 361;
  if (arc.End < arc.Start) std::swap(arc.Start, arc.End);
  draw(arc);
}

// The outline through the PutPixel slot, each row pair through the run in the fill colour.
void EllipseThroughSlots(int x, int y, const Arc& arc, PatternLineProc run) {
  DrawState& d = Draw();
  // A copy: a client's slot may draw other ellipses, which could push this one out of the cache.
  const std::vector<OutlineStep> outline = Outline(arc.Rx, arc.Ry);
  auto point = [&d](int px, int py) { Ops().PutPixel(To16(px), To16(py), d.CurrentColor); };
  MirrorOutline(outline, x, y, arc.Start, arc.End, point,
                [&d, run](int l1, int r1, int y1, int l2, int r2, int y2) {
                  const std::uint16_t outlineColor = d.CurrentColor;
                  d.CurrentColor = d.Fill.Color;
                  Run(run, l1, r1, y1);
                  Run(run, l2, r2, y2);
                  d.CurrentColor = outlineColor;
                });
}

}  // namespace

// The generic ellipse, one algorithm: the outline is stepped over the first quadrant and mirrored
// into the other three; each pair of rows it reaches is filled between its outline points.
void GenericInternalEllipse(std::int16_t x, std::int16_t y, std::uint16_t xRadius,
                            std::uint16_t yRadius, std::uint16_t startAngle, std::uint16_t endAngle,
                            PatternLineProc run) {
  Ellipse(x, y, xRadius, yRadius, startAngle, endAngle, run, GenericInternalEllipse,
          [&](const Arc& arc) { EllipseThroughSlots(x, y, arc, run); });
}

void WindowInternalEllipse(std::int16_t x, std::int16_t y, std::uint16_t xRadius,
                           std::uint16_t yRadius, std::uint16_t startAngle, std::uint16_t endAngle,
                           PatternLineProc run) {
  Ellipse(x, y, xRadius, yRadius, startAngle, endAngle, run, WindowInternalEllipse,
          [&](const Arc& arc) {
            const bool fill = run == WindowPatternLine;
            if (fill || run == NoRun) {
              const bool whole = arc.Start == 0 && arc.End == 360;
              if (whole && ShapeEllipse(x, y, arc.Rx, arc.Ry, fill)) return;
              OnePassEllipse(x, y, Outline(arc.Rx, arc.Ry), arc.Start, arc.End, fill);
            } else {
              EllipseThroughSlots(x, y, arc, run);
            }
          });
}

// A circle is an outline-only ellipse whose vertical radius corrects for the aspect ratio.
void GenericCircle(std::int16_t x, std::int16_t y, std::uint16_t radius) {
  const DrawState& d = Draw();
  const long yRadius = static_cast<long>(radius) * d.XAspect / (d.YAspect ? d.YAspect : 1);
  Ops().InternalEllipse(x, y, radius, static_cast<std::uint16_t>(yRadius), 0, 360, NoRun);
}

}  // namespace gfx
