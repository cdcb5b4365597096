#include "tests/harness/xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace xvfb {
namespace {

constexpr int kStartMs = 10000;  // a loaded machine may take seconds to start a server

using harness::Reap;
using harness::Spawn;
using harness::Stop;

// Reads what the server writes to its -displayfd pipe: the display number and a line end.
std::string ReadDisplayNumber(int fd) {
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    char c = 0;
    if (read(fd, &c, 1) != 1) break;
    if (c == '\n') return number;
    number += c;
  }
  return "";
}

Display* Dpy(void* display) {
  return static_cast<Display*>(display);
}

bool Answers(const std::string& display) {
  for (int i = 0; i < kStartMs / 10; ++i) {
    if (Display* d = XOpenDisplay(display.c_str())) {
      XCloseDisplay(d);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

Server::~Server() {
  Stop(manager_);
  Stop(server_);
}

bool Server::Start(int width, int height) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  // The write end must survive exec in the server, so it gets a descriptor without CLOEXEC.
  const int inherited = dup(pipeFds[1]);
  close(pipeFds[1]);
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  server_ = Spawn({"Xvfb", "-displayfd", std::to_string(inherited), "-screen", "0", screen,
                   "-nolisten", "tcp", "-noreset"},
                  -1, true);
  close(inherited);
  const std::string number = server_ > 0 ? ReadDisplayNumber(pipeFds[0]) : "";
  close(pipeFds[0]);
  if (number.empty()) return false;
  display_ = ":" + number;
  setenv("DISPLAY", display_.c_str(), 1);
  // The server names its display a moment before it lets clients in. (-noreset: a server that
  // resets whenever its last client leaves refuses the next one for a while.)
  if (!Answers(display_)) return false;
  // Keeps SDL's input-method support from waiting on a session bus that tests do not have.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
  return true;
}

bool Server::StartWindowManager() {
  manager_ = Spawn({"openbox"}, -1, true);
  if (manager_ <= 0) return false;
  Screen screen;
  for (int waited = 0; waited < kStartMs; waited += 20) {
    if (screen.WindowManagerRunning()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void Server::Kill() {
  Stop(manager_);
  Stop(server_);
}

Screen::Screen() = default;

// Connects on first use, so that a screen can be made before its server starts.
bool Screen::Connected() {
  if (display_ == nullptr) display_ = XOpenDisplay(nullptr);
  return display_ != nullptr;
}

Screen::~Screen() {
  if (display_ != nullptr) XCloseDisplay(Dpy(display_));
}

std::uint32_t Screen::Pixel(unsigned long window, int x, int y) {
  if (!Connected()) return 0xFFFFFFFFu;
  XImage* image = XGetImage(Dpy(display_), window, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return 0xFFFFFFFFu;
  const std::uint32_t pixel = static_cast<std::uint32_t>(XGetPixel(image, 0, 0)) & 0xFFFFFFu;
  XDestroyImage(image);
  return pixel;
}

std::vector<std::uint32_t> Screen::Image(unsigned long window, int width, int height) {
  std::vector<std::uint32_t> pixels;
  if (!Connected()) return pixels;
  XImage* image = XGetImage(Dpy(display_), window, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return pixels;
  pixels.reserve(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      pixels.push_back(static_cast<std::uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu);
    }
  }
  XDestroyImage(image);
  return pixels;
}

bool Screen::ClientSize(unsigned long window, int& width, int& height) {
  XWindowAttributes attributes;
  if (!Connected() || XGetWindowAttributes(Dpy(display_), window, &attributes) == 0) {
    return false;
  }
  width = attributes.width;
  height = attributes.height;
  return true;
}

unsigned long Screen::Root() {
  return Connected() ? DefaultRootWindow(Dpy(display_)) : 0;
}

bool Screen::WindowManagerRunning() {
  if (!Connected()) return false;
  Display* d = Dpy(display_);
  const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW,
                                        &type, &format, &count, &remaining, &data);
  if (data != nullptr) XFree(data);
  return status == Success && count == 1;
}

void Screen::DestroyWindow(unsigned long window) {
  if (!Connected()) return;
  XDestroyWindow(Dpy(display_), window);
  XSync(Dpy(display_), False);
}

bool Screen::FixedSize(unsigned long window) {
  XSizeHints hints{};
  long supplied = 0;
  if (!Connected() || XGetWMNormalHints(Dpy(display_), window, &hints, &supplied) == 0) {
    return false;
  }
  return (hints.flags & PMinSize) != 0 && (hints.flags & PMaxSize) != 0 &&
         hints.min_width == hints.max_width && hints.min_height == hints.max_height;
}

bool Screen::AddKeysym(const std::string& name) {
  const KeySym keysym = XStringToKeysym(name.c_str());
  if (!Connected() || keysym == NoSymbol) return false;
  Display* d = Dpy(display_);
  int low = 0, high = 0, perCode = 0;
  XDisplayKeycodes(d, &low, &high);
  KeySym* map = XGetKeyboardMapping(d, low, high - low + 1, &perCode);
  int unused = 0;
  for (int code = high; code >= low && unused == 0; --code) {
    const KeySym* syms = map + (code - low) * perCode;
    if (std::all_of(syms, syms + perCode, [](KeySym k) { return k == NoSymbol; })) unused = code;
  }
  XFree(map);
  if (unused == 0) return false;
  KeySym both[2] = {keysym, keysym};
  XChangeKeyboardMapping(d, unused, 2, both, 1);
  XSync(d, False);
  return true;
}

unsigned long FindWindow(const std::string& title) {
  const RunResult found = Run({"xdotool", "search", "--name", "^" + title + "$"});
  if (found.ExitCode != 0 || found.Output.empty()) return 0;
  return std::strtoul(found.Output.c_str(), nullptr, 10);
}

}  // namespace xvfb
