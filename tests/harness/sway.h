#pragma once

// A private headless Wayland compositor (sway) per test, the helper programs that act on it and a
// way to read back what it shows. sway refuses to run as root: under root it runs as the
// unprivileged user "nobody" in a runtime directory of its own; the clients (this process and
// the helpers) may stay root, since they only need to reach its socket.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/harness/process.h"

namespace sway {

using harness::OnPath;

// What a Wayland session needs on this machine, or an empty string: a reason to skip.
std::string Missing();

class Compositor {
 public:
  Compositor() = default;
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;
  ~Compositor();

  // Starts sway with one output of this size and no window decorations, and points this
  // process's Wayland clients at it (WAYLAND_DISPLAY, SDL_VIDEODRIVER=wayland, no DISPLAY).
  bool Start(int width = 1280, int height = 720);
  // The compositor goes away under its clients.
  void Kill();
  // Runs a helper (swaymsg, grim, wtype) against this compositor; its standard output is kept.
  harness::RunResult Run(std::vector<std::string> argv) const;
  // A command for the window manager, e.g. "[title=\"x\"] kill".
  bool Command(const std::string& command) const;
  const std::string& Log() const { return log_; }

 private:
  bool AddKeyboard();

  pid_t sway_ = -1;
  pid_t keyboard_ = -1;
  std::string dir_;
  std::string log_;
};

struct WindowRect {
  int X = 0, Y = 0, Width = 0, Height = 0;  // the client area on the output
  bool Focused = false;                     // keys typed now go to it
};

// The window with exactly this title, from the compositor's tree; false when there is none.
bool FindWindow(const Compositor& compositor, const std::string& title, WindowRect& rect);
// A pixel of the output as 0x00RRGGBB, or 0xFFFFFFFF when it cannot be read.
std::uint32_t Pixel(const Compositor& compositor, int x, int y);
// The whole output in its own pixels (at its scale), row by row as 0x00RRGGBB; false when it
// cannot be read.
bool Screenshot(const Compositor& compositor, int& width, int& height,
                std::vector<std::uint32_t>& pixels);

}  // namespace sway
