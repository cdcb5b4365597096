#include "gfx/core/palette.h"

#include <vector>

#include "gfx/core/constinit.h"
#include "gfx/core/hooks.h"
#include "gfx/core/layer.h"

namespace gfx {
namespace {

using Ramp = std::array<std::uint16_t, 5>;

// Entry k of a ring of 24 hues runs blue → magenta → red → yellow → green → cyan → blue, with the
// ramp's lowest value as the floor and its highest as the full component.
constexpr RGBColor RingEntry(const Ramp& r, int k) {
  auto c = [](int red, int green, int blue) {
    return RGBColor{static_cast<std::uint16_t>(red), static_cast<std::uint16_t>(green),
                    static_cast<std::uint16_t>(blue)};
  };
  if (k == 0) return c(r[0], r[0], r[4]);
  if (k <= 4) return c(r[k], r[0], r[4]);
  if (k <= 8) return c(r[4], r[0], r[8 - k]);
  if (k <= 12) return c(r[4], r[k - 8], r[0]);
  if (k <= 16) return c(r[16 - k], r[4], r[0]);
  if (k <= 20) return c(r[0], r[4], r[k - 16]);
  return c(r[0], r[24 - k], r[4]);
}

constexpr std::array<RGBColor, 256> MakeDefaultColors() {
  std::array<RGBColor, 256> colors{};
  constexpr std::array<RGBColor, 16> kClassic{{{0, 0, 0},
                                               {0, 0, 168},
                                               {0, 168, 0},
                                               {0, 168, 168},
                                               {168, 0, 0},
                                               {168, 0, 168},
                                               {168, 84, 0},
                                               {168, 168, 168},
                                               {84, 84, 84},
                                               {84, 84, 252},
                                               {84, 252, 84},
                                               {84, 252, 252},
                                               {252, 84, 84},
                                               {252, 84, 252},
                                               {252, 252, 84},
                                               {252, 252, 252}}};
  constexpr std::array<std::uint16_t, 16> kGreys{0,   20,  32,  44,  56,  68,  80,  96,
                                                 112, 128, 144, 160, 180, 200, 224, 252};
  constexpr std::array<Ramp, 9> kRamps{{{0, 64, 124, 188, 252},
                                        {124, 156, 188, 220, 252},
                                        {180, 196, 216, 232, 252},
                                        {0, 28, 56, 84, 112},
                                        {56, 68, 84, 96, 112},
                                        {80, 88, 96, 104, 112},
                                        {0, 16, 32, 48, 64},
                                        {32, 40, 48, 56, 64},
                                        {44, 48, 52, 60, 64}}};
  for (int i = 0; i < 16; ++i) colors[i] = kClassic[i];
  for (int i = 0; i < 16; ++i) colors[16 + i] = RGBColor{kGreys[i], kGreys[i], kGreys[i]};
  for (int ring = 0; ring < 9; ++ring) {
    for (int k = 0; k < 24; ++k) colors[32 + 24 * ring + k] = RingEntry(kRamps[ring], k);
  }
  // 248..255 stay black.
  return colors;
}

constexpr std::array<RGBColor, 256> kDefaultColors = MakeDefaultColors();

constexpr std::uint32_t Packed(RGBColor c) {
  return (static_cast<std::uint32_t>(c.Red & 0xFF) << 16) |
         (static_cast<std::uint32_t>(c.Green & 0xFF) << 8) | (c.Blue & 0xFFu);
}

// Pal and its packed screen colours; the program's thread alone touches them.
struct PaletteState {
  std::vector<RGBColor> Entries;
  std::vector<std::uint32_t> Screen;
};

SNAKE_CONSTINIT PaletteState pal;

PaletteState& Pal() {
  return pal;
}

bool ValidIndex(std::int16_t index) {
  const ModeState& mode = Mode();
  return !mode.DirectColor && index >= 0 && index < static_cast<int>(Pal().Entries.size());
}

}  // namespace

const std::array<RGBColor, 256>& DefaultColors() {
  return kDefaultColors;
}

void AllocatePalette(int count) {
  PaletteState& pal = Pal();
  pal.Entries.assign(kDefaultColors.begin(), kDefaultColors.begin() + count);
  pal.Screen.resize(pal.Entries.size());
  for (std::size_t i = 0; i < pal.Entries.size(); ++i) pal.Screen[i] = Packed(pal.Entries[i]);
}

void FreePalette() {
  Pal().Entries.clear();
  Pal().Screen.clear();
}

void SetPaletteEntry(int index, RGBColor color) {
  PaletteState& pal = Pal();
  if (index < 0 || index >= static_cast<int>(pal.Entries.size())) return;
  pal.Entries[index] = color;
  pal.Screen[index] = Packed(color);
}

std::uint32_t ScreenColor(std::uint16_t color) {
  const std::vector<std::uint32_t>& screen = Pal().Screen;
  if (color < screen.size()) return screen[color];
  return screen.empty() ? 0 : screen[color % screen.size()];
}

// Components are 8-bit registers: larger values keep their low byte.
void WindowSetRGBPalette(std::int16_t index, std::int16_t red, std::int16_t green,
                         std::int16_t blue) {
  if (!ValidIndex(index)) {
    SetResult(grError);
    return;
  }
  SetPaletteEntry(index, RGBColor{static_cast<std::uint16_t>(red & 0xFF),
                                  static_cast<std::uint16_t>(green & 0xFF),
                                  static_cast<std::uint16_t>(blue & 0xFF)});
}

void WindowGetRGBPalette(std::int16_t index, std::int16_t& red, std::int16_t& green,
                         std::int16_t& blue) {
  if (!ValidIndex(index)) {
    SetResult(grError);
    return;
  }
  const RGBColor c = Pal().Entries[index];
  red = static_cast<std::int16_t>(c.Red);
  green = static_cast<std::int16_t>(c.Green);
  blue = static_cast<std::int16_t>(c.Blue);
}

std::uint16_t PaletteIndexOf(std::uint32_t screen) {
  // Exact match first; otherwise the nearest entry, so pure-white text reads back as White.
  const std::vector<std::uint32_t>& pal = Pal().Screen;
  std::uint16_t best = 0;
  long bestDistance = -1;
  for (std::size_t i = 0; i < pal.size(); ++i) {
    if (pal[i] == screen) return static_cast<std::uint16_t>(i);
    long distance = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      const long d = static_cast<long>((pal[i] >> shift) & 0xFF) - ((screen >> shift) & 0xFF);
      distance += d * d;
    }
    if (bestDistance < 0 || distance < bestDistance) {
      bestDistance = distance;
      best = static_cast<std::uint16_t>(i);
    }
  }
  return best;
}

}  // namespace gfx

using gfx::Draw;
using gfx::Mode;
using gfx::Ops;

void SetRGBPalette(std::int16_t index, std::int16_t red, std::int16_t green, std::int16_t blue) {
  Ops().SetRGBPalette(index, red, green, blue);
}

void GetRGBPalette(std::int16_t index, std::int16_t& red, std::int16_t& green, std::int16_t& blue) {
  Ops().GetRGBPalette(index, red, green, blue);
}

void SetBkColor(std::uint16_t color) {
  Draw().CurrentBkColor = color;
  if (!Mode().DirectColor && color < 256) gfx::SetPaletteEntry(0, gfx::DefaultColors()[color]);
}

std::uint16_t GetBkColor() {
  return Draw().CurrentBkColor;
}
