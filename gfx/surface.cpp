#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "gfx/context.h"
#include "gfx/inspect.h"
#include "gfx/modes.h"
#include "gfx/platform.h"
#include "gfx/surface.h"

namespace gfx {

// A ticket lock on two counters. Uncontended, a lock and an unlock are one atomic add each; a
// waiter sleeps on the counter it waits for (a futex) and is woken only when someone waits.
struct DrawingLock::Impl {
  std::atomic<std::uint32_t> NextTicket{0};
  std::atomic<std::uint32_t> NowServing{0};
  std::atomic<int> Waiting{0};
};

DrawingLock::Impl& DrawingLock::State() {
  static Impl impl;
  return impl;
}

// Tickets are served in the order they were drawn, so a thread that unlocks and relocks at once
// queues behind a thread already waiting.
void DrawingLock::lock() {
  Impl& s = State();
  const std::uint32_t ticket = s.NextTicket.fetch_add(1, std::memory_order_relaxed);
  std::uint32_t serving = s.NowServing.load(std::memory_order_acquire);
  if (serving == ticket) return;
  // Counted before sleeping and read after serving the next ticket, both sequentially
  // consistent: either the unlock sees this waiter and wakes it, or the wait sees the new ticket.
  s.Waiting.fetch_add(1, std::memory_order_seq_cst);
  while (serving != ticket) {
    s.NowServing.wait(serving, std::memory_order_seq_cst);
    serving = s.NowServing.load(std::memory_order_acquire);
  }
  s.Waiting.fetch_sub(1, std::memory_order_relaxed);
}

void DrawingLock::unlock() {
  Impl& s = State();
  s.NowServing.fetch_add(1, std::memory_order_seq_cst);
  if (s.Waiting.load(std::memory_order_seq_cst) > 0) s.NowServing.notify_all();
}

int DrawingLock::Waiters() {
  return State().Waiting.load(std::memory_order_relaxed);
}

namespace {

struct SurfaceState {
  DrawingLock Lock;
  BackingImage Image;
  WindowPlatform* Selected = nullptr;
  std::atomic<bool> ClosingOnPurpose{false};
};

// Never destroyed, yet constant-initialised: a window thread that is still copying from the
// backing image while the process ends must find it there, not unmapped under it.
template <typename T>
union Immortal {
  constexpr Immortal() : Value() {}
  ~Immortal() {}
  T Value;
};

constinit Immortal<SurfaceState> surface;

SurfaceState& Surface() {
  return surface.Value;
}

}  // namespace

DrawingLock& GraphDrawing() {
  return Surface().Lock;
}
BackingImage& Backing() {
  return Surface().Image;
}

void MarkDirty(int x0, int y0, int x1, int y1) {
  Rect& dirty = Backing().Dirty;
  if (dirty.Empty()) {
    dirty = Rect{x0, y0, x1, y1};
    return;
  }
  dirty.x0 = std::min(dirty.x0, x0);
  dirty.y0 = std::min(dirty.y0, y0);
  dirty.x1 = std::max(dirty.x1, x1);
  dirty.y1 = std::max(dirty.y1, y1);
}

void WakePresenter() {
  Platform().Wake();
}

WindowPlatform& Platform() {
  SurfaceState& s = Surface();
  if (s.Selected == nullptr) s.Selected = &SdlPlatform();
  return *s.Selected;
}

void SelectPlatform(WindowPlatform& platform) {
  assert(!Mode().IsGraphMode && "the platform changes only outside graphics mode");
  Surface().Selected = &platform;
  ForgetModeLists();
}

void UseWindowPlatform() {
  SelectPlatform(SdlPlatform());
}

void CloseWindowOnPurpose() {
  SurfaceState& s = Surface();
  s.ClosingOnPurpose.store(true);
  Platform().Close();
  s.ClosingOnPurpose.store(false);
}

void CloseWindowAtExit() {
  static const bool registered = std::atexit([] { CloseWindowOnPurpose(); }) == 0;
  (void)registered;
}

void OnWindowCreated(int clientWidth, int clientHeight) {
  ModeState& mode = Mode();
  // A maximized window's real client area is only known now; the mode takes it. Other modes keep
  // their size, so the viewport always lies inside the image.
  if (IsMaximizedMode(mode.IntCurrentMode) && clientWidth > 0 && clientHeight > 0) {
    mode.MaxX = static_cast<std::int16_t>(std::min(clientWidth, 32767) - 1);
    mode.MaxY = static_cast<std::int16_t>(std::min(clientHeight, 32767) - 1);
  }
  const int width = mode.MaxX + 1;
  const int height = mode.MaxY + 1;
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  BackingImage& image = Backing();
  image.Pixels.assign(static_cast<std::size_t>(width) * height, 0);
  image.Width = width;
  image.Height = height;
  image.Dirty = Rect{0, 0, width - 1, height - 1};
  ResetTextCaches();
}

// Outside the drawing lock: the hook may call drawing operations (which do nothing yet).
void RunWindowCreationHook() {
  if (void (*hook)() = OnGraphWindowCreation.load()) hook();
}

void OnWindowPainted() {
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  Backing().GraphRunning = true;
}

void OnWindowDestroyed() {
  {
    std::lock_guard<DrawingLock> hold(GraphDrawing());
    BackingImage& image = Backing();
    image.GraphRunning = false;
    std::vector<std::uint32_t>().swap(image.Pixels);
    image.Width = 0;
    image.Height = 0;
    image.Dirty = Rect{};
    ResetTextCaches();
  }
  if (!Surface().ClosingOnPurpose.load()) KeySourceClosed(true);
}

Rect PresentTo(std::uint32_t* destination, int pitchInPixels, int width, int height, bool full) {
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  BackingImage& image = Backing();
  Rect area = full ? Rect{0, 0, image.Width - 1, image.Height - 1} : image.Dirty;
  image.Dirty = Rect{};
  area.x0 = std::max(area.x0, 0);
  area.y0 = std::max(area.y0, 0);
  area.x1 = std::min({area.x1, image.Width - 1, width - 1});
  area.y1 = std::min({area.y1, image.Height - 1, height - 1});
  if (area.Empty()) return Rect{};
  const std::size_t bytes = static_cast<std::size_t>(area.x1 - area.x0 + 1) * sizeof(std::uint32_t);
  for (int y = area.y0; y <= area.y1; ++y) {
    std::memcpy(destination + static_cast<std::size_t>(y) * pitchInPixels + area.x0,
                image.Row(y) + area.x0, bytes);
  }
  return area;
}

}  // namespace gfx

namespace gfx::inspect {

std::uint32_t Pixel(int x, int y) {
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  BackingImage& image = Backing();
  if (x < 0 || y < 0 || x >= image.Width || y >= image.Height) return 0xFFFFFFFFu;
  return image.Row(y)[x];
}

int Width() {
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  return Backing().Width;
}

int Height() {
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  return Backing().Height;
}

}  // namespace gfx::inspect
