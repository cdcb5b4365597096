#pragma once

// The graphics modes the desktop allows: every mode in the order of adding, and one list per
// colour depth sorted by size, which detection and the depth-slot lookup read.

#include <cstdint>
#include <string_view>
#include <vector>

#include "gfx/core/hooks.h"

namespace gfx {

class WindowPlatform;

inline constexpr std::int16_t kFirstDepthSlot = 11;
inline constexpr std::int16_t kLastDepthSlot = 21;

struct TModeInfo {
  std::int16_t DriverNumber = 0;
  std::int16_t ModeNumber = 0;
  std::int16_t Position = 0;  // within its depth slot, from 1
  std::int32_t MaxColor = 0;
  std::int32_t PaletteSize = 0;
  std::uint16_t XAspect = 10000;
  std::uint16_t YAspect = 10000;
  std::uint16_t MaxX = 0;
  std::uint16_t MaxY = 0;
  bool DirectColor = false;
  std::uint8_t HardwarePages = 0;
  std::string_view ModeName;
};

struct DepthSlot {
  std::vector<TModeInfo> Modes;  // sorted by MaxX, then MaxY
  std::int16_t Low = -1;
  std::int16_t High = -1;
};

// Built from Platform().Desktop() on first use, and again after another platform is chosen.
const std::vector<TModeInfo>& ModeList();
const DepthSlot& NewModeList(std::int16_t slot);

// What a build of the layer adds to its core, which knows neither: the window platform its
// windows open on, unless the program chose another first, and the text part's routine for the
// text slot of the window modes. Chosen at the top of the layer (gfx/layer_build.cpp); lives as
// long as the program.
struct LayerBuild {
  WindowPlatform& (*Platform)();
  OutTextXYProc WindowOutTextXY;
};

// InitGraph of that build.
void InitGraph(const LayerBuild& build, std::int16_t& driver, std::int16_t& mode,
               std::string_view driverPath);

}  // namespace gfx
