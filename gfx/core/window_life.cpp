#include "gfx/core/window_life.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "gfx/core/backing_image.h"
#include "gfx/core/key_queue.h"
#include "gfx/core/layer.h"
#include "gfx/graph.h"
#include "gfx/platform/platform.h"

// The window's life as the core sees it: what a platform reports from its window thread, and the
// window closed on purpose.

namespace gfx {
namespace {

std::atomic<bool> closingOnPurpose{false};

}  // namespace

void CloseWindowOnPurpose() {
  closingOnPurpose.store(true);
  Platform().Close();
  closingOnPurpose.store(false);
}

void CloseWindowAtExit() {
  static const bool registered = std::atexit([] { CloseWindowOnPurpose(); }) == 0;
  (void)registered;
}

void OnWindowCreated(int clientWidth, int clientHeight) {
  ModeState& mode = Mode();
  // A maximized window's real client area is only known now; the mode takes it. Other modes keep
  // their size, so the viewport always lies inside the image.
  const int scale = std::max(mode.Scale, 1);
  if (IsMaximizedMode(mode.IntCurrentMode) && clientWidth >= scale && clientHeight >= scale) {
    mode.MaxX = static_cast<std::int16_t>(std::min(clientWidth / scale, 32767) - 1);
    mode.MaxY = static_cast<std::int16_t>(std::min(clientHeight / scale, 32767) - 1);
  }
  const int width = mode.MaxX + 1;
  const int height = mode.MaxY + 1;
  std::lock_guard<DrawingLock> hold(GraphDrawing());
  BackingImage& image = Backing();
  image.Pixels.assign(static_cast<std::size_t>(width) * height, 0);
  image.Width = width;
  image.Height = height;
  image.Changes.Clear();
  image.Changes.Add(Rect{0, 0, width - 1, height - 1});
  image.FirstChange = std::chrono::steady_clock::now();
  image.PictureReady = false;
  ++image.WindowChanges;
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
  ForgetWindow();
  if (!closingOnPurpose.load()) KeySourceClosed(true);
}

}  // namespace gfx
