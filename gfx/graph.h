#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

// The classic palette-graphics interface. All drawing state is global to the layer: one window per
// process, opened by InitGraph and closed by CloseGraph. Coordinates are viewport-relative, colours
// are palette indices. Errors are never thrown: they stay pending until GraphResult reads them.

// Result codes.
inline constexpr std::int16_t grOk = 0;
inline constexpr std::int16_t grNoInitGraph = -1;
inline constexpr std::int16_t grNotDetected = -2;
inline constexpr std::int16_t grFileNotFound = -3;
inline constexpr std::int16_t grInvalidDriver = -4;
inline constexpr std::int16_t grNoLoadMem = -5;
inline constexpr std::int16_t grNoScanMem = -6;
inline constexpr std::int16_t grNoFloodMem = -7;
inline constexpr std::int16_t grFontNotFound = -8;
inline constexpr std::int16_t grNoFontMem = -9;
inline constexpr std::int16_t grInvalidMode = -10;
inline constexpr std::int16_t grError = -11;
inline constexpr std::int16_t grIOerror = -12;
inline constexpr std::int16_t grInvalidFont = -13;
inline constexpr std::int16_t grInvalidFontNum = -14;
inline constexpr std::int16_t grInvalidVersion = -18;

// InitGraph's driver 0 asks for detection.
inline constexpr std::int16_t Detect = 0;
inline constexpr std::int16_t DetectMode = 30000;

// Fill patterns.
enum : std::uint16_t {
  EmptyFill, SolidFill, LineFill, LtSlashFill, SlashFill, BkSlashFill, LtBkSlashFill,
  HatchFill, XHatchFill, InterleaveFill, WideDotFill, CloseDotFill, UserFill
};
// Line styles and thicknesses.
enum : std::uint16_t { SolidLn, DottedLn, CenterLn, DashedLn, UserBitLn };
inline constexpr std::uint16_t NormWidth = 1;
inline constexpr std::uint16_t ThickWidth = 3;
// Write modes.
enum : std::int16_t { CopyPut, XORPut, OrPut, AndPut, NotPut };
// Text.
inline constexpr std::uint16_t DefaultFont = 0;
enum : std::uint16_t { HorizDir, VertDir };
enum : std::uint16_t { LeftText, CenterText, RightText };
enum : std::uint16_t { BottomText, /* CenterText */ TopText = 2 };

// The 16 classic colours.
enum : std::uint16_t {
  Black, Blue, Green, Cyan, Red, Magenta, Brown, LightGray, DarkGray, LightBlue, LightGreen,
  LightCyan, LightRed, LightMagenta, Yellow, White
};

struct LineSettingsType {
  std::uint16_t LineStyle;
  std::uint16_t Pattern;
  std::uint16_t Thickness;
};

struct FillSettingsType {
  std::uint16_t Pattern;
  std::uint16_t Color;
};

struct ViewPortType {
  std::int16_t x1, y1, x2, y2;
  bool Clip;
};

struct TextSettingsType {
  std::uint16_t Font;
  std::uint16_t Direction;
  std::uint16_t CharSize;
  std::uint16_t Horiz;
  std::uint16_t Vert;
};

// Modes and results.
void InitGraph(std::int16_t& driver, std::int16_t& mode, std::string_view driverPath);
void SetGraphMode(std::int16_t mode);
void GraphDefaults();
void CloseGraph();
std::int16_t GraphResult();
std::string_view GraphErrorMsg(std::int16_t code);
std::int16_t GetMaxX();
std::int16_t GetMaxY();
std::uint16_t GetMaxColor();
std::int16_t GetGraphMode();

// Drawing state.
void SetColor(std::uint16_t color);
std::uint16_t GetColor();
void SetBkColor(std::uint16_t color);
std::uint16_t GetBkColor();
void SetFillStyle(std::uint16_t pattern, std::uint16_t color);
void GetFillSettings(FillSettingsType& settings);
void SetLineStyle(std::uint16_t style, std::uint16_t pattern, std::uint16_t thickness);
void GetLineSettings(LineSettingsType& settings);
void SetWriteMode(std::int16_t mode);
void SetViewPort(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2, bool clip);
void GetViewSettings(ViewPortType& viewport);
void MoveTo(std::int16_t x, std::int16_t y);
std::int16_t GetX();
std::int16_t GetY();
void SetRGBPalette(std::int16_t index, std::int16_t red, std::int16_t green, std::int16_t blue);
void GetRGBPalette(std::int16_t index, std::int16_t& red, std::int16_t& green, std::int16_t& blue);

// The window's two switches, both on from the start. The window shows only the backing image,
// so with DrawToBitmap off drawing calls change nothing at all. With DrawToScreen off they draw
// into the backing image but the window keeps showing the picture it had (until it repaints
// itself, uncovered or resized); switched on again, the kept-back drawing shows at the program's
// next wait.
void SetDrawToBitmap(bool on);
bool GetDrawToBitmap();
void SetDrawToScreen(bool on);
bool GetDrawToScreen();

// Drawing.
void PutPixel(std::int16_t x, std::int16_t y, std::uint16_t color);
std::uint16_t GetPixel(std::int16_t x, std::int16_t y);
void Line(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
void Rectangle(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
void FillEllipse(std::int16_t x, std::int16_t y, std::uint16_t xRadius, std::uint16_t yRadius);
void ClearDevice();
void ClearViewPort();

// Text.
void SetTextStyle(std::uint16_t font, std::uint16_t direction, std::uint16_t charSize);
void SetTextJustify(std::uint16_t horiz, std::uint16_t vert);
void GetTextSettings(TextSettingsType& settings);
void OutTextXY(std::int16_t x, std::int16_t y, std::string_view text);
std::uint16_t TextWidth(std::string_view text);
std::uint16_t TextHeight(std::string_view text);
void GetTextPosition(std::string_view text, std::int16_t& xOffset, std::int16_t& yOffset);
std::int16_t InstallUserFont(std::string_view name);

// The window's slots and settings. Handlers run on the window thread, so they must not wait for
// the program's thread; a handler's result is not used. The slots are empty unless a client sets
// them; the settings are read when InitGraph creates the window.

// Mouse button messages: left, right and middle, pressed, released or double-clicked, with the
// pointer's position in the window's client area (not relative to the viewport).
enum class MouseButton : std::uint8_t { kLeft, kRight, kMiddle };
enum class MouseAction : std::uint8_t { kDown, kUp, kDoubleClick };
struct MouseMessage {
  MouseAction Action;
  MouseButton Button;
  std::int16_t X;
  std::int16_t Y;
};
using MouseMessageProc = std::int32_t (*)(const MouseMessage& message);
inline constinit std::atomic<MouseMessageProc> MouseMessageHandler{nullptr};

// A command (from a menu, an accelerator or a child control: its id and notification code) and a
// notification from a child control. The window has no menu, accelerators or child controls, so
// on this platform nothing ever reaches these two slots.
struct CommandMessage {
  std::int32_t Id;
  std::int32_t Code;
};
struct NotifyMessage {
  std::int32_t From;
  std::int32_t Code;
};
using CommandMessageProc = std::int32_t (*)(const CommandMessage& message);
using NotifyMessageProc = std::int32_t (*)(const NotifyMessage& message);
inline constinit std::atomic<CommandMessageProc> CommandMessageHandler{nullptr};
inline constinit std::atomic<NotifyMessageProc> NotifyMessageHandler{nullptr};

// Called once per window, on the window thread, when the window exists and its backing image is
// black, before the first paint releases InitGraph; drawing from it has no effect yet.
inline constinit std::atomic<void (*)()> OnGraphWindowCreation{nullptr};

// The window's caption; the text must live until InitGraph has returned.
inline constinit const char* WindowTitle = "Graph window application";

// GraphWindowStyle bits. A window with either redraw bit is resizable (and maximizable) by the
// player and is redrawn whole from the backing image after every change of size; with neither it
// keeps its size, since here a window that changes size always loses what it showed. With
// DoubleClicks, a second press of a button soon after the first reaches the mouse slot as
// kDoubleClick; without it, as one more kDown.
inline constexpr std::uint32_t RedrawOnVResize = 0x0001;
inline constexpr std::uint32_t RedrawOnHResize = 0x0002;
inline constexpr std::uint32_t DoubleClicks = 0x0008;
inline constinit std::uint32_t GraphWindowStyle = RedrawOnHResize | RedrawOnVResize;
