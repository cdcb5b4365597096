#pragma once

// The seam between the device-independent core and the window system. The core calls a platform
// to measure the desktop, open the window, wake it to present and close it; platforms call back
// into the core from their window thread. Nothing here names the window system.

#include <cstdint>

#include "gfx/core/rect.h"

namespace gfx {

// The largest scale a player's setting or a desktop may ask for.
inline constexpr int kMostScale = 8;

// In the window system's pixels; the core divides them by the scale it takes.
struct DesktopSize {
  int W = 640;  // largest client area of a framed window
  int H = 480;
  int FW = 640;  // client area of a maximized window
  int FH = 480;
  // Window pixels per picture pixel asked for: the player's setting, else the desktop's own
  // scale, else 1.
  int Scale = 1;
};

struct WindowRequest {
  int Width = 0;  // the picture: MaxX + 1 by MaxY + 1
  int Height = 0;
  int Scale = 1;  // the client area is Width * Scale by Height * Scale window pixels
  bool Maximized = false;
  const char* Title = "";
  bool Resizable = true;      // the player may resize and maximize it
  bool DoubleClicks = false;  // a quick second press is a double click, not another press
};

class WindowPlatform {
 public:
  virtual ~WindowPlatform() = default;
  // Called on the program's thread when the mode lists are built.
  virtual DesktopSize Desktop() = 0;
  // Starts the window thread and creates the window. Blocks, without spinning, until the window
  // has painted once (true) or the thread has given up (false, after showing its message).
  virtual bool Open(const WindowRequest& request) = 0;
  // Something changed: a new picture began, or the program finished one. The window thread asks
  // PictureDueInMs when to present; a platform may also show a picture due now at once, on the
  // calling thread. Never called with the drawing lock held. Coalesced and cheap.
  virtual void Wake() = 0;
  // Destroys the window if it still exists and waits for the window thread to end.
  virtual void Close() = 0;
};

// The platform the layer opens its windows on: the one chosen last. Until one is chosen there is
// none: the desktop is the stand-in and nothing opens (InitGraph chooses the build's platform
// then; see gfx/layer_build.h).
WindowPlatform& Platform();
bool PlatformChosen();
// Makes the platform the one Platform() answers; the mode lists are measured again on next use.
// Only outside graphics mode.
void SelectPlatform(WindowPlatform& platform);
// How many times a platform has been chosen: the mode lists remember the count they were built at.
unsigned PlatformChoices();

// Called by platforms on their window thread.
// The window exists with this client size in window pixels: the backing image is made black at
// the mode's size. For a maximized mode whose real client area differs from the estimate, the
// mode takes the real size divided by the scale (the program's thread is waiting in Open
// meanwhile). Takes the drawing lock.
void OnWindowCreated(int clientWidth, int clientHeight);
// After OnWindowCreated, before the first paint: the client's OnGraphWindowCreation, if set.
void RunWindowCreationHook();
// The window has painted: GraphRunning becomes true.
void OnWindowPainted();
// The window is gone (closed by the user, destroyed from outside, display lost, or CloseGraph):
// drawing stops having effect and readers waiting for keys are told.
void OnWindowDestroyed();
// Copies to a 0x00RRGGBB destination, under the drawing lock, the pixels of the changed areas
// that differ from what the destination holds (or everything, when full), lists in `shown` the
// rectangles it wrote (at most capacity: the last one grows to take the rest) and clears the
// changes. The destination must hold what was last presented to it. Returns the count; 0 when
// nothing changed on screen.
int PresentTo(std::uint32_t* destination, int pitchInPixels, int width, int height, bool full,
              Rect* shown, int capacity);
// The same, answering the box around everything written; empty when nothing was.
Rect PresentTo(std::uint32_t* destination, int pitchInPixels, int width, int height, bool full);
// The backing image's size, which a window of another size fits whole; 0 x 0 without a window.
void PictureSize(int& width, int& height);
// When the window thread should present: 0 now (the program waited, or a frame has passed since
// the first change), a positive number of milliseconds from now, or -1 when nothing is waiting
// to be shown (wait for a wake).
int PictureDueInMs();
// A platform that shows nothing lets a finished picture go at once, so drawing never waits.
void DropReadyPicture();

// Key, character and modifier messages from the window, in window-system-neutral form.
enum class KeyEvent : std::uint8_t { kKeyDown, kKeyUp, kChar };
enum class Key : std::uint8_t {
  kOther,
  kUp,
  kDown,
  kLeft,
  kRight,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
  kInsert,
  kDelete,
  kF1,
  kF2,
  kF3,
  kF4,
  kF5,
  kF6,
  kF7,
  kF8,
  kF9,
  kF10,
  kShift,
  kCtrl,
  kAlt
};
struct KeyMessage {
  KeyEvent Event = KeyEvent::kKeyDown;
  Key Code = Key::kOther;  // for key-down and key-up
  std::uint8_t Char = 0;   // for kChar: the character's low 8 bits
};
using MessageHandler = std::int32_t (*)(const KeyMessage& message);
// The keyboard part's handler; always answers 0.
std::int32_t MsgHandler(const KeyMessage& message);
// The key-message slot, which the window thread calls for every key-down, key-up and character
// message. It holds MsgHandler from the start and is never emptied: the key queue outlives every
// window thread, exit handlers included.
MessageHandler CharMessageHandler();

}  // namespace gfx
