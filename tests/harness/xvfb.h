#pragma once

// A private virtual X server per test process, the helper programs that act on it, and a way to
// read back what it shows. Xlib stays out of this header.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/harness/process.h"

namespace xvfb {

using harness::OnPath;
using harness::Run;
using harness::RunResult;

// An Xvfb on a display number of its own choosing (-displayfd), so that parallel runs never
// share one. Start sets DISPLAY for this process; the destructor stops everything it started.
class Server {
 public:
  Server() = default;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  bool Start(int width = 1280, int height = 1024);
  // Starts openbox and waits until it announces itself on the root window.
  bool StartWindowManager();
  // The display goes away under its clients.
  void Kill();
  const std::string& Display() const { return display_; }

 private:
  pid_t server_ = -1;
  pid_t manager_ = -1;
  std::string display_;
};

// A connection of its own to the current DISPLAY, for reading pixels and window geometry.
class Screen {
 public:
  Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;
  ~Screen();

  bool Connected();
  // A pixel of the window's client area as 0x00RRGGBB, or 0xFFFFFFFF when it cannot be read.
  std::uint32_t Pixel(unsigned long window, int x, int y);
  // The window's whole client area, row by row, as 0x00RRGGBB; empty when it cannot be read.
  std::vector<std::uint32_t> Image(unsigned long window, int width, int height);
  bool ClientSize(unsigned long window, int& width, int& height);
  unsigned long Root();
  bool WindowManagerRunning();
  // Another client destroys the window, as a misbehaving tool might.
  void DestroyWindow(unsigned long window);
  // True when the window asks to keep its size: its minimum and maximum size hints are equal.
  bool FixedSize(unsigned long window);
  // Gives the keysym (by name, e.g. "eacute") an unused key of its own, so that typing it needs
  // no temporary remapping, which a client may look up after it has been undone.
  bool AddKeysym(const std::string& name);

 private:
  void* display_ = nullptr;
};

// The top-level window with exactly this title, or 0.
unsigned long FindWindow(const std::string& title);

}  // namespace xvfb
