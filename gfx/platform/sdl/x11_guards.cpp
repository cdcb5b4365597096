// The X11 guards. A dead X connection makes every later Xlib call from any thread fail or hang,
// and Xlib's default handlers end the process; here a lost display ends the window like a closed
// one instead, and a protocol error about the window (another client destroyed it) ends it too.
// Xlib is borrowed from SDL by name, so nothing links against libX11. Without X11 in SDL, the
// guards have nothing to guard: the stand-ins at the end answer as for a window system without
// frames or window managers to ask.

#include "gfx/platform/sdl/x11_guards.h"

#include <SDL.h>
#include <SDL_syswm.h>
#if defined(SDL_VIDEO_DRIVER_X11)
#include "gfx/platform/sdl/borrowed_library.h"
#endif

#include <atomic>
#include <cstdlib>

namespace gfx::sdl {
namespace {

struct Guards {
  std::atomic<bool> DisplayLost{false};       // an X connection died: SDL is unusable for good
  std::atomic<unsigned long> Watched{0};      // the window the error handler looks out for
  std::atomic<bool> DestroyedOutside{false};  // that window was destroyed by another client
};

// The handlers may run on any thread, at any time until the process ends: nothing here has a
// destructor to run before them.
constinit Guards guards;

// Where the thread that owns SDL goes when its X connection dies under it.
thread_local LostDisplayJump* tLostDisplay = nullptr;

}  // namespace

bool DisplayLost() {
  return guards.DisplayLost.load();
}

void WatchWindow(unsigned long xWindow) {
  guards.DestroyedOutside.store(false);
  guards.Watched.store(xWindow);
}

unsigned long WatchedWindow() {
  return guards.Watched.load();
}

bool DestroyedOutside() {
  return guards.DestroyedOutside.load();
}

void JumpOnLostDisplay(LostDisplayJump* target) {
  tLostDisplay = target;
}

#if defined(SDL_VIDEO_DRIVER_X11)

namespace {

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
  decltype(&XGetDefault) GetDefault = nullptr;
};

// Looked up once libX11 is in the process (SDL brings it in). Only the thread that owns SDL
// calls this, and those threads never overlap.
const Xlib* LoadXlib() {
  static Xlib xlib;
  static bool complete = false;
  if (complete) return &xlib;
  void* library = LoadedLibrary("libX11.so.6");
  if (library == nullptr) return nullptr;
  Bind(library, xlib.SetErrorHandler, "XSetErrorHandler");
  Bind(library, xlib.SetIOErrorHandler, "XSetIOErrorHandler");
  Bind(library, xlib.SetIOErrorExitHandler, "XSetIOErrorExitHandler");
  Bind(library, xlib.InternAtom, "XInternAtom");
  Bind(library, xlib.GetWindowProperty, "XGetWindowProperty");
  Bind(library, xlib.Free, "XFree");
  Bind(library, xlib.SendEvent, "XSendEvent");
  Bind(library, xlib.Flush, "XFlush");
  Bind(library, xlib.GetDefault, "XGetDefault");
  complete = xlib.SetErrorHandler && xlib.SetIOErrorHandler && xlib.InternAtom &&
             xlib.GetWindowProperty && xlib.Free && xlib.SendEvent && xlib.Flush && xlib.GetDefault;
  return complete ? &xlib : nullptr;
}

// The connection is gone. The thread that owns SDL leaves SDL behind for good; any other thread
// returns, and the exit handler below keeps Xlib from ending the process.
int OnXIoError(Display*) {
  guards.DisplayLost.store(true);
  if (tLostDisplay != nullptr) siglongjmp(*tLostDisplay, 1);
  return 0;
}

void KeepProcessAlive(Display*, void*) {}

// Protocol errors are survivable; one about our own window means it was destroyed from outside.
int OnXError(Display*, XErrorEvent* error) {
  const unsigned long ours = guards.Watched.load();
  if (ours != 0 && error->resourceid == ours &&
      (error->error_code == BadWindow || error->error_code == BadDrawable)) {
    guards.DestroyedOutside.store(true);
  }
  return 0;
}

bool X11Info(SDL_Window* window, SDL_SysWMinfo& info) {
  SDL_VERSION(&info.version);
  return SDL_GetWindowWMInfo(window, &info) == SDL_TRUE && info.subsystem == SDL_SYSWM_X11;
}

}  // namespace

void JumpIfDisplayLost() {
  if (guards.DisplayLost.load() && tLostDisplay != nullptr) siglongjmp(*tLostDisplay, 1);
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
bool KeepAliveOnLostConnection(SDL_Window* window) {
  const Xlib* x = LoadXlib();
  SDL_SysWMinfo info;
  if (x == nullptr || x->SetIOErrorExitHandler == nullptr || !X11Info(window, info)) return false;
  x->SetIOErrorExitHandler(info.info.x11.display, KeepProcessAlive, nullptr);
  return true;
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

double XftScale(SDL_Window* window) {
  const Xlib* x = LoadXlib();
  SDL_SysWMinfo info;
  if (x == nullptr || !X11Info(window, info)) return 0.0;
  const char* dpi = x->GetDefault(info.info.x11.display, "Xft", "dpi");
  return dpi != nullptr ? std::strtod(dpi, nullptr) / 96.0 : 0.0;
}

#else

void JumpIfDisplayLost() {}
void InstallXHandlers() {}
bool KeepAliveOnLostConnection(SDL_Window*) {
  return false;
}
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
double XftScale(SDL_Window*) {
  return 0.0;
}

#endif

}  // namespace gfx::sdl
