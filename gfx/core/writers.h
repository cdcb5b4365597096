#pragma once

// The pixel and run writers: the only code that writes drawing calls' pixels into the backing
// image, and, with the clipping helpers below, the only code that cuts drawing to the viewport
// or the surface. Callers may stop early once all that is left lies outside (text past the
// viewport's edge), but never cut a run themselves. The caller holds a DrawingHold for its whole
// call. Each writer answers the rectangle whose pixels really changed: empty when clipping left
// nothing or every pixel already had its colour, so redrawing what is there costs the window
// nothing.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "gfx/core/backing_image.h"
#include "gfx/core/layer.h"
#include "gfx/graph.h"

namespace gfx {

// Write mode 4 draws the complement of the colour's screen value: the inverted colour number
// has no palette entry, the inverted colour does.
inline std::uint32_t Combine(std::uint32_t surface, std::uint32_t color, std::int16_t mode) {
  switch (mode) {
    case XORPut:
      return surface ^ color;
    case OrPut:
      return surface | color;
    case AndPut:
      return surface & color;
    case NotPut:
      return ~color & 0x00FFFFFFu;
    default:
      return color;
  }
}

// Fills by doubling: a few pixels one by one, then the filled part copied onto the rest, which
// the library does with the widest stores the machine has. Clearing is a run per row, so this is
// what its speed comes down to.
inline void FillPixels(std::uint32_t* p, int count, std::uint32_t color) {
  const int head = std::min(count, 16);
  for (int i = 0; i < head; ++i) p[i] = color;
  for (int done = head; done < count;) {
    const int chunk = std::min(done, count - done);
    std::memcpy(p + done, p, static_cast<std::size_t>(chunk) * sizeof(std::uint32_t));
    done += chunk;
  }
}

// Whether p[0..8) are all `pair`'s pixel, `pair` holding it twice: two pixels per compare.
inline bool EightAre(const std::uint32_t* p, std::uint64_t pair) {
  std::uint64_t w[4];
  std::memcpy(w, p, sizeof w);
  return ((w[0] ^ pair) | (w[1] ^ pair) | (w[2] ^ pair) | (w[3] ^ pair)) == 0;
}

// The first index of p[0..count) whose pixel is not `color`, or count; LastOther the last, or
// -1. Eight pixels at a time: redrawing what is already there (the board's frame, every step of a
// game) is the common case.
inline int FirstOther(const std::uint32_t* p, int count, std::uint32_t color) {
  const std::uint64_t pair = std::uint64_t{color} << 32 | color;
  int i = 0;
  while (i + 8 <= count && EightAre(p + i, pair)) i += 8;
  while (i < count && p[i] == color) ++i;
  return i;
}

inline int LastOther(const std::uint32_t* p, int count, std::uint32_t color) {
  const std::uint64_t pair = std::uint64_t{color} << 32 | color;
  int i = count;
  while (i >= 8 && EightAre(p + i - 8, pair)) i -= 8;
  while (i > 0 && p[i - 1] == color) --i;
  return i - 1;
}

// Combines a strided run with the surface; answers the first and last index it changed (first
// > last when none).
inline std::pair<int, int> CombineRun(std::uint32_t* p, int count, std::ptrdiff_t step,
                                      std::uint32_t color, std::int16_t mode) {
  int first = count, last = -1;
  for (int i = 0; i < count; ++i, p += step) {
    const std::uint32_t next = Combine(*p, color, mode);
    if (next == *p) continue;
    *p = next;
    first = std::min(first, i);
    last = i;
  }
  return {first, last};
}

// Absolute coordinates inside the area.
inline bool Inside(const Rect& area, int x, int y) {
  return x >= area.x0 && x <= area.x1 && y >= area.y0 && y <= area.y1;
}

// Absolute run x0..x1 on row y (already ordered) cut to the area; false when nothing is left.
inline bool ClipRun(const Rect& area, int& x0, int& x1, int y) {
  if (y < area.y0 || y > area.y1) return false;
  x0 = std::max(x0, area.x0);
  x1 = std::min(x1, area.x1);
  return x0 <= x1;
}

// Absolute column x, rows y0..y1 (already ordered), cut to the area; false when nothing is left.
inline bool ClipColumn(const Rect& area, int x, int& y0, int& y1) {
  if (x < area.x0 || x > area.x1) return false;
  y0 = std::max(y0, area.y0);
  y1 = std::min(y1, area.y1);
  return y0 <= y1;
}

// A surface's rectangle cut to the viewport while clip is on.
inline Rect ClipToView(Rect area, bool clip) {
  if (!clip) return area;
  const ViewPort& view = Draw().View;
  area.x0 = std::max(area.x0, static_cast<int>(view.StartX));
  area.y0 = std::max(area.y0, static_cast<int>(view.StartY));
  area.x1 = std::min(area.x1, view.StartX + view.Width);
  area.y1 = std::min(area.y1, view.StartY + view.Height);
  return area;
}

// The absolute rectangle a writer may touch: the viewport while clip is on, else the surface.
inline Rect WriteArea(const BackingImage& image, bool clip) {
  return ClipToView(Rect{0, 0, image.Width - 1, image.Height - 1}, clip);
}

// One pixel in the screen colour (copy).
inline Rect WritePixel(BackingImage& image, const Rect& area, int x, int y, std::uint32_t color) {
  if (!Inside(area, x, y)) return Rect{};
  std::uint32_t& pixel = image.Row(y)[x];
  if (pixel == color) return Rect{};
  pixel = color;
  return Rect{x, y, x, y};
}

// A horizontal run x0..x1 (ordered) on row y, combined with the surface by the write mode. In
// copy mode only the stretch between the first and the last pixel that differ is written.
inline Rect WriteRow(BackingImage& image, const Rect& area, int x0, int x1, int y,
                     std::uint32_t color, std::int16_t mode) {
  if (!ClipRun(area, x0, x1, y)) return Rect{};
  std::uint32_t* row = image.Row(y);
  if (mode != CopyPut) {
    const auto [first, last] = CombineRun(row + x0, x1 - x0 + 1, 1, color, mode);
    return first > last ? Rect{} : Rect{x0 + first, y, x0 + last, y};
  }
  const int count = x1 - x0 + 1;
  // A long run already in place (the board's frame, every step) is one library compare of the
  // run with itself shifted by a pixel: all equal, and the first is the colour.
  if (count >= 32 && row[x0] == color &&
      std::memcmp(row + x0, row + x0 + 1, static_cast<std::size_t>(count - 1) * 4) == 0) {
    return Rect{};
  }
  const int first = FirstOther(row + x0, count, color);
  if (first == count) return Rect{};
  const int last = LastOther(row + x0, count, color);
  FillPixels(row + x0 + first, last - first + 1, color);
  return Rect{x0 + first, y, x0 + last, y};
}

// A run of one colour (copy) that lies inside the surface and its clip; true when any pixel
// changed. For the short runs of discs and glyphs, whose callers answer the box of the whole
// shape when anything in it changed: the run writer's set-up and exact rectangle would cost more
// than the pixels.
inline bool PaintRun(std::uint32_t* row, int x0, int x1, std::uint32_t color) {
  const std::uint64_t pair = std::uint64_t{color} << 32 | color;
  std::uint64_t differ = 0;
  int x = x0;
  for (; x + 1 <= x1; x += 2) {  // two pixels per load and store
    std::uint64_t two;
    std::memcpy(&two, row + x, sizeof two);
    differ |= two ^ pair;
    std::memcpy(row + x, &pair, sizeof pair);
  }
  if (x == x1) {
    differ |= row[x] ^ color;
    row[x] = color;
  }
  return differ != 0;
}

// Whether the 3-pixel-wide column block at p (rows `stride` apart) is all `color`: no branch per
// row, since the board's frame redrawn every step is almost always already there.
inline bool SameColumns3(const std::uint32_t* p, std::ptrdiff_t stride, int rows,
                         std::uint32_t color) {
  const std::uint64_t pair = std::uint64_t{color} << 32 | color;
  auto row = [pair, color](const std::uint32_t* q) {
    std::uint64_t two;
    std::memcpy(&two, q, sizeof two);
    return (two ^ pair) | (q[2] ^ color);
  };
  std::uint64_t differ = 0;
  int i = 0;
  for (; i + 4 <= rows; i += 4, p += 4 * stride) {  // four rows per turn of the loop
    differ |= row(p) | row(p + stride) | row(p + 2 * stride) | row(p + 3 * stride);
  }
  for (; i < rows; ++i, p += stride) differ |= row(p);
  return differ == 0;
}

// A block of pixels (absolute, ordered), each combined once with the surface by the write mode,
// cut to the area: a thick axis-aligned line, a glyph's run of ink at a text size above 1. Narrow
// blocks (a thick vertical line is three pixels wide) are compared row by row without the run
// writer's set-up.
inline Rect WriteBlock(BackingImage& image, const Rect& area, Rect block, std::uint32_t color,
                       std::int16_t mode) {
  block = Rect{std::max(block.x0, area.x0), std::max(block.y0, area.y0),
               std::min(block.x1, area.x1), std::min(block.y1, area.y1)};
  if (block.Empty()) return Rect{};
  const int width = block.x1 - block.x0 + 1;
  if (mode != CopyPut || width > 8) {
    Rect changed;
    for (int y = block.y0; y <= block.y1; ++y) {
      changed = Union(changed, WriteRow(image, area, block.x0, block.x1, y, color, mode));
    }
    return changed;
  }
  if (width == 3 &&
      SameColumns3(image.Row(block.y0) + block.x0, image.Width, block.y1 - block.y0 + 1, color)) {
    return Rect{};
  }
  int top = -1, bottom = -1;
  auto rows = [&](auto same) {
    std::uint32_t* p = image.Row(block.y0) + block.x0;
    for (int y = block.y0; y <= block.y1; ++y, p += image.Width) {
      if (same(p)) continue;
      for (int k = 0; k < width; ++k) p[k] = color;
      if (top < 0) top = y;
      bottom = y;
    }
  };
  if (width == 3) {
    rows([color](const std::uint32_t* p) {
      return ((p[0] ^ color) | (p[1] ^ color) | (p[2] ^ color)) == 0;
    });
  } else {
    rows([color, width](const std::uint32_t* p) { return FirstOther(p, width, color) == width; });
  }
  return top < 0 ? Rect{} : Rect{block.x0, top, block.x1, bottom};
}

// A vertical run y0..y1 (ordered) in column x, combined with the surface by the write mode.
inline Rect WriteColumn(BackingImage& image, const Rect& area, int x, int y0, int y1,
                        std::uint32_t color, std::int16_t mode) {
  if (!ClipColumn(area, x, y0, y1)) return Rect{};
  const auto [first, last] = CombineRun(image.Row(y0) + x, y1 - y0 + 1, image.Width, color, mode);
  return first > last ? Rect{} : Rect{x, y0 + first, x, y0 + last};
}

// A run of a fill pattern's row (copy): ink where a bit of `bits` is set, background where not;
// bit 7 is x mod 8 = 0.
inline Rect WritePatternRow(BackingImage& image, const Rect& area, int x0, int x1, int y,
                            std::uint8_t bits, std::uint32_t ink, std::uint32_t background) {
  if (bits == 0x00 || bits == 0xFF) {
    return WriteRow(image, area, x0, x1, y, bits == 0 ? background : ink, CopyPut);
  }
  if (!ClipRun(area, x0, x1, y)) return Rect{};
  std::uint32_t* row = image.Row(y);
  int first = x1 + 1, last = x0 - 1;
  for (int x = x0; x <= x1; ++x) {
    const std::uint32_t color = (bits & (0x80 >> (x & 7))) ? ink : background;
    if (row[x] == color) continue;
    row[x] = color;
    first = std::min(first, x);
    last = x;
  }
  return first > last ? Rect{} : Rect{first, y, last, y};
}

}  // namespace gfx
