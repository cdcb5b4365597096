#include "gfx/core/backing_image.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "gfx/core/address_wait.h"
#include "gfx/core/constinit.h"
#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/platform/platform.h"

namespace gfx {

// A ticket lock on two counters. Uncontended, a lock and an unlock are one atomic add each; a
// waiter sleeps on the counter it waits for (address_wait.h: a futex, or the operating system's
// equivalent) and is woken only when someone waits.
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
    WaitWhileEqual(s.NowServing, serving);
    serving = s.NowServing.load(std::memory_order_acquire);
  }
  s.Waiting.fetch_sub(1, std::memory_order_relaxed);
}

void DrawingLock::unlock() {
  Impl& s = State();
  s.NowServing.fetch_add(1, std::memory_order_seq_cst);
  if (s.Waiting.load(std::memory_order_seq_cst) > 0) WakeAll(s.NowServing);
}

int DrawingLock::Waiters() {
  return State().Waiting.load(std::memory_order_relaxed);
}

namespace {

struct SurfaceState {
  DrawingLock Lock;
  BackingImage Image;
};

// Never destroyed, yet constant-initialised: a window thread that is still copying from the
// backing image while the process ends must find it there, not unmapped under it.
template <typename T>
union Immortal {
  constexpr Immortal() : Value() {}
  ~Immortal() {}
  T Value;
};

SNAKE_CONSTINIT Immortal<SurfaceState> surface;

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

namespace {

Rect Intersection(const Rect& a, const Rect& b) {
  return Rect{std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1),
              std::min(a.y1, b.y1)};
}

// Pixels a join may add beyond the two areas: a few rows of compare at present time, against a
// rectangle more in the list.
constexpr long kJoinSlack = 1024;

}  // namespace

bool ChangeList::Add(const Rect& area) {
  if (area.Empty()) return false;
  if (count_ == 0) {
    rects_[0] = area;
    count_ = 1;
    return true;
  }
  // Redrawing an area already changed is the common case (a snake hidden, then shown).
  for (int i = 0; i < count_; ++i) {
    if (rects_[i].Contains(area)) return false;
  }
  int cheapest = 0;
  long leastGrowth = -1;
  for (int i = 0; i < count_; ++i) {
    Rect& rect = rects_[i];
    const Rect joined = Union(rect, area);
    if (joined.Area() - rect.Area() - area.Area() <= kJoinSlack) {
      rect = joined;
      return false;
    }
    const long growth = joined.Area() - rect.Area();
    if (leastGrowth < 0 || growth < leastGrowth) {
      leastGrowth = growth;
      cheapest = i;
    }
  }
  if (count_ < kCapacity) {
    rects_[count_++] = area;
  } else {
    rects_[cheapest] = Union(rects_[cheapest], area);
  }
  return false;
}

namespace {

// How long a drawing call waits for the window to take a finished picture before drawing on
// regardless: only a window thread that has stopped serving would take this long.
constexpr std::chrono::milliseconds kHandOverLimit{100};
// A program that never waits still has its drawing shown this long after the first change.
constexpr int kFrameMs = 16;
std::atomic<int> frameMs{kFrameMs};
// A program that has waited this recently shows its pictures at its waits; the window steps in
// only after the longer limit, so that a program held up in the middle of a picture (a busy
// machine) does not have half of it shown.
constexpr auto kRecentWait = std::chrono::seconds(1);
constexpr int kWaitingProgramMs = 250;

// Never destroyed: drawing may go on while the program's exit handlers run.
std::condition_variable_any& PictureTaken() {
  static auto* const taken = new std::condition_variable_any;
  return *taken;
}

void AwaitPictureTaken(std::unique_lock<DrawingLock>& lock) {
  BackingImage& image = Backing();
  const bool taken = PictureTaken().wait_for(
      lock, kHandOverLimit, [&image] { return !image.PictureReady || !image.GraphRunning; });
  if (!taken) image.PictureReady = false;
}

// Clears the changes; drawing calls waiting for the picture go on.
void HandOver(BackingImage& image, std::unique_lock<DrawingLock>& lock) {
  image.Changes.Clear();
  const bool wasReady = image.PictureReady;
  image.PictureReady = false;
  lock.unlock();
  if (wasReady) PictureTaken().notify_all();
}

void WakePresenter() {
  Platform().Wake();
}

}  // namespace

DrawingHold::DrawingHold() : lock_(GraphDrawing()) {
  const BackingImage& image = Backing();
  if (image.PictureReady && image.GraphRunning) AwaitPictureTaken(lock_);
}

DrawingHold::~DrawingHold() {
  lock_.unlock();
  if (began_) WakePresenter();
}

bool DrawingHold::Drawable() const {
  const BackingImage& image = Backing();
  return image.GraphRunning && image.DrawToBitmap;
}

// A program that waits shows its pictures at its waits, so a picture it begins wakes nobody: the
// window thread looks in on its own a while after the last wait (PictureDueInMs), in case the
// program has stopped waiting. One that does not wait wakes the window thread at once, to be
// shown within a frame.
void DrawingHold::Changed(const Rect& area) {
  BackingImage& image = Backing();
  if (image.Changes.Add(area)) {
    image.FirstChange = std::chrono::steady_clock::now();
    began_ = image.FirstChange - image.LastWait >= kRecentWait;
  }
}

void PresentPicture() {
  {
    std::lock_guard<DrawingLock> hold(GraphDrawing());
    BackingImage& image = Backing();
    image.LastWait = std::chrono::steady_clock::now();
    if (!image.GraphRunning || !image.DrawToScreen || image.PictureReady || image.Changes.Empty()) {
      return;
    }
    image.PictureReady = true;
  }
  WakePresenter();
}

}  // namespace gfx

void SetDrawToBitmap(bool on) {
  std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
  gfx::Backing().DrawToBitmap = on;
}

bool GetDrawToBitmap() {
  std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
  return gfx::Backing().DrawToBitmap;
}

// Switched on again, what was kept back counts as changed from now: shown at the next wait, or
// within a frame.
void SetDrawToScreen(bool on) {
  bool wake = false;
  {
    std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
    gfx::BackingImage& image = gfx::Backing();
    wake = on && !image.DrawToScreen && !image.Changes.Empty();
    image.DrawToScreen = on;
    if (wake) image.FirstChange = std::chrono::steady_clock::now();
  }
  if (wake) gfx::WakePresenter();
}

bool GetDrawToScreen() {
  std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
  return gfx::Backing().DrawToScreen;
}

namespace gfx {

int PictureDueInMs() {
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  const BackingImage& image = Backing();
  const auto now = std::chrono::steady_clock::now();
  const bool waitedRecently = now - image.LastWait < kRecentWait;
  if (image.Changes.Empty()) {
    // A picture begun now would wake nobody: look again once that no longer holds, which a
    // program that keeps waiting postpones with each wait.
    if (!image.GraphRunning || !waitedRecently) return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(image.LastWait + kRecentWait - now);
    return static_cast<int>(std::max<long long>(left.count(), 1));
  }
  if (image.PictureReady) return 0;
  if (!image.DrawToScreen) return -1;
  int limitMs = frameMs.load(std::memory_order_relaxed);
  if (waitedRecently) limitMs = std::max(limitMs, kWaitingProgramMs);
  const auto left = std::chrono::milliseconds(limitMs) - (now - image.FirstChange);
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void DropReadyPicture() {
  std::unique_lock<DrawingLock> hold(GraphDrawing());
  BackingImage& image = Backing();
  if (image.PictureReady) HandOver(image, hold);
}

void ForgetWindow() {
  std::unique_lock<DrawingLock> hold(GraphDrawing());
  BackingImage& image = Backing();
  image.GraphRunning = false;
  std::vector<std::uint32_t>().swap(image.Pixels);
  image.Width = 0;
  image.Height = 0;
  ++image.WindowChanges;
  HandOver(image, hold);
}

namespace {

void Show(const Rect& area, Rect* shown, int& count, int capacity) {
  if (count < capacity) {
    shown[count++] = area;
  } else {
    shown[capacity - 1] = Union(shown[capacity - 1], area);
  }
}

// Copies, row by row, the pixels of the area that differ from what the destination holds (what
// the window shows), and lists the bands of consecutive changed rows as rectangles. A tick that
// hides and shows a whole snake moves only its head and tail on the screen.
void ShowDifferences(BackingImage& image, std::uint32_t* destination, int pitch, const Rect& area,
                     Rect* shown, int& count, int capacity) {
  const int width = area.x1 - area.x0 + 1;
  Rect band;
  for (int y = area.y0; y <= area.y1; ++y) {
    const std::uint32_t* from = image.Row(y) + area.x0;
    std::uint32_t* to = destination + static_cast<std::size_t>(y) * pitch + area.x0;
    if (std::memcmp(from, to, static_cast<std::size_t>(width) * sizeof(std::uint32_t)) == 0) {
      if (!band.Empty()) Show(band, shown, count, capacity);
      band = Rect{};
      continue;
    }
    int left = 0;
    while (from[left] == to[left]) ++left;
    int right = width - 1;
    while (from[right] == to[right]) --right;
    std::memcpy(to + left, from + left,
                static_cast<std::size_t>(right - left + 1) * sizeof(std::uint32_t));
    band = Union(band, Rect{area.x0 + left, y, area.x0 + right, y});
  }
  if (!band.Empty()) Show(band, shown, count, capacity);
}

void CopyAll(BackingImage& image, std::uint32_t* destination, int pitch, const Rect& area) {
  const std::size_t bytes = static_cast<std::size_t>(area.x1 - area.x0 + 1) * sizeof(std::uint32_t);
  for (int y = area.y0; y <= area.y1; ++y) {
    std::memcpy(destination + static_cast<std::size_t>(y) * pitch + area.x0, image.Row(y) + area.x0,
                bytes);
  }
}

}  // namespace

int PresentTo(std::uint32_t* destination, int pitchInPixels, int width, int height, bool full,
              Rect* shown, int capacity) {
  std::unique_lock<DrawingLock> hold(GraphDrawing());
  BackingImage& image = Backing();
  const Rect bounds{0, 0, std::min(image.Width, width) - 1, std::min(image.Height, height) - 1};
  int count = 0;
  if (full && !bounds.Empty()) {
    CopyAll(image, destination, pitchInPixels, bounds);
    Show(bounds, shown, count, capacity);
  } else if (!full) {
    for (const Rect& changed : image.Changes) {
      const Rect area = Intersection(changed, bounds);
      if (!area.Empty()) {
        ShowDifferences(image, destination, pitchInPixels, area, shown, count, capacity);
      }
    }
  }
  HandOver(image, hold);
  return count;
}

Rect PresentTo(std::uint32_t* destination, int pitchInPixels, int width, int height, bool full) {
  constexpr int kMost = 64;
  Rect shown[kMost];
  const int count = PresentTo(destination, pitchInPixels, width, height, full, shown, kMost);
  Rect box;
  for (int i = 0; i < count; ++i) box = Union(box, shown[i]);
  return box;
}

void PictureSize(int& width, int& height) {
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  width = Backing().Width;
  height = Backing().Height;
}

}  // namespace gfx

namespace gfx::inspect {

std::uint32_t Pixel(int x, int y) {
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  BackingImage& image = Backing();
  if (x < 0 || y < 0 || x >= image.Width || y >= image.Height) return 0xFFFFFFFFu;
  return image.Row(y)[x];
}

void SetFrameLimit(int milliseconds) {
  frameMs.store(milliseconds > 0 ? milliseconds : kFrameMs, std::memory_order_relaxed);
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
