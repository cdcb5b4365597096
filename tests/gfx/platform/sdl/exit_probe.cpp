#include <cstdlib>
#include <string_view>

#include "gfx/graph.h"
#include "gfx/keyboard.h"

// A program that ends with its window open, never calling CloseGraph, as programs written
// against the classic interface may. Arguments: how it ends ("return" from main or "exit") and
// in what state the window thread is then ("opening": just after InitGraph; "drawing": busy
// presenting whole frames; "idle": waiting for work).
int main(int argc, char** argv) {
  const std::string_view how = argc > 1 ? argv[1] : "return";
  const std::string_view state = argc > 2 ? argv[2] : "drawing";
  std::int16_t driver = Detect, mode = 0;
  InitGraph(driver, mode, "");
  if (GraphResult() != grOk) return 3;
  if (state == "drawing") {
    // Every clear dirties the whole surface, so the last one is still being copied at the end.
    for (int i = 0; i < 40; ++i) {
      SetBkColor(static_cast<std::uint16_t>(i % 16));
      ClearDevice();
    }
  } else if (state == "idle") {
    SetColor(White);
    Rectangle(10, 10, 100, 100);
    Delay(50);
  }
  if (how == "exit") std::exit(0);
  return 0;
}
