// The window platform on SDL2: the window thread and the window's life. Everything SDL happens
// on one thread per window (or, for measuring the desktop, one short-lived thread at a time), so
// SDL is never used from two threads at once. On X11 and Wayland the program's thread wakes the
// window thread through an eventfd that the window thread polls beside the display's connection
// (sdl_system.h). There the program's thread also shows its finished pictures itself, while the
// window thread sleeps in that poll, which saves a wake-up per picture (PresentHere). The other
// jobs have files of their own: the X11 guards (a lost display ends the window, never the process),
// key and mouse translation, the presenters, the desktop's size.

#include "gfx/platform/sdl/sdl_window.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <csetjmp>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "gfx/graph.h"
#include "gfx/platform/sdl/desktop_size.h"
#include "gfx/platform/sdl/presenter.h"
#include "gfx/platform/sdl/sdl_input.h"
#include "gfx/platform/sdl/sdl_system.h"
#include "gfx/platform/sdl/sdl_video.h"
#include "gfx/platform/sdl/x11_guards.h"

namespace gfx::sdl {
namespace {

// How long a window manager may take to maximize a new window.
constexpr Uint32 kSettleMs = 500;

enum class Phase : std::uint8_t { kClosed, kStarting, kOpen, kFailed };

struct WindowContext {
  // Shared by the program's thread and the window thread.
  std::mutex Mutex;  // guards State
  std::condition_variable StateChanged;
  Phase State = Phase::kClosed;
  std::thread Thread;
  std::atomic<bool> PresentPending{false};
  std::atomic<bool> CloseRequested{false};
  int WakeFd = -1;  // eventfd; lives as long as the process
  // The display's socket (X11 or Wayland) that the window thread polls beside WakeFd; -1 where it
  // waits in SDL instead, woken by an SDL event.
  int Connection = -1;
  // Other drivers: the wake is an SDL user event, pushed only while SDL is up.
  std::mutex PushMutex;
  bool PushAccepted = false;
  Uint32 WakeEventType = 0;
  DesktopSize Desktop;
  // Window pixels per unit of SDL's window sizes and mouse positions: the output's scale on
  // Wayland, where a high-density window draws at full density; 1 on X11.
  double PixelRatio = 1.0;

  // Only the window thread.
  SDL_Window* Window = nullptr;
  Uint32 WindowId = 0;
  std::unique_ptr<Presenter> Picture;  // how the backing image reaches the window
  int XConnection = -1;
  bool Ending = false;
  bool RepaintAll = false;
  bool DoubleClicks = false;
  bool Told = false;  // OnWindowDestroyed has been called for this window

  // The display: SDL, its connection and the presenter. The window thread holds it from start to
  // end and lets go only while it waits in its poll, so that the program's thread may present in
  // between without the two ever calling the display's library at once.
  std::mutex Display;
  bool PresentAnywhere = false;  // guarded by Display: the program's thread may present
};

// Set on the window thread: client handlers it calls may call back into the platform.
thread_local bool tWindowThread = false;

WindowContext& Context() {
  static WindowContext* const context = new WindowContext;  // outlives exit handlers
  return *context;
}

Phase CurrentPhase() {
  WindowContext& w = Context();
  std::lock_guard<std::mutex> hold(w.Mutex);
  return w.State;
}

void SetPhase(Phase phase) {
  WindowContext& w = Context();
  {
    std::lock_guard<std::mutex> hold(w.Mutex);
    w.State = phase;
  }
  w.StateChanged.notify_all();
}

// Program's thread: the window thread looks at its flags again.
void Nudge() {
  WindowContext& w = Context();
  if (w.Connection >= 0) {
    PostWake(w.WakeFd);
    return;
  }
  std::lock_guard<std::mutex> hold(w.PushMutex);
  if (!w.PushAccepted) return;
  SDL_Event wake{};
  wake.type = w.WakeEventType;
  SDL_PushEvent(&wake);
}

void AcceptPushes(bool accept) {
  WindowContext& w = Context();
  std::lock_guard<std::mutex> hold(w.PushMutex);
  w.PushAccepted = accept;
}

void SendKey(const KeyMessage& message) {
  CharMessageHandler()(message);
}

void OnTextInput(const char* text) {
  const TextCharacters characters = CharactersOf(text);
  for (int i = 0; i < characters.Count; ++i) {
    SendKey(KeyMessage{KeyEvent::kChar, Key::kOther, characters.Chars[i]});
  }
}

// SDL gives the pointer in its window units; the mouse slot gets the picture pixel under it.
void PlaceOnPicture(MouseMessage& message) {
  WindowContext& w = Context();
  int width = 0, height = 0, pixelWidth = 0, pixelHeight = 0, pictureWidth = 0, pictureHeight = 0;
  SDL_GetWindowSize(w.Window, &width, &height);
  SDL_GetWindowSizeInPixels(w.Window, &pixelWidth, &pixelHeight);
  PictureSize(pictureWidth, pictureHeight);
  if (width <= 0 || height <= 0) return;
  const SDL_Point pixel{static_cast<int>(static_cast<long long>(message.X) * pixelWidth / width),
                        static_cast<int>(static_cast<long long>(message.Y) * pixelHeight / height)};
  const SDL_Point on =
      PicturePixel(pixel, FitPicture(pictureWidth, pictureHeight, pixelWidth, pixelHeight).Area,
                   pictureWidth, pictureHeight);
  message.X = Coordinate(on.x);
  message.Y = Coordinate(on.y);
}

void OnMouseButton(const SDL_MouseButtonEvent& event) {
  WindowContext& w = Context();
  MouseMessage message;
  if (event.windowID != w.WindowId || !MouseMessageOf(event, w.DoubleClicks, message)) return;
  PlaceOnPicture(message);
  if (MouseMessageProc handler = MouseMessageHandler.load()) handler(message);
}

void OnWindowEvent(const SDL_WindowEvent& event) {
  WindowContext& w = Context();
  if (event.windowID != w.WindowId) return;
  switch (event.event) {
    case SDL_WINDOWEVENT_CLOSE:
      w.Ending = true;
      break;
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_RESIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
      w.RepaintAll = true;
      break;
    default:
      break;
  }
}

void OnEvent(const SDL_Event& event) {
  WindowContext& w = Context();
  switch (event.type) {
    case SDL_QUIT:
      w.Ending = true;
      break;
    case SDL_WINDOWEVENT:
      OnWindowEvent(event.window);
      break;
    case SDL_KEYDOWN:
      SendKey(KeyDownMessage(event.key.keysym));
      break;
    case SDL_KEYUP:
      SendKey(KeyMessage{KeyEvent::kKeyUp, KeyOf(event.key.keysym)});
      break;
    case SDL_TEXTINPUT:
      OnTextInput(event.text.text);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      OnMouseButton(event.button);
      break;
    case SDL_SYSWMEVENT:
      if (DestroyNotifyFor(*event.syswm.msg, WatchedWindow())) w.Ending = true;
      break;
    default:
      break;  // the wake event only ends the wait; the flags say what to do
  }
}

bool Finished() {
  WindowContext& w = Context();
  return w.Ending || w.CloseRequested.load() || DestroyedOutside();
}

// Off X11 a held key is repeated by SDL's pump, not by the display server: while one is held,
// the window thread pumps every few milliseconds.
constexpr int kRepeatLookMs = 8;

bool KeyHeld() {
  int count = 0;
  const Uint8* down = SDL_GetKeyboardState(&count);
  return std::any_of(down, down + count, [](Uint8 key) { return key != 0; });
}

// Blocks until the display sends something, a wake or, where SDL waits, any SDL event arrives,
// or until timeoutMs have passed (-1: no limit). Idle, no CPU. True when the window's events are
// to be read: where the thread polls the connection, only when it has brought some, so that a
// wake to present reads nothing.
bool WaitForWork(int timeoutMs) {
  WindowContext& w = Context();
  if (w.Connection >= 0) {
    const bool repeating = w.XConnection < 0 && KeyHeld();
    if (repeating && (timeoutMs < 0 || timeoutMs > kRepeatLookMs)) timeoutMs = kRepeatLookMs;
    if (w.Picture->EventsWaiting()) return true;
    w.Display.unlock();
    const bool events = AwaitConnectionOrWake(w.Connection, w.WakeFd, timeoutMs);
    w.Display.lock();
    // A loss the program's thread met meanwhile left Xlib locked by that thread for good: no
    // call of it from here on.
    JumpIfDisplayLost();
    w.Picture->AfterPoll();
    return events || repeating;
  }
  SDL_Event event;
  const int got = timeoutMs < 0 ? SDL_WaitEvent(&event) : SDL_WaitEventTimeout(&event, timeoutMs);
  if (got == 1) OnEvent(event);
  return true;
}

// SDL reads the connection dry once, then its queue is taken whole: SDL_PollEvent would read the
// connection again for every event it returns, and once more to find none.
void TakeEvents() {
  SDL_PumpEvents();
  SDL_Event events[16];
  int got = 0;
  while (!Finished() &&
         (got = SDL_PeepEvents(events, 16, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT)) > 0) {
    for (int i = 0; i < got; ++i) OnEvent(events[i]);
  }
}

// A picture is shown when the program waits, or a frame after its first change if the program
// never does; in between the window thread sleeps until the next event, wake or deadline.
void EventLoop() {
  WindowContext& w = Context();
  bool input = true;  // whatever came before the loop
  while (!Finished()) {
    if (input) TakeEvents();
    input = false;
    if (Finished()) break;
    if (w.RepaintAll) {
      w.RepaintAll = false;
      w.Picture->Present(true);
      continue;
    }
    // Cleared before asking, so that a wake from now on nudges the thread again.
    w.PresentPending.store(false);
    const int due = PictureDueInMs();
    if (due == 0) {
      w.Picture->Present(false);
    } else {
      input = WaitForWork(due);
    }
  }
}

// Under a window manager a maximized window reaches its real size a moment after it appears.
void AwaitMaximizedSize() {
  WindowContext& w = Context();
  if (!WindowManagerPresent(w.Window)) return;
  const Uint32 start = SDL_GetTicks();
  for (Uint32 waited = 0; waited < kSettleMs; waited = SDL_GetTicks() - start) {
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, static_cast<int>(kSettleMs - waited)) != 1) return;
    OnEvent(event);
    if (w.Ending) return;
    if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) return;
  }
}

// SDL sizes a window in its units; a high-density window has PixelRatio pixels per unit. Rounded
// up, so that the picture's blocks fit whole.
int InUnits(int pixels, double pixelRatio) {
  return static_cast<int>(std::ceil(pixels / pixelRatio - 1e-9));
}

// A high-density window: on an output at scale 2 Wayland gives it a buffer of the output's full
// pixels (X11 has no such thing and ignores the flag).
bool CreateWindow(const WindowRequest& request, const std::string& title) {
  WindowContext& w = Context();
  const Uint32 flags = SDL_WINDOW_SHOWN | SDL_WINDOW_ALLOW_HIGHDPI |
                       (request.Resizable ? SDL_WINDOW_RESIZABLE : 0) |
                       (request.Maximized ? SDL_WINDOW_MAXIMIZED : 0);
  w.Window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                              InUnits(request.Width * request.Scale, w.PixelRatio),
                              InUnits(request.Height * request.Scale, w.PixelRatio), flags);
  if (w.Window == nullptr) return false;
  w.WindowId = SDL_GetWindowID(w.Window);
  w.DoubleClicks = request.DoubleClicks;
  WatchWindow(XWindowOf(w.Window));
  w.XConnection = XConnectionOf(w.Window);
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  SDL_StartTextInput();
  w.Picture = MakePresenter(w.Window);
  if (w.Picture == nullptr) {
    SDL_DestroyWindow(w.Window);
    w.Window = nullptr;
    return false;
  }
  if (w.WakeFd >= 0) w.Connection = w.XConnection >= 0 ? w.XConnection : w.Picture->Connection();
  if (request.Maximized) AwaitMaximizedSize();
  return true;
}

// The core learns the window's real size, the first frame is shown, and Open may return.
void ShowFirstFrame() {
  WindowContext& w = Context();
  int width = 0, height = 0;
  SDL_GetWindowSizeInPixels(w.Window, &width, &height);
  OnWindowCreated(width, height);
  RunWindowCreationHook();
  w.Picture->Present(true);
  OnWindowPainted();
  SetPhase(Phase::kOpen);
}

void TellDestroyed() {
  WindowContext& w = Context();
  if (w.Told) return;
  w.Told = true;
  OnWindowDestroyed();
}

// SDL waits for a destroyed X window to be unmapped, which never happens to one that another
// client has already destroyed. Such a window is left to SDL, and SDL stays up from then on,
// since quitting would destroy (and wait for) it too.
void EndWindow() {
  WindowContext& w = Context();
  AcceptPushes(false);
  w.PresentAnywhere = false;
  w.Picture.reset();
  if (DestroyedOutside()) {
    KeepSdlUp();
  } else {
    SDL_DestroyWindow(w.Window);
  }
  w.Window = nullptr;
  WatchWindow(0);
  TellDestroyed();
  StopSdl();
}

// SDL is left as it is, the presenter too: every call into SDL would fail or spin on the dead
// connection.
void AbandonLostDisplay(bool wasOpen) {
  WindowContext& w = Context();
  w.PresentAnywhere = false;
  w.Window = nullptr;
  (void)w.Picture.release();
  WatchWindow(0);
  if (wasOpen) {
    TellDestroyed();
  } else {
    ShowFailure(kCreationFailed);
    SetPhase(Phase::kFailed);
  }
}

void Serve(const WindowRequest& request, const std::string& title) {
  WindowContext& w = Context();
  if (!StartSdl()) {
    ShowFailure(kRegistrationFailed);
    SetPhase(Phase::kFailed);
    return;
  }
  if (!StartDisplay()) {
    ShowFailure(kCreationFailed);
    SetPhase(Phase::kFailed);
    return;
  }
  w.WakeEventType = SDL_RegisterEvents(1);
  AcceptPushes(w.WakeEventType != static_cast<Uint32>(-1));
  LostDisplayJump lost;
  if (SET_LOST_DISPLAY_JUMP(lost) != 0) {
    JumpOnLostDisplay(nullptr);
    AcceptPushes(false);
    AbandonLostDisplay(CurrentPhase() == Phase::kOpen);
    return;
  }
  JumpOnLostDisplay(&lost);
  if (!CreateWindow(request, title)) {
    JumpOnLostDisplay(nullptr);
    ShowFailure(kCreationFailed);
    AcceptPushes(false);
    StopSdl();
    SetPhase(Phase::kFailed);
    return;
  }
  const bool survivesLoss = KeepAliveOnLostConnection(w.Window);
  ShowFirstFrame();
  // Where the window thread waits in SDL it has no poll to sleep in; on X11, a connection lost
  // under the program's thread must not end the process.
  w.PresentAnywhere = w.Connection >= 0 && (w.XConnection < 0 || survivesLoss);
  EventLoop();
  EndWindow();
  JumpOnLostDisplay(nullptr);
}

// A jump out of a lost display lands back in Serve, with the display still held.
void ServeWindow(WindowRequest request, std::string title) {
  WindowContext& w = Context();
  tWindowThread = true;
  std::lock_guard<std::mutex> hold(w.Display);
  Serve(request, title);
}

// Program's thread: a picture due now is shown at once if the window thread sleeps in its poll.
// An X11 put may read what that poll waits for (events, an error about the window, the
// connection's end) into Xlib's queue, out of the poll's sight: the window thread is then woken
// to take it.
bool PresentHere() {
  WindowContext& w = Context();
  if (tWindowThread) return false;
  std::unique_lock<std::mutex> hold(w.Display, std::try_to_lock);
  if (!hold.owns_lock() || !w.PresentAnywhere || DisplayLost() ||
      !w.Picture->PresentsFromAnyThread() || PictureDueInMs() != 0) {
    return false;
  }
  {
    const BrokenConnectionsIgnored unsignalled;  // a dead server must not end the program
    w.Picture->Present(false);
  }
  if (w.Picture->ReadWhilePresenting() || DestroyedOutside() || DisplayLost()) Nudge();
  return true;
}

class SdlWindowPlatform final : public WindowPlatform {
 public:
  DesktopSize Desktop() override {
    WindowContext& w = Context();
    if (w.Thread.joinable() || DisplayLost()) return w.Desktop;
    const MeasuredDesktop measured = MeasureDesktop();
    w.Desktop = measured.Size;
    w.PixelRatio = measured.PixelRatio;
    return w.Desktop;
  }

  bool Open(const WindowRequest& request) override {
    WindowContext& w = Context();
    if (w.Thread.joinable()) Close();
    if (DisplayLost()) {
      ShowFailure(kCreationFailed);
      return false;
    }
    Reset(w);
    w.Thread = std::thread(ServeWindow, request,
                           std::string(request.Title != nullptr ? request.Title : ""));
    std::unique_lock<std::mutex> hold(w.Mutex);
    w.StateChanged.wait(hold, [&w] { return w.State != Phase::kStarting; });
    if (w.State == Phase::kOpen) return true;
    hold.unlock();
    w.Thread.join();
    return false;
  }

  // Coalesced: only the first wake after the window thread last looked reaches it.
  void Wake() override {
    WindowContext& w = Context();
    if (PresentHere()) return;
    if (!w.PresentPending.exchange(true)) Nudge();
  }

  // From the window thread itself (a client's handler calling exit or CloseGraph) there is no
  // waiting for the thread: it ends once the handler returns, or never runs again in an exit.
  void Close() override {
    WindowContext& w = Context();
    if (!w.Thread.joinable()) return;
    w.CloseRequested.store(true);
    Nudge();
    if (tWindowThread) return;
    w.Thread.join();
    std::lock_guard<std::mutex> hold(w.Mutex);
    w.State = Phase::kClosed;
  }

 private:
  static void Reset(WindowContext& w) {
    if (w.WakeFd < 0) w.WakeFd = OpenWake();
    DrainWake(w.WakeFd);  // left over from a window that is gone
    w.State = Phase::kStarting;
    w.PresentPending.store(false);
    w.CloseRequested.store(false);
    WatchWindow(0);
    w.Ending = false;
    w.RepaintAll = false;
    w.Told = false;
    w.XConnection = -1;
    w.Connection = -1;
  }
};

}  // namespace
}  // namespace gfx::sdl

namespace gfx {

WindowPlatform& SdlPlatform() {
  static sdl::SdlWindowPlatform platform;
  return platform;
}

}  // namespace gfx
