#include "gfx/core/hooks.h"

#include <cstdio>
#include <cstdlib>

#include "gfx/core/layer.h"

namespace gfx {
namespace {

// Every drawing call before a successful InitGraph ends up here.
[[noreturn]] void NotInGraphicsMode() {
  std::fputs("Error: Not in graphics mode (use InitGraph and test GraphResult afterwards)\n",
             stdout);
  std::fflush(stdout);
  std::exit(1);
}

void DefaultDirectPutPixel(std::int16_t, std::int16_t) {
  NotInGraphicsMode();
}
void DefaultPutPixel(std::int16_t, std::int16_t, std::uint16_t) {
  NotInGraphicsMode();
}
std::uint16_t DefaultGetPixel(std::int16_t, std::int16_t) {
  NotInGraphicsMode();
}
void DefaultSetRGBPalette(std::int16_t, std::int16_t, std::int16_t, std::int16_t) {
  NotInGraphicsMode();
}
void DefaultGetRGBPalette(std::int16_t, std::int16_t&, std::int16_t&, std::int16_t&) {
  NotInGraphicsMode();
}

// Drawing a string draws pixels; the generic text routine's only pixel slot outside a mode is
// the one that reports the error, so an empty string is the only one that gets through.
void DefaultOutTextXY(std::int16_t, std::int16_t, std::string_view text) {
  if (!text.empty()) NotInGraphicsMode();
}

void GenericSetAllPalette(const std::uint8_t* rgb, int count) {
  for (int i = 0; i < count; ++i, rgb += 3) {
    Ops().SetRGBPalette(static_cast<std::int16_t>(i), rgb[0], rgb[1], rgb[2]);
  }
}

// The surface has a single page.
void SinglePage(std::uint16_t page) {
  if (page != 0) SetResult(grError);
}

constexpr Hooks kDefaultHooks{
    DefaultDirectPutPixel,
    DefaultPutPixel,
    DefaultGetPixel,
    DefaultSetRGBPalette,
    DefaultGetRGBPalette,
    GenericSetAllPalette,
    SinglePage,
    SinglePage,
    GenericClearViewPort,
    GenericPutImage,
    GenericGetImage,
    GenericImageSize,
    GenericGetScanLine,
    GenericLine,
    GenericInternalEllipse,
    GenericPatternLine,
    GenericHLine,
    GenericVLine,
    DefaultOutTextXY,
    GenericCircle,
};

}  // namespace

Hooks& Ops() {
  static constinit Hooks hooks = kDefaultHooks;
  return hooks;
}

void DefaultHooks() {
  Ops() = kDefaultHooks;
}

void InstallWindowHooks(OutTextXYProc windowOutTextXY) {
  Hooks& hooks = Ops();
  hooks.DirectPutPixel = WindowDirectPutPixel;
  hooks.PutPixel = WindowPutPixel;
  hooks.GetPixel = WindowGetPixel;
  hooks.HLine = WindowHLine;
  hooks.VLine = WindowVLine;
  hooks.PatternLine = WindowPatternLine;
  hooks.InternalEllipse = WindowInternalEllipse;
  hooks.ClearViewPort = WindowClearViewPort;
  hooks.PutImage = WindowPutImage;
  hooks.SetRGBPalette = WindowSetRGBPalette;
  hooks.GetRGBPalette = WindowGetRGBPalette;
  hooks.SetVisualPage = SinglePage;
  hooks.SetActivePage = SinglePage;
  hooks.OutTextXY = windowOutTextXY;
}

}  // namespace gfx
