// The window platform on SDL2. Everything SDL happens on one thread per window (or, for
// measuring the desktop, one short-lived thread at a time), so SDL is never used from two threads
// at once. On X11 the program's thread never touches SDL or Xlib at all: it wakes the window
// thread through an eventfd that the window thread polls beside the X connection. A dead X
// connection makes every later Xlib call from any thread fail or hang, and Xlib's default
// handlers end the process; here a lost display ends the window like a closed one instead.

// Before SDL's system headers: Xlib defines macros (DirectColor, None, ...) that clash with the
// layer's own names.
#include "gfx/platform/sdl/sdl_window.h"
#include "gfx/graph.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace gfx {
namespace {

constexpr char kRegistrationFailed[] = "Window registration failed";
constexpr char kCreationFailed[] = "Window creation failed";
// Drivers that show a window to a person; SDL's "offscreen" and "dummy" fallbacks do not.
constexpr const char* kDisplayDrivers[] = {"x11", "wayland", "windows", "cocoa"};
// How long a window manager may take to maximize a new window or to report its frame.
constexpr Uint32 kSettleMs = 500;
constexpr Uint32 kFrameReplyMs = 200;
constexpr int kDisplayAttempts = 3;
constexpr Uint32 kDisplayRetryMs = 50;

struct Frame {
  int Top = 0, Left = 0, Bottom = 0, Right = 0;
};
// Stand-in frame of a window manager that will not say how wide its frame is.
constexpr Frame kUnmeasuredFrame{24, 4, 4, 4};

enum class Phase : std::uint8_t { kClosed, kStarting, kOpen, kFailed };

struct WindowContext {
  // Shared by the program's thread and the window thread.
  std::mutex Mutex;  // guards State
  std::condition_variable StateChanged;
  Phase State = Phase::kClosed;
  std::thread Thread;
  std::atomic<bool> PresentPending{false};
  std::atomic<bool> CloseRequested{false};
  std::atomic<bool> DisplayLost{false};   // an X connection died: SDL is unusable for good
  std::atomic<unsigned long> XWindow{0};  // for the X error handler, which may run anywhere
  std::atomic<bool> DestroyedOutside{false};
  int WakeFd = -1;  // eventfd, X11 only; lives as long as the process
  bool UseWakeFd = false;
  // Other drivers: the wake is an SDL user event, pushed only while SDL is up.
  std::mutex PushMutex;
  bool PushAccepted = false;
  Uint32 WakeEventType = 0;
  DesktopSize Desktop;

  // Only the thread that owns SDL at the time: the window thread, or the desktop measurement's.
  SDL_Window* Window = nullptr;
  Uint32 WindowId = 0;
  SDL_Surface* Staging = nullptr;  // 32-bit image when the window surface is not
  // Wayland only: the window has no software surface there, so frames go through a renderer.
  SDL_Renderer* Renderer = nullptr;
  SDL_Texture* Texture = nullptr;
  int XConnection = -1;
  bool Ending = false;
  bool RepaintAll = false;
  bool DoubleClicks = false;
  bool Told = false;        // OnWindowDestroyed has been called for this window
  bool SdlStaysUp = false;  // for good, once SDL holds a window destroyed from outside
};

WindowContext& Context() {
  static WindowContext* const context = new WindowContext;  // outlives exit handlers
  return *context;
}

// Where the thread that owns SDL goes when its X connection dies under it.
thread_local sigjmp_buf* tLostDisplay = nullptr;

#if defined(SDL_VIDEO_DRIVER_X11)

// Xlib as SDL has already loaded it: borrowed by name, so nothing links against libX11.
struct Xlib {
  decltype(&XSetErrorHandler) SetErrorHandler = nullptr;
  decltype(&XSetIOErrorHandler) SetIOErrorHandler = nullptr;
  // libX11 1.7 and later; lets an I/O error handler return without ending the process.
  void (*SetIOErrorExitHandler)(Display*, void (*)(Display*, void*), void*) = nullptr;
  decltype(&XInternAtom) InternAtom = nullptr;
  decltype(&XGetWindowProperty) GetWindowProperty = nullptr;
  decltype(&XFree) Free = nullptr;
  decltype(&XSendEvent) SendEvent = nullptr;
  decltype(&XFlush) Flush = nullptr;
};

template <typename F>
void Bind(void* library, F& function, const char* name) {
  function = reinterpret_cast<F>(dlsym(library, name));
}

// Looked up once libX11 is in the process (SDL brings it in). Only the thread that owns SDL
// calls this, and those threads never overlap.
const Xlib* LoadXlib() {
  static Xlib xlib;
  static bool complete = false;
  if (complete) return &xlib;
  void* library = dlopen("libX11.so.6", RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) return nullptr;
  Bind(library, xlib.SetErrorHandler, "XSetErrorHandler");
  Bind(library, xlib.SetIOErrorHandler, "XSetIOErrorHandler");
  Bind(library, xlib.SetIOErrorExitHandler, "XSetIOErrorExitHandler");
  Bind(library, xlib.InternAtom, "XInternAtom");
  Bind(library, xlib.GetWindowProperty, "XGetWindowProperty");
  Bind(library, xlib.Free, "XFree");
  Bind(library, xlib.SendEvent, "XSendEvent");
  Bind(library, xlib.Flush, "XFlush");
  complete = xlib.SetErrorHandler && xlib.SetIOErrorHandler && xlib.InternAtom &&
             xlib.GetWindowProperty && xlib.Free && xlib.SendEvent && xlib.Flush;
  return complete ? &xlib : nullptr;
}

// The connection is gone. The thread that owns SDL leaves SDL behind for good; any other thread
// returns, and the exit handler below keeps Xlib from ending the process.
int OnXIoError(Display*) {
  Context().DisplayLost.store(true);
  if (tLostDisplay != nullptr) siglongjmp(*tLostDisplay, 1);
  return 0;
}

void KeepProcessAlive(Display*, void*) {}

// Protocol errors are survivable; one about our own window means it was destroyed from outside.
int OnXError(Display*, XErrorEvent* error) {
  WindowContext& w = Context();
  const unsigned long ours = w.XWindow.load();
  if (ours != 0 && error->resourceid == ours &&
      (error->error_code == BadWindow || error->error_code == BadDrawable)) {
    w.DestroyedOutside.store(true);
  }
  return 0;
}

bool X11Info(SDL_Window* window, SDL_SysWMinfo& info) {
  SDL_VERSION(&info.version);
  return SDL_GetWindowWMInfo(window, &info) == SDL_TRUE && info.subsystem == SDL_SYSWM_X11;
}

// Xlib's default handlers print and end the process. Installed before SDL starts, they are also
// what SDL's own handler falls back to (and what SDL puts back when it quits), so an error in the
// moments before a window exists is survived too; installed again after, in case SDL loaded
// libX11 itself.
void InstallXHandlers() {
  const Xlib* x = LoadXlib();
  if (x == nullptr) return;
  x->SetErrorHandler(OnXError);
  x->SetIOErrorHandler(OnXIoError);
}

// The exit handler belongs to one connection, so it waits for a window to name it.
void KeepAliveOnLostConnection(SDL_Window* window) {
  const Xlib* x = LoadXlib();
  SDL_SysWMinfo info;
  if (x != nullptr && x->SetIOErrorExitHandler != nullptr && X11Info(window, info)) {
    x->SetIOErrorExitHandler(info.info.x11.display, KeepProcessAlive, nullptr);
  }
}

bool WindowManagerPresent(SDL_Window* window) {
  const Xlib* x = LoadXlib();
  SDL_SysWMinfo info;
  if (x == nullptr || !X11Info(window, info)) return true;
  Display* display = info.info.x11.display;
  const Atom check = x->InternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  const int status = x->GetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                          XA_WINDOW, &type, &format, &count, &remaining, &data);
  if (data != nullptr) x->Free(data);
  return status == Success && count == 1;
}

// A window manager sets a window's frame extents when asked, even for an unmapped window.
void RequestFrameExtents(SDL_Window* window) {
  const Xlib* x = LoadXlib();
  SDL_SysWMinfo info;
  if (x == nullptr || !X11Info(window, info)) return;
  Display* display = info.info.x11.display;
  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = info.info.x11.window;
  request.xclient.format = 32;
  request.xclient.message_type = x->InternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
  x->SendEvent(display, DefaultRootWindow(display), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &request);
  x->Flush(display);
}

unsigned long XWindowOf(SDL_Window* window) {
  SDL_SysWMinfo info;
  return X11Info(window, info) ? info.info.x11.window : 0;
}

int XConnectionOf(SDL_Window* window) {
  SDL_SysWMinfo info;
  return X11Info(window, info) ? ConnectionNumber(info.info.x11.display) : -1;
}

bool DestroyNotifyFor(const SDL_SysWMmsg& message, unsigned long window) {
  return message.subsystem == SDL_SYSWM_X11 && message.msg.x11.event.type == DestroyNotify &&
         message.msg.x11.event.xdestroywindow.window == window;
}

#else

void InstallXHandlers() {}
void KeepAliveOnLostConnection(SDL_Window*) {}
bool WindowManagerPresent(SDL_Window*) {
  return true;
}
void RequestFrameExtents(SDL_Window*) {}
unsigned long XWindowOf(SDL_Window*) {
  return 0;
}
int XConnectionOf(SDL_Window*) {
  return -1;
}
bool DestroyNotifyFor(const SDL_SysWMmsg&, unsigned long) {
  return false;
}

#endif

// The message of a window failure: in a message box when one can be shown, else on stderr.
void ShowFailure(const char* text) {
  if (Context().DisplayLost.load() ||
      SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "", text, nullptr) != 0) {
    std::fprintf(stderr, "%s\n", text);
  }
}

// A write to a display whose server has gone raises SIGPIPE in the writing thread, which would
// end the process; blocked here, the write fails and Xlib reports the lost connection instead.
void IgnoreBrokenConnections() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

bool OnWayland() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver != nullptr && std::strcmp(driver, "wayland") == 0;
}

// On X11 the software window surface is a plain copy per present; the accelerated one costs
// several milliseconds per frame under a virtual display and re-creates the window. Wayland has
// no software surface, and there the hint would leave the window with nothing to present into.
bool StartSdl() {
  IgnoreBrokenConnections();
  if (Context().SdlStaysUp) return true;
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  InstallXHandlers();
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
  InstallXHandlers();
  if (OnWayland()) SDL_ResetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
  return true;
}

void StopSdl() {
  if (!Context().SdlStaysUp) SDL_Quit();
}

bool ShowsWindows() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || SDL_GetNumVideoDisplays() < 1) return false;
  for (const char* accepted : kDisplayDrivers) {
    if (std::strcmp(driver, accepted) == 0) return true;
  }
  return false;
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
  if (w.UseWakeFd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(w.WakeFd, &one, sizeof one);
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

void SendKey(KeyEvent event, Key code, std::uint8_t character = 0) {
  if (MessageHandler handler = CharMessageHandler()) handler(KeyMessage{event, code, character});
}

// Keypad keys without Num Lock act as the cursor block; with it they type digits.
Key KeypadKey(SDL_Keycode key) {
  switch (key) {
    case SDLK_KP_8:
      return Key::kUp;
    case SDLK_KP_2:
      return Key::kDown;
    case SDLK_KP_4:
      return Key::kLeft;
    case SDLK_KP_6:
      return Key::kRight;
    case SDLK_KP_7:
      return Key::kHome;
    case SDLK_KP_1:
      return Key::kEnd;
    case SDLK_KP_9:
      return Key::kPageUp;
    case SDLK_KP_3:
      return Key::kPageDown;
    case SDLK_KP_0:
      return Key::kInsert;
    case SDLK_KP_PERIOD:
      return Key::kDelete;
    default:
      return Key::kOther;
  }
}

Key KeyOf(const SDL_Keysym& keysym) {
  switch (keysym.sym) {
    case SDLK_UP:
      return Key::kUp;
    case SDLK_DOWN:
      return Key::kDown;
    case SDLK_LEFT:
      return Key::kLeft;
    case SDLK_RIGHT:
      return Key::kRight;
    case SDLK_HOME:
      return Key::kHome;
    case SDLK_END:
      return Key::kEnd;
    case SDLK_PAGEUP:
      return Key::kPageUp;
    case SDLK_PAGEDOWN:
      return Key::kPageDown;
    case SDLK_INSERT:
      return Key::kInsert;
    case SDLK_DELETE:
      return Key::kDelete;
    case SDLK_F1:
      return Key::kF1;
    case SDLK_F2:
      return Key::kF2;
    case SDLK_F3:
      return Key::kF3;
    case SDLK_F4:
      return Key::kF4;
    case SDLK_F5:
      return Key::kF5;
    case SDLK_F6:
      return Key::kF6;
    case SDLK_F7:
      return Key::kF7;
    case SDLK_F8:
      return Key::kF8;
    case SDLK_F9:
      return Key::kF9;
    case SDLK_F10:
      return Key::kF10;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return Key::kShift;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return Key::kCtrl;
    case SDLK_LALT:
    case SDLK_RALT:
      return Key::kAlt;
    default:
      return (keysym.mod & KMOD_NUM) != 0 ? Key::kOther : KeypadKey(keysym.sym);
  }
}

// The character of a key whose character SDL's text input drops: a control character. With Ctrl
// held, as on the classic platform, letters give 1 to 26, [ \ ] give 27 to 29, Enter a line feed
// and Backspace a delete; with Alt held as well (AltGr on some keyboards) Ctrl counts for nothing.
// Alt alone changes no character: Alt+letter is the letter, as Shift+Tab is the Tab character.
// 0 for every other key: its character, if any, comes as text input.
std::uint8_t ControlCharacter(const SDL_Keysym& keysym) {
  const bool ctrl = (keysym.mod & KMOD_CTRL) != 0 && (keysym.mod & (KMOD_ALT | KMOD_MODE)) == 0;
  switch (keysym.sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return ctrl ? 10 : 13;
    case SDLK_ESCAPE:
      return 27;
    case SDLK_BACKSPACE:
      return ctrl ? 127 : 8;
    case SDLK_TAB:
      return 9;
    default:
      break;
  }
  if (!ctrl) return 0;
  if (keysym.sym >= SDLK_a && keysym.sym <= SDLK_z) {
    return static_cast<std::uint8_t>(keysym.sym - SDLK_a + 1);
  }
  switch (keysym.sym) {
    case SDLK_LEFTBRACKET:
      return 27;
    case SDLK_BACKSLASH:
      return 28;
    case SDLK_RIGHTBRACKET:
      return 29;
    default:
      return 0;
  }
}

// Every press and every auto-repeat: a control character, or the key for the keyboard's table.
// Printable characters come only from text input, or a letter would be queued twice.
void OnKeyDown(const SDL_Keysym& keysym) {
  if (const std::uint8_t control = ControlCharacter(keysym); control != 0) {
    SendKey(KeyEvent::kChar, Key::kOther, control);
  } else {
    SendKey(KeyEvent::kKeyDown, KeyOf(keysym));
  }
}

// One character message per code point of the UTF-8 text, carrying its low 8 bits.
void OnTextInput(const char* text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; bytes[i] != 0;) {
    const unsigned char lead = bytes[i++];
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    std::uint32_t code = more == 0 ? lead : lead & (0x3Fu >> more);
    for (int k = 0; k < more && (bytes[i] & 0xC0) == 0x80; ++k)
      code = code << 6 | (bytes[i++] & 0x3F);
    SendKey(KeyEvent::kChar, Key::kOther, static_cast<std::uint8_t>(code & 0xFF));
  }
}

// The buttons the classic window reports; others (side buttons) are not passed on.
bool ButtonOf(Uint8 sdlButton, MouseButton& button) {
  switch (sdlButton) {
    case SDL_BUTTON_LEFT:
      button = MouseButton::kLeft;
      return true;
    case SDL_BUTTON_RIGHT:
      button = MouseButton::kRight;
      return true;
    case SDL_BUTTON_MIDDLE:
      button = MouseButton::kMiddle;
      return true;
    default:
      return false;
  }
}

std::int16_t Coordinate(Sint32 value) {
  return static_cast<std::int16_t>(std::clamp<Sint32>(value, -32768, 32767));
}

// SDL counts the presses of a quick series: with double clicks on, every second one is a double
// click (a third press starts a new pair, as on the classic platform).
void OnMouseButton(const SDL_MouseButtonEvent& event) {
  WindowContext& w = Context();
  MouseButton button;
  if (event.windowID != w.WindowId || !ButtonOf(event.button, button)) return;
  MouseAction action = MouseAction::kUp;
  if (event.state == SDL_PRESSED) {
    action =
        w.DoubleClicks && event.clicks % 2 == 0 ? MouseAction::kDoubleClick : MouseAction::kDown;
  }
  if (MouseMessageProc handler = MouseMessageHandler.load()) {
    handler(MouseMessage{action, button, Coordinate(event.x), Coordinate(event.y)});
  }
}

// A 0x00RRGGBB image of the window's size, kept from one present to the next.
SDL_Surface* StagingOfSize(int width, int height) {
  WindowContext& w = Context();
  if (w.Staging != nullptr && (w.Staging->w != width || w.Staging->h != height)) {
    SDL_FreeSurface(w.Staging);
    w.Staging = nullptr;
  }
  if (w.Staging == nullptr) {
    w.Staging = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_RGB888);
  }
  return w.Staging;
}

SDL_Surface* PresentTarget(SDL_Surface* surface) {
  if (surface->format->format == SDL_PIXELFORMAT_RGB888) return surface;
  return StagingOfSize(surface->w, surface->h);
}

// A streaming texture of the window's size, made again after a resize.
SDL_Texture* TextureOfSize(int width, int height) {
  WindowContext& w = Context();
  int textureWidth = 0, textureHeight = 0;
  if (w.Texture != nullptr &&
      (SDL_QueryTexture(w.Texture, nullptr, nullptr, &textureWidth, &textureHeight) != 0 ||
       textureWidth != width || textureHeight != height)) {
    SDL_DestroyTexture(w.Texture);
    w.Texture = nullptr;
  }
  if (w.Texture == nullptr) {
    w.Texture = SDL_CreateTexture(w.Renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                  width, height);
  }
  return w.Texture;
}

// Only the changed area is uploaded; the compositor takes the whole frame whatever changed.
void PresentThroughRenderer(bool full) {
  WindowContext& w = Context();
  int width = 0, height = 0;
  if (SDL_GetRendererOutputSize(w.Renderer, &width, &height) != 0) return;
  SDL_Surface* staging = StagingOfSize(width, height);
  SDL_Texture* texture = staging != nullptr ? TextureOfSize(width, height) : nullptr;
  if (texture == nullptr) return;
  if (full) SDL_FillRect(staging, nullptr, 0);
  const Rect area = PresentTo(static_cast<std::uint32_t*>(staging->pixels), staging->pitch / 4,
                              width, height, full);
  SDL_Rect changed{area.x0, area.y0, area.x1 - area.x0 + 1, area.y1 - area.y0 + 1};
  if (full) changed = SDL_Rect{0, 0, width, height};
  if (changed.w <= 0 || changed.h <= 0) return;
  const auto* first = static_cast<const std::uint8_t*>(staging->pixels) +
                      changed.y * staging->pitch + changed.x * 4;
  SDL_UpdateTexture(texture, &changed, first, staging->pitch);
  SDL_RenderCopy(w.Renderer, texture, nullptr, nullptr);
  SDL_RenderPresent(w.Renderer);
}

// Shows what changed in the backing image, or all of it (black where the window is larger).
// Only the rows that differ from the window's surface are copied, and the box around them goes
// to the display as one request: as several, another client could see the picture between two
// of them, half drawn.
void Present(bool full) {
  WindowContext& w = Context();
  if (w.Renderer != nullptr) return PresentThroughRenderer(full);
  SDL_Surface* surface = SDL_GetWindowSurface(w.Window);  // re-made after a resize
  SDL_Surface* target = surface != nullptr ? PresentTarget(surface) : nullptr;
  if (target == nullptr) return;
  if (full) SDL_FillRect(target, nullptr, 0);
  if (SDL_MUSTLOCK(target)) SDL_LockSurface(target);
  const Rect box = PresentTo(static_cast<std::uint32_t*>(target->pixels), target->pitch / 4,
                             target->w, target->h, full);
  if (SDL_MUSTLOCK(target)) SDL_UnlockSurface(target);
  if (box.Empty()) return;
  SDL_Rect changed{box.x0, box.y0, box.x1 - box.x0 + 1, box.y1 - box.y0 + 1};
  if (full) changed = SDL_Rect{0, 0, surface->w, surface->h};
  if (target != surface) SDL_BlitSurface(target, &changed, surface, &changed);
  SDL_UpdateWindowSurfaceRects(w.Window, &changed, 1);
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
      OnKeyDown(event.key.keysym);
      break;
    case SDL_KEYUP:
      SendKey(KeyEvent::kKeyUp, KeyOf(event.key.keysym));
      break;
    case SDL_TEXTINPUT:
      OnTextInput(event.text.text);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      OnMouseButton(event.button);
      break;
    case SDL_SYSWMEVENT:
      if (DestroyNotifyFor(*event.syswm.msg, w.XWindow.load())) w.Ending = true;
      break;
    default:
      break;  // the wake event only ends the wait; the flags say what to do
  }
}

// The eventfd counts wakes; one read takes them all (nonblocking: nothing to take is fine).
void DrainWakes() {
  const int fd = Context().WakeFd;
  std::uint64_t count = 0;
  if (fd >= 0 && read(fd, &count, sizeof count) < 0) count = 0;
}

// Blocks until an X event, a wake or, on other drivers, any SDL event arrives, or until
// timeoutMs have passed (-1: no limit). Idle, no CPU.
void WaitForWork(int timeoutMs) {
  WindowContext& w = Context();
  if (w.XConnection >= 0) {
    // SDL_PollEvent has just emptied Xlib's queue, so a quiet socket means nothing is waiting.
    pollfd fds[2] = {{w.XConnection, POLLIN, 0}, {w.WakeFd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) > 0 && fds[1].revents != 0) DrainWakes();
    return;
  }
  SDL_Event event;
  const int got = timeoutMs < 0 ? SDL_WaitEvent(&event) : SDL_WaitEventTimeout(&event, timeoutMs);
  if (got == 1) OnEvent(event);
}

bool Finished() {
  WindowContext& w = Context();
  return w.Ending || w.CloseRequested.load() || w.DestroyedOutside.load();
}

// A picture is shown when the program waits, or a frame after its first change if the program
// never does; in between the window thread sleeps until the next event, wake or deadline.
void EventLoop() {
  WindowContext& w = Context();
  while (!Finished()) {
    SDL_Event event;
    while (!Finished() && SDL_PollEvent(&event) == 1) OnEvent(event);
    if (Finished()) break;
    if (w.RepaintAll) {
      w.RepaintAll = false;
      Present(true);
      continue;
    }
    // Cleared before asking, so that a wake from now on nudges the thread again.
    w.PresentPending.store(false);
    const int due = PictureDueInMs();
    if (due == 0) {
      Present(false);
    } else {
      WaitForWork(due);
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

// Without something to present into the window would never show (Wayland maps a window only
// once it has a frame), so a window that cannot get it has failed like one never created. On
// Wayland a black frame maps the window at once: a tiling compositor sizes it only then. A
// player's SDL_FRAMEBUFFER_ACCELERATION=0 asks for a software surface, which Wayland lacks.
bool MakePresentTarget() {
  WindowContext& w = Context();
  if (!OnWayland() || !SDL_GetHintBoolean(SDL_HINT_FRAMEBUFFER_ACCELERATION, SDL_TRUE)) {
    return SDL_GetWindowSurface(w.Window) != nullptr;
  }
  w.Renderer = SDL_CreateRenderer(w.Window, -1, 0);
  if (w.Renderer == nullptr) return false;
  SDL_SetRenderDrawColor(w.Renderer, 0, 0, 0, SDL_ALPHA_OPAQUE);
  SDL_RenderClear(w.Renderer);
  SDL_RenderPresent(w.Renderer);
  return true;
}

void DropPresentTarget() {
  WindowContext& w = Context();
  if (w.Texture != nullptr) SDL_DestroyTexture(w.Texture);
  if (w.Renderer != nullptr) SDL_DestroyRenderer(w.Renderer);
  if (w.Staging != nullptr) SDL_FreeSurface(w.Staging);
  w.Texture = nullptr;
  w.Renderer = nullptr;
  w.Staging = nullptr;
}

bool CreateWindow(const WindowRequest& request, const std::string& title) {
  WindowContext& w = Context();
  const Uint32 flags = SDL_WINDOW_SHOWN | (request.Resizable ? SDL_WINDOW_RESIZABLE : 0) |
                       (request.Maximized ? SDL_WINDOW_MAXIMIZED : 0);
  w.Window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                              request.Width, request.Height, flags);
  if (w.Window == nullptr) return false;
  w.WindowId = SDL_GetWindowID(w.Window);
  w.DoubleClicks = request.DoubleClicks;
  w.XWindow.store(XWindowOf(w.Window));
  w.XConnection = XConnectionOf(w.Window);
  w.UseWakeFd = w.XConnection >= 0 && w.WakeFd >= 0;
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  SDL_StartTextInput();
  if (!MakePresentTarget()) {
    DropPresentTarget();
    SDL_DestroyWindow(w.Window);
    w.Window = nullptr;
    return false;
  }
  if (request.Maximized) AwaitMaximizedSize();
  return true;
}

// The core learns the window's real size, the first frame is shown, and Open may return.
void ShowFirstFrame() {
  WindowContext& w = Context();
  int width = 0, height = 0;
  SDL_GetWindowSize(w.Window, &width, &height);
  OnWindowCreated(width, height);
  RunWindowCreationHook();
  Present(true);
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
  DropPresentTarget();
  if (w.DestroyedOutside.load()) {
    w.SdlStaysUp = true;
  } else {
    SDL_DestroyWindow(w.Window);
  }
  w.Window = nullptr;
  w.XWindow.store(0);
  TellDestroyed();
  StopSdl();
}

// SDL is left as it is: every call into it would fail or spin on the dead connection.
void AbandonLostDisplay(bool wasOpen) {
  WindowContext& w = Context();
  w.Window = nullptr;
  w.Staging = nullptr;
  w.Renderer = nullptr;
  w.Texture = nullptr;
  w.XWindow.store(0);
  if (wasOpen) {
    TellDestroyed();
  } else {
    ShowFailure(kCreationFailed);
    SetPhase(Phase::kFailed);
  }
}

// An X server whose last client has just left (the desktop measurement's, when nothing else is
// connected) resets and refuses connections for a moment; SDL then falls back to a driver that
// shows nothing. A few tries a short while apart get through.
bool StartDisplay() {
  for (int attempt = 1;; ++attempt) {
    if (ShowsWindows()) return true;
    StopSdl();
    if (attempt == kDisplayAttempts) return false;
    SDL_Delay(kDisplayRetryMs);
    if (!StartSdl()) return false;
  }
}

void ServeWindow(WindowRequest request, std::string title) {
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
  sigjmp_buf lost;
  if (sigsetjmp(lost, 0) != 0) {
    tLostDisplay = nullptr;
    AcceptPushes(false);
    AbandonLostDisplay(CurrentPhase() == Phase::kOpen);
    return;
  }
  tLostDisplay = &lost;
  if (!CreateWindow(request, title)) {
    tLostDisplay = nullptr;
    ShowFailure(kCreationFailed);
    AcceptPushes(false);
    StopSdl();
    SetPhase(Phase::kFailed);
    return;
  }
  KeepAliveOnLostConnection(w.Window);
  ShowFirstFrame();
  EventLoop();
  EndWindow();
  tLostDisplay = nullptr;
}

Frame MeasureFrame() {
  SDL_Window* probe = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 64, 64,
                                       SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (probe == nullptr) return kUnmeasuredFrame;
  KeepAliveOnLostConnection(probe);
  Frame frame;
  if (WindowManagerPresent(probe)) {
    RequestFrameExtents(probe);
    const Uint32 start = SDL_GetTicks();
    bool measured = false;
    while (!measured && SDL_GetTicks() - start < kFrameReplyMs) {
      SDL_Event event;
      SDL_WaitEventTimeout(&event, 10);
      measured = SDL_GetWindowBordersSize(probe, &frame.Top, &frame.Left, &frame.Bottom,
                                          &frame.Right) == 0 &&
                 frame.Top + frame.Left + frame.Bottom + frame.Right > 0;
    }
    if (!measured) frame = kUnmeasuredFrame;
  }
  SDL_DestroyWindow(probe);
  return frame;
}

// A maximized window loses only its caption; a framed one its whole frame.
DesktopSize SizesFor(const SDL_Rect& bounds, const SDL_Rect& usable, const Frame& frame) {
  DesktopSize d;
  d.W = std::max(1, bounds.w - frame.Left - frame.Right);
  d.H = std::max(1, bounds.h - frame.Top - frame.Bottom);
  d.FW = std::max(1, usable.w);
  d.FH = std::max(1, usable.h - frame.Top);
  return d;
}

// On a thread of its own, so that SDL's thread-bound state is made and dropped there.
DesktopSize MeasureDesktop() {
  DesktopSize standIn;
  if (!StartSdl()) return standIn;
  sigjmp_buf lost;
  if (sigsetjmp(lost, 0) != 0) {
    tLostDisplay = nullptr;
    return standIn;
  }
  tLostDisplay = &lost;
  DesktopSize measured = standIn;
  SDL_Rect bounds, usable;
  if (ShowsWindows() && SDL_GetDisplayBounds(0, &bounds) == 0 &&
      SDL_GetDisplayUsableBounds(0, &usable) == 0) {
    measured = SizesFor(bounds, usable, MeasureFrame());
  }
  tLostDisplay = nullptr;
  StopSdl();
  return measured;
}

class SdlWindowPlatform final : public WindowPlatform {
 public:
  DesktopSize Desktop() override {
    WindowContext& w = Context();
    if (w.Thread.joinable() || w.DisplayLost.load()) return w.Desktop;
    DesktopSize measured;
    std::thread([&measured] { measured = MeasureDesktop(); }).join();
    w.Desktop = measured;
    return measured;
  }

  bool Open(const WindowRequest& request) override {
    WindowContext& w = Context();
    if (w.Thread.joinable()) Close();
    if (w.DisplayLost.load()) {
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
    if (!w.PresentPending.exchange(true)) Nudge();
  }

  // From the window thread itself (a client's handler calling exit or CloseGraph) there is no
  // waiting for the thread: it ends once the handler returns, or never runs again in an exit.
  void Close() override {
    WindowContext& w = Context();
    if (!w.Thread.joinable()) return;
    w.CloseRequested.store(true);
    Nudge();
    if (w.Thread.get_id() == std::this_thread::get_id()) return;
    w.Thread.join();
    std::lock_guard<std::mutex> hold(w.Mutex);
    w.State = Phase::kClosed;
  }

 private:
  static void Reset(WindowContext& w) {
    if (w.WakeFd < 0) w.WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    DrainWakes();  // left over from a window that is gone
    w.State = Phase::kStarting;
    w.PresentPending.store(false);
    w.CloseRequested.store(false);
    w.DestroyedOutside.store(false);
    w.UseWakeFd = false;
    w.Ending = false;
    w.RepaintAll = false;
    w.Told = false;
    w.XConnection = -1;
  }
};

}  // namespace

WindowPlatform& SdlPlatform() {
  static SdlWindowPlatform platform;
  return platform;
}

}  // namespace gfx
