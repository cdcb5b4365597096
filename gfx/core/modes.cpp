#include "gfx/core/modes.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <mutex>

#include "gfx/core/backing_image.h"
#include "gfx/core/hooks.h"
#include "gfx/core/key_queue.h"
#include "gfx/core/layer.h"
#include "gfx/core/palette.h"
#include "gfx/core/window_life.h"
#include "gfx/platform/platform.h"
#include "runtime/run_error.h"

namespace gfx {
namespace {

constexpr std::int16_t kDetectedSlot16 = 13;
constexpr std::int16_t kDetectedSlot256 = 15;

struct ModeLists {
  bool Built = false;
  int Scale = 1;                // the desktop's sizes are divided by it
  unsigned PlatformChoice = 0;  // PlatformChoices() when built
  std::vector<TModeInfo> All;
  std::array<DepthSlot, kLastDepthSlot - kFirstDepthSlot + 1> Slots;
};

ModeLists& Lists() {
  static ModeLists lists;
  return lists;
}

// The build the last InitGraph came with; its text routine goes into the window modes' slots.
const LayerBuild* lastBuild = nullptr;

bool IsDepthSlot(std::int16_t driver) {
  return driver >= kFirstDepthSlot && driver <= kLastDepthSlot;
}

DepthSlot& Slot(ModeLists& lists, std::int16_t slot) {
  return lists.Slots[slot - kFirstDepthSlot];
}

// Sorted by size; a mode of a size already present takes its place.
void InsertBySize(DepthSlot& slot, const TModeInfo& mode) {
  auto& modes = slot.Modes;
  auto at = std::find_if(modes.begin(), modes.end(), [&](const TModeInfo& m) {
    return m.MaxX > mode.MaxX || (m.MaxX == mode.MaxX && m.MaxY >= mode.MaxY);
  });
  if (at != modes.end() && at->MaxX == mode.MaxX && at->MaxY == mode.MaxY) {
    *at = mode;
  } else {
    modes.insert(at, mode);
  }
  for (std::size_t i = 0; i < modes.size(); ++i)
    modes[i].Position = static_cast<std::int16_t>(i + 1);
  slot.Low = 1;
  slot.High = static_cast<std::int16_t>(modes.size());
}

void AddMode(ModeLists& lists, std::int16_t driver, std::int16_t mode, std::string_view name,
             std::int32_t colors, int maxX, int maxY) {
  TModeInfo info;
  info.DriverNumber = driver;
  info.ModeNumber = mode;
  info.MaxColor = colors;
  info.PaletteSize = colors;
  info.MaxX = static_cast<std::uint16_t>(maxX);
  info.MaxY = static_cast<std::uint16_t>(maxY);
  info.ModeName = name;
  lists.All.push_back(info);
  InsertBySize(Slot(lists, colors == 16 ? kDetectedSlot16 : kDetectedSlot256), info);
}

// Sizes a window can have: at least one pixel, at most what 16-bit coordinates reach.
int Usable(int size) {
  return std::clamp(size, 1, 32767);
}

// What the desktop asks for, lowered until a 640 x 480 picture still fits its largest framed
// window: neither a setting nor a desktop may cut the game's screens off.
int UsableScale(const DesktopSize& desktop) {
  int scale = std::clamp(desktop.Scale, 1, kMostScale);
  while (scale > 1 && (desktop.W / scale < 640 || desktop.H / scale < 480)) --scale;
  return scale;
}

// The modes are measured in picture pixels: the desktop's sizes divided by the scale.
void BuildModeLists(ModeLists& lists) {
  const DesktopSize desktop = Platform().Desktop();
  const int scale = UsableScale(desktop);
  const int w = Usable(desktop.W / scale);
  const int h = Usable(desktop.H / scale);
  const int fw = Usable(desktop.FW / scale);
  const int fh = Usable(desktop.FH / scale);
  struct Fixed {
    std::int16_t Driver, Mode;
    std::string_view Name;
    std::int32_t Colors;
    int Width, Height;
  };
  static constexpr std::array<Fixed, 11> kFixed{{
      {9, 2, "640 x 480 x 16 Win32GUI", 16, 640, 480},
      {9, 0, "640 x 200 x 16 Win32GUI", 16, 640, 200},
      {9, 1, "640 x 350 x 16 Win32GUI", 16, 640, 350},
      {10, 256, "640 x 400 x 256 Win32GUI", 256, 640, 400},
      {10, 257, "640 x 480 x 256 Win32GUI", 256, 640, 480},
      {10, 258, "800 x 600 x 16 Win32GUI", 16, 800, 600},
      {10, 259, "800 x 600 x 256 Win32GUI", 256, 800, 600},
      {10, 260, "1024 x 768 x 16 Win32GUI", 16, 1024, 768},
      {10, 261, "1024 x 768 x 256 Win32GUI", 256, 1024, 768},
      {10, 262, "1280 x 1024 x 16 Win32GUI", 16, 1280, 1024},
      {10, 263, "1280 x 1024 x 256 Win32GUI", 256, 1280, 1024},
  }};
  for (const Fixed& f : kFixed) {
    if (w >= f.Width && h >= f.Height) {
      AddMode(lists, f.Driver, f.Mode, f.Name, f.Colors, f.Width - 1, f.Height - 1);
    }
  }
  AddMode(lists, 10, 240, "Largest Window x 16", 16, w - 1, h - 1);
  AddMode(lists, 10, 241, "Largest Window x 256", 256, w - 1, h - 1);
  AddMode(lists, 10, 245, "Maximized Window x 16", 16, fw - 1, fh - 1);
  AddMode(lists, 10, 246, "Maximized Window x 256", 256, fw - 1, fh - 1);
  lists.Scale = scale;
  lists.Built = true;
  lists.PlatformChoice = PlatformChoices();
}

ModeLists& BuiltLists() {
  ModeLists& lists = Lists();
  if (lists.Built && lists.PlatformChoice != PlatformChoices()) lists = ModeLists{};
  if (!lists.Built) BuildModeLists(lists);
  return lists;
}

// The slot detection settles on: the one asked for, or the last that holds any mode; 0 if none.
std::int16_t DetectSlot(std::int16_t driver, std::int16_t mode) {
  if (mode == DetectMode && IsDepthSlot(driver)) {
    return NewModeList(driver).Modes.empty() ? 0 : driver;
  }
  std::int16_t found = 0;
  for (std::int16_t s = kFirstDepthSlot; s <= kLastDepthSlot; ++s) {
    if (!NewModeList(s).Modes.empty()) found = s;
  }
  return found;
}

// With a depth slot as driver, a mode is a position in that slot (or, failing that, the mode
// number of one of its modes); with any other driver, the driver and mode number of the table.
const TModeInfo* FindMode(std::int16_t newDriver, std::int16_t driver, std::int16_t mode) {
  if (IsDepthSlot(newDriver)) {
    const auto& modes = NewModeList(newDriver).Modes;
    if (mode >= 1 && mode <= static_cast<int>(modes.size())) return &modes[mode - 1];
    auto it = std::find_if(modes.begin(), modes.end(),
                           [&](const TModeInfo& m) { return m.ModeNumber == mode; });
    return it == modes.end() ? nullptr : &*it;
  }
  const auto& all = ModeList();
  auto it = std::find_if(all.begin(), all.end(), [&](const TModeInfo& m) {
    return m.DriverNumber == driver && m.ModeNumber == mode;
  });
  return it == all.end() ? nullptr : &*it;
}

void InitVars() {
  ModeState& m = Mode();
  m.MaxX = 0;
  m.MaxY = 0;
  m.MaxColor = 0;
  m.PaletteSize = 0;
  m.DirectColor = false;
  m.HardwarePages = 0;
  m.IntCurrentDriver = 0;
  m.IntCurrentNewDriver = 0;
  m.IntCurrentMode = 0;
  Draw().XAspect = 0;
  Draw().YAspect = 0;
  DefaultHooks();
}

// Leaves graphics mode: the window goes, on purpose, and the keyboard hears it was not lost.
void LeaveGraphicsMode() {
  CloseWindowOnPurpose();
  FreePalette();
  Mode().IsGraphMode = false;
  KeySourceClosed(false);
}

// The start-up operation of every mode: palette, then the window, which must paint once.
std::int16_t StartWindow(const TModeInfo& info) {
  AllocatePalette(info.MaxColor);
  WindowRequest request;
  request.Width = info.MaxX + 1;
  request.Height = info.MaxY + 1;
  request.Scale = Mode().Scale;
  request.Maximized = IsMaximizedMode(info.ModeNumber);
  request.Title = WindowTitle;
  request.Resizable = (GraphWindowStyle & (RedrawOnHResize | RedrawOnVResize)) != 0;
  request.DoubleClicks = (GraphWindowStyle & DoubleClicks) != 0;
  {
    std::lock_guard<DrawingLock> hold(GraphDrawing());
    Backing().GraphRunning = false;
  }
  // Keys may flow before Open returns; a window closed that early must stay closed for readers.
  KeySourceOpened();
  CloseWindowAtExit();
  if (!Platform().Open(request)) {
    FreePalette();
    KeySourceClosed(false);
    return grError;
  }
  return grOk;
}

// A run-time error closes the window before the report is written.
void CloseGraphOnFatalError() {
  if (Mode().IsGraphMode) CloseGraph();
}

}  // namespace

const std::vector<TModeInfo>& ModeList() {
  return BuiltLists().All;
}

const DepthSlot& NewModeList(std::int16_t slot) {
  assert(IsDepthSlot(slot) && "depth slots are 11..21");
  return Slot(BuiltLists(), slot);
}

// An InitGraph while a window is open replaces that window.
void InitGraph(const LayerBuild& build, std::int16_t& driver, std::int16_t& mode,
               std::string_view driverPath) {
  if (!PlatformChosen()) SelectPlatform(build.Platform());
  lastBuild = &build;
  if (Mode().IsGraphMode) gfx::LeaveGraphicsMode();
  gfx::InitVars();
  std::string& path = Mode().DriverPath;
  path.assign(driverPath);
  if (!path.empty() && path.back() != '\\') path += '\\';
  if (driver == Detect || mode == DetectMode) {
    const std::int16_t slot = gfx::DetectSlot(driver, mode);
    if (slot == 0) {
      gfx::SetResult(grNotDetected);
      return;
    }
    driver = slot;
    mode = gfx::NewModeList(slot).High;
  } else if (gfx::FindMode(gfx::IsDepthSlot(driver) ? driver : -1, driver, mode) == nullptr) {
    gfx::SetResult(grInvalidMode);
    return;
  }
  Mode().IntCurrentDriver = driver;
  Mode().IntCurrentNewDriver = gfx::IsDepthSlot(driver) ? driver : -1;
  gfx::SetResult(grOk);
  SetGraphMode(mode);
}

}  // namespace gfx

using gfx::Draw;
using gfx::Mode;

void SetGraphMode(std::int16_t mode) {
  gfx::ModeState& m = Mode();
  const gfx::TModeInfo* info = gfx::FindMode(m.IntCurrentNewDriver, m.IntCurrentDriver, mode);
  if (info == nullptr) {
    gfx::SetResult(grInvalidMode);
    gfx::DefaultHooks();
    return;
  }
  if (m.IsGraphMode) gfx::LeaveGraphicsMode();
  assert(gfx::lastBuild != nullptr && "a mode is found only after InitGraph");
  gfx::InstallWindowHooks(gfx::lastBuild->WindowOutTextXY);
  m.IntCurrentMode = info->ModeNumber;
  m.Scale = gfx::BuiltLists().Scale;
  Draw().XAspect = info->XAspect;
  Draw().YAspect = info->YAspect;
  m.MaxX = static_cast<std::int16_t>(info->MaxX);
  m.MaxY = static_cast<std::int16_t>(info->MaxY);
  m.HardwarePages = info->HardwarePages;
  m.MaxColor = info->MaxColor;
  m.PaletteSize = info->PaletteSize;
  m.DirectColor = info->DirectColor;
  const std::int16_t code = gfx::StartWindow(*info);
  if (code != grOk) {
    gfx::SetResult(code);
    gfx::DefaultHooks();
    return;
  }
  m.IsGraphMode = true;
  SetViewPort(0, 0, m.MaxX, m.MaxY, true);
  GraphDefaults();
  runtime::SetFatalCleanup(gfx::CloseGraphOnFatalError);
}

void GraphDefaults() {
  gfx::DrawState& d = Draw();
  d = gfx::DrawState{};
  d.Fill = FillSettingsType{SolidFill, GetMaxColor()};
  d.LinePatterns.fill(true);
  d.View = gfx::ViewPort{0, 0, Mode().MaxX, Mode().MaxY, true};
  d.UserFillPattern.fill(0xFF);
  SetBkColor(Black);
}

void CloseGraph() {
  if (!Mode().IsGraphMode) {
    gfx::SetResult(grNoInitGraph);
    return;
  }
  gfx::LeaveGraphicsMode();
}

std::string_view GraphErrorMsg(std::int16_t code) {
  switch (code) {
    case grNoInitGraph:
      return "Graphics driver not installed";
    case grNotDetected:
      return "Graphics hardware not detected";
    case grNoLoadMem:
    case grNoScanMem:
    case grNoFloodMem:
      return "Not enough memory for graphics";
    case grFontNotFound:
      return "Font file not found";
    case grNoFontMem:
      return "Not enough memory to load font";
    case grInvalidMode:
      return "Invalid graphics mode";
    case grError:
      return "Graphics error";
    case grIOerror:
      return "Graphics I/O error";
    case grInvalidFont:
    case grInvalidFontNum:
      return "Invalid font";
    case grInvalidVersion:
      return "Invalid driver version";
    default:
      return "";
  }
}
