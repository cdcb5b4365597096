#include <unistd.h>

#include <cstdio>
#include <string>

#include "gfx/core/hooks.h"
#include "gfx/core/modes.h"
#include "runtime/run_error.h"
#include "tests/support/headless_graph.h"

namespace {

// A platform that behaves like the headless one but records what the core asked of it, can
// report a different client size, and can fail to open.
class RecordingPlatform final : public gfx::WindowPlatform {
 public:
  gfx::DesktopSize desktop;
  gfx::WindowRequest lastRequest;
  int clientWidth = 0;  // 0: the size asked for
  int clientHeight = 0;
  bool failOpen = false;
  bool open = false;
  int closes = 0;

  gfx::DesktopSize Desktop() override { return desktop; }
  bool Open(const gfx::WindowRequest& request) override {
    lastRequest = request;
    title = request.Title;
    if (failOpen) return false;
    open = true;
    gfx::OnWindowCreated(clientWidth ? clientWidth : request.Width * request.Scale,
                         clientHeight ? clientHeight : request.Height * request.Scale);
    gfx::OnWindowPainted();
    return true;
  }
  void Wake() override {}
  void Close() override {
    ++closes;
    if (!open) return;
    open = false;
    gfx::OnWindowDestroyed();
  }
  std::string title;
};

class ModeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (gfx::Mode().IsGraphMode) CloseGraph();
    GraphResult();
    gfx::UseHeadlessPlatform();
  }

  // Detects on a desktop of W x H with a maximized client area of FW x FH, which asks for
  // this scale.
  void DetectOn(int w, int h, int fw, int fh, int scale = 1) {
    if (gfx::Mode().IsGraphMode) CloseGraph();
    platform.desktop = gfx::DesktopSize{w, h, fw, fh, scale};
    gfx::SelectPlatform(platform);
    driver = Detect;
    mode = 0;
    InitGraph(driver, mode, "");
  }

  static std::vector<int> Sizes(std::int16_t slot) {
    std::vector<int> out;
    for (const auto& m : gfx::NewModeList(slot).Modes) {
      out.push_back(m.ModeNumber);
      EXPECT_EQ(m.Position, static_cast<int>(out.size()));
    }
    return out;
  }

  RecordingPlatform platform;
  std::int16_t driver = 0;
  std::int16_t mode = 0;
};

TEST_F(ModeTest, AnOrdinaryDesktopGivesTheMaximized256ColourWindow) {
  DetectOn(1904, 1001, 1920, 1017);
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_EQ(driver, 15);
  EXPECT_EQ(mode, 6);
  EXPECT_EQ(GetGraphMode(), 246);
  EXPECT_EQ(GetMaxX(), 1919);
  EXPECT_EQ(GetMaxY(), 1016);
  EXPECT_EQ(GetMaxColor(), 255);
  EXPECT_TRUE(platform.lastRequest.Maximized);
  EXPECT_EQ(platform.lastRequest.Width, 1920);
  EXPECT_EQ(platform.lastRequest.Height, 1017);
  EXPECT_EQ(platform.title, "Graph window application");
  EXPECT_EQ(gfx::inspect::Width(), 1920);
  // 1280 x 1024 does not fit in 1001 rows.
  EXPECT_EQ(Sizes(15), (std::vector<int>{256, 257, 259, 261, 241, 246}));
  EXPECT_EQ(Sizes(13), (std::vector<int>{0, 1, 2, 258, 260, 240, 245}));
  EXPECT_EQ(gfx::NewModeList(15).Low, 1);
  EXPECT_EQ(gfx::NewModeList(15).High, 6);
  EXPECT_EQ(gfx::NewModeList(11).Low, -1);
  EXPECT_EQ(gfx::NewModeList(21).High, -1);
  EXPECT_EQ(gfx::ModeList().size(), 13u);
  EXPECT_EQ(gfx::ModeList().front().ModeName, "640 x 480 x 16 Win32GUI");
}

TEST_F(ModeTest, ALargestWindowBiggerThanTheMaximizedOneIsDetectedAndNotMaximized) {
  DetectOn(1000, 800, 900, 700);
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_EQ(GetGraphMode(), 241);
  EXPECT_EQ(mode, 5);
  EXPECT_EQ(GetMaxX(), 999);
  EXPECT_EQ(GetMaxY(), 799);
  EXPECT_FALSE(platform.lastRequest.Maximized);
  EXPECT_EQ(Sizes(15), (std::vector<int>{256, 257, 259, 246, 241}));
}

TEST_F(ModeTest, EqualSizesReplaceAndEqualWidthsSortByHeight) {
  // The largest window is exactly 1280 x 1024 and replaces the fixed mode of that size; the
  // maximized one is as wide but lower, so it goes before it.
  DetectOn(1280, 1024, 1280, 990);
  EXPECT_EQ(Sizes(15), (std::vector<int>{256, 257, 259, 261, 246, 241}));
  EXPECT_EQ(GetGraphMode(), 241);
  EXPECT_EQ(GetMaxY(), 1023);
  // ModeList keeps every mode in the order of adding, replaced ones included.
  EXPECT_EQ(gfx::ModeList().size(), 15u);
}

TEST_F(ModeTest, TheDefaultHeadlessDesktopGives639By479) {
  gfx::UseHeadlessPlatform();
  driver = Detect;
  InitGraph(driver, mode, "");
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_EQ(driver, 15);
  EXPECT_EQ(mode, 2);
  EXPECT_EQ(GetMaxX(), 639);
  EXPECT_EQ(GetMaxY(), 479);
  EXPECT_EQ(GetGraphMode(), 246);
}

TEST_F(ModeTest, ADesktopSmallerThanEveryFixedModeStillHasTheWindowModes) {
  DetectOn(300, 200, 300, 200);
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_EQ(Sizes(15), (std::vector<int>{246}));
  EXPECT_EQ(GetMaxX(), 299);
  EXPECT_EQ(GetMaxY(), 199);
}

TEST_F(ModeTest, AMaximizedWindowTakesItsRealClientSize) {
  platform.clientWidth = 1910;
  platform.clientHeight = 1000;
  DetectOn(1904, 1001, 1920, 1017);
  EXPECT_EQ(GetMaxX(), 1909);
  EXPECT_EQ(GetMaxY(), 999);
  EXPECT_EQ(gfx::inspect::Width(), 1910);
  EXPECT_EQ(gfx::inspect::Height(), 1000);
  ViewPortType view;
  GetViewSettings(view);
  EXPECT_EQ(view.x2, 1909);
  EXPECT_EQ(view.y2, 999);
  ClearDevice();
  PutPixel(1909, 999, White);
  EXPECT_EQ(gfx::inspect::Pixel(1909, 999), Screen(White));
}

TEST_F(ModeTest, OtherWindowsKeepTheModeSizeWhateverTheClientArea) {
  platform.clientWidth = 500;
  platform.clientHeight = 300;
  DetectOn(1000, 800, 900, 700);  // the largest window, not maximized
  EXPECT_EQ(GetMaxX(), 999);
  EXPECT_EQ(gfx::inspect::Width(), 1000);
  EXPECT_EQ(gfx::inspect::Height(), 800);
}

// The desktop's sizes are window pixels: a scale divides them, the real client area too, but
// only as far as a 640 x 480 picture still fits the largest framed window.
TEST_F(ModeTest, AScaleDividesTheDesktopButLeavesRoomForA640By480Picture) {
  platform.clientWidth = 3840;
  platform.clientHeight = 2090;         // the window manager's real client area
  DetectOn(3832, 2132, 3840, 2100, 2);  // maximized: 1920 x 1050 asked for
  EXPECT_EQ(platform.lastRequest.Scale, 2);
  EXPECT_EQ(platform.lastRequest.Width, 1920);
  EXPECT_EQ(platform.lastRequest.Height, 1050);
  EXPECT_EQ(GetMaxX(), 1919);
  EXPECT_EQ(GetMaxY(), 1044);
  EXPECT_EQ(gfx::inspect::Height(), 1045);

  platform.clientWidth = platform.clientHeight = 0;
  DetectOn(1280, 900, 1280, 900, 2);  // 450 rows at twice the size: too few
  EXPECT_EQ(platform.lastRequest.Scale, 1);
  EXPECT_EQ(GetMaxX(), 1279);

  DetectOn(3840, 2160, 3840, 2160, 8);  // lowered to 4: 960 x 540
  EXPECT_EQ(platform.lastRequest.Scale, 4);
  EXPECT_EQ(GetMaxX(), 959);
  EXPECT_EQ(GetMaxY(), 539);
}

TEST_F(ModeTest, ModesCanBeChosenByDriverAndModeNumberOrByPosition) {
  platform.desktop = gfx::DesktopSize{1904, 1001, 1920, 1017};
  gfx::SelectPlatform(platform);
  const struct {
    std::int16_t driver, mode;
    int maxX, maxY, maxColor, modeNumber;
  } picks[] = {
      {10, 257, 639, 479, 255, 257},  // by mode number
      {9, 1, 639, 349, 15, 1},
      {15, 1, 639, 399, 255, 256},        // first position of the 256-colour slot
      {13, 3, 639, 479, 15, 2},           // third of the 16-colour slot
      {15, 30000, 1919, 1016, 255, 246},  // detection limited to a slot
      {13, 30000, 1919, 1016, 15, 245},
  };
  for (const auto& p : picks) {
    driver = p.driver;
    mode = p.mode;
    InitGraph(driver, mode, "");
    EXPECT_EQ(GraphResult(), grOk) << p.driver << "/" << p.mode;
    EXPECT_EQ(GetMaxX(), p.maxX) << p.driver << "/" << p.mode;
    EXPECT_EQ(GetMaxY(), p.maxY) << p.driver << "/" << p.mode;
    EXPECT_EQ(GetMaxColor(), p.maxColor) << p.driver << "/" << p.mode;
    EXPECT_EQ(GetGraphMode(), p.modeNumber) << p.driver << "/" << p.mode;
  }
  // In a 16-colour mode colour 56 is out of range for fills.
  SetFillStyle(SolidFill, 56);
  EXPECT_EQ(GraphResult(), grError);
}

TEST_F(ModeTest, UnknownModesAndEmptySlotsAreReported) {
  platform.desktop = gfx::DesktopSize{1904, 1001, 1920, 1017};
  gfx::SelectPlatform(platform);
  const struct {
    std::int16_t driver, mode, code;
  } failures[] = {
      {10, 999, grInvalidMode},
      {3, 0, grInvalidMode},
      {15, 7, grInvalidMode},  // only six positions
      {14, 30000, grNotDetected},
  };
  for (const auto& f : failures) {
    driver = f.driver;
    mode = f.mode;
    InitGraph(driver, mode, "");
    EXPECT_EQ(GraphResult(), f.code) << f.driver << "/" << f.mode;
    EXPECT_FALSE(gfx::Mode().IsGraphMode);
    EXPECT_NE(gfx::Ops().PutPixel, &gfx::WindowPutPixel);
  }
  EXPECT_EQ(platform.lastRequest.Width, 0);  // no window was ever asked for
}

TEST_F(ModeTest, AWindowThatNeverPaintsFailsWithMinusElevenAndLeavesTheDefaults) {
  platform.failOpen = true;
  DetectOn(1904, 1001, 1920, 1017);
  EXPECT_EQ(GraphResult(), grError);
  EXPECT_FALSE(gfx::Mode().IsGraphMode);
  EXPECT_NE(gfx::Ops().PutPixel, &gfx::WindowPutPixel);
  EXPECT_NE(gfx::Ops().HLine, &gfx::WindowHLine);
  CloseGraph();
  EXPECT_EQ(GraphResult(), grNoInitGraph);
}

TEST_F(ModeTest, CloseGraphClosesTheWindowAndLaterDrawingIsIgnored) {
  DetectOn(800, 600, 800, 600);
  ASSERT_EQ(GraphResult(), grOk);
  CloseGraph();
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_EQ(platform.closes, 1);
  EXPECT_FALSE(platform.open);
  EXPECT_FALSE(gfx::Mode().IsGraphMode);
  EXPECT_EQ(gfx::inspect::Width(), 0);
  FillEllipse(10, 10, 5, 5);
  Rectangle(0, 0, 10, 10);
  EXPECT_EQ(gfx::inspect::Width(), 0);
}

using PaletteTest = HeadlessGraph;

// Each death test runs in a fresh copy of the test program, which has drawn nothing yet. Standard
// output goes to the error stream there so that the message can be matched.
class NotInGraphicsModeDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

constexpr const char* kNotInGraphicsMode =
    "^Error: Not in graphics mode \\(use InitGraph and test GraphResult afterwards\\)\n$";

TEST_F(NotInGraphicsModeDeathTest, DrawingBeforeInitGraphStopsWithExitCodeOne) {
  void (*const drawings[])() = {
      [] { PutPixel(10, 10, White); },
      [] {
        SetColor(Red);  // state operations work without a window
        SetFillStyle(SolidFill, Red);
        FillEllipse(100, 100, 5, 5);
      },
      [] { ClearDevice(); },
      [] { Rectangle(400, 300, 500, 350); },
      [] { OutTextXY(10, 10, "Quit"); },
      [] { SetRGBPalette(1, 2, 3, 4); },
  };
  for (auto draw : drawings) {
    EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), draw()), ::testing::ExitedWithCode(1),
                kNotInGraphicsMode);
  }
}

void DrawAfterAFailedInitGraph() {
  dup2(STDERR_FILENO, STDOUT_FILENO);
  static RecordingPlatform failing;
  failing.failOpen = true;
  gfx::SelectPlatform(failing);
  std::int16_t driver = Detect;
  std::int16_t mode = 0;
  InitGraph(driver, mode, "");
  if (GraphResult() == grError) Line(0, 0, 100, 0);
}

TEST_F(NotInGraphicsModeDeathTest, DrawingAfterAFailedInitGraphStopsToo) {
  EXPECT_EXIT(DrawAfterAFailedInitGraph(), ::testing::ExitedWithCode(1), kNotInGraphicsMode);
}

// Closes the window first, so the report is the last thing the player sees.
class ReportingPlatform final : public gfx::WindowPlatform {
 public:
  gfx::DesktopSize Desktop() override { return {}; }
  bool Open(const gfx::WindowRequest& request) override {
    gfx::OnWindowCreated(request.Width, request.Height);
    gfx::OnWindowPainted();
    return true;
  }
  void Wake() override {}
  void Close() override {
    std::fputs("window closed\n", stdout);
    gfx::OnWindowDestroyed();
  }
};

void FailInGraphicsMode() {
  dup2(STDERR_FILENO, STDOUT_FILENO);
  static ReportingPlatform platform;
  gfx::SelectPlatform(platform);
  std::int16_t driver = Detect;
  std::int16_t mode = 0;
  InitGraph(driver, mode, "");
  runtime::RunError(2);
}

TEST_F(NotInGraphicsModeDeathTest, ARunTimeErrorClosesGraphicsBeforeItsReport) {
  EXPECT_EXIT(FailInGraphicsMode(), ::testing::ExitedWithCode(2),
              "^window closed\nRuntime error 2 at \\$");
}

using GraphStateTest = HeadlessGraph;

TEST_F(GraphStateTest, DefaultsAfterInitGraph) {
  EXPECT_EQ(GetMaxX(), 639);
  EXPECT_EQ(GetMaxY(), 479);
  EXPECT_EQ(GetMaxColor(), 255);
  EXPECT_EQ(GetColor(), White);
  EXPECT_EQ(GetBkColor(), Black);
  FillSettingsType fill;
  GetFillSettings(fill);
  EXPECT_EQ(fill.Pattern, SolidFill);
  EXPECT_EQ(fill.Color, 255);
  ViewPortType view;
  GetViewSettings(view);
  EXPECT_EQ(view.x2, 639);
  EXPECT_EQ(view.y2, 479);
  EXPECT_TRUE(view.Clip);
  for (std::uint8_t row : gfx::Draw().UserFillPattern) EXPECT_EQ(row, 0xFF);
  TextSettingsType text = gfx::Draw().TextInfo;
  EXPECT_EQ(text.CharSize, 1);
  EXPECT_EQ(text.Vert, TopText);
  EXPECT_EQ(gfx::inspect::Width(), 640);
  EXPECT_EQ(gfx::inspect::Height(), 480);
}

TEST_F(GraphStateTest, GraphDefaultsPutBackEverythingAProgramChanged) {
  SetColor(Yellow);
  SetFillStyle(XHatchFill, Red);
  SetLineStyle(CenterLn, 0, ThickWidth);
  SetWriteMode(XORPut);
  SetViewPort(5, 5, 50, 50, false);
  MoveTo(3, 4);
  gfx::Draw().UserFillPattern.fill(0x0F);
  GraphDefaults();
  const gfx::DrawState& d = gfx::Draw();
  EXPECT_EQ(d.CurrentColor, White);
  EXPECT_EQ(d.Fill.Pattern, SolidFill);
  EXPECT_EQ(d.Fill.Color, GetMaxColor());
  EXPECT_EQ(d.LineInfo.LineStyle, SolidLn);
  EXPECT_EQ(d.LineInfo.Thickness, NormWidth);
  EXPECT_EQ(d.WriteMode, CopyPut);
  EXPECT_EQ(d.View.StartX, 0);
  EXPECT_EQ(d.View.Width, GetMaxX());
  EXPECT_TRUE(d.View.Clip);
  EXPECT_EQ(GetX(), 0);
  EXPECT_EQ(d.UserFillPattern[3], 0xFF);
}

TEST(GraphLifecycleTest, CloseGraphOutsideGraphicsModeSetsMinusOne) {
  if (gfx::Mode().IsGraphMode) CloseGraph();
  GraphResult();
  CloseGraph();
  EXPECT_EQ(GraphResult(), grNoInitGraph);
  EXPECT_EQ(GraphErrorMsg(grNoInitGraph), "Graphics driver not installed");
}

TEST(GraphLifecycleTest, InitGraphTwiceReplacesTheWindowAndDriverPathGetsItsSeparator) {
  gfx::UseHeadlessPlatform();
  std::int16_t driver = Detect, mode = 0;
  InitGraph(driver, mode, "fonts");
  EXPECT_EQ(gfx::Mode().DriverPath, "fonts\\");
  PutPixel(3, 3, Red);
  InitGraph(driver, mode, "C:\\games\\");
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_EQ(gfx::Mode().DriverPath, "C:\\games\\");
  EXPECT_EQ(gfx::inspect::Pixel(3, 3), 0u);  // a new, black surface
  InitGraph(driver, mode, "");
  EXPECT_EQ(gfx::Mode().DriverPath, "");
  CloseGraph();
  EXPECT_EQ(GraphResult(), grOk);
}

TEST(GraphErrorMsgTest, EveryCodeHasItsText) {
  const struct {
    std::int16_t code;
    std::string_view text;
  } table[] = {
      {0, ""},
      {-1, "Graphics driver not installed"},
      {-2, "Graphics hardware not detected"},
      {-3, ""},
      {-4, ""},
      {-5, "Not enough memory for graphics"},
      {-6, "Not enough memory for graphics"},
      {-7, "Not enough memory for graphics"},
      {-8, "Font file not found"},
      {-9, "Not enough memory to load font"},
      {-10, "Invalid graphics mode"},
      {-11, "Graphics error"},
      {-12, "Graphics I/O error"},
      {-13, "Invalid font"},
      {-14, "Invalid font"},
      {-15, ""},
      {-16, ""},
      {-17, ""},
      {-18, "Invalid driver version"},
      {-19, ""},
      {1, ""},
      {-32768, ""},
  };
  for (const auto& row : table) EXPECT_EQ(GraphErrorMsg(row.code), row.text) << row.code;
}

}  // namespace
