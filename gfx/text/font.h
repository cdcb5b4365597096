#pragma once

// The fonts behind text output: the built-in 8x8 bitmap font and the loadable stroked fonts.
// Internal to the text part; used by text.cpp and stroked_font.cpp.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gfx {

// The built-in font: 256 glyphs of 8 rows by 8 columns, 64 bytes per character code, row-major,
// one byte per pixel (1 = ink), column 0 leftmost.
inline constexpr int kGlyphSide = 8;
inline constexpr int kGlyphBytes = kGlyphSide * kGlyphSide;
extern const std::array<std::uint8_t, 256 * kGlyphBytes> DefaultFontData;

inline constexpr int kMaxFonts = 16;

// One installed stroked font; its tables are indexed by character code.
struct StrokedFont {
  std::string Name;                           // at most 8 characters
  std::array<std::uint8_t, 12> HeaderTail{};  // the 12 bytes after the header text's 1A byte
  std::array<std::uint8_t, 16> Header{};
  std::array<std::uint16_t, 256> Offsets{};  // into Strokes
  std::array<std::uint8_t, 256> Widths{};
  int FirstChar = 0;
  int CharCount = 0;
  int CapitalHeight = 0;  // above the baseline
  int Descender = 0;      // below the baseline, as a negative number
  std::vector<std::uint8_t> Strokes;
  bool Loaded = false;

  bool InRange(std::uint8_t code) const {
    return code >= FirstChar && code < FirstChar + CharCount;
  }
};

// Font number 1..InstalledFonts(); the ten standard names are installed from the start.
StrokedFont& Fonts(int number);
int InstalledFonts();

// Reads DriverPath + name + ".CHR" for an installed, unloaded font. Answers grOk,
// grFontNotFound or grInvalidFont; on failure the font stays unloaded.
std::int16_t LoadStrokedFont(int number);

// Maps every character code through GraphStringTransTable when one is set; a copy otherwise.
std::string ConvertString(std::string_view text);
// Empty (null) by default; a client may point it at a 256-entry code map for stroked text.
extern const std::array<std::uint8_t, 256>* GraphStringTransTable;

// The sum of the widths of the characters in the font's range, in font units.
int StrokedUnitWidth(const StrokedFont& font, std::string_view text);

// Draws text with its baseline origin at (x, y), viewport-relative, through the Line operation.
void DrawStrokedText(const StrokedFont& font, float x, float y, std::string_view text,
                     bool vertical, float xRatio, float yRatio);

}  // namespace gfx
