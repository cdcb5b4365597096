#include <cmath>
#include <numbers>
#include <utility>

#include "gfx/context.h"
#include "gfx/hooks.h"

namespace gfx {
namespace {

// std::nearbyint under the default rounding mode rounds halves to even.
int RoundEven(double v) {
  return static_cast<int>(std::nearbyint(v));
}

void NoRun(std::int16_t, std::int16_t, std::int16_t) {}

bool InArc(float angle, int start, int end) {
  return angle >= start && angle <= end;
}

void Run(PatternLineProc run, int x1, int x2, int y) {
  run(static_cast<std::int16_t>(x1), static_cast<std::int16_t>(x2), static_cast<std::int16_t>(y));
}

}  // namespace

// One algorithm read top to bottom: the outline is stepped in equal angles over the first
// quadrant and mirrored into the other three; each pair of rows it reaches is filled between
// its outline points. Angles are single precision and every rounding goes half to even, so the
// pixels are the same on every machine.
void GenericInternalEllipse(std::int16_t x, std::int16_t y, std::uint16_t xRadius,
                            std::uint16_t yRadius, std::uint16_t startAngle, std::uint16_t endAngle,
                            PatternLineProc run) {
  DrawState& d = Draw();
  if (d.LineInfo.Thickness == ThickWidth) {
    d.LineInfo.Thickness = NormWidth;
    GenericInternalEllipse(x, y, xRadius, yRadius, startAngle, endAngle, NoRun);
    GenericInternalEllipse(x, y, static_cast<std::uint16_t>(xRadius + 1),
                           static_cast<std::uint16_t>(yRadius + 1), startAngle, endAngle, NoRun);
    if (xRadius > 0 && yRadius > 0) {
      GenericInternalEllipse(x, y, static_cast<std::uint16_t>(xRadius - 1),
                             static_cast<std::uint16_t>(yRadius - 1), startAngle, endAngle, run);
    }
    d.LineInfo.Thickness = ThickWidth;
    return;
  }
  int rx = static_cast<int>(static_cast<long>(xRadius) * 10000 / (d.XAspect ? d.XAspect : 1));
  int ry = static_cast<int>(static_cast<long>(yRadius) * 10000 / (d.YAspect ? d.YAspect : 1));
  if (rx == 0) rx = 1;
  if (ry == 0) ry = 1;
  if (rx <= 1 && ry <= 1) {
    Ops().PutPixel(x, y, d.CurrentColor);
    return;
  }
  int start = startAngle % 361;
  int end = endAngle % 361;
  if (end < start) std::swap(start, end);

  const int steps = RoundEven(
      std::sqrt(3.0) * std::sqrt(static_cast<double>(rx) * rx + static_cast<double>(ry) * ry));
  const float delta = 90.0f / static_cast<float>(steps);
  constexpr double kPi = std::numbers::pi;
  float j = 0.0f;
  int xn = rx;
  int yn = 0;
  do {
    const int xt = xn;
    const int yt = yn;
    const float a = static_cast<float>((static_cast<double>(j) + delta) * kPi / 180.0);
    xn = RoundEven(rx * std::cos(static_cast<double>(a)));
    yn = RoundEven(ry * std::sin(static_cast<double>(a) + kPi));
    const int xp = x + xt;
    const int xm = x - xt;
    const int yp = y + yt;
    const int ym = y - yt;
    int rightUpper = 32767, leftUpper = -32768, leftLower = -32768, rightLower = 32767;
    auto plot = [&](int px, int py, float angle, int& remembered) {
      if (!InArc(angle, start, end)) return;
      Ops().PutPixel(static_cast<std::int16_t>(px), static_cast<std::int16_t>(py), d.CurrentColor);
      remembered = px;
    };
    plot(xp, yp, j, rightUpper);
    plot(xm, yp, 180.0f - j, leftUpper);
    plot(xm, ym, 180.0f + j, leftLower);
    plot(xp, ym, 360.0f - j, rightLower);
    if (yn != yt && xp - xm >= 1) {
      const std::uint16_t outline = d.CurrentColor;
      d.CurrentColor = d.Fill.Color;
      Run(run, leftUpper + 1, rightUpper - 1, yp);
      Run(run, leftLower + 1, rightLower - 1, ym);
      d.CurrentColor = outline;
    }
    j += delta;
  } while (j <= 91.0f);
}

// A circle is an outline-only ellipse whose vertical radius corrects for the aspect ratio.
void GenericCircle(std::int16_t x, std::int16_t y, std::uint16_t radius) {
  const DrawState& d = Draw();
  const long yRadius = static_cast<long>(radius) * d.XAspect / (d.YAspect ? d.YAspect : 1);
  Ops().InternalEllipse(x, y, radius, static_cast<std::uint16_t>(yRadius), 0, 360, NoRun);
}

}  // namespace gfx
