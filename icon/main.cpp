// Draws the game's icon with the game's own drawing layer on the headless platform and writes it
// as PNG files at the theme sizes, and all of them in one Windows icon file (snake-garden.ico):
//   snake_icon OUTPUT_DIRECTORY
// The discs are the board's discs at their real size (15 pixels apart, radius 5); the larger icons
// are the 64-pixel one magnified, so every size shows exactly the pixels the game draws.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "game/board.h"
#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/platform/headless/headless_window.h"
#include "icon/ico.h"
#include "icon/png.h"

namespace {

using Cell = std::pair<int, int>;  // column, row of the icon's small grid

// The radius of a cell's disc on the board.
constexpr int kRadius = kCellStep - kDiscInset;

struct Layout {
  int Size;                 // pixels a side
  int Offset;               // centre of the first cell
  std::vector<Cell> Snake;  // tail to head
  Cell Prize;
};

// 48 pixels hold a 3 x 3 corner of the board, 64 pixels a 4 x 4 one.
const Layout kSmall{48, 9, {{1, 0}, {0, 0}, {0, 1}, {0, 2}, {1, 2}, {2, 2}, {2, 1}}, {2, 0}};
const Layout kLarge{
    64, 10, {{1, 0}, {0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 3}, {2, 3}, {3, 3}, {3, 2}}, {3, 0}};

void Disc(const Layout& layout, Cell cell) {
  FillEllipse(static_cast<std::int16_t>(layout.Offset + kCellStep * cell.first),
              static_cast<std::int16_t>(layout.Offset + kCellStep * cell.second), kRadius, kRadius);
}

// The same colours and fills as the snake's and the prize's Show on the black board.
icon::Image Draw(const Layout& layout) {
  ClearDevice();
  SetColor(15);
  SetFillStyle(SolidFill, 56);
  for (Cell cell : layout.Snake) Disc(layout, cell);
  SetColor(4);
  SetFillStyle(CloseDotFill, 9);
  Disc(layout, layout.Prize);

  icon::Image image{layout.Size, layout.Size, {}};
  image.Pixels.resize(static_cast<std::size_t>(layout.Size) * layout.Size);
  for (int y = 0; y < layout.Size; ++y) {
    for (int x = 0; x < layout.Size; ++x) image.At(x, y) = gfx::inspect::Pixel(x, y);
  }
  return image;
}

icon::Image Magnify(const icon::Image& source, int factor) {
  icon::Image image{source.Width * factor, source.Height * factor, {}};
  image.Pixels.resize(static_cast<std::size_t>(image.Width) * image.Height);
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < image.Width; ++x) image.At(x, y) = source.At(x / factor, y / factor);
  }
  return image;
}

bool Write(const icon::Image& image, const std::string& directory) {
  const std::string path = directory + "/snake-garden-" + std::to_string(image.Width) + ".png";
  if (icon::WritePng(image, path)) return true;
  std::fprintf(stderr, "snake_icon: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: snake_icon OUTPUT_DIRECTORY\n");
    return 2;
  }
  gfx::UseHeadlessPlatform();
  std::int16_t driver = Detect;
  std::int16_t mode = 0;
  InitGraph(driver, mode, "");
  if (const std::int16_t result = GraphResult(); result != grOk) {
    const std::string_view message = GraphErrorMsg(result);
    std::fprintf(stderr, "snake_icon: %.*s\n", static_cast<int>(message.size()), message.data());
    return 1;
  }
  icon::Image small = Draw(kSmall);
  icon::Image large = Draw(kLarge);
  CloseGraph();
  const std::vector<icon::Image> images = {small, large, Magnify(large, 2), Magnify(large, 4)};
  bool ok = true;
  for (const icon::Image& image : images) ok = ok && Write(image, argv[1]);
  const std::string ico = std::string(argv[1]) + "/snake-garden.ico";
  if (ok && !icon::WriteIco(images, ico)) {
    std::fprintf(stderr, "snake_icon: cannot write %s\n", ico.c_str());
    ok = false;
  }
  return ok ? 0 : 1;
}
