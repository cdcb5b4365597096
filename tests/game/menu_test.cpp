#include "game/menu.h"

#include <atomic>
#include <chrono>
#include <string_view>
#include <thread>

#include "game/board.h"
#include "game/snake.h"
#include "tests/support/scripted_screen.h"

namespace {

constexpr char kEnter = 13;
constexpr char kEsc = 27;

TSnake S;

class MenuTest : public ScriptedScreen {
 protected:
  void SetUp() override {
    ScriptedScreen::SetUp();
    S.Init();
    quit = false;
    best = 0;
    // A game started from the menu runs into the wall; ESC leaves its end screen.
    script = [](int, std::uint16_t ms) {
      if (ms == 100 && S.GameOver()) AddChar(kEsc);
    };
  }

  // The menu on a thread of its own, so that keys can be typed one read at a time.
  void Start() {
    finished = false;
    menu = std::thread([this] {
      try {
        Menu(S, quit, best);
      } catch (const WindowClosed&) {
      }
      finished = true;
    });
  }

  // Types keys and waits until the menu has taken them and redrawn.
  static void TypeOneRead(std::initializer_list<char> keys) {
    Type(keys);
    while (KeyPressed()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  void Finish() {
    for (int i = 0; i < 500 && !finished; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!finished) {
      ADD_FAILURE() << "the menu is still waiting";
      gfx::inspect::SimulateWindowClose();
    }
    menu.join();
  }

  bool RanNewGame() const { return CountDelays(1500) == 3; }

  bool quit = false;
  std::uint16_t best = 0;
  std::thread menu;
  std::atomic<bool> finished = false;
};

// Pixels of this colour inside and outside the box of a text drawn at (x, y).
struct Ink {
  int inside = 0;
  int outside = 0;
};
Ink InkOf(std::uint32_t rgb, int x, int y, int width, int height) {
  Ink ink;
  for (int py = 0; py < gfx::inspect::Height(); ++py) {
    for (int px = 0; px < gfx::inspect::Width(); ++px) {
      if (gfx::inspect::Pixel(px, py) != rgb) continue;
      const bool inside = px >= x && px < x + width && py >= y && py < y + height;
      (inside ? ink.inside : ink.outside)++;
    }
  }
  return ink;
}

void ExpectText(std::string_view text, int line, std::uint32_t rgb, int size) {
  const int x = MX2 - static_cast<int>(text.size()) / 2;
  const int y = MY2 + 25 * line;
  const Ink ink = InkOf(rgb, x, y, static_cast<int>(text.size()) * 8 * size, 8 * size);
  EXPECT_GT(ink.inside, 20) << text;
  EXPECT_EQ(ink.outside, 0) << text;
}

TEST_F(MenuTest, EnterAsTheFirstKeyRunsNewGame) {
  Type({kEnter});
  Menu(S, quit, best);
  EXPECT_TRUE(RanNewGame());
  EXPECT_FALSE(quit);
}

TEST_F(MenuTest, OnlyTheLastOfSeveralWaitingKeysCounts) {
  Type({'s', kEnter});
  Menu(S, quit, best);
  EXPECT_TRUE(RanNewGame());
  AddExtChar(80);
  AddChar(kEnter);
  Menu(S, quit, best);
  EXPECT_EQ(CountDelays(1500), 6);
  EXPECT_FALSE(quit);
}

TEST_F(MenuTest, TheHighlightStopsAtTheLastItemAndQuitSetsTheFlag) {
  Start();
  for (int i = 0; i < 4; ++i) TypeOneRead({'s'});
  TypeOneRead({kEnter});
  Finish();
  EXPECT_TRUE(quit);
  EXPECT_FALSE(RanNewGame());
}

TEST_F(MenuTest, TheHighlightStopsAtTheFirstItemForUpWAndCapitalH) {
  Start();
  TypeOneRead({'w'});
  TypeOneRead({0, 72});
  TypeOneRead({'H'});
  TypeOneRead({kEnter});
  Finish();
  EXPECT_TRUE(RanNewGame());
}

TEST_F(MenuTest, CapitalPMovesDownAndCapitalSDoesNot) {
  Start();
  TypeOneRead({'P'});
  TypeOneRead({'P'});
  TypeOneRead({'P'});
  TypeOneRead({'S'});
  TypeOneRead({'W'});
  TypeOneRead({kEnter});
  Finish();
  EXPECT_TRUE(quit);
}

TEST_F(MenuTest, EscOnlyRedrawsTheMenu) {
  Start();
  TypeOneRead({kEsc});
  EXPECT_FALSE(finished);
  for (int i = 0; i < 3; ++i) TypeOneRead({0, 80});
  TypeOneRead({kEnter});
  Finish();
  EXPECT_TRUE(quit);
}

TEST_F(MenuTest, EveryCallStartsOnNewGame) {
  Start();
  for (int i = 0; i < 3; ++i) TypeOneRead({'s'});
  TypeOneRead({kEnter});
  Finish();
  ASSERT_TRUE(quit);
  Type({kEnter});
  Menu(S, quit, best);
  EXPECT_TRUE(RanNewGame());
}

TEST_F(MenuTest, TheRunsBestIsRaisedAfterEveryActionAndNeverLowered) {
  S.Scores = 5;
  Start();
  TypeOneRead({'s'});
  TypeOneRead({kEnter});  // Controls
  TypeOneRead({kEsc});
  Finish();
  EXPECT_EQ(best, 5);
  S.Scores = 3;
  Start();
  TypeOneRead({'s'});
  TypeOneRead({kEnter});
  TypeOneRead({kEsc});
  Finish();
  EXPECT_EQ(best, 5);
}

TEST_F(MenuTest, ItemsStandAtTheirPlacesInTheirColoursAndSizes) {
  Start();
  TypeOneRead({'x'});
  ExpectText("New Game", 1, 0x5454FC, 3);  // highlighted: colour 9 at size 3
  ExpectText("Controls", 2, 0xFC7C00, 2);  // colour 42
  ExpectText("Best players", 3, 0xFCBC00, 2);
  ExpectText("Quit", 4, 0xFCFC00, 2);
  TypeOneRead({'s'});
  ExpectText("New Game", 1, 0xFC4000, 2);  // colour 41
  ExpectText("Controls", 2, 0x5454FC, 3);
  for (int i = 0; i < 2; ++i) TypeOneRead({'s'});
  TypeOneRead({kEnter});
  Finish();
}

TEST_F(MenuTest, TheControlsScreenListsTheLetterKeysAndWaitsForEsc) {
  Start();
  TypeOneRead({'s'});
  TypeOneRead({kEnter});
  const std::uint32_t colours[] = {0x9C7CFC, 0xBC7CFC, 0xDC7CFC, 0xFC7CFC, 0xFC7CDC, 0xFC7CBC};
  const std::string_view lines[] = {
      "Alternative controls : ", "w - UP", "s - DOWN", "a - LEFT", "d - RIGHT",
      "Press ESC to exit"};
  for (int i = 0; i < 6; ++i) ExpectText(lines[i], i + 1, colours[i], 2);
  TypeOneRead({kEnter, 'q', 0, 72});
  EXPECT_FALSE(finished);
  TypeOneRead({kEsc});
  Finish();
  EXPECT_FALSE(quit);
}

}  // namespace
