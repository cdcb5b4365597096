#pragma once

// The layer's internal state, shared by its own source files only. The program's thread owns the
// drawing and mode state; the backing image is shared with the window thread under GraphDrawing.

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "gfx/graph.h"

namespace gfx {

struct ViewPort {
  std::int16_t StartX = 0;
  std::int16_t StartY = 0;
  std::int16_t Width = 0;   // x2 - x1
  std::int16_t Height = 0;  // y2 - y1
  bool Clip = true;
};

// Drawing state; GraphDefaults puts every field back to these values (the fill colour and the
// viewport from the mode).
struct DrawState {
  std::uint16_t CurrentColor = White;
  std::uint16_t CurrentBkColor = Black;
  FillSettingsType Fill{SolidFill, 0};
  LineSettingsType LineInfo{SolidLn, 0xFFFF, NormWidth};
  std::array<bool, 16> LinePatterns{};
  std::int16_t WriteMode = CopyPut;
  ViewPort View;
  std::int16_t CurrentX = 0;
  std::int16_t CurrentY = 0;
  TextSettingsType TextInfo{DefaultFont, HorizDir, 1, LeftText, TopText};
  std::uint16_t XAspect = 10000;
  std::uint16_t YAspect = 10000;
  std::array<std::uint8_t, 8> UserFillPattern{};
};

struct ModeState {
  std::int16_t MaxX = 0;
  std::int16_t MaxY = 0;
  std::int32_t MaxColor = 0;
  std::int32_t PaletteSize = 0;
  bool DirectColor = false;
  std::uint8_t HardwarePages = 0;
  std::int16_t IntCurrentDriver = 0;
  std::int16_t IntCurrentNewDriver = -1;
  std::int16_t IntCurrentMode = 0;
  bool IsGraphMode = false;
  std::string DriverPath;
};

DrawState& Draw();
ModeState& Mode();
// Leaves a result code pending for the next GraphResult; a later code overwrites an earlier one.
void SetResult(std::int16_t code);

// A rectangle of backing-image pixels, inclusive on all four sides; empty when x0 > x1.
struct Rect {
  int x0 = 1, y0 = 1, x1 = 0, y1 = 0;
  bool Empty() const { return x0 > x1 || y0 > y1; }
  long Area() const { return Empty() ? 0 : long{x1 - x0 + 1} * (y1 - y0 + 1); }
  bool Contains(const Rect& r) const {
    return r.x0 >= x0 && r.x1 <= x1 && r.y0 >= y0 && r.y1 <= y1;
  }
};

// The smallest rectangle holding both; either may be empty.
inline Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return Rect{a.x0 < b.x0 ? a.x0 : b.x0, a.y0 < b.y0 ? a.y0 : b.y0, a.x1 > b.x1 ? a.x1 : b.x1,
              a.y1 > b.y1 ? a.y1 : b.y1};
}

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
  ChangeList Changes;         // changed since the window thread last presented
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

// The program waits (ReadKey, Delay, KeyPressed finding no key): what it has drawn is a whole
// picture, which the window shows now. Cheap when nothing changed.
void PresentPicture();

// The screen colour of a colour number. Numbers at or above MaxColor wrap around the palette,
// as an 8-bit colour register would, so nothing reads outside it.
std::uint32_t ScreenColor(std::uint16_t color);

// Text caches live with the window; the window's creation and destruction empty them, calling
// this with GraphDrawing() held.
void ResetTextCaches();
// The window version of the OutTextXY slot.
void WindowOutTextXY(std::int16_t x, std::int16_t y, std::string_view text);

// Keyboard side, called by the core. A new window will deliver keys (InitGraph succeeded).
void KeySourceOpened();
// The window can deliver no more keys: lost is true when the player closed it or the display went
// away, false for CloseGraph. Wakes every reader waiting for a key or sleeping in Delay.
void KeySourceClosed(bool lost);

}  // namespace gfx
