#include "gfx/keyboard.h"
#include "tests/support/headless_graph.h"

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

}  // namespace
