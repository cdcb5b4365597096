#include "gfx/text/text.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "gfx/core/backing_image.h"
#include "gfx/core/layer.h"
#include "gfx/core/palette.h"
#include "gfx/core/writers.h"
#include "gfx/text/font.h"

namespace gfx {
namespace {

constexpr std::uint16_t kMaxBitmapSize = 10;
constexpr std::uint32_t kPureWhite = 0x00FFFFFF;

// A run of ink in one glyph row, in glyph columns.
struct Span {
  std::uint8_t Start = 0;
  std::uint8_t Length = 0;
};

// One glyph row as ink runs; eight columns hold at most four separate runs.
struct GlyphRow {
  std::uint8_t Count = 0;
  std::array<Span, 4> Spans{};
};

using Glyph = std::array<GlyphRow, kGlyphSide>;

// Glyph images, one set per direction, made on first use and kept while the window lives. They
// are plain in-memory run lists built from the font table, so making one cannot fail and there is
// no failure to report.
struct GlyphCache {
  std::array<bool, 256> Made{};
  std::array<Glyph, 256> Glyphs{};
};

struct TextState {
  float XRatio = 1.0f;
  float YRatio = 1.0f;
  // Touched only under GraphDrawing(); emptied when a window was made or went since they were
  // filled (BackingImage::WindowChanges).
  GlyphCache Horizontal;
  GlyphCache Vertical;
  std::uint32_t CachesForWindow = 0;
};

TextState& Text() {
  static TextState state;
  return state;
}

bool FontPixel(std::uint8_t code, int row, int column) {
  return DefaultFontData[code * kGlyphBytes + row * kGlyphSide + column] != 0;
}

// Vertical glyphs are the upright ones turned a quarter turn anticlockwise: the top row becomes
// the left column, read from the bottom up.
Glyph MakeGlyph(std::uint8_t code, bool vertical) {
  Glyph glyph;
  for (int row = 0; row < kGlyphSide; ++row) {
    GlyphRow& runs = glyph[row];
    for (int column = 0; column < kGlyphSide; ++column) {
      const bool ink =
          vertical ? FontPixel(code, column, kGlyphSide - 1 - row) : FontPixel(code, row, column);
      if (!ink) continue;
      if (runs.Count > 0) {
        Span& last = runs.Spans[runs.Count - 1];
        if (last.Start + last.Length == column) {
          ++last.Length;
          continue;
        }
      }
      runs.Spans[runs.Count++] = {static_cast<std::uint8_t>(column), 1};
    }
  }
  return glyph;
}

// The caches live with the window: a new window, or none, starts them empty.
void FollowWindow(const BackingImage& image) {
  TextState& text = Text();
  if (text.CachesForWindow == image.WindowChanges) return;
  text.Horizontal.Made.fill(false);
  text.Vertical.Made.fill(false);
  text.CachesForWindow = image.WindowChanges;
}

const Glyph& CachedGlyph(std::uint8_t code, bool vertical) {
  GlyphCache& cache = vertical ? Text().Vertical : Text().Horizontal;
  if (!cache.Made[code]) {
    cache.Glyphs[code] = MakeGlyph(code, vertical);
    cache.Made[code] = true;
  }
  return cache.Glyphs[code];
}

// Writes one glyph, scaled by pixel replication, with its cell's top-left corner at (cellX,
// cellY) in image coordinates; ink only, cut to `clip`. A cell wholly inside the clip needs no
// cutting.
void PutGlyph(BackingImage& image, const Glyph& glyph, int cellX, int cellY, int size,
              const Rect& clip, std::uint32_t ink, Rect& drawn) {
  const int cell = kGlyphSide * size;
  const Rect whole{cellX, cellY, cellX + cell - 1, cellY + cell - 1};
  if (clip.Contains(whole)) {
    bool changed = false;
    for (int row = 0; row < kGlyphSide; ++row) {
      const GlyphRow& runs = glyph[row];
      for (int i = 0; i < runs.Count; ++i) {
        const int left = cellX + runs.Spans[i].Start * size;
        const int right = left + runs.Spans[i].Length * size - 1;
        for (int y = cellY + row * size; y < cellY + row * size + size; ++y) {
          changed |= PaintRun(image.Row(y), left, right, ink);
        }
      }
    }
    if (changed) drawn = Union(drawn, whole);
    return;
  }
  for (int row = 0; row < kGlyphSide; ++row) {
    const GlyphRow& runs = glyph[row];
    const int top = cellY + row * size;
    for (int i = 0; i < runs.Count; ++i) {
      const int left = cellX + runs.Spans[i].Start * size;
      const int right = cellX + (runs.Spans[i].Start + runs.Spans[i].Length) * size - 1;
      drawn = Union(drawn,
                    WriteBlock(image, clip, Rect{left, top, right, top + size - 1}, ink, CopyPut));
    }
  }
}

// Bitmap text from its start point (viewport-relative): the first cell's top-left corner for
// horizontal text, the first cell's bottom-left corner for vertical text.
void DrawBitmapText(int x, int y, std::string_view text, const TextSettingsType& info) {
  const ViewPort& view = Draw().View;
  if (x < 0 || y < 0 || x > view.Width || y > view.Height) return;
  const bool vertical = info.Direction == VertDir;
  const int size = info.CharSize;
  const int cell = kGlyphSide * size;
  const std::uint16_t color = Draw().CurrentColor;
  Rect drawn;
  {
    DrawingHold hold;
    if (!hold.Drawable()) return;
    BackingImage& image = hold.Image();
    FollowWindow(image);
    // Text is cut to the viewport whatever the clipping setting.
    const Rect clip = WriteArea(image, true);
    if (clip.Empty()) return;
    // Colour 15 is drawn as pure white rather than its palette entry.
    const std::uint32_t ink = color == White ? kPureWhite : ScreenColor(color);
    const int originX = x + view.StartX;
    const int originY = y + view.StartY;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const int step = cell * static_cast<int>(i);
      const int cellX = vertical ? originX : originX + step;
      const int cellY = vertical ? originY - step - cell + 1 : originY;
      if (cellX > clip.x1 || cellY + cell - 1 < clip.y0) break;
      const auto code = static_cast<std::uint8_t>(text[i]);
      PutGlyph(image, CachedGlyph(code, vertical), cellX, cellY, size, clip, ink, drawn);
    }
    hold.Changed(drawn);
  }
}

bool IsStroked(const TextSettingsType& info) {
  return info.Font != DefaultFont;
}

// How far a stroked font's baseline lies below the top (0), middle (1) or bottom (2) of its
// capital-to-descender box, in pixels; the box edge or middle is what justification places.
std::int16_t BaselineShift(const StrokedFont& font, int where) {
  const float ratio = Text().YRatio;
  const float cap = static_cast<float>(font.CapitalHeight);
  const float desc = static_cast<float>(font.Descender);
  const float shift = where == 0   ? cap * ratio
                      : where == 1 ? (cap + desc) * ratio / 2
                                   : desc * ratio;
  return static_cast<std::int16_t>(std::lrint(shift));
}

// Position 0, 1 or 2 along a length: its start, middle or end. An end beyond the coordinate range
// stays at its limit, which still puts the start outside any viewport, rather than wrapping round.
std::int16_t Along(std::uint16_t length, std::uint16_t where) {
  const int at = where == CenterText ? length / 2 : where == 2 ? length : 0;
  return static_cast<std::int16_t>(std::min(at, 32767));
}

// Bitmap text at the sizes a failed stroked-font load leaves can measure past 16 bits; such a
// measure stays at the largest value instead of wrapping to a small one.
std::uint16_t Saturated(std::size_t pixels) {
  return static_cast<std::uint16_t>(std::min<std::size_t>(pixels, 0xFFFF));
}

}  // namespace

void WindowOutTextXY(std::int16_t x, std::int16_t y, std::string_view text) {
  const TextSettingsType info = Draw().TextInfo;
  std::int16_t xOffset = 0;
  std::int16_t yOffset = 0;
  GetTextPosition(text, xOffset, yOffset);
  const int startX = x - xOffset;
  const int startY = y + yOffset;
  if (!IsStroked(info)) {
    DrawBitmapText(startX, startY, text, info);
    return;
  }
  DrawStrokedText(Fonts(info.Font), static_cast<float>(startX), static_cast<float>(startY), text,
                  info.Direction == VertDir, Text().XRatio, Text().YRatio);
}

}  // namespace gfx

using gfx::Draw;

// Chooses font, direction and size for later text; loads a stroked font's file on its first use.
// Called by screens before they draw text.
void SetTextStyle(std::uint16_t font, std::uint16_t direction, std::uint16_t charSize) {
  if (font > gfx::InstalledFonts()) {
    gfx::SetResult(grInvalidFontNum);
    return;
  }
  const std::uint16_t requested = charSize;
  TextSettingsType& info = Draw().TextInfo;
  info.Font = font;
  info.Direction = direction == VertDir ? VertDir : HorizDir;
  if (font == DefaultFont) charSize = std::min(charSize, gfx::kMaxBitmapSize);
  info.CharSize = std::max<std::uint16_t>(charSize, 1);

  static constexpr float kScales[] = {0.55f, 0.65f, 0.75f, 1.0f, 1.3f,
                                      1.65f, 2.0f,  2.5f,  3.0f, 4.0f};
  if (requested >= 1 && requested <= 10) {
    gfx::Text().XRatio = kScales[requested - 1];
    gfx::Text().YRatio = kScales[requested - 1];
  }

  if (font == DefaultFont || gfx::Fonts(font).Loaded) return;
  const std::int16_t loaded = gfx::LoadStrokedFont(font);
  if (loaded == grOk) return;
  gfx::SetResult(loaded);
  // The bitmap font takes over at the size asked for the stroked one, even above the bitmap
  // font's own cap of 10: measuring and drawing stay sound at any size.
  info.Font = DefaultFont;
}

// Sets where the point given to OutTextXY lies on the text; called by screens that align text.
void SetTextJustify(std::uint16_t horiz, std::uint16_t vert) {
  if (horiz > RightText || vert > TopText) {
    gfx::SetResult(grError);
    return;
  }
  Draw().TextInfo.Horiz = horiz;
  Draw().TextInfo.Vert = vert;
}

// Reads the text settings.
void GetTextSettings(TextSettingsType& settings) {
  settings = Draw().TextInfo;
}

// The width in pixels the text would take in the current style; called to lay out text.
std::uint16_t TextWidth(std::string_view text) {
  const TextSettingsType& info = Draw().TextInfo;
  if (!gfx::IsStroked(info)) return gfx::Saturated(text.size() * gfx::kGlyphSide * info.CharSize);
  const float units = static_cast<float>(gfx::StrokedUnitWidth(gfx::Fonts(info.Font), text));
  return static_cast<std::uint16_t>(std::lrint(units * gfx::Text().XRatio));
}

// The height in pixels of text in the current style; called to lay out text.
std::uint16_t TextHeight(std::string_view) {
  const TextSettingsType& info = Draw().TextInfo;
  if (!gfx::IsStroked(info)) return gfx::Saturated(std::size_t{gfx::kGlyphSide} * info.CharSize);
  const gfx::StrokedFont& font = gfx::Fonts(info.Font);
  const float units = static_cast<float>(font.CapitalHeight - font.Descender);
  return static_cast<std::uint16_t>(units * gfx::Text().YRatio);
}

// The offsets OutTextXY applies for the current justification: it starts drawing at
// (x - xOffset, y + yOffset). Bitmap text starts at its first cell's top-left corner
// (horizontal) or bottom-left corner (vertical, reading upwards); stroked text at the baseline.
void GetTextPosition(std::string_view text, std::int16_t& xOffset, std::int16_t& yOffset) {
  const TextSettingsType& info = Draw().TextInfo;
  const std::uint16_t width = TextWidth(text);
  const std::uint16_t height = TextHeight(text);
  const bool vertical = info.Direction == VertDir;
  if (!gfx::IsStroked(info)) {
    xOffset = gfx::Along(vertical ? height : width, info.Horiz);
    // Vertical text grows upwards from its start, horizontal text downwards.
    yOffset = vertical ? gfx::Along(width, info.Vert)
                       : static_cast<std::int16_t>(gfx::Along(height, info.Vert) - height);
    return;
  }
  // Justification names the edge of the text box; for stroked fonts left/top is the capital side.
  const gfx::StrokedFont& font = gfx::Fonts(info.Font);
  if (vertical) {
    xOffset = static_cast<std::int16_t>(-gfx::BaselineShift(font, info.Horiz));
    yOffset = gfx::Along(width, info.Vert);
  } else {
    xOffset = gfx::Along(width, info.Horiz);
    yOffset = gfx::BaselineShift(font, 2 - info.Vert);
  }
}
