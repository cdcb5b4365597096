// Presses keys in the real game's menu through XTest and watches the menu on the X server after
// every press: how long the key takes to reach the screen, and whether any picture shows that
// is neither the menu before the key nor the menu after it (cleared, or partly redrawn).
//   menu_probe WINDOW [PRESSES]   (DISPLAY set, the game's menu showing with "New Game" chosen in
//                                  the X window WINDOW, as tools/lib/xsession.sh finds it)

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned long kHighlight = 0x5454FC;  // colour 9, the chosen item
constexpr int kItems = 4;
constexpr int kItemStep = 25;  // items are 25 pixels apart, from 25 below the centre
constexpr int kLeft = 10;      // the region starts this far left of the centre
constexpr int kWidth = 320;
constexpr auto kGiveUp = std::chrono::seconds(2);

struct MenuArea {
  int X = 0, Y = 0;
  int CentreY = 0;
};

// The item chosen on a whole menu picture (1..4), or 0 for anything else: an item missing, or
// not exactly one item in the highlight colour.
int MenuShown(Display* display, Window window, const MenuArea& region) {
  const int height = kItemStep * (kItems + 1);
  XImage* image =
      XGetImage(display, window, region.X, region.Y, kWidth, height, AllPlanes, ZPixmap);
  if (image == nullptr) return 0;
  int chosen = 0, highlighted = 0;
  bool whole = true;
  for (int item = 1; item <= kItems; ++item) {
    const int top = region.CentreY + kItemStep * item - region.Y;
    int lit = 0, marked = 0;
    for (int y = top; y < top + kItemStep - 1 && y < height; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const unsigned long pixel = XGetPixel(image, x, y) & 0xFFFFFF;
        lit += pixel != 0;
        marked += pixel == kHighlight;
      }
    }
    whole = whole && lit > 0;
    if (marked > 0) {
      chosen = item;
      ++highlighted;
    }
  }
  XDestroyImage(image);
  return whole && highlighted == 1 ? chosen : 0;
}

void Press(Display* display, KeySym key) {
  const KeyCode code = XKeysymToKeycode(display, key);
  XTestFakeKeyEvent(display, code, True, 0);
  XTestFakeKeyEvent(display, code, False, 0);
  XFlush(display);
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * (values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  const Window window = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 0;
  const int presses = argc > 2 ? std::atoi(argv[2]) : 200;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr || window == 0) {
    std::fprintf(stderr, "no display or no game window\n");
    return 1;
  }
  XWindowAttributes attributes;
  XGetWindowAttributes(display, window, &attributes);
  const int centreX = (attributes.width - 1) / 2, centreY = (attributes.height - 1) / 2;
  const MenuArea region{centreX - kLeft, centreY + kItemStep / 2, centreY};
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  if (MenuShown(display, window, region) != 1) {
    std::fprintf(stderr, "the menu is not showing with its first item chosen\n");
    return 1;
  }
  std::vector<double> latency;
  int intermediate = 0, missed = 0;
  for (int i = 0; i < presses; ++i) {
    const bool down = i % 2 == 0;
    const int before = down ? 1 : 2, after = down ? 2 : 1;
    const auto start = Clock::now();
    Press(display, down ? XK_Down : XK_Up);
    bool arrived = false, seenOther = false;
    while (!arrived && Clock::now() - start < kGiveUp) {
      const int shown = MenuShown(display, window, region);
      arrived = shown == after;
      if (!arrived && shown != before) seenOther = true;
    }
    if (arrived) {
      latency.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    } else {
      ++missed;
    }
    intermediate += seenOther;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  XCloseDisplay(display);
  std::printf(
      "menu presses: %d; intermediate pictures seen: %d; missed: %d; key to screen median %.2f "
      "ms, p90 %.2f ms\n",
      presses, intermediate, missed, Percentile(latency, 0.5), Percentile(latency, 0.9));
  return missed == 0 ? 0 : 1;
}
