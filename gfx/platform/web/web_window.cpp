#include "gfx/platform/web/web_window.h"

#include <emscripten/emscripten.h>

#include <cstdint>
#include <vector>

#include "gfx/graph.h"

// The window of a web page is the page's canvas, and the program runs on the page's only thread:
// nothing here waits for another thread. A finished picture goes to the canvas when the program
// waits, only the rectangles that differ from what the canvas shows; keys and mouse buttons come
// from the page's events between two of the program's waits (library_page.js).

extern "C" {
void snake_web_page_size(int* width, int* height);
int snake_web_open(int width, int height, const char* title, int doubleClicks);
void snake_web_present(const std::uint32_t* pixels, const int* rects, int count);
void snake_web_close();
}

namespace gfx {
namespace {

struct CanvasState {
  bool Open = false;
  int Width = 0;
  int Height = 0;
  std::vector<std::uint32_t> Shown;  // 0x00RRGGBB: what the canvas shows
  std::vector<std::uint32_t> Rgba;   // the same in the canvas' byte order: red, green, blue, 255
};

CanvasState& Canvas() {
  static CanvasState canvas;
  return canvas;
}

constexpr std::uint32_t ToRgba(std::uint32_t pixel) {
  return 0xFF000000u | (pixel & 0xFFu) << 16 | (pixel & 0xFF00u) | (pixel >> 16 & 0xFFu);
}

// Up to this many rectangles a picture; more are joined into the last.
constexpr int kMostRects = 32;

void Present(bool full) {
  CanvasState& c = Canvas();
  Rect shown[kMostRects];
  const int count = PresentTo(c.Shown.data(), c.Width, c.Width, c.Height, full, shown, kMostRects);
  int rects[4 * kMostRects];
  for (int i = 0; i < count; ++i) {
    const Rect& r = shown[i];
    for (int y = r.y0; y <= r.y1; ++y) {
      const std::size_t row = static_cast<std::size_t>(y) * c.Width;
      for (int x = r.x0; x <= r.x1; ++x) c.Rgba[row + x] = ToRgba(c.Shown[row + x]);
    }
    rects[4 * i] = r.x0;
    rects[4 * i + 1] = r.y0;
    rects[4 * i + 2] = r.x1;
    rects[4 * i + 3] = r.y1;
  }
  if (count > 0) snake_web_present(c.Rgba.data(), rects, count);
}

class WebWindowPlatform final : public WindowPlatform {
 public:
  // The page is the desktop, and has no frame: a maximized window takes all of it.
  DesktopSize Desktop() override {
    int width = 0, height = 0;
    snake_web_page_size(&width, &height);
    return DesktopSize{width, height, width, height};
  }

  bool Open(const WindowRequest& request) override {
    CanvasState& c = Canvas();
    if (!snake_web_open(request.Width, request.Height, request.Title, request.DoubleClicks)) {
      return false;
    }
    c.Open = true;
    c.Width = request.Width;
    c.Height = request.Height;
    c.Shown.assign(static_cast<std::size_t>(c.Width) * c.Height, 0);
    c.Rgba.assign(c.Shown.size(), ToRgba(0));
    OnWindowCreated(c.Width, c.Height);
    RunWindowCreationHook();
    Present(true);
    OnWindowPainted();
    return true;
  }

  // A finished picture goes to the canvas at once. A picture still being drawn waits for the
  // program's next wait: the browser could not show it any sooner.
  void Wake() override {
    if (Canvas().Open && PictureDueInMs() == 0) Present(false);
  }

  void Close() override {
    CanvasState& c = Canvas();
    if (!c.Open) return;
    c.Open = false;
    snake_web_close();
    OnWindowDestroyed();
  }
};

}  // namespace

WindowPlatform& WebPlatform() {
  static WebWindowPlatform platform;
  return platform;
}

}  // namespace gfx

// The page's keyboard events, already in the layer's terms (library_page.js).
extern "C" EMSCRIPTEN_KEEPALIVE void snake_web_key(int event, int code, int character) {
  gfx::CharMessageHandler()(gfx::KeyMessage{static_cast<gfx::KeyEvent>(event),
                                            static_cast<gfx::Key>(code),
                                            static_cast<std::uint8_t>(character)});
}

// The page's mouse buttons on the canvas, at picture coordinates.
extern "C" EMSCRIPTEN_KEEPALIVE void snake_web_mouse(int action, int button, int x, int y) {
  if (MouseMessageProc handler = MouseMessageHandler.load()) {
    handler(MouseMessage{static_cast<MouseAction>(action), static_cast<MouseButton>(button),
                         static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)});
  }
}
