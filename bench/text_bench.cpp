#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "gfx/core/layer.h"
#include "gfx/core/palette.h"
#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/platform/headless/headless_window.h"
#include "gfx/text/font.h"

namespace {

// A headless graphics window wide enough for a 40-character line at size 3 (960 pixels).
void EnsureGraphics(benchmark::State& state) {
  if (!gfx::Mode().IsGraphMode || GetMaxX() < 1279) {
    if (gfx::Mode().IsGraphMode) CloseGraph();
    gfx::UseHeadlessPlatform({1280, 1024, 1280, 1024});
    std::int16_t driver = Detect;
    std::int16_t mode = 0;
    InitGraph(driver, mode, "");
    if (GraphResult() != grOk) state.SkipWithError("graphics did not open");
  }
  ClearDevice();
}

// The ink pixels the text covers at this size, as OutTextXY would set them from (x, y).
std::vector<std::pair<std::int16_t, std::int16_t>> InkPixels(const std::string& text, int size,
                                                             int x, int y) {
  std::vector<std::pair<std::int16_t, std::int16_t>> pixels;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto code = static_cast<unsigned char>(text[i]);
    for (int py = 0; py < 8 * size; ++py)
      for (int px = 0; px < 8 * size; ++px)
        if (gfx::DefaultFontData[code * gfx::kGlyphBytes + (py / size) * 8 + px / size])
          pixels.emplace_back(x + 8 * size * static_cast<int>(i) + px, y + py);
  }
  return pixels;
}

const std::string kScore = "Scores 123";
const std::string kLine = "The quick brown fox jumps over the lazy!";  // 40 characters

// The figures mean nothing unless the text really reached the image.
void ExpectDrawn(benchmark::State& state,
                 const std::vector<std::pair<std::int16_t, std::int16_t>>& pixels) {
  for (auto [x, y] : pixels) {
    if (gfx::inspect::Pixel(x, y) != gfx::ScreenColor(44)) {
      state.SkipWithError("the text was not drawn");
      return;
    }
  }
}

void Text(benchmark::State& state, const std::string& text, int size) {
  EnsureGraphics(state);
  SetTextStyle(DefaultFont, HorizDir, static_cast<std::uint16_t>(size));
  SetColor(44);
  for (auto _ : state) OutTextXY(5, 5, text);
  const auto pixels = InkPixels(text, size, 5, 5);
  ExpectDrawn(state, pixels);
  state.counters["ink_pixels"] = static_cast<double>(pixels.size());
}

void Pixels(benchmark::State& state, const std::string& text, int size) {
  EnsureGraphics(state);
  const auto pixels = InkPixels(text, size, 5, 5);
  for (auto _ : state)
    for (auto [x, y] : pixels) PutPixel(x, y, 44);
  state.counters["ink_pixels"] = static_cast<double>(pixels.size());
}

void BM_OutTextXY_Scores_Size2(benchmark::State& state) {
  Text(state, kScore, 2);
}
void BM_PutPixel_Scores_Size2(benchmark::State& state) {
  Pixels(state, kScore, 2);
}
void BM_OutTextXY_Line40_Size3(benchmark::State& state) {
  Text(state, kLine, 3);
}
void BM_PutPixel_Line40_Size3(benchmark::State& state) {
  Pixels(state, kLine, 3);
}

BENCHMARK(BM_OutTextXY_Scores_Size2);
BENCHMARK(BM_PutPixel_Scores_Size2);
BENCHMARK(BM_OutTextXY_Line40_Size3);
BENCHMARK(BM_PutPixel_Line40_Size3);

}  // namespace
