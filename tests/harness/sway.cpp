#include "tests/harness/sway.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace sway {
namespace {

constexpr int kStartMs = 10000;
constexpr int kNobody = 65534;

void Pause(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The socket a compositor made in its runtime directory ("wayland-1", not its ".lock").
std::string SocketIn(const std::string& dir) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const std::string name = entry.path().filename();
    if (name.rfind("wayland-", 0) == 0 && entry.is_socket()) return entry.path();
  }
  return "";
}

// The integer after `"key": ` at or after `from` in sway's JSON, or -1.
int NumberAfter(const std::string& json, const std::string& key, std::size_t from) {
  const std::size_t at = json.find("\"" + key + "\": ", from);
  return at == std::string::npos ? -1 : std::atoi(json.c_str() + at + key.size() + 4);
}

}  // namespace

std::string Missing() {
  for (const char* tool : {"sway", "swaymsg", "grim", "wtype"}) {
    if (!OnPath(tool)) return std::string(tool) + " is not installed";
  }
  return "";
}

Compositor::~Compositor() {
  Kill();
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

bool Compositor::Start(int width, int height) {
  char dir[] = "/tmp/sway-test.XXXXXX";
  if (mkdtemp(dir) == nullptr) return false;
  dir_ = dir;
  const bool root = geteuid() == 0;
  {
    std::ofstream config(dir_ + "/config");
    config << "output HEADLESS-1 resolution " << width << "x" << height << "\n"
           << "default_border none\ndefault_floating_border none\nxwayland disable\n";
  }
  if (root && (chown(dir, kNobody, kNobody) != 0 ||
               chown((dir_ + "/config").c_str(), kNobody, kNobody) != 0)) {
    return false;
  }
  const int logFd = open((dir_ + "/sway.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  setenv("XDG_RUNTIME_DIR", dir, 1);
  setenv("HOME", dir, 1);
  setenv("WLR_BACKENDS", "headless", 1);
  setenv("WLR_RENDERER", "pixman", 1);
  setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("DISPLAY");
  sway_ = harness::Spawn({"sway", "-c", dir_ + "/config"}, logFd, true, logFd, root ? kNobody : -1);
  if (logFd >= 0) close(logFd);
  if (sway_ <= 0) return false;
  std::string socket;
  for (int waited = 0; waited < kStartMs && socket.empty(); waited += 20) {
    Pause(20);
    socket = SocketIn(dir_);
  }
  if (socket.empty()) {
    std::ifstream in(dir_ + "/sway.log");
    log_.assign(std::istreambuf_iterator<char>(in), {});
    return false;
  }
  // An absolute path: the clients need not share the compositor's runtime directory.
  setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
  setenv("SDL_VIDEODRIVER", "wayland", 1);
  // Keeps SDL's input-method support from waiting on a session bus that tests do not have.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
  bool answers = false;
  for (int waited = 0; waited < kStartMs && !answers; waited += 20) {
    answers = Run({"swaymsg", "-t", "get_version"}).ExitCode == 0;
    if (!answers) Pause(20);
  }
  return answers && AddKeyboard();
}

// Without input devices the seat has no keyboard, and a client gets its keyboard only once one
// appears: the first wtype of a test would race the window's request for one, and its keys
// would go nowhere. A virtual keyboard that types nothing stays for the compositor's life, so a
// client has its keyboard from the start; each wtype is one more keyboard on the same seat.
bool Compositor::AddKeyboard() {
  keyboard_ = harness::Spawn({"wtype", "-s", "600000"}, -1, true);
  if (keyboard_ <= 0) return false;
  for (int waited = 0; waited < kStartMs; waited += 20) {
    const int capabilities =
        NumberAfter(Run({"swaymsg", "-r", "-t", "get_seats"}).Output, "capabilities", 0);
    if (capabilities > 0 && (capabilities & 2) != 0) return true;  // the seat has a keyboard
    Pause(20);
  }
  return false;
}

void Compositor::Kill() {
  harness::Stop(keyboard_);
  harness::Stop(sway_);
}

harness::RunResult Compositor::Run(std::vector<std::string> argv) const {
  std::string sock;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, error)) {
    const std::string name = entry.path().filename();
    if (name.rfind("sway-ipc.", 0) == 0) sock = entry.path();
  }
  if (argv.front() == "swaymsg") argv.insert(argv.begin() + 1, {"-s", sock});
  return harness::Run(argv);
}

bool Compositor::Command(const std::string& command) const {
  return Run({"swaymsg", command}).ExitCode == 0;
}

bool FindWindow(const Compositor& compositor, const std::string& title, WindowRect& rect) {
  const harness::RunResult tree = compositor.Run({"swaymsg", "-r", "-t", "get_tree"});
  const std::size_t name = tree.Output.find("\"name\": \"" + title + "\"");
  if (tree.ExitCode != 0 || name == std::string::npos) return false;
  // A node's "rect" and "window_rect" come before its "name".
  const std::size_t outer = tree.Output.rfind("\"rect\": {", name);
  const std::size_t inner = tree.Output.rfind("\"window_rect\": {", name);
  if (outer == std::string::npos || inner == std::string::npos || inner < outer) return false;
  rect.X = NumberAfter(tree.Output, "x", outer) + NumberAfter(tree.Output, "x", inner);
  rect.Y = NumberAfter(tree.Output, "y", outer) + NumberAfter(tree.Output, "y", inner);
  rect.Width = NumberAfter(tree.Output, "width", inner);
  rect.Height = NumberAfter(tree.Output, "height", inner);
  const std::size_t focused = tree.Output.rfind("\"focused\": ", name);
  rect.Focused = focused != std::string::npos && tree.Output.compare(focused + 11, 4, "true") == 0;
  return rect.Width > 0 && rect.Height > 0;
}

std::uint32_t Pixel(const Compositor& compositor, int x, int y) {
  const std::string where = std::to_string(x) + "," + std::to_string(y) + " 1x1";
  const harness::RunResult shot = compositor.Run({"grim", "-t", "ppm", "-g", where, "-"});
  // "P6\n1 1\n255\n" and three bytes.
  const std::string& ppm = shot.Output;
  if (shot.ExitCode != 0 || ppm.size() < 3 || ppm.compare(0, 2, "P6") != 0) return 0xFFFFFFFFu;
  const auto* rgb = reinterpret_cast<const unsigned char*>(ppm.data() + ppm.size() - 3);
  return static_cast<std::uint32_t>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2];
}

bool Screenshot(const Compositor& compositor, int& width, int& height,
                std::vector<std::uint32_t>& pixels) {
  const harness::RunResult shot = compositor.Run({"grim", "-t", "ppm", "-"});
  // "P6\n<width> <height>\n255\n", then three bytes a pixel.
  std::istringstream header(shot.Output);
  std::string magic;
  int depth = 0;
  if (shot.ExitCode != 0 || !(header >> magic >> width >> height >> depth) || magic != "P6" ||
      depth != 255) {
    return false;
  }
  const std::size_t start = static_cast<std::size_t>(header.tellg()) + 1;
  const std::size_t count = static_cast<std::size_t>(width) * height;
  if (shot.Output.size() < start + 3 * count) return false;
  const auto* rgb = reinterpret_cast<const unsigned char*>(shot.Output.data() + start);
  pixels.resize(count);
  for (std::size_t i = 0; i < count; ++i, rgb += 3) {
    pixels[i] = static_cast<std::uint32_t>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2];
  }
  return true;
}

}  // namespace sway
