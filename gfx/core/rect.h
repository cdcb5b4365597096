#pragma once

namespace gfx {

// A rectangle of backing-image pixels, inclusive on all four sides; empty when x0 > x1.
struct Rect {
  int x0 = 1, y0 = 1, x1 = 0, y1 = 0;
  bool Empty() const { return x0 > x1 || y0 > y1; }
  long Area() const { return Empty() ? 0 : long{x1 - x0 + 1} * (y1 - y0 + 1); }
  bool Contains(const Rect& r) const {
    return r.x0 >= x0 && r.x1 <= x1 && r.y0 >= y0 && r.y1 <= y1;
  }
};

// The smallest rectangle holding both; either may be empty.
inline Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return Rect{a.x0 < b.x0 ? a.x0 : b.x0, a.y0 < b.y0 ? a.y0 : b.y0, a.x1 > b.x1 ? a.x1 : b.x1,
              a.y1 > b.y1 ? a.y1 : b.y1};
}

}  // namespace gfx
