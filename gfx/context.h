#pragma once

// The layer's internal state, shared by its own source files only. The program's thread owns the
// drawing and mode state; the backing image is shared with the window thread under GraphDrawing.

#include <array>
#include <cstdint>
#include <string_view>
#include <string>
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
};

// The backing image, 0x00RRGGBB per pixel, row after row. Guarded by GraphDrawing().
struct BackingImage {
  std::vector<std::uint32_t> Pixels;
  int Width = 0;
  int Height = 0;
  bool GraphRunning = false;  // the window exists and has painted once
  Rect Dirty;                 // changed since the window thread last presented
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

// Under the lock: records that the rectangle changed. After unlocking, WakePresenter() lets the
// window thread show it; the wake is coalesced, so calling it per primitive is cheap.
void MarkDirty(int x0, int y0, int x1, int y1);
void WakePresenter();

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
