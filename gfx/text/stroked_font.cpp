#include <algorithm>
#include <cassert>
#include <cmath>
#include <fstream>
#include <iterator>
#include <optional>

#include "gfx/core/hooks.h"
#include "gfx/core/layer.h"
#include "gfx/text/font.h"

namespace gfx {
namespace {

constexpr std::size_t kHeaderBlockSize = 128;
constexpr std::size_t kFontHeaderSize = 16;
constexpr std::uint8_t kHeaderTextEnd = 0x1A;
constexpr std::array<std::uint8_t, 4> kFileMagic = {0x50, 0x4B, 0x08, 0x08};
constexpr std::uint8_t kSignature = '+';
constexpr std::size_t kMaxNameLength = 8;
// Offsets into the stroke data are 16-bit, so nothing past this size can ever be reached; the cap
// keeps a huge stray file from being read whole.
constexpr std::size_t kMaxFileSize = kHeaderBlockSize + kFontHeaderSize + 3 * 256 + 65536 + 2;

struct FontTable {
  std::array<StrokedFont, kMaxFonts + 1> Entries;  // entry 0 stands for the bitmap font
  int Installed = 0;

  int Add(std::string_view name) {
    ++Installed;
    Entries[Installed].Name = std::string(name.substr(0, kMaxNameLength));
    return Installed;
  }
};

FontTable& Table() {
  static FontTable table = [] {
    FontTable fresh;
    for (auto name :
         {"TRIP", "LITT", "SANS", "GOTH", "SCRI", "SIMP", "TSCR", "LCOM", "EURO", "BOLD"})
      fresh.Add(name);
    return fresh;
  }();
  return table;
}

// The path given to InitGraph comes with a backslash as its directory separator; this system's
// separator is '/'.
std::string FontFilePath(const std::string& name) {
  std::string path = Mode().DriverPath;
  std::replace(path.begin(), path.end(), '\\', '/');
  return path + name + ".CHR";
}

std::vector<std::uint8_t> ReadCapped(std::ifstream& file) {
  std::vector<std::uint8_t> bytes;
  std::istreambuf_iterator<char> it(file), end;
  for (; it != end && bytes.size() < kMaxFileSize; ++it)
    bytes.push_back(static_cast<std::uint8_t>(*it));
  return bytes;
}

// Fills `font` from a whole file image; false when the file is not a font or its tables do not fit
// in what was read. Reads nothing outside `bytes`.
bool ParseFont(const std::vector<std::uint8_t>& bytes, StrokedFont& font) {
  const std::size_t tablesAt = kHeaderBlockSize + kFontHeaderSize;
  if (bytes.size() < tablesAt) return false;
  if (!std::equal(kFileMagic.begin(), kFileMagic.end(), bytes.begin())) return false;

  const auto blockEnd = bytes.begin() + kHeaderBlockSize;
  const auto textEnd = std::find(bytes.begin(), blockEnd, kHeaderTextEnd);
  if (textEnd != blockEnd) {
    const std::size_t from = static_cast<std::size_t>(textEnd - bytes.begin()) + 1;
    const std::size_t count = std::min<std::size_t>(font.HeaderTail.size(), bytes.size() - from);
    std::copy_n(bytes.begin() + from, count, font.HeaderTail.begin());
  }

  std::copy_n(bytes.begin() + kHeaderBlockSize, kFontHeaderSize, font.Header.begin());
  if (font.Header[0] != kSignature) return false;
  font.CharCount = font.Header[1] | (font.Header[2] << 8);
  font.FirstChar = font.Header[4];
  font.CapitalHeight = static_cast<std::int8_t>(font.Header[8]);
  font.Descender = static_cast<std::int8_t>(font.Header[10]);
  if (font.FirstChar + font.CharCount > 256) return false;

  const std::size_t widthsAt = tablesAt + 2 * static_cast<std::size_t>(font.CharCount);
  const std::size_t strokesAt = widthsAt + font.CharCount;
  if (bytes.size() < strokesAt) return false;
  for (int i = 0; i < font.CharCount; ++i) {
    font.Offsets[font.FirstChar + i] =
        static_cast<std::uint16_t>(bytes[tablesAt + 2 * i] | (bytes[tablesAt + 2 * i + 1] << 8));
    font.Widths[font.FirstChar + i] = bytes[widthsAt + i];
  }
  font.Strokes.assign(bytes.begin() + strokesAt, bytes.end());
  font.Loaded = true;
  return true;
}

// The low 7 bits of a stroke byte as a signed number.
int StrokeCoordinate(std::uint8_t byte) {
  return (byte & 0x40) ? (byte & 0x7F) - 128 : byte & 0x7F;
}

std::int16_t ToCoordinate(float value) {
  return static_cast<std::int16_t>(std::clamp(std::lrint(value), -32768L, 32767L));
}

// A character's stroke list is followed to its end marker or to the end of the loaded data; there
// is no fixed limit on its length. Strokes with only the second top bit set carry no pen action
// and are skipped.
void DrawStrokedGlyph(const StrokedFont& font, std::uint8_t code, float x, float y, bool vertical,
                      float xRatio, float yRatio) {
  std::size_t at = font.Offsets[code];
  float penX = x;
  float penY = y;
  while (at + 1 < font.Strokes.size()) {
    const std::uint8_t first = font.Strokes[at];
    const std::uint8_t second = font.Strokes[at + 1];
    at += 2;
    const bool move = first & 0x80;
    const bool draw = second & 0x80;
    if (!move && !draw) break;
    if (!move) continue;
    const int dx = StrokeCoordinate(first);
    const int dy = StrokeCoordinate(second);
    const float toX = vertical ? x - dy * yRatio : x + dx * xRatio;
    const float toY = vertical ? y - dx * xRatio : y - dy * yRatio;
    if (draw) Line(ToCoordinate(penX), ToCoordinate(penY), ToCoordinate(toX), ToCoordinate(toY));
    penX = toX;
    penY = toY;
  }
}

}  // namespace

const std::array<std::uint8_t, 256>* GraphStringTransTable = nullptr;

StrokedFont& Fonts(int number) {
  assert(number >= 1 && number <= Table().Installed && "font number out of range");
  return Table().Entries[number];
}

int InstalledFonts() {
  return Table().Installed;
}

std::int16_t LoadStrokedFont(int number) {
  StrokedFont& font = Fonts(number);
  std::ifstream file(FontFilePath(font.Name), std::ios::binary);
  if (!file) return grFontNotFound;
  StrokedFont parsed;
  parsed.Name = font.Name;
  if (!ParseFont(ReadCapped(file), parsed)) return grInvalidFont;
  font = std::move(parsed);
  return grOk;
}

std::string ConvertString(std::string_view text) {
  std::string converted(text);
  if (GraphStringTransTable) {
    for (char& c : converted)
      c = static_cast<char>((*GraphStringTransTable)[static_cast<std::uint8_t>(c)]);
  }
  return converted;
}

int StrokedUnitWidth(const StrokedFont& font, std::string_view text) {
  int units = 0;
  for (char c : ConvertString(text)) {
    const auto code = static_cast<std::uint8_t>(c);
    if (font.InRange(code)) units += font.Widths[code];
  }
  return units;
}

void DrawStrokedText(const StrokedFont& font, float x, float y, std::string_view text,
                     bool vertical, float xRatio, float yRatio) {
  DrawState& draw = Draw();
  const LineSettingsType savedLine = draw.LineInfo;
  const auto savedPatterns = draw.LinePatterns;
  draw.LineInfo = {SolidLn, 0xFFFF, NormWidth};
  draw.LinePatterns.fill(true);
  // A glyph is many short strokes: under one hold of the drawing lock, unless a client's Line
  // slot draws them.
  std::optional<LineBatch> batch;
  if (Ops().Line == GenericLine) batch.emplace();
  for (char c : ConvertString(text)) {
    const auto code = static_cast<std::uint8_t>(c);
    if (!font.InRange(code)) continue;
    DrawStrokedGlyph(font, code, x, y, vertical, xRatio, yRatio);
    const float advance = font.Widths[code] * xRatio;
    if (vertical) {
      y -= advance;
    } else {
      x += advance;
    }
  }
  draw.LineInfo = savedLine;
  draw.LinePatterns = savedPatterns;
}

}  // namespace gfx

// Adds a stroked font by name; answers its number, or 0 with grError when 16 are installed.
std::int16_t InstallUserFont(std::string_view name) {
  auto& table = gfx::Table();
  if (table.Installed == gfx::kMaxFonts) {
    gfx::SetResult(grError);
    return 0;
  }
  gfx::SetResult(grOk);
  return static_cast<std::int16_t>(table.Add(name));
}
