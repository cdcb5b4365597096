#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/text/font.h"
#include "tests/support/headless_graph.h"
#include "tests/support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using gfx::inspect::Pixel;

constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kPureWhite = 0xFFFFFF;

// The printable glyphs as their rows are published, written out independently of the layer's
// own table so that a slip in either one shows.
const char* const kExpectedRows[95] = {
    "00 00 00 00 00 00 00 00",  // 32
    "30 78 78 78 30 00 30 00",  // 33
    "6C 6C 6C 00 00 00 00 00",  // 34
    "6C 6C FE 6C FE 6C 6C 00",  // 35
    "30 7C C0 78 0C F8 30 00",  // 36
    "00 C6 CC 18 30 66 C6 00",  // 37
    "38 6C 38 76 DC CC 76 00",  // 38
    "60 60 C0 00 00 00 00 00",  // 39
    "18 30 60 60 60 30 18 00",  // 40
    "60 30 18 18 18 30 60 00",  // 41
    "00 66 3C FF 3C 66 00 00",  // 42
    "00 30 30 FC 30 30 00 00",  // 43
    "00 00 00 00 00 30 30 60",  // 44
    "00 00 00 FC 00 00 00 00",  // 45
    "00 00 00 00 00 30 30 00",  // 46
    "06 0C 18 30 60 C0 80 00",  // 47
    "7C C6 C6 C6 C6 C6 7C 00",  // 48
    "30 70 30 30 30 30 FC 00",  // 49
    "78 CC 0C 38 60 CC FC 00",  // 50
    "78 CC 0C 38 0C CC 78 00",  // 51
    "1C 3C 6C CC FE 0C 1E 00",  // 52
    "FC C0 F8 0C 0C CC 78 00",  // 53
    "38 60 C0 F8 CC CC 78 00",  // 54
    "FC CC 0C 18 30 30 30 00",  // 55
    "78 CC CC 78 CC CC 78 00",  // 56
    "78 CC CC 7C 0C 18 70 00",  // 57
    "00 30 30 00 00 30 30 00",  // 58
    "00 30 30 00 00 30 30 60",  // 59
    "18 30 60 C0 60 30 18 00",  // 60
    "00 00 FC 00 00 FC 00 00",  // 61
    "60 30 18 0C 18 30 60 00",  // 62
    "78 CC 0C 18 30 00 30 00",  // 63
    "7C C6 DE DE DE C0 78 00",  // 64
    "38 6C C6 C6 FE C6 C6 00",  // 65
    "FC C6 C6 FC C6 C6 FC 00",  // 66
    "7C C6 C6 C0 C0 C6 7C 00",  // 67
    "F8 CC C6 C6 C6 CC F8 00",  // 68
    "FE C0 C0 FC C0 C0 FE 00",  // 69
    "FE C0 C0 FC C0 C0 C0 00",  // 70
    "7C C6 C0 CE C6 C6 7E 00",  // 71
    "C6 C6 C6 FE C6 C6 C6 00",  // 72
    "78 30 30 30 30 30 78 00",  // 73
    "1E 06 06 06 C6 C6 7C 00",  // 74
    "C6 CC D8 F0 D8 CC C6 00",  // 75
    "C0 C0 C0 C0 C0 C0 FE 00",  // 76
    "C6 EE FE D6 C6 C6 C6 00",  // 77
    "C6 E6 F6 DE CE C6 C6 00",  // 78
    "7C C6 C6 C6 C6 C6 7C 00",  // 79
    "FC C6 C6 FC C0 C0 C0 00",  // 80
    "7C C6 C6 C6 C6 C6 7C 06",  // 81
    "FC C6 C6 FC C6 C6 C6 00",  // 82
    "78 CC 60 30 18 CC 78 00",  // 83
    "FC 30 30 30 30 30 30 00",  // 84
    "C6 C6 C6 C6 C6 C6 7C 00",  // 85
    "C6 C6 C6 C6 C6 6C 38 00",  // 86
    "C6 C6 C6 D6 FE EE C6 00",  // 87
    "C6 C6 6C 38 6C C6 C6 00",  // 88
    "C3 C3 66 3C 18 18 18 00",  // 89
    "FE 0C 18 30 60 C0 FE 00",  // 90
    "3C 30 30 30 30 30 3C 00",  // 91
    "C0 60 30 18 0C 06 03 00",  // 92
    "3C 0C 0C 0C 0C 0C 3C 00",  // 93
    "00 38 6C C6 00 00 00 00",  // 94
    "00 00 00 00 00 00 00 FF",  // 95
    "30 30 18 00 00 00 00 00",  // 96
    "00 00 7C 06 7E C6 7E 00",  // 97
    "C0 C0 FC C6 C6 E6 DC 00",  // 98
    "00 00 7C C6 C0 C0 7E 00",  // 99
    "06 06 7E C6 C6 CE 76 00",  // 100
    "00 00 7C C6 FE C0 7E 00",  // 101
    "1E 30 7C 30 30 30 30 00",  // 102
    "00 00 7E C6 CE 76 06 7C",  // 103
    "C0 C0 FC C6 C6 C6 C6 00",  // 104
    "18 00 38 18 18 18 3C 00",  // 105
    "18 00 38 18 18 18 18 F0",  // 106
    "C0 C0 CC D8 F0 D8 CC 00",  // 107
    "38 18 18 18 18 18 3C 00",  // 108
    "00 00 CC FE D6 C6 C6 00",  // 109
    "00 00 FC C6 C6 C6 C6 00",  // 110
    "00 00 7C C6 C6 C6 7C 00",  // 111
    "00 00 FC C6 C6 E6 DC C0",  // 112
    "00 00 7E C6 C6 CE 76 06",  // 113
    "00 00 6E 70 60 60 60 00",  // 114
    "00 00 7C C0 7C 06 FC 00",  // 115
    "30 30 7C 30 30 30 1C 00",  // 116
    "00 00 C6 C6 C6 C6 7E 00",  // 117
    "00 00 C6 C6 C6 6C 38 00",  // 118
    "00 00 C6 C6 D6 FE 6C 00",  // 119
    "00 00 C6 6C 38 6C C6 00",  // 120
    "00 00 C6 C6 CE 76 06 7C",  // 121
    "00 00 FC 18 30 60 FC 00",  // 122
    "1C 30 30 E0 30 30 1C 00",  // 123
    "18 18 18 00 18 18 18 00",  // 124
    "E0 30 30 1C 30 30 E0 00",  // 125
    "76 DC 00 00 00 00 00 00",  // 126
};

std::array<std::uint8_t, 8> ExpectedGlyph(unsigned char code) {
  std::array<std::uint8_t, 8> rows{};
  if (code < 32 || code > 126) return rows;
  std::istringstream text(kExpectedRows[code - 32]);
  for (auto& row : rows) {
    unsigned value = 0;
    text >> std::hex >> value;
    row = static_cast<std::uint8_t>(value);
  }
  return rows;
}

bool ExpectedInk(unsigned char code, int row, int column) {
  return (ExpectedGlyph(code)[row] >> (7 - column)) & 1;
}

// Checks horizontal text whose first cell's top-left corner is (x, y) in image coordinates, cell
// by cell, against the published glyphs scaled by `size`; pixels outside `visible` must be black.
void ExpectHorizontalText(int x, int y, const std::string& text, int size, std::uint32_t ink,
                          const Box& visible = {0, 0, 1 << 20, 1 << 20}) {
  const int cell = 8 * size;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto code = static_cast<unsigned char>(text[i]);
    int wrong = 0;
    for (int py = 0; py < cell; ++py) {
      for (int px = 0; px < cell; ++px) {
        const int ax = x + cell * static_cast<int>(i) + px;
        const int ay = y + py;
        if (ax < 0 || ay < 0 || ax >= gfx::inspect::Width() || ay >= gfx::inspect::Height())
          continue;
        const bool inked = visible.Contains(ax, ay) && ExpectedInk(code, py / size, px / size);
        if (Pixel(ax, ay) != (inked ? ink : kBlack)) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << "character '" << text[i] << "' (" << int(code) << ") at index " << i;
  }
}

// A vertical cell: glyph turned a quarter turn anticlockwise, top-left corner (x, y).
void ExpectVerticalCell(int x, int y, unsigned char code, std::uint32_t ink) {
  int wrong = 0;
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c)
      if (Pixel(x + c, y + r) != (ExpectedInk(code, c, 7 - r) ? ink : kBlack)) ++wrong;
  EXPECT_EQ(wrong, 0) << "vertical character " << int(code) << " at " << x << "," << y;
}

using TextTest = HeadlessGraph;

TEST_F(TextTest, EveryPrintableGlyphMatchesThePublishedRows) {
  // Each glyph in its own 10x10 slot, so spill into the neighbouring two pixels shows too.
  for (int code = 32; code <= 126; ++code) {
    const int slot = code - 32;
    OutTextXY(static_cast<std::int16_t>(10 * (slot % 32)),
              static_cast<std::int16_t>(10 * (slot / 32)), std::string(1, static_cast<char>(code)));
  }
  for (int code = 32; code <= 126; ++code) {
    const int slot = code - 32;
    const int x = 10 * (slot % 32);
    const int y = 10 * (slot / 32);
    int wrong = 0;
    for (int py = 0; py < 10; ++py)
      for (int px = 0; px < 10; ++px) {
        const bool inked =
            px < 8 && py < 8 && ExpectedInk(static_cast<unsigned char>(code), py, px);
        if (Pixel(x + px, y + py) != (inked ? kPureWhite : kBlack)) ++wrong;
      }
    EXPECT_EQ(wrong, 0) << "glyph " << code << " '" << static_cast<char>(code) << "'";
  }
}

TEST_F(TextTest, SizesScaleCellsByPixelReplication) {
  SetTextStyle(DefaultFont, HorizDir, 2);
  EXPECT_EQ(TextWidth("Quit"), 64);
  EXPECT_EQ(TextHeight("Quit"), 16);
  OutTextXY(100, 50, "Quit");
  ExpectHorizontalText(100, 50, "Quit", 2, kPureWhite);
  EXPECT_EQ(InkOutside({100, 50, 163, 65}), 0);

  ClearDevice();
  SetTextStyle(DefaultFont, HorizDir, 3);
  EXPECT_EQ(TextWidth("MW"), 48);
  OutTextXY(10, 300, "MW");
  ExpectHorizontalText(10, 300, "MW", 3, kPureWhite);
  EXPECT_EQ(InkOutside({10, 300, 57, 323}), 0);

  ClearDevice();
  SetTextStyle(DefaultFont, HorizDir, 10);
  OutTextXY(0, 0, "g@");
  ExpectHorizontalText(0, 0, "g@", 10, kPureWhite);
}

TEST_F(TextTest, StyleArgumentsAreBroughtIntoRange) {
  TextSettingsType settings{};
  SetTextStyle(DefaultFont, HorizDir, 20);
  GetTextSettings(settings);
  EXPECT_EQ(settings.CharSize, 10);
  EXPECT_EQ(TextWidth("A"), 80);

  SetTextStyle(DefaultFont, HorizDir, 0);
  GetTextSettings(settings);
  EXPECT_EQ(settings.CharSize, 1);

  SetTextStyle(DefaultFont, 5, 2);
  GetTextSettings(settings);
  EXPECT_EQ(settings.Direction, HorizDir);
  EXPECT_EQ(settings.CharSize, 2);
  EXPECT_EQ(GraphResult(), grOk);
}

TEST_F(TextTest, UnknownFontNumberChangesNothing) {
  SetTextStyle(DefaultFont, VertDir, 3);
  SetTextJustify(CenterText, BottomText);
  for (int font : {gfx::InstalledFonts() + 1, 17, 0xFFFF}) {
    SetTextStyle(static_cast<std::uint16_t>(font), HorizDir, 1);
    EXPECT_EQ(GraphResult(), grInvalidFontNum) << font;
    TextSettingsType settings{};
    GetTextSettings(settings);
    EXPECT_EQ(settings.Font, DefaultFont);
    EXPECT_EQ(settings.Direction, VertDir);
    EXPECT_EQ(settings.CharSize, 3);
    EXPECT_EQ(settings.Horiz, CenterText);
    EXPECT_EQ(settings.Vert, BottomText);
  }
}

TEST_F(TextTest, MissingFontFileKeepsTheBitmapFont) {
  ScratchDirectory scratch;
  SetTextStyle(1, HorizDir, 4);
  EXPECT_EQ(GraphResult(), grFontNotFound);
  TextSettingsType settings{};
  GetTextSettings(settings);
  EXPECT_EQ(settings.Font, DefaultFont);
  EXPECT_EQ(settings.CharSize, 4);
  OutTextXY(0, 0, "Hi");
  ExpectHorizontalText(0, 0, "Hi", 4, kPureWhite);

  // The size asked for the stroked font survives the fall back, beyond the bitmap font's own cap.
  ClearDevice();
  SetTextStyle(1, HorizDir, 20);
  EXPECT_EQ(GraphResult(), grFontNotFound);
  GetTextSettings(settings);
  EXPECT_EQ(settings.Font, DefaultFont);
  EXPECT_EQ(settings.CharSize, 20);
  EXPECT_EQ(TextWidth("A"), 160);
  EXPECT_EQ(TextHeight("A"), 160);
  OutTextXY(0, 0, "Hi");
  ExpectHorizontalText(0, 0, "Hi", 20, kPureWhite);

  // Measures past 16 bits stay at the largest value instead of wrapping to a small one, and the
  // justified start then lies outside the window.
  ClearDevice();
  SetTextStyle(1, HorizDir, 10000);
  EXPECT_EQ(GraphResult(), grFontNotFound);
  EXPECT_EQ(TextWidth("Hi"), 0xFFFF);
  EXPECT_EQ(TextHeight("Hi"), 0xFFFF);
  SetTextJustify(RightText, TopText);
  OutTextXY(100, 0, "Hi");
  EXPECT_EQ(InkOutside({0, 0, -1, -1}), 0);
  SetTextJustify(LeftText, TopText);
}

TEST_F(TextTest, TextIsCutAtTheEdgesOfTheWindow) {
  const std::int16_t maxX = GetMaxX();
  const std::int16_t maxY = GetMaxY();
  OutTextXY(0, -1, "MMMM");
  OutTextXY(static_cast<std::int16_t>(maxX + 1), 0, "MMMM");
  OutTextXY(-1, 100, "MMMM");
  OutTextXY(0, static_cast<std::int16_t>(maxY + 1), "MMMM");
  EXPECT_EQ(InkOutside({0, 0, -1, -1}), 0);

  OutTextXY(static_cast<std::int16_t>(maxX - 3), 20, "MM");
  ExpectHorizontalText(maxX - 3, 20, "M", 1, kPureWhite, {maxX - 3, 20, maxX, 27});
  EXPECT_EQ(InkOutside({maxX - 3, 20, maxX, 27}), 0);

  ClearDevice();
  SetTextStyle(DefaultFont, HorizDir, 2);
  OutTextXY(0, static_cast<std::int16_t>(maxY - 4), "W_");
  ExpectHorizontalText(0, maxY - 4, "W_", 2, kPureWhite, {0, maxY - 4, 31, maxY});
  EXPECT_EQ(InkOutside({0, maxY - 4, 31, maxY}), 0);
}

TEST_F(TextTest, TextIsCutAtTheViewport) {
  SetViewPort(100, 100, 139, 119, true);
  SetTextStyle(DefaultFont, HorizDir, 2);
  const Box view{100, 100, 139, 119};
  OutTextXY(0, 0, "ABC");  // runs past the right edge
  ExpectHorizontalText(100, 100, "ABC", 2, kPureWhite, view);
  EXPECT_EQ(InkOutside(view), 0);
  ClearDevice();
  OutTextXY(3, 10, "gj");  // runs past the bottom edge
  ExpectHorizontalText(103, 110, "gj", 2, kPureWhite, view);
  EXPECT_EQ(InkOutside(view), 0);

  // Start points outside the viewport draw nothing, even where the window would show them.
  ClearDevice();
  OutTextXY(41, 0, "A");
  OutTextXY(0, 21, "A");
  OutTextXY(-1, 0, "A");
  OutTextXY(0, -1, "A");
  EXPECT_EQ(InkOutside({0, 0, -1, -1}), 0);
  // The right and bottom edges belong to the viewport.
  OutTextXY(39, 19, "M");
  EXPECT_EQ(Pixel(139, 119), kPureWhite);
  EXPECT_EQ(InkOutside({139, 119, 139, 119}), 0);
}

TEST_F(TextTest, TextInksOnlyItsStrokesInTheDrawingColour) {
  // A red field under the text: what lies between the strokes stays red.
  for (int y = 40; y < 48; ++y)
    for (int x = 200; x < 216; ++x)
      PutPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), Red);
  OutTextXY(200, 40, "A%");
  const std::uint32_t red = 0xA80000;
  int wrong = 0;
  for (int y = 40; y < 48; ++y)
    for (int x = 200; x < 216; ++x) {
      const auto code = static_cast<unsigned char>(x < 208 ? 'A' : '%');
      const bool inked = ExpectedInk(code, y - 40, (x - 200) % 8);
      if (Pixel(x, y) != (inked ? kPureWhite : red)) ++wrong;
    }
  EXPECT_EQ(wrong, 0);

  // Colour 15 is pure white, not its palette entry; other colours are their palette entry at
  // the moment of drawing.
  ClearDevice();
  SetColor(LightBlue);
  OutTextXY(0, 0, "H");
  ExpectHorizontalText(0, 0, "H", 1, 0x5454FC);
  SetRGBPalette(LightBlue, 1, 2, 3);
  OutTextXY(8, 0, "H");
  ExpectHorizontalText(8, 0, "H", 1, 0x010203);
  ExpectHorizontalText(0, 0, "H", 1, 0x5454FC);

  // Text ignores the write mode and leaves the current position alone.
  ClearDevice();
  MoveTo(5, 7);
  SetColor(White);
  SetWriteMode(XORPut);
  OutTextXY(0, 0, "XX");
  OutTextXY(0, 0, "XX");
  ExpectHorizontalText(0, 0, "XX", 1, kPureWhite);
  EXPECT_EQ(GetX(), 5);
  EXPECT_EQ(GetY(), 7);
}

TEST_F(TextTest, JustificationMovesTheStartPoint) {
  SetTextStyle(DefaultFont, HorizDir, 2);
  struct Case {
    std::uint16_t horiz, vert;
    std::int16_t xOffset, yOffset;
  };
  for (const Case& c : {Case{LeftText, TopText, 0, 0}, Case{CenterText, CenterText, 32, -8},
                        Case{RightText, BottomText, 64, -16}}) {
    ClearDevice();
    SetTextJustify(c.horiz, c.vert);
    std::int16_t xo = 0, yo = 0;
    GetTextPosition("Quit", xo, yo);
    EXPECT_EQ(xo, c.xOffset);
    EXPECT_EQ(yo, c.yOffset);
    OutTextXY(200, 100, "Quit");
    ExpectHorizontalText(200 - c.xOffset, 100 + c.yOffset, "Quit", 2, kPureWhite);
    EXPECT_EQ(InkOutside({200 - c.xOffset, 100 + c.yOffset, 263 - c.xOffset, 115 + c.yOffset}), 0);
  }
  // The justified start, not the given point, decides whether anything is drawn.
  ClearDevice();
  OutTextXY(10, 100, "Quit");
  EXPECT_EQ(InkOutside({0, 0, -1, -1}), 0);

  SetTextJustify(3, TopText);
  EXPECT_EQ(GraphResult(), grError);
  TextSettingsType settings{};
  GetTextSettings(settings);
  EXPECT_EQ(settings.Horiz, RightText);
}

TEST_F(TextTest, VerticalTextReadsUpwards) {
  SetTextStyle(DefaultFont, VertDir, 1);
  SetTextJustify(LeftText, BottomText);
  OutTextXY(50, 200, "AB");
  ExpectVerticalCell(50, 193, 'A', kPureWhite);
  ExpectVerticalCell(50, 185, 'B', kPureWhite);
  EXPECT_EQ(InkOutside({50, 185, 57, 200}), 0);

  // With the default justification the point is the top end of the text.
  ClearDevice();
  SetTextJustify(LeftText, TopText);
  OutTextXY(50, 200, "AB");
  ExpectVerticalCell(50, 209, 'A', kPureWhite);
  ExpectVerticalCell(50, 201, 'B', kPureWhite);
  EXPECT_EQ(InkOutside({50, 201, 57, 216}), 0);

  // Across the text the point is its left edge, middle or right edge (the text is one cell
  // wide); along it, its bottom, middle or top end.
  struct Case {
    std::uint16_t horiz, vert;
    int left, bottom;  // where the text lands for the point (50, 200)
  };
  for (const Case& c : {Case{CenterText, CenterText, 46, 208}, Case{RightText, TopText, 42, 216},
                        Case{RightText, BottomText, 42, 200}}) {
    ClearDevice();
    SetTextJustify(c.horiz, c.vert);
    OutTextXY(50, 200, "AB");
    ExpectVerticalCell(c.left, c.bottom - 7, 'A', kPureWhite);
    ExpectVerticalCell(c.left, c.bottom - 15, 'B', kPureWhite);
    EXPECT_EQ(InkOutside({c.left, c.bottom - 15, c.left + 7, c.bottom}), 0) << c.horiz << c.vert;
  }

  // Runs out of the top of the window cut pixel-exactly.
  ClearDevice();
  SetTextJustify(LeftText, BottomText);
  SetTextStyle(DefaultFont, VertDir, 2);
  OutTextXY(0, 20, "ABC");
  EXPECT_EQ(InkOutside({0, 0, 15, 20}), 0);
  int wrong = 0;
  for (int y = 0; y <= 20; ++y)
    for (int x = 0; x < 16; ++x) {
      const int fromBottom = 20 - y;  // 0..20 along the text
      const auto code = static_cast<unsigned char>("ABC"[fromBottom / 16]);
      const int r = 7 - (fromBottom % 16) / 2;  // rotated row, counted from the cell's top
      const bool inked = ExpectedInk(code, x / 2, 7 - r);
      if (Pixel(x, y) != (inked ? kPureWhite : kBlack)) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
