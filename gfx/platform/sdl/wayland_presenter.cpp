// On Wayland the picture goes to the compositor in shared-memory buffers of our own, attached to
// a surface of our own over the window's (a subsurface, which takes no input) with only the
// changed areas marked as damaged: a present copies the changed pixels once and the compositor
// redraws only them. Not the window's own surface: SDL marks all of that surface damaged after
// every frame it is shown, so each present there would have the compositor redraw the whole
// window. The window's surface holds a black buffer of its size, which maps the window and gives
// it its size; it is committed again only when that size changes. SDL's renderer, the alternative,
// draws the whole window-sized texture on every present (on a software-rendered desktop, Mesa's
// threads rasterize every pixel) and the compositor then takes the whole frame.
// libwayland-client is borrowed from SDL by name, as Xlib is on X11, so nothing links against it.

#include "gfx/platform/platform.h"
#include "gfx/platform/sdl/presenter.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(SDL_VIDEO_DRIVER_WAYLAND)
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client-protocol.h>
#include "gfx/platform/sdl/borrowed_library.h"
#endif

namespace gfx::sdl {

#if defined(SDL_VIDEO_DRIVER_WAYLAND)

namespace {

// The few entry points the requests below go through, and the interfaces of the objects made.
struct WaylandClient {
  decltype(&wl_proxy_marshal_flags) MarshalFlags = nullptr;
  decltype(&wl_proxy_add_listener) AddListener = nullptr;
  decltype(&wl_proxy_destroy) Destroy = nullptr;
  decltype(&wl_proxy_get_version) Version = nullptr;
  decltype(&wl_display_roundtrip) Roundtrip = nullptr;
  decltype(&wl_display_flush) Flush = nullptr;
  decltype(&wl_display_get_fd) Fd = nullptr;
  decltype(&wl_display_prepare_read) PrepareRead = nullptr;
  decltype(&wl_display_cancel_read) CancelRead = nullptr;
  const wl_interface* Registry = nullptr;
  const wl_interface* Shm = nullptr;
  const wl_interface* Compositor = nullptr;
  const wl_interface* Subcompositor = nullptr;
  const wl_interface* Surface = nullptr;
  const wl_interface* Subsurface = nullptr;
  const wl_interface* Region = nullptr;
  const wl_interface* ShmPool = nullptr;
  const wl_interface* Buffer = nullptr;
};

// Only the thread that owns SDL calls this, and those threads never overlap.
const WaylandClient* LoadWaylandClient() {
  static WaylandClient client;
  static bool complete = false;
  if (complete) return &client;
  void* library = LoadedLibrary("libwayland-client.so.0");
  if (library == nullptr) return nullptr;
  complete = Bind(library, client.MarshalFlags, "wl_proxy_marshal_flags") &&
             Bind(library, client.AddListener, "wl_proxy_add_listener") &&
             Bind(library, client.Destroy, "wl_proxy_destroy") &&
             Bind(library, client.Version, "wl_proxy_get_version") &&
             Bind(library, client.Roundtrip, "wl_display_roundtrip") &&
             Bind(library, client.Flush, "wl_display_flush") &&
             Bind(library, client.Fd, "wl_display_get_fd") &&
             Bind(library, client.PrepareRead, "wl_display_prepare_read") &&
             Bind(library, client.CancelRead, "wl_display_cancel_read") &&
             Bind(library, client.Registry, "wl_registry_interface") &&
             Bind(library, client.Shm, "wl_shm_interface") &&
             Bind(library, client.Compositor, "wl_compositor_interface") &&
             Bind(library, client.Subcompositor, "wl_subcompositor_interface") &&
             Bind(library, client.Surface, "wl_surface_interface") &&
             Bind(library, client.Subsurface, "wl_subsurface_interface") &&
             Bind(library, client.Region, "wl_region_interface") &&
             Bind(library, client.ShmPool, "wl_shm_pool_interface") &&
             Bind(library, client.Buffer, "wl_buffer_interface");
  return complete ? &client : nullptr;
}

wl_proxy* AsProxy(void* object) {
  return static_cast<wl_proxy*>(object);
}

// The compositor's globals a window's presenter uses, bound for one window. Compositor and
// Subcompositor stay nullptr where the compositor offers no subsurfaces.
struct Globals {
  wl_proxy* Shm = nullptr;
  wl_proxy* Compositor = nullptr;
  wl_proxy* Subcompositor = nullptr;
};

// Version 4 of wl_compositor makes surfaces that take damage in buffer pixels.
constexpr std::uint32_t kCompositorVersion = 4;

Globals BindGlobals(const WaylandClient& c, wl_display* display) {
  struct Found {
    const WaylandClient* Client;
    wl_proxy* Registry;
    Globals Bound;
  };
  static const wl_registry_listener listener = {
      [](void* data, wl_registry*, std::uint32_t name, const char* interface,
         std::uint32_t version) {
        auto* found = static_cast<Found*>(data);
        const WaylandClient& c = *found->Client;
        auto bind = [&](wl_proxy*& into, const wl_interface* what, std::uint32_t most) {
          if (into != nullptr || std::strcmp(interface, what->name) != 0) return;
          const std::uint32_t chosen = std::min(version, most);
          into = c.MarshalFlags(found->Registry, WL_REGISTRY_BIND, what, chosen, 0, name,
                                what->name, chosen, nullptr);
        };
        bind(found->Bound.Shm, c.Shm, 1);
        bind(found->Bound.Compositor, c.Compositor, kCompositorVersion);
        bind(found->Bound.Subcompositor, c.Subcompositor, 1);
      },
      [](void*, wl_registry*, std::uint32_t) {}};
  wl_proxy* registry = c.MarshalFlags(AsProxy(display), WL_DISPLAY_GET_REGISTRY, c.Registry,
                                      c.Version(AsProxy(display)), 0, nullptr);
  if (registry == nullptr) return {};
  Found found{&c, registry, {}};
  c.AddListener(registry,
                reinterpret_cast<void (**)(void)>(const_cast<wl_registry_listener*>(&listener)),
                &found);
  c.Roundtrip(display);
  c.Destroy(registry);
  return found.Bound;
}

// The changed areas of one present; a longer list is joined into its last rectangle.
constexpr int kMostAreas = 16;
// Buffers the compositor may hold at once before a present waits for one.
constexpr int kMostBuffers = 3;

// One shared-memory buffer: the pixels it holds lag behind the picture by `Behind`, the areas
// changed since it was last attached.
struct ShmBuffer {
  wl_proxy* Buffer = nullptr;
  std::uint32_t* Pixels = nullptr;
  bool Busy = false;  // attached, and not yet released by the compositor
  std::array<Rect, kMostAreas> Behind{};
  int BehindCount = 0;
  bool WhollyBehind = true;
};

class WaylandPresenter final : public Presenter {
 public:
  WaylandPresenter(const WaylandClient& c, SDL_Window* window, wl_display* display,
                   wl_proxy* surface, const Globals& globals)
      : c_(c), window_(window), display_(display), windowSurface_(surface), globals_(globals) {
    MakePictureSurface();
  }
  ~WaylandPresenter() override {
    if (wrapped_ != nullptr) SDL_FreeSurface(wrapped_);
    Release();
    if (subsurface_ != nullptr)
      Request(subsurface_, WL_SUBSURFACE_DESTROY, WL_MARSHAL_FLAG_DESTROY);
    if (pictureSurface_ != nullptr) {
      Request(pictureSurface_, WL_SURFACE_DESTROY, WL_MARSHAL_FLAG_DESTROY);
    }
    if (globals_.Subcompositor != nullptr) {
      Request(globals_.Subcompositor, WL_SUBCOMPOSITOR_DESTROY, WL_MARSHAL_FLAG_DESTROY);
    }
    if (globals_.Compositor != nullptr) c_.Destroy(globals_.Compositor);
    c_.Destroy(globals_.Shm);
  }
  WaylandPresenter(const WaylandPresenter&) = delete;
  WaylandPresenter& operator=(const WaylandPresenter&) = delete;

  void Present(bool full) override {
    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(window_, &width, &height);
    if (width <= 0 || height <= 0) return;
    if (width != width_ || height != height_) {
      if (!Resize(width, height)) return;
      full = true;
    } else if (full) {
      std::fill(shown_.begin(), shown_.end(), 0u);
      // A configure the window has answered takes effect with a commit of its surface.
      if (target_ == pictureSurface_) Request(windowSurface_, WL_SURFACE_COMMIT, 0);
    }
    int pictureWidth = 0, pictureHeight = 0;
    PictureSize(pictureWidth, pictureHeight);
    Rect areas[kMostAreas];
    int count = 0;
    if (width != pictureWidth || height != pictureHeight) {
      const SDL_Rect area = fitted_.PresentInto(wrapped_, pictureWidth, pictureHeight, full);
      if (area.w > 0)
        areas[count++] = Rect{area.x, area.y, area.x + area.w - 1, area.y + area.h - 1};
    } else {
      count = PresentTo(shown_.data(), width, width, height, full, areas, kMostAreas);
    }
    if (full) {
      areas[0] = Rect{0, 0, width - 1, height - 1};
      count = 1;
    }
    if (count == 0) return;
    for (ShmBuffer& buffer : buffers_) Lag(buffer, areas, count);
    ShmBuffer* buffer = FreeBuffer();
    if (buffer == nullptr) return;  // every buffer still held: the areas wait in Behind
    CatchUp(*buffer);
    Commit(*buffer, areas, count);
  }

  // A black frame of the window's size maps the window at once: a tiling compositor sizes it
  // only then.
  bool ShowBlack() {
    int width = 0, height = 0;
    SDL_GetWindowSizeInPixels(window_, &width, &height);
    if (width <= 0 || height <= 0 || !Resize(width, height)) return false;
    const Rect all{0, 0, width - 1, height - 1};
    buffers_[0].WhollyBehind = false;  // new memory is zero: black, as shown_
    Commit(buffers_[0], &all, 1);
    return true;
  }

  // The window thread polls the connection beside its own wake: SDL's wait would be woken by a
  // request to the compositor and its answer, a round trip through the compositor per wake. The
  // poll only watches; SDL's pump reads and dispatches, and events already queued send the
  // thread to the pump without a poll.
  bool EventsWaiting() override {
    c_.Flush(display_);
    if (c_.PrepareRead(display_) != 0) return true;
    prepared_ = true;
    return false;
  }
  void AfterPoll() override {
    if (prepared_) c_.CancelRead(display_);
    prepared_ = false;
  }
  int Connection() override { return c_.Fd(display_); }

  // libwayland serializes its callers, and a commit only sends; but a present that finds every
  // buffer held by the compositor waits for one, reading the connection, which is for the
  // window thread alone (it may be about to read it itself: prepare_read above).
  bool PresentsFromAnyThread() override {
    return std::any_of(buffers_.begin(), buffers_.end(),
                       [](const ShmBuffer& buffer) { return !buffer.Busy; });
  }

 private:
  template <typename... Args>
  wl_proxy* Request(wl_proxy* on, std::uint32_t opcode, std::uint32_t flags, Args... args) {
    return c_.MarshalFlags(on, opcode, nullptr, c_.Version(on), flags, args...);
  }

  // The picture's surface, a subsurface at the window's corner that lets input through to the
  // window's own; none where the compositor has no subsurfaces (the window's surface then shows
  // the picture).
  void MakePictureSurface() {
    if (globals_.Compositor == nullptr || globals_.Subcompositor == nullptr) return;
    const std::uint32_t version = c_.Version(globals_.Compositor);
    pictureSurface_ = c_.MarshalFlags(globals_.Compositor, WL_COMPOSITOR_CREATE_SURFACE, c_.Surface,
                                      version, 0, nullptr);
    if (pictureSurface_ == nullptr) return;
    subsurface_ = c_.MarshalFlags(globals_.Subcompositor, WL_SUBCOMPOSITOR_GET_SUBSURFACE,
                                  c_.Subsurface, c_.Version(globals_.Subcompositor), 0, nullptr,
                                  pictureSurface_, windowSurface_);
    if (subsurface_ == nullptr) return;
    Request(subsurface_, WL_SUBSURFACE_SET_DESYNC, 0);
    wl_proxy* nowhere = c_.MarshalFlags(globals_.Compositor, WL_COMPOSITOR_CREATE_REGION, c_.Region,
                                        version, 0, nullptr);
    if (nowhere == nullptr) return;
    Request(pictureSurface_, WL_SURFACE_SET_INPUT_REGION, 0, nowhere);
    Request(nowhere, WL_REGION_DESTROY, WL_MARSHAL_FLAG_DESTROY);
  }

  // Where the picture goes for a window of these pixels: its own surface when that can show
  // them 1:1, which takes the window's whole pixel density; else the window's surface.
  wl_proxy* TargetFor(int width, int height) {
    if (subsurface_ == nullptr) return windowSurface_;
    int unitsWide = 0, unitsHigh = 0;
    SDL_GetWindowSize(window_, &unitsWide, &unitsHigh);
    if (unitsWide <= 0 || width % unitsWide != 0 || height != width / unitsWide * unitsHigh) {
      return windowSurface_;
    }
    const int scale = width / unitsWide;
    if (scale != 1 && c_.Version(pictureSurface_) < WL_SURFACE_SET_BUFFER_SCALE_SINCE_VERSION) {
      return windowSurface_;
    }
    Request(pictureSurface_, WL_SURFACE_SET_BUFFER_SCALE, 0, scale);
    return pictureSurface_;
  }

  // The buffer attached with the areas that differ from the last one marked, and sent.
  void Commit(ShmBuffer& buffer, const Rect* areas, int count) {
    Attach(target_, buffer.Buffer, areas, count);
    buffer.Busy = true;
    c_.Flush(display_);
  }

  void Attach(wl_proxy* surface, wl_proxy* buffer, const Rect* areas, int count) {
    const bool bufferDamage = c_.Version(surface) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION;
    Request(surface, WL_SURFACE_ATTACH, 0, buffer, 0, 0);
    for (int i = 0; i < count; ++i) {
      Request(surface, bufferDamage ? WL_SURFACE_DAMAGE_BUFFER : WL_SURFACE_DAMAGE, 0, areas[i].x0,
              areas[i].y0, areas[i].x1 - areas[i].x0 + 1, areas[i].y1 - areas[i].y0 + 1);
    }
    Request(surface, WL_SURFACE_COMMIT, 0);
  }

  static void OnRelease(void* data, wl_buffer*) { static_cast<ShmBuffer*>(data)->Busy = false; }

  static void Lag(ShmBuffer& buffer, const Rect* areas, int count) {
    if (buffer.WhollyBehind) return;
    for (int i = 0; i < count; ++i) {
      if (buffer.BehindCount < kMostAreas) {
        buffer.Behind[buffer.BehindCount++] = areas[i];
      } else {
        buffer.Behind[kMostAreas - 1] = Union(buffer.Behind[kMostAreas - 1], areas[i]);
      }
    }
  }

  // The buffer brought up to the picture: the areas it lags behind, copied from what is shown.
  void CatchUp(ShmBuffer& buffer) {
    auto copy = [&](const Rect& r) {
      for (int y = r.y0; y <= r.y1; ++y) {
        const std::size_t at = static_cast<std::size_t>(y) * width_ + r.x0;
        std::memcpy(buffer.Pixels + at, shown_.data() + at,
                    static_cast<std::size_t>(r.x1 - r.x0 + 1) * 4);
      }
    };
    if (buffer.WhollyBehind) {
      copy(Rect{0, 0, width_ - 1, height_ - 1});
    } else {
      for (int i = 0; i < buffer.BehindCount; ++i) copy(buffer.Behind[i]);
    }
    buffer.WhollyBehind = false;
    buffer.BehindCount = 0;
  }

  // A buffer the compositor has let go of; when all are held, the compositor is given a moment
  // to release one (its answers are read meanwhile).
  ShmBuffer* FreeBuffer() {
    for (int attempt = 0; attempt < 2; ++attempt) {
      for (ShmBuffer& buffer : buffers_) {
        if (!buffer.Busy) return &buffer;
      }
      if (c_.Roundtrip(display_) < 0) return nullptr;
    }
    return nullptr;
  }

  wl_proxy* MakeBuffer(wl_proxy* pool, std::size_t offset, int width, int height) {
    return c_.MarshalFlags(pool, WL_SHM_POOL_CREATE_BUFFER, c_.Buffer, c_.Version(pool), 0, nullptr,
                           static_cast<std::int32_t>(offset), width, height, width * 4,
                           static_cast<std::uint32_t>(WL_SHM_FORMAT_XRGB8888));
  }

  // kMostBuffers buffers of the new size in one shared-memory pool, all wholly behind, and after
  // them the window's black one (memory never written: a window that shows the picture on its
  // own surface has no use for it, and unwritten memory takes no room).
  bool Resize(int width, int height) {
    Release();
    const std::size_t frame = static_cast<std::size_t>(width) * height * 4;
    const std::size_t size = frame * (kMostBuffers + 1);
    const int fd = memfd_create("snake-garden-frames", MFD_CLOEXEC);
    if (fd < 0) return false;
    bool made = ftruncate(fd, static_cast<off_t>(size)) == 0;
    void* memory =
        made ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    made = memory != MAP_FAILED;
    wl_proxy* pool = made ? c_.MarshalFlags(globals_.Shm, WL_SHM_CREATE_POOL, c_.ShmPool,
                                            c_.Version(globals_.Shm), 0, nullptr, fd,
                                            static_cast<std::int32_t>(size))
                          : nullptr;
    close(fd);
    if (pool == nullptr) {
      if (memory != MAP_FAILED) munmap(memory, size);
      return false;
    }
    memory_ = memory;
    memorySize_ = size;
    buffers_.resize(kMostBuffers);
    for (int i = 0; i < kMostBuffers; ++i) {
      ShmBuffer& buffer = buffers_[i];
      buffer = ShmBuffer{};
      buffer.Pixels = reinterpret_cast<std::uint32_t*>(static_cast<char*>(memory) + frame * i);
      buffer.Buffer = MakeBuffer(pool, frame * i, width, height);
      static const wl_buffer_listener listener = {OnRelease};
      if (buffer.Buffer != nullptr) {
        c_.AddListener(
            buffer.Buffer,
            reinterpret_cast<void (**)(void)>(const_cast<wl_buffer_listener*>(&listener)), &buffer);
      } else {
        buffer.Busy = true;  // never used
      }
    }
    const wl_proxy* before = target_;
    target_ = TargetFor(width, height);
    if (target_ == pictureSurface_) {
      black_ = MakeBuffer(pool, frame * kMostBuffers, width, height);
      if (black_ == nullptr) target_ = windowSurface_;
    }
    Request(pool, WL_SHM_POOL_DESTROY, WL_MARSHAL_FLAG_DESTROY);
    const Rect all{0, 0, width - 1, height - 1};
    if (black_ != nullptr) Attach(windowSurface_, black_, &all, 1);
    // Back from the picture's surface to the window's: the picture's surface shows nothing.
    if (before == pictureSurface_ && target_ != pictureSurface_) {
      Attach(pictureSurface_, nullptr, nullptr, 0);
    }
    shown_.assign(static_cast<std::size_t>(width) * height, 0u);
    if (wrapped_ != nullptr) SDL_FreeSurface(wrapped_);
    wrapped_ = SDL_CreateRGBSurfaceWithFormatFrom(shown_.data(), width, height, 32, width * 4,
                                                  SDL_PIXELFORMAT_RGB888);
    width_ = width;
    height_ = height;
    return true;
  }

  // The compositor keeps what it was last given until the next commit, so buffers may go
  // whatever it still holds.
  void Release() {
    for (ShmBuffer& buffer : buffers_) {
      if (buffer.Buffer != nullptr)
        Request(buffer.Buffer, WL_BUFFER_DESTROY, WL_MARSHAL_FLAG_DESTROY);
    }
    buffers_.clear();
    if (black_ != nullptr) Request(black_, WL_BUFFER_DESTROY, WL_MARSHAL_FLAG_DESTROY);
    black_ = nullptr;
    if (memory_ != nullptr) munmap(memory_, memorySize_);
    memory_ = nullptr;
    width_ = height_ = 0;
  }

  const WaylandClient& c_;
  bool prepared_ = false;  // to read the connection: a poll of it follows
  SDL_Window* window_;
  wl_display* display_;
  wl_proxy* windowSurface_;  // SDL's
  Globals globals_;
  wl_proxy* pictureSurface_ = nullptr;
  wl_proxy* subsurface_ = nullptr;
  wl_proxy* target_ = nullptr;  // the surface the picture's buffers go to
  wl_proxy* black_ = nullptr;   // the window surface's buffer while the picture has its own
  // Stable addresses: each buffer's release listener holds one.
  std::vector<ShmBuffer> buffers_;
  void* memory_ = nullptr;
  std::size_t memorySize_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint32_t> shown_;  // the window's pixels as last presented, 0x00RRGGBB
  SDL_Surface* wrapped_ = nullptr;    // SDL's view of shown_, which a fitted picture goes into
  FittedPicture fitted_;              // for a window of another size than the picture
};

}  // namespace

std::unique_ptr<Presenter> MakeWaylandPresenter(SDL_Window* window) {
  const WaylandClient* c = LoadWaylandClient();
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (c == nullptr || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE ||
      info.subsystem != SDL_SYSWM_WAYLAND) {
    return nullptr;
  }
  const Globals globals = BindGlobals(*c, info.info.wl.display);
  if (globals.Shm == nullptr) {
    if (globals.Compositor != nullptr) c->Destroy(globals.Compositor);
    if (globals.Subcompositor != nullptr) c->Destroy(globals.Subcompositor);
    return nullptr;
  }
  auto presenter = std::make_unique<WaylandPresenter>(*c, window, info.info.wl.display,
                                                      AsProxy(info.info.wl.surface), globals);
  if (!presenter->ShowBlack()) return nullptr;
  return presenter;
}

#else

std::unique_ptr<Presenter> MakeWaylandPresenter(SDL_Window*) {
  return nullptr;
}

#endif

}  // namespace gfx::sdl
