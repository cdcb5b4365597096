#pragma once

// The layer's own state, shared by its source files only: the drawing state, the mode state and
// the pending result code. The program's thread alone reads and writes them.

#include <array>
#include <cstdint>
#include <string>

#include "gfx/graph.h"

namespace gfx {

struct ViewPort {
  std::int16_t StartX = 0;
  std::int16_t StartY = 0;
  std::int16_t Width = 0;   // x2 - x1
  std::int16_t Height = 0;  // y2 - y1
  bool Clip = true;
};

// Drawing state; GraphDefaults puts every field back to these values (the fill colour and the
// viewport from the mode).
struct DrawState {
  std::uint16_t CurrentColor = White;
  std::uint16_t CurrentBkColor = Black;
  FillSettingsType Fill{SolidFill, 0};
  LineSettingsType LineInfo{SolidLn, 0xFFFF, NormWidth};
  std::array<bool, 16> LinePatterns{};
  std::int16_t WriteMode = CopyPut;
  ViewPort View;
  std::int16_t CurrentX = 0;
  std::int16_t CurrentY = 0;
  TextSettingsType TextInfo{DefaultFont, HorizDir, 1, LeftText, TopText};
  std::uint16_t XAspect = 10000;
  std::uint16_t YAspect = 10000;
  std::array<std::uint8_t, 8> UserFillPattern{};
};

struct ModeState {
  std::int16_t MaxX = 0;
  std::int16_t MaxY = 0;
  std::int32_t MaxColor = 0;
  std::int32_t PaletteSize = 0;
  bool DirectColor = false;
  std::uint8_t HardwarePages = 0;
  std::int16_t IntCurrentDriver = 0;
  std::int16_t IntCurrentNewDriver = -1;
  std::int16_t IntCurrentMode = 0;
  int Scale = 1;  // window pixels per picture pixel, as the mode lists measured the desktop
  bool IsGraphMode = false;
  std::string DriverPath;
};

DrawState& Draw();
ModeState& Mode();
// Leaves a result code pending for the next GraphResult; a later code overwrites an earlier one.
void SetResult(std::int16_t code);

}  // namespace gfx
