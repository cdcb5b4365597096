#include "game/score_screen.h"

#include <dirent.h>

#include <chrono>
#include <future>
#include <mutex>

#include "game/board.h"
#include "gfx/core/backing_image.h"
#include "gfx/core/layer.h"
#include "gfx/graph.h"
#include "gfx/inspect.h"
#include "gfx/keyboard.h"
#include "gfx/platform/headless/headless_window.h"
#include "tests/support/score_files.h"

namespace {

using namespace score_test;
using Image = std::vector<std::uint32_t>;

constexpr std::uint32_t kRed = 0xA80000;  // colour 4 of the default palette
constexpr char kEsc = 27;

// A text of the screen at its offset from the centre.
struct Placed {
  int dx;
  int dy;
  std::string text;
};

Image Snapshot() {
  std::lock_guard<gfx::DrawingLock> hold(gfx::GraphDrawing());
  return gfx::Backing().Pixels;
}

void DrainKeys() {
  while (KeyPressed()) ReadKey();
}

// The screen on a surface of the given size, laid out about its centre with the menu's text style.
class ScoreScreen : public InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    Open(1024, 768);
  }
  void TearDown() override {
    DrainKeys();
    if (gfx::Mode().IsGraphMode) CloseGraph();
    GraphResult();
    InTempDir::TearDown();
  }

  void Open(int width, int height) {
    if (gfx::Mode().IsGraphMode) CloseGraph();
    gfx::UseHeadlessPlatform(gfx::DesktopSize{width, height, width, height});
    std::int16_t driver = Detect, mode = 0;
    InitGraph(driver, mode, "");
    ASSERT_EQ(GraphResult(), grOk);
    MX2 = static_cast<std::uint16_t>(GetMaxX() / 2);
    MY2 = static_cast<std::uint16_t>(GetMaxY() / 2);
    SetTextStyle(DefaultFont, HorizDir, 2);
    DrainKeys();
  }

  // Runs the screen with ESC already typed and returns what it left on the surface.
  static Image Shown() {
    AddChar(kEsc);
    ShowScores();
    return Snapshot();
  }

  // What the texts look like in red at their places, drawn one by one on a cleared surface.
  static Image Expected(const std::vector<Placed>& texts) {
    ClearDevice();
    SetColor(4);
    for (const Placed& t : texts) {
      OutTextXY(static_cast<std::int16_t>(MX2 + t.dx), static_cast<std::int16_t>(MY2 + t.dy),
                t.text);
    }
    return Snapshot();
  }

  static std::vector<Placed> Frame() {
    return {{-6, 0, "High scores"}, {-10, 300, "Press ESC ..."}};
  }

  static void AddRow(std::vector<Placed>& texts, int row, std::string number, std::string name,
                     std::string score) {
    texts.push_back({-10, 20 * row, number});
    texts.push_back({45, 20 * row, name});
    texts.push_back({200, 20 * row, score});
  }
};

bool OnlyBlackAndRed(const Image& image) {
  std::size_t red = 0;
  for (std::uint32_t pixel : image) {
    if (pixel != 0 && pixel != kRed) return false;
    red += pixel == kRed;
  }
  return red > 0;
}

bool HoldsScoreFile() {
  DIR* fds = opendir("/proc/self/fd");
  bool found = false;
  while (dirent* entry = readdir(fds)) {
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)).ends_with("/scores.db")) {
      found = true;
    }
  }
  closedir(fds);
  return found;
}

TEST_F(ScoreScreen, WithoutATableOnlyTitleAndFooterAreShown) {
  const Image expected = Expected(Frame());
  PutPixel(3, 3, 15);  // the screen clears what was there
  EXPECT_EQ(Shown(), expected);
  EXPECT_FALSE(Exists("scores.db")) << "the screen never creates the file";

  for (const std::size_t length : {std::size_t{0}, kRecord - 1}) {
    Bytes shortFile = Record({{"Ann", 12}});
    shortFile.resize(length);
    WriteFile("scores.db", shortFile);
    EXPECT_EQ(Shown(), expected) << "length " << length;
    EXPECT_EQ(ReadFile("scores.db"), shortFile) << "the screen never writes the file";
  }
}

TEST_F(ScoreScreen, RowsStandAtTheirPlacesInRed) {
  WriteFile("scores.db", Record({{"Ann", 42}, {"Bob", 7}, {"Cy", 7}}));
  std::vector<Placed> texts = Frame();
  AddRow(texts, 1, "1. ", "Ann", " 42");
  AddRow(texts, 2, "2. ", "Bob", "  7");
  AddRow(texts, 3, "3. ", "Cy", "  7");
  const Image expected = Expected(texts);
  const Image shown = Shown();
  EXPECT_EQ(shown, expected);
  EXPECT_TRUE(OnlyBlackAndRed(shown));

  // The screen draws with whatever text style was left in force and sets none of its own.
  SetTextStyle(DefaultFont, HorizDir, 1);
  const Image small = Expected(texts);
  EXPECT_NE(small, expected);
  EXPECT_EQ(Shown(), small);
  TextSettingsType settings;
  GetTextSettings(settings);
  EXPECT_EQ(settings.CharSize, 1);
}

TEST_F(ScoreScreen, TenRowsWithWideNumbersAndScores) {
  const std::vector<Row> rows = {{"a", 65535}, {"b", 1000}, {"c", 999}, {"d", 100}, {"e", 99},
                                 {"f", 10},    {"g", 9},    {"h", 1},   {"i", 0},   {"j", 0}};
  const char* scores[] = {"65535", "1000", "999", "100", " 99", " 10", "  9", "  1", "  0", "  0"};
  std::vector<Placed> texts = Frame();
  for (int k = 0; k < 10; ++k) {
    AddRow(texts, k + 1, std::to_string(k + 1) + ". ", rows[k].name, scores[k]);
  }
  const Image expected = Expected(texts);

  Bytes file = Record(rows);
  WriteFile("scores.db", file);
  EXPECT_EQ(Shown(), expected);
}

// What the game never writes, or cannot safely read, shows no rows; the screen still waits for
// ESC and leaves everything as it found it.
TEST_F(ScoreScreen, DamagedOrIrregularFileShowsNoRows) {
  const Image expected = Expected(Frame());
  Bytes file = Record({{"a", 5}, {"b", 4}});
  PutU16(file, kSizeAt, 65535);
  WriteFile("scores.db", file);
  EXPECT_EQ(Shown(), expected) << "a count above ten";
  EXPECT_EQ(ReadFile("scores.db"), file);

  ASSERT_EQ(unlink("scores.db"), 0);
  ASSERT_EQ(mkfifo("scores.db", 0666), 0);
  EXPECT_EQ(Shown(), expected) << "a FIFO, which nobody writes";
}

TEST_F(ScoreScreen, EmptyTableAndUnusualNames) {
  WriteFile("scores.db", Record({}));
  EXPECT_EQ(Shown(), Expected(Frame())) << "a count of 0 shows no rows";

  // A long name runs on into the score column; both are drawn whole. The bytes after a name's
  // length are never shown.
  Bytes file = Record({{"Bartholomew Q", 310}, {"", 5}});
  file[1 + 13] = 'X';
  WriteFile("scores.db", file);
  std::vector<Placed> texts = Frame();
  AddRow(texts, 1, "1. ", "Bartholomew Q", "310");
  AddRow(texts, 2, "2. ", "", "  5");
  EXPECT_EQ(Shown(), Expected(texts));
}

TEST_F(ScoreScreen, OnlyEscEndsTheWaitAndOtherKeysChangeNothing) {
  WriteFile("scores.db", Record({{"Ann", 3}}));
  for (char c : {'a', '\r', ' ', 'q'}) AddChar(c);
  AddExtChar(72);  // an arrow key
  AddChar(kEsc);
  AddChar('z');
  ShowScores();
  EXPECT_EQ(ReadKey(), 'z') << "keys after the one that ended the wait stay queued";

  std::vector<Placed> texts = Frame();
  AddRow(texts, 1, "1. ", "Ann", "  3");
  const Image expected = Expected(texts);
  AddChar('x');
  AddExtChar(80);
  EXPECT_EQ(Shown(), expected);
  EXPECT_FALSE(KeyPressed());
}

TEST_F(ScoreScreen, WaitsUntilEscArrives) {
  auto screen = std::async(std::launch::async, ShowScores);
  EXPECT_EQ(screen.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  AddChar('a');
  EXPECT_EQ(screen.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  AddChar(kEsc);
  EXPECT_EQ(screen.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  screen.get();
}

TEST_F(ScoreScreen, FooterBelowASmallSurfaceIsNotDrawnAndTheScreenStillWaits) {
  Open(640, 480);
  ASSERT_GT(MY2 + 300, GetMaxY()) << "the footer must start below the surface";
  WriteFile("scores.db", Record({{"Ann", 3}}));
  const Image expected =
      Expected({{-6, 0, "High scores"}, {-10, 20, "1. "}, {45, 20, "Ann"}, {200, 20, "  3"}});
  AddChar('a');
  EXPECT_EQ(Shown(), expected);
  EXPECT_FALSE(KeyPressed());
}

TEST_F(ScoreScreen, ClosedWindowEndsTheWaitWithTheFileClosed) {
  WriteFile("scores.db", Record({{"Ann", 3}}));
  gfx::inspect::SimulateWindowClose();
  EXPECT_THROW(ShowScores(), WindowClosed);
  EXPECT_FALSE(HoldsScoreFile());
}

}  // namespace
