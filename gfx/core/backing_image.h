#pragma once

// The backing image the window shows, the changes not shown yet, and the drawing lock that the
// program's thread and the window thread share it under.

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "gfx/core/rect.h"

namespace gfx {

// The areas changed since the window last showed the backing image, as a few rectangles. Areas
// that overlap or nearly touch are joined when the join wastes little; when the list is full a
// new area joins the rectangle it grows least, so the list never holds more than kCapacity.
class ChangeList {
 public:
  static constexpr int kCapacity = 16;
  // True when this is the first change since the list was last cleared.
  bool Add(const Rect& area);
  void Clear() { count_ = 0; }
  bool Empty() const { return count_ == 0; }
  const Rect* begin() const { return rects_.data(); }
  const Rect* end() const { return rects_.data() + count_; }

 private:
  std::array<Rect, kCapacity> rects_{};
  int count_ = 0;
};

// The backing image, 0x00RRGGBB per pixel, row after row. Guarded by GraphDrawing().
struct BackingImage {
  std::vector<std::uint32_t> Pixels;
  int Width = 0;
  int Height = 0;
  bool GraphRunning = false;  // the window exists and has painted once
  // Counts windows made and gone: caches that live with the window (the text part's glyphs)
  // empty themselves when it has moved on since they were filled.
  std::uint32_t WindowChanges = 0;
  ChangeList Changes;                                 // changed since the window last presented
  std::chrono::steady_clock::time_point FirstChange;  // when Changes stopped being empty
  std::chrono::steady_clock::time_point LastWait;     // the program's last wait
  // The program has waited: Changes form a whole picture that the window is to show now, and
  // drawing waits until it has been taken.
  bool PictureReady = false;
  bool DrawToBitmap = true;  // off: drawing calls change nothing
  bool DrawToScreen = true;  // off: changes are kept back from the window
  std::uint32_t* Row(int y) { return Pixels.data() + static_cast<std::size_t>(y) * Width; }
};

// The drawing lock. Fair, so that the window thread's present gets its turn between the
// primitives of a drawing loop that relocks at once. Usable with std::lock_guard.
class DrawingLock {
 public:
  void lock();
  void unlock();
  // Threads queued behind the holder right now (tests of the lock's order).
  int Waiters();

 private:
  struct Impl;
  static Impl& State();
};

DrawingLock& GraphDrawing();
BackingImage& Backing();  // touch only under GraphDrawing()

// One drawing call's hold on the backing image, taken once for the whole call. Taking it first
// waits, if the program has finished a picture that the window has not taken yet, until the
// window has taken it, so that no part of the next picture is shown with it. Letting go wakes
// the window thread when this call began a new picture, so that it can show it within a frame
// even if the program never waits.
class DrawingHold {
 public:
  DrawingHold();
  ~DrawingHold();
  DrawingHold(const DrawingHold&) = delete;
  DrawingHold& operator=(const DrawingHold&) = delete;
  // False when drawing has no effect: no window, or DrawToBitmap off.
  bool Drawable() const;
  BackingImage& Image() { return Backing(); }
  // Records that pixels in the area changed; nothing for an empty area.
  void Changed(const Rect& area);

 private:
  std::unique_lock<DrawingLock> lock_;
  bool began_ = false;
};

// The window is gone: its image is dropped, drawing has no effect any more, and drawing calls
// waiting for the window to take a picture go on.
void ForgetWindow();

// The program waits (ReadKey, Delay, KeyPressed finding no key): what it has drawn is a whole
// picture, which the window shows now. Cheap when nothing changed.
void PresentPicture();

}  // namespace gfx
