// Figures for the real window on a private Xvfb, or with "wayland" on a private headless sway:
// how long a drawing call takes to reach the screen, what a drawing loop costs against the
// headless platform, and what the window thread costs while nothing is drawn. Each figure comes
// with its baseline from the same run.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "gfx/graph.h"
#include "gfx/keyboard.h"
#include "gfx/layer_build.h"
#include "gfx/platform/headless/headless_window.h"
#include "tests/harness/sway.h"
#include "tests/harness/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 200;
constexpr int kLoopPixels = 200000;
constexpr int kLoopRuns = 9;
constexpr int kIdleSeconds = 3;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool Open() {
  std::int16_t driver = Detect, mode = 0;
  InitGraph(driver, mode, "");
  return GraphResult() == grOk;
}

// A pixel of the window's client area as the display shows it, read on another connection.
using PixelReader = std::function<std::uint32_t(int x, int y)>;

// From the drawing call, followed by a wait, until a reader on another connection sees the
// pixel; the baseline is one read of a pixel, the granularity of the polling.
void PresentLatency(const PixelReader& pixel, const char* label = "present latency") {
  std::vector<double> latency, readBack;
  for (int i = 0; i < kSamples; ++i) {
    const int x = 10 + (i * 7) % 600, y = 10 + (i * 13) % 400;
    const std::uint16_t color = i % 2 == 0 ? White : Red;
    const std::uint32_t want = color == White ? 0xFCFCFC : 0xA80000;
    const auto start = Clock::now();
    PutPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), color);
    KeyPressed();  // the program waits: the picture is finished
    while (pixel(x, y) != want) {
    }
    latency.push_back(Milliseconds(Clock::now() - start));
    const auto readStart = Clock::now();
    pixel(x, y);
    readBack.push_back(Milliseconds(Clock::now() - readStart));
  }
  const double median = Median(latency), baseline = Median(readBack);
  std::printf("%s: median %.3f ms; one pixel read %.3f ms; ratio %.1f\n", label, median, baseline,
              median / baseline);
}

// A square of picture pixels that all change at once, drawn in one colour or the other.
constexpr int kSquare = 256;
constexpr int kSquareX = 100, kSquareY = 100;

void DrawSquare(std::uint16_t color) {
  SetColor(color);
  for (int y = kSquareY; y < kSquareY + kSquare; ++y) {
    Line(kSquareX, static_cast<std::int16_t>(y), kSquareX + kSquare - 1,
         static_cast<std::int16_t>(y));
  }
}

// From the wait after a square of changed pixels until the display shows its last pixel, per
// changed picture pixel, in nanoseconds; the window shows each picture pixel as scale x scale.
double ChangedPixelCost(const PixelReader& pixel, int scale) {
  std::vector<double> perPixel;
  const int lastX = (kSquareX + kSquare) * scale - 1, lastY = (kSquareY + kSquare) * scale - 1;
  for (int i = 0; i < kSamples / 4; ++i) {
    const bool white = i % 2 == 0;
    DrawSquare(white ? White : Red);
    const std::uint32_t want = white ? 0xFCFCFC : 0xA80000;
    const auto start = Clock::now();
    KeyPressed();
    while (pixel(lastX, lastY) != want) {
    }
    perPixel.push_back(Milliseconds(Clock::now() - start) * 1e6 / (kSquare * kSquare));
  }
  return Median(perPixel);
}

// The median of several runs: the machine is shared, single runs wander.
double DrawingLoopMs() {
  std::vector<double> runs;
  for (int run = 0; run < kLoopRuns; ++run) {
    const auto start = Clock::now();
    for (int i = 0; i < kLoopPixels; ++i) {
      PutPixel(static_cast<std::int16_t>(i % 640), static_cast<std::int16_t>((i / 640) % 480),
               static_cast<std::uint16_t>(i % 256));
    }
    runs.push_back(Milliseconds(Clock::now() - start));
  }
  return Median(runs);
}

// All CPU time of the process while its own thread sleeps is the window thread's.
double IdleCpuShare() {
  const double before = CpuSeconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(kIdleSeconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (CpuSeconds() - before) / wall;
}

}  // namespace

int main(int argc, char** argv) {
  const bool wayland = argc > 1 && std::strcmp(argv[1], "wayland") == 0;
  xvfb::Server server;
  sway::Compositor compositor;
  if (wayland ? !compositor.Start(1280, 1024) : !server.Start()) {
    std::fprintf(stderr, "%s did not start\n", wayland ? "sway" : "Xvfb");
    return 1;
  }
  if (!Open()) {
    std::fprintf(stderr, "InitGraph failed\n");
    return 1;
  }
  xvfb::Screen screen;
  const unsigned long window = wayland ? 0 : xvfb::FindWindow(WindowTitle);
  sway::WindowRect rect;
  if (wayland) sway::FindWindow(compositor, WindowTitle, rect);
  std::printf("%s\n", wayland ? "Wayland (sway, headless)" : "X11 (Xvfb)");
  const PixelReader pixel = [&](int x, int y) {
    return wayland ? sway::Pixel(compositor, rect.X + x, rect.Y + y) : screen.Pixel(window, x, y);
  };
  PresentLatency(pixel);
  const double changedPixel = wayland ? 0.0 : ChangedPixelCost(pixel, 1);
  const double windowLoop = DrawingLoopMs();
  const double idle = IdleCpuShare();
  CloseGraph();
  if (!wayland) std::printf("changed square at scale 1: %.3f ns per pixel\n", changedPixel);

  // The same window at scale 2 (X11): each picture pixel is four on the screen.
  if (!wayland) {
    setenv("SNAKE_GARDEN_SCALE", "2", 1);
    gfx::UseWindowPlatform();
    if (!Open()) {
      std::fprintf(stderr, "InitGraph at scale 2 failed\n");
      return 1;
    }
    if (GetMaxX() != 639) {  // a layer without the scale: nothing to compare
      std::printf("scale 2 not taken: the picture is %d wide\n", GetMaxX() + 1);
      return 0;
    }
    const unsigned long twice = xvfb::FindWindow(WindowTitle);
    const PixelReader pixelTwice = [&](int x, int y) { return screen.Pixel(twice, x, y); };
    PresentLatency([&](int x, int y) { return pixelTwice(2 * x, 2 * y); },
                   "present latency at scale 2");
    const double changedTwice = ChangedPixelCost(pixelTwice, 2);
    CloseGraph();
    unsetenv("SNAKE_GARDEN_SCALE");
    std::printf(
        "changed square of %d pixels until the X server shows it: %.3f ns per pixel at scale 1, "
        "%.3f ns at scale 2, ratio %.2f\n",
        kSquare * kSquare, changedPixel, changedTwice, changedTwice / changedPixel);
  }

  gfx::UseHeadlessPlatform();
  Open();
  const double headlessLoop = DrawingLoopMs();
  CloseGraph();
  std::printf("%d PutPixel calls: window %.1f ms, headless %.1f ms, ratio %.2f\n", kLoopPixels,
              windowLoop, headlessLoop, windowLoop / headlessLoop);
  std::printf("window thread idle: %.4f%% of a core over %d s\n", idle * 100, kIdleSeconds);
  return 0;
}
