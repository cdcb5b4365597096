#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gfx/core/hooks.h"
#include "gfx/graph.h"
#include "gfx/platform/headless/headless_window.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

void OpenHeadless(int width, int height) {
  gfx::UseHeadlessPlatform(gfx::DesktopSize{width, height, width, height});
  std::int16_t driver = Detect;
  std::int16_t mode = 0;
  InitGraph(driver, mode, "");
  GraphResult();
}

// What clearing the surface can at best cost: one fill of a buffer of the same size.
void BM_FillBufferBaseline(benchmark::State& state) {
  std::vector<std::uint32_t> buffer(static_cast<std::size_t>(kWidth) * kHeight);
  std::uint32_t value = 0;
  for (auto _ : state) {
    std::fill(buffer.begin(), buffer.end(), ++value);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FillBufferBaseline);

void BM_ClearDevice(benchmark::State& state) {
  OpenHeadless(kWidth, kHeight);
  std::uint16_t background = 0;
  for (auto _ : state) {
    // Alternate the colour so that every clear really writes.
    SetBkColor(static_cast<std::uint16_t>(++background & 1));
    ClearDevice();
    benchmark::ClobberMemory();
  }
  CloseGraph();
}
BENCHMARK(BM_ClearDevice);

void PassPutPixel(std::int16_t x, std::int16_t y, std::uint16_t color) {
  gfx::WindowPutPixel(x, y, color);
}

void FillDiscs(benchmark::State& state, std::uint16_t pattern,
               gfx::PutPixelProc putPixel = nullptr) {
  OpenHeadless(640, 480);
  if (putPixel != nullptr) {
    gfx::Ops().PutPixel = putPixel;
    gfx::Ops().InternalEllipse = gfx::GenericInternalEllipse;
    gfx::Ops().PatternLine = gfx::GenericPatternLine;
  }
  SetColor(Red);
  SetFillStyle(pattern, 56);
  int i = 0;
  for (auto _ : state) {
    ++i;
    FillEllipse(static_cast<std::int16_t>(10 + i % 600), static_cast<std::int16_t>(10 + i % 460), 5,
                5);
  }
  CloseGraph();
}

void BM_FillEllipseSolid(benchmark::State& state) {
  FillDiscs(state, SolidFill);
}
BENCHMARK(BM_FillEllipseSolid);

void BM_FillEllipsePattern11(benchmark::State& state) {
  FillDiscs(state, CloseDotFill);
}
BENCHMARK(BM_FillEllipsePattern11);

// The baseline of the one-pass disc: the same disc through the generic routine and the slots (a
// client's own PutPixel among them), each pixel and run under its own hold of the lock.
void BM_FillEllipseThroughSlots(benchmark::State& state) {
  FillDiscs(state, SolidFill, PassPutPixel);
}
BENCHMARK(BM_FillEllipseThroughSlots);

}  // namespace
