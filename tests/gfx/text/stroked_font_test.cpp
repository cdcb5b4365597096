#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/text/font.h"
#include "tests/support/headless_graph.h"
#include "tests/support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using gfx::inspect::Pixel;
using TextTest = HeadlessGraph;

// A stroked font file written by hand: characters 'A' (a caret, width 10), 'B' (a bar, width 4)
// and 'C' (empty, width 6); capitals 10 high, descenders 3 deep.
std::vector<std::uint8_t> StrokedFontFile() {
  // The header block: magic, a line of text ended by 1A, the 12 bytes that follow it, padding.
  const char text[] = "PK\x08\x08Hand-made font\x1A\x80\x00TEST\x00\x00\x01\x00\x01\x00";
  std::vector<std::uint8_t> file(128, 0);
  std::copy(text, text + sizeof text - 1, file.begin());
  const std::vector<std::uint8_t> strokes = {
      0x80, 0x00, 0x84, 0x8A, 0x88, 0x80, 0x00, 0x00,  // A: move 0,0; draw 4,10; draw 8,0; end
      0x80, 0x00, 0x80, 0x8A, 0x00, 0x00,              // B: move 0,0; draw 0,10; end
      0x00, 0x00,                                      // C: end
  };
  const std::uint8_t header[16] = {'+', 3, 0, 0, 'A', 0, 0, 0, 10, 0, 0xFD, 0, 0, 0, 0, 0};
  file.insert(file.end(), header, header + 16);
  for (std::uint8_t b : {0, 0, 8, 0, 14, 0}) file.push_back(b);  // offsets
  for (std::uint8_t b : {10, 4, 6}) file.push_back(b);           // widths
  file.insert(file.end(), strokes.begin(), strokes.end());
  return file;
}

void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

TEST_F(TextTest, StrokedFontLoadsMeasuresAndDraws) {
  ScratchDirectory scratch;
  WriteFile("LITT.CHR", StrokedFontFile());
  SetLineStyle(DottedLn, 0, ThickWidth);
  SetTextStyle(2, HorizDir, 4);  // scale 1.0
  ASSERT_EQ(GraphResult(), grOk);
  EXPECT_EQ(TextWidth("AB"), 14);
  EXPECT_EQ(TextWidth("AZB"), 14);  // Z lies outside the font
  EXPECT_EQ(TextHeight("AB"), 13);

  SetColor(Red);
  const std::uint32_t red = 0xA80000;
  OutTextXY(100, 100, "AB");  // top justification: the baseline lies 10 below
  for (auto [x, y] : {std::pair{100, 110}, {104, 100}, {108, 110}})
    EXPECT_EQ(Pixel(x, y), red) << x << "," << y;
  for (int y = 100; y <= 110; ++y) EXPECT_EQ(Pixel(110, y), red) << "B's bar at y " << y;
  EXPECT_EQ(InkOutside({100, 100, 110, 110}), 0);
  // The text's line style applied only for the call.
  LineSettingsType line{};
  GetLineSettings(line);
  EXPECT_EQ(line.LineStyle, DottedLn);
  EXPECT_EQ(line.Thickness, ThickWidth);

  // Scale 0.65 at size 2: 14 units measure 9.1 pixels, 13 units of height 8.45.
  SetTextStyle(2, HorizDir, 2);
  EXPECT_EQ(TextWidth("AB"), 9);
  EXPECT_EQ(TextHeight("AB"), 8);

  // Vertical: the capital side faces left, the text runs upwards from its bottom end.
  ClearDevice();
  SetTextStyle(2, VertDir, 4);
  OutTextXY(300, 100, "AB");  // left and top: baseline at x 310, text starts at y 114
  for (auto [x, y] : {std::pair{310, 114}, {300, 110}, {310, 106}})
    EXPECT_EQ(Pixel(x, y), red) << x << "," << y;
  for (int x = 300; x <= 310; ++x) EXPECT_EQ(Pixel(x, 104), red) << "B's bar at x " << x;
  EXPECT_EQ(InkOutside({300, 100, 310, 114}), 0);

  // A translation table applies to measuring (and drawing) stroked text.
  std::array<std::uint8_t, 256> upper{};
  for (int i = 0; i < 256; ++i)
    upper[i] = static_cast<std::uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
  SetTextStyle(2, HorizDir, 4);
  EXPECT_EQ(TextWidth("ab"), 0);
  gfx::GraphStringTransTable = &upper;
  EXPECT_EQ(TextWidth("ab"), 14);
  gfx::GraphStringTransTable = nullptr;
}

TEST_F(TextTest, FontFilesAreLookedUpInTheDriverPath) {
  ScratchDirectory scratch;
  fs::create_directory("fonts");
  WriteFile("fonts/SCRI.CHR", StrokedFontFile());
  CloseGraph();
  std::int16_t driver = Detect;
  std::int16_t mode = 0;
  InitGraph(driver, mode, "fonts");
  ASSERT_EQ(GraphResult(), grOk);
  SetTextStyle(5, HorizDir, 4);
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_EQ(TextWidth("AB"), 14);
}

TEST_F(TextTest, BadFontFilesAreRejected) {
  ScratchDirectory scratch;
  auto badSignature = StrokedFontFile();
  badSignature[128] = '*';
  WriteFile("SANS.CHR", badSignature);
  SetTextStyle(3, HorizDir, 4);
  EXPECT_EQ(GraphResult(), grInvalidFont);
  TextSettingsType settings{};
  GetTextSettings(settings);
  EXPECT_EQ(settings.Font, DefaultFont);

  auto badMagic = StrokedFontFile();
  badMagic[3] = 0x09;
  WriteFile("SANS.CHR", badMagic);
  SetTextStyle(3, HorizDir, 4);
  EXPECT_EQ(GraphResult(), grInvalidFont);

  auto tooManyCharacters = StrokedFontFile();
  tooManyCharacters[128 + 4] = 254;  // three characters from code 254 overrun the code range
  WriteFile("SANS.CHR", tooManyCharacters);
  SetTextStyle(3, HorizDir, 4);
  EXPECT_EQ(GraphResult(), grInvalidFont);

  // Every cut that loses part of the headers or tables is rejected, and nothing stays loaded:
  // the good file is read afterwards.
  const auto good = StrokedFontFile();
  for (std::size_t length : {std::size_t{0}, std::size_t{3}, std::size_t{100}, std::size_t{128},
                             std::size_t{143}, std::size_t{147}, std::size_t{152}}) {
    WriteFile("SANS.CHR", std::vector<std::uint8_t>(good.begin(), good.begin() + length));
    SetTextStyle(3, HorizDir, 4);
    EXPECT_EQ(GraphResult(), grInvalidFont) << "cut at " << length;
    GetTextSettings(settings);
    EXPECT_EQ(settings.Font, DefaultFont);
  }
  WriteFile("SANS.CHR", good);
  SetTextStyle(3, HorizDir, 4);
  EXPECT_EQ(GraphResult(), grOk);
  GetTextSettings(settings);
  EXPECT_EQ(settings.Font, 3);
}

TEST_F(TextTest, DamagedStrokeDataDrawsOnlyWhatIsThere) {
  ScratchDirectory scratch;
  // Stroke data cut inside 'A' and offsets pointing past the end: 'A' draws its first line only,
  // 'B' and 'C' draw nothing.
  auto damaged = StrokedFontFile();
  damaged.resize(damaged.size() - 12);
  damaged[144 + 2] = 0xFF;
  damaged[144 + 3] = 0xFF;
  WriteFile("GOTH.CHR", damaged);
  SetTextStyle(4, HorizDir, 4);
  ASSERT_EQ(GraphResult(), grOk);
  SetColor(Red);
  OutTextXY(100, 100, "ABC");
  EXPECT_EQ(Pixel(100, 110), 0xA80000u);
  EXPECT_EQ(Pixel(104, 100), 0xA80000u);
  EXPECT_EQ(InkOutside({100, 100, 104, 110}), 0);
}

TEST_F(TextTest, UserFontsAreNumberedUpToSixteen) {
  ScratchDirectory scratch;
  if (gfx::InstalledFonts() < gfx::kMaxFonts) {
    // Names keep their first eight characters.
    const std::int16_t number = InstallUserFont("LONGNAME123");
    EXPECT_EQ(number, gfx::InstalledFonts());
    EXPECT_EQ(GraphResult(), grOk);
    WriteFile("LONGNAME.CHR", StrokedFontFile());
    SetTextStyle(static_cast<std::uint16_t>(number), HorizDir, 4);
    EXPECT_EQ(GraphResult(), grOk);
    EXPECT_EQ(TextWidth("A"), 10);
  }
  while (gfx::InstalledFonts() < gfx::kMaxFonts) {
    const int before = gfx::InstalledFonts();
    SetTextJustify(9, 9);  // leaves a code pending that installing clears
    EXPECT_EQ(InstallUserFont("USER"), before + 1);
    EXPECT_EQ(GraphResult(), grOk);
  }
  EXPECT_EQ(InstallUserFont("MORE"), 0);
  EXPECT_EQ(GraphResult(), grError);
  EXPECT_EQ(gfx::InstalledFonts(), gfx::kMaxFonts);
}

}  // namespace
