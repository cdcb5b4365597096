// On X11 the picture goes straight through the window's X connection, which SDL lends: the
// pixels that changed go to the server in one PutImage request and a flush, with no round trip
// and no wait, so a present costs the server one request, and the program's thread can send it
// itself while the window thread sleeps. SDL's window surface waits for the server after every
// put (XSync): a wake-up more each time.
// Only for a 24-bit RGB visual; the surface presenter takes the others.

// Before SDL's system headers: Xlib's macros (None, DirectColor, ...) would clash with the
// layer's own names.
#include "gfx/platform/platform.h"
#include "gfx/platform/sdl/presenter.h"

#include <SDL.h>
#include <SDL_syswm.h>
#if defined(SDL_VIDEO_DRIVER_X11)
#include "gfx/platform/sdl/borrowed_library.h"
#endif

#include <algorithm>
#include <cstdint>
#include <vector>

namespace gfx::sdl {

#if defined(SDL_VIDEO_DRIVER_X11)

namespace {

// Xlib as SDL has already loaded it, borrowed by name as the X11 guards do.
struct Xlib {
  decltype(&XGetWindowAttributes) GetWindowAttributes = nullptr;
  decltype(&XCreateGC) CreateGC = nullptr;
  decltype(&XFreeGC) FreeGC = nullptr;
  decltype(&XInitImage) InitImage = nullptr;
  decltype(&XPutImage) PutImage = nullptr;
  decltype(&XSetClipRectangles) SetClipRectangles = nullptr;
  decltype(&XSetClipMask) SetClipMask = nullptr;
  decltype(&XFlush) Flush = nullptr;
  decltype(&XEventsQueued) EventsQueued = nullptr;
};

// Only the thread that owns SDL calls this, and those threads never overlap.
const Xlib* LoadXlib() {
  static Xlib xlib;
  static bool complete = false;
  if (complete) return &xlib;
  void* library = LoadedLibrary("libX11.so.6");
  if (library == nullptr) return nullptr;
  complete =
      Bind(library, xlib.GetWindowAttributes, "XGetWindowAttributes") &&
      Bind(library, xlib.CreateGC, "XCreateGC") && Bind(library, xlib.FreeGC, "XFreeGC") &&
      Bind(library, xlib.InitImage, "XInitImage") && Bind(library, xlib.PutImage, "XPutImage") &&
      Bind(library, xlib.SetClipRectangles, "XSetClipRectangles") &&
      Bind(library, xlib.SetClipMask, "XSetClipMask") && Bind(library, xlib.Flush, "XFlush") &&
      Bind(library, xlib.EventsQueued, "XEventsQueued");
  return complete ? &xlib : nullptr;
}

// The changed areas of one present: one request shows them all, so a longer list is joined into
// its last rectangle.
constexpr int kMostAreas = 16;

bool RgbVisual(const XWindowAttributes& attributes) {
  const Visual* visual = attributes.visual;
  return attributes.depth == 24 && visual != nullptr && visual->red_mask == 0xFF0000 &&
         visual->green_mask == 0x00FF00 && visual->blue_mask == 0x0000FF;
}

class X11Presenter final : public Presenter {
 public:
  X11Presenter(const Xlib& x, SDL_Window* window, Display* connection, ::Window target, GC gc,
               int depth)
      : x_(x), window_(window), connection_(connection), target_(target), gc_(gc), depth_(depth) {}
  ~X11Presenter() override {
    if (wrapped_ != nullptr) SDL_FreeSurface(wrapped_);
    x_.FreeGC(connection_, gc_);
  }
  X11Presenter(const X11Presenter&) = delete;
  X11Presenter& operator=(const X11Presenter&) = delete;

  // The areas that differ go out as one PutImage of the box around them, cut by the GC's clip to
  // the areas themselves: as several requests, another client could see the picture between two
  // of them, half drawn. Only a box larger than the server's largest request (a whole 4K window
  // repainted) is split by Xlib into several.
  void Present(bool full) override {
    int width = 0, height = 0, pictureWidth = 0, pictureHeight = 0;
    SDL_GetWindowSizeInPixels(window_, &width, &height);
    PictureSize(pictureWidth, pictureHeight);
    if (width != image_.width || height != image_.height) {
      if (!Resize(width, height)) return;
      full = true;
    } else if (full) {
      std::fill(pixels_.begin(), pixels_.end(), 0u);
    }
    if (width != pictureWidth || height != pictureHeight) {
      const SDL_Rect area = fitted_.PresentInto(wrapped_, pictureWidth, pictureHeight, full);
      if (area.w > 0) Put(Rect{area.x, area.y, area.x + area.w - 1, area.y + area.h - 1});
      return;
    }
    Rect shown[kMostAreas];
    const int count = PresentTo(pixels_.data(), width, width, height, full, shown, kMostAreas);
    if (count == 0 && !full) return;
    Rect box = full ? Rect{0, 0, width - 1, height - 1} : Rect{};
    XRectangle areas[kMostAreas];
    for (int i = 0; i < count; ++i) {
      box = Union(box, shown[i]);
      areas[i] = XRectangle{static_cast<short>(shown[i].x0), static_cast<short>(shown[i].y0),
                            static_cast<unsigned short>(shown[i].x1 - shown[i].x0 + 1),
                            static_cast<unsigned short>(shown[i].y1 - shown[i].y0 + 1)};
    }
    const bool clipped = count > 1 && !full;
    if (clipped) x_.SetClipRectangles(connection_, gc_, 0, 0, areas, count, Unsorted);
    Put(box);
    if (clipped) x_.SetClipMask(connection_, gc_, None);
  }

  // Sending may read what the server has sent meanwhile (a key press arriving during a put) into
  // the connection's queue, where a poll of the socket no longer sees it. XFlush, which ends every
  // put, has already moved all that was read into Xlib's queue: asking that costs no read.
  bool EventsWaiting() override { return x_.EventsQueued(connection_, QueuedAlready) > 0; }

  // Xlib serializes its callers (SDL starts it thread-aware), and a put neither waits nor asks.
  bool PresentsFromAnyThread() override { return true; }
  bool ReadWhilePresenting() override { return EventsWaiting(); }

  // A window-sized image, black: what a new or resized window shows before its first present.
  // SDL's view of it lets a picture of another size be fitted into it.
  bool Resize(int width, int height) {
    pixels_.assign(static_cast<std::size_t>(width) * height, 0);
    if (wrapped_ != nullptr) SDL_FreeSurface(wrapped_);
    wrapped_ = SDL_CreateRGBSurfaceWithFormatFrom(pixels_.data(), width, height, 32, width * 4,
                                                  SDL_PIXELFORMAT_RGB888);
    if (wrapped_ == nullptr) return false;
    image_ = XImage{};
    image_.width = width;
    image_.height = height;
    image_.format = ZPixmap;
    image_.data = reinterpret_cast<char*>(pixels_.data());
    image_.byte_order = LSBFirst;
    image_.bitmap_unit = 32;
    image_.bitmap_bit_order = LSBFirst;
    image_.bitmap_pad = 32;
    image_.depth = depth_;
    image_.bytes_per_line = width * 4;
    image_.bits_per_pixel = 32;
    image_.red_mask = 0xFF0000;
    image_.green_mask = 0x00FF00;
    image_.blue_mask = 0x0000FF;
    return x_.InitImage(&image_) != 0;
  }

 private:
  void Put(const Rect& box) {
    x_.PutImage(connection_, target_, gc_, &image_, box.x0, box.y0, box.x0, box.y0,
                static_cast<unsigned>(box.x1 - box.x0 + 1),
                static_cast<unsigned>(box.y1 - box.y0 + 1));
    x_.Flush(connection_);
  }

  const Xlib& x_;
  SDL_Window* window_;
  Display* connection_;
  ::Window target_;
  GC gc_;
  int depth_;
  // What the window shows, 0x00RRGGBB; image_ describes it to Xlib.
  std::vector<std::uint32_t> pixels_;
  XImage image_{};
  SDL_Surface* wrapped_ = nullptr;  // pixels_ as SDL sees them
  FittedPicture fitted_;            // for a window of another size than the picture
};

}  // namespace

std::unique_ptr<Presenter> MakeX11Presenter(SDL_Window* window) {
  const Xlib* x = LoadXlib();
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (x == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE ||
      info.subsystem != SDL_SYSWM_X11) {
    return nullptr;
  }
  Display* connection = info.info.x11.display;
  XWindowAttributes attributes;
  if (x->GetWindowAttributes(connection, info.info.x11.window, &attributes) == 0 ||
      !RgbVisual(attributes)) {
    return nullptr;
  }
  GC gc = x->CreateGC(connection, info.info.x11.window, 0, nullptr);
  if (gc == nullptr) return nullptr;
  auto presenter = std::make_unique<X11Presenter>(*x, window, connection, info.info.x11.window, gc,
                                                  attributes.depth);
  int width = 0, height = 0;
  SDL_GetWindowSizeInPixels(window, &width, &height);
  if (!presenter->Resize(width, height)) return nullptr;
  return presenter;
}

#else

std::unique_ptr<Presenter> MakeX11Presenter(SDL_Window*) {
  return nullptr;
}

#endif

}  // namespace gfx::sdl
