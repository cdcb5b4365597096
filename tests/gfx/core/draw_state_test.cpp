#include "gfx/keyboard.h"
#include "tests/headless_graph.h"

namespace {

using GraphStateTest = HeadlessGraph;

TEST_F(GraphStateTest, GraphResultReportsACodeOnceAndTheLatestCodeWins) {
  SetLineStyle(SolidLn, 0, 2);
  EXPECT_EQ(GraphResult(), grError);
  EXPECT_EQ(GraphResult(), grOk);

  SetViewPort(0, 0, 5000, 10, true);  // -11
  CloseGraph();
  CloseGraph();  // -1 overwrites it, and survives leaving graphics mode
  EXPECT_EQ(GraphResult(), grNoInitGraph);
  EXPECT_EQ(GraphResult(), grOk);
}

TEST_F(GraphStateTest, InvalidSettingsAreRefusedAndChangeNothing) {
  SetFillStyle(HatchFill, Cyan);
  SetLineStyle(DashedLn, 0, ThickWidth);
  SetViewPort(10, 20, 110, 120, false);
  MoveTo(7, 8);
  GraphResult();

  const struct {
    const char* what;
    void (*call)();
  } refused[] = {
      {"pattern 13", [] { SetFillStyle(13, Red); }},
      {"colour above GetMaxColor", [] { SetFillStyle(SolidFill, 256); }},
      {"line style 5", [] { SetLineStyle(5, 0, NormWidth); }},
      {"thickness 2", [] { SetLineStyle(SolidLn, 0, 2); }},
      {"thickness 0", [] { SetLineStyle(SolidLn, 0, 0); }},
      {"x2 past MaxX", [] { SetViewPort(0, 0, 640, 100, true); }},
      {"y2 past MaxY", [] { SetViewPort(0, 0, 100, 480, true); }},
      {"x1 > x2", [] { SetViewPort(50, 0, 49, 100, true); }},
      {"y1 > y2", [] { SetViewPort(0, 50, 100, 49, true); }},
      {"x1 < 0", [] { SetViewPort(-1, 0, 100, 100, true); }},
      {"y1 < 0", [] { SetViewPort(0, -1, 100, 100, true); }},
      {"write mode 5", [] { SetWriteMode(5); }},
  };
  for (const auto& r : refused) {
    r.call();
    EXPECT_EQ(GraphResult(), grError) << r.what;
    FillSettingsType fill;
    GetFillSettings(fill);
    EXPECT_EQ(fill.Pattern, HatchFill) << r.what;
    EXPECT_EQ(fill.Color, Cyan) << r.what;
    LineSettingsType line;
    GetLineSettings(line);
    EXPECT_EQ(line.LineStyle, DashedLn) << r.what;
    EXPECT_EQ(line.Pattern, 0xF8F8) << r.what;
    EXPECT_EQ(line.Thickness, ThickWidth) << r.what;
    ViewPortType view;
    GetViewSettings(view);
    EXPECT_EQ(view.x1, 10) << r.what;
    EXPECT_EQ(view.y1, 20) << r.what;
    EXPECT_EQ(view.x2, 110) << r.what;
    EXPECT_EQ(view.y2, 120) << r.what;
    EXPECT_FALSE(view.Clip) << r.what;
    EXPECT_EQ(GetX(), 7) << r.what;
    EXPECT_EQ(GetY(), 8) << r.what;
    EXPECT_EQ(gfx::Draw().WriteMode, CopyPut) << r.what;
  }
}

TEST_F(GraphStateTest, AcceptedSettingsTakeTheirLimitsAndTheUserLinePattern) {
  SetFillStyle(UserFill, GetMaxColor());
  SetLineStyle(UserBitLn, 0xA5F0, NormWidth);
  SetViewPort(0, 0, GetMaxX(), GetMaxY(), true);
  EXPECT_EQ(GraphResult(), grOk);
  LineSettingsType line;
  GetLineSettings(line);
  EXPECT_EQ(line.Pattern, 0xA5F0);
  // Most significant bit first.
  const bool expected[16] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1, 1, 1, 0, 0, 0, 0};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(gfx::Draw().LinePatterns[i], expected[i]) << i;

  // The pattern argument counts only for the user style.
  SetLineStyle(DottedLn, 0x1234, NormWidth);
  GetLineSettings(line);
  EXPECT_EQ(line.Pattern, 0xCCCC);
}

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

TEST_F(GraphStateTest, ClearDeviceFillsEverythingResetsThePositionAndKeepsTheViewport) {
  SetColor(Red);
  Line(0, 0, 639, 0);
  Line(639, 479, 0, 479);
  SetViewPort(100, 100, 200, 150, true);
  MoveTo(30, 40);
  ClearDevice();
  EXPECT_EQ(GetX(), 0);
  EXPECT_EQ(GetY(), 0);
  ViewPortType view;
  GetViewSettings(view);
  EXPECT_EQ(view.x1, 100);
  EXPECT_EQ(view.y1, 100);
  EXPECT_EQ(view.x2, 200);
  EXPECT_EQ(view.y2, 150);
  EXPECT_EQ(gfx::inspect::Pixel(0, 0), Screen(Black));
  EXPECT_EQ(gfx::inspect::Pixel(639, 479), Screen(Black));
  EXPECT_EQ(GetColor(), Red);
}

TEST_F(GraphStateTest, ClearViewPortClearsOnlyTheViewportInTheBackgroundColour) {
  SetColor(Green);
  SetFillStyle(SolidFill, Green);
  for (int y = 0; y < 40; ++y) Line(0, y, 60, y);
  SetViewPort(10, 10, 20, 30, true);
  SetWriteMode(XORPut);
  gfx::Draw().CurrentBkColor = Blue;  // without SetBkColor's change of entry 0
  ClearViewPort();
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x <= 60; ++x) {
      const bool inside = x >= 10 && x <= 20 && y >= 10 && y <= 30;
      EXPECT_EQ(gfx::inspect::Pixel(x, y), inside ? Screen(Blue) : Screen(Green)) << x << "," << y;
    }
  }
  EXPECT_EQ(gfx::Draw().WriteMode, XORPut);
  EXPECT_EQ(GetColor(), Green);
}

TEST_F(GraphStateTest, TheUserClosingTheWindowStopsDrawingButNotTheProgram) {
  gfx::inspect::SimulateWindowClose();
  EXPECT_EQ(gfx::inspect::Width(), 0);
  EXPECT_EQ(gfx::inspect::Pixel(0, 0), 0xFFFFFFFFu);
  EXPECT_TRUE(gfx::Mode().IsGraphMode);
  EXPECT_FALSE(gfx::Backing().GraphRunning);
  // None of these may touch a surface that is gone.
  SetColor(Red);
  PutPixel(1, 1, Red);
  Line(0, 0, 100, 37);
  Rectangle(5, 5, 50, 50);
  FillEllipse(100, 100, 20, 10);
  ClearDevice();
  EXPECT_EQ(GetPixel(1, 1), 0);
  EXPECT_EQ(gfx::inspect::Width(), 0);
  CloseGraph();
  EXPECT_EQ(GraphResult(), grOk);
  EXPECT_FALSE(gfx::Mode().IsGraphMode);
  // The slots keep the window versions: drawing after CloseGraph is ignored too.
  PutPixel(1, 1, Red);
  ClearDevice();
}

TEST_F(GraphStateTest, OnlyAWindowThePlayerClosedCountsAsLostForTheKeyboard) {
  SetSleepFunction([](std::uint16_t) {});
  EXPECT_NO_THROW(Delay(1));
  gfx::inspect::SimulateWindowClose();
  EXPECT_THROW(Delay(1), WindowClosed);
  CloseGraph();
  OpenOn(gfx::DesktopSize{});  // a new window delivers keys again
  EXPECT_NO_THROW(Delay(1));
  CloseGraph();  // closed on purpose: not lost
  EXPECT_NO_THROW(Delay(1));
  SetSleepFunction(nullptr);
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
