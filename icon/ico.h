#pragma once

// A Windows icon file that holds PNG images as they are (the form Windows has read since Vista):
// the Start-menu shortcut and the installer's entry show it.

#include <cstdint>
#include <string>
#include <vector>

#include "icon/png.h"

namespace icon {

// The whole .ico file for the images, each stored as its PNG; sides up to 256 pixels.
std::vector<std::uint8_t> EncodeIco(const std::vector<Image>& images);
// Writes the .ico file; false when the file cannot be written.
bool WriteIco(const std::vector<Image>& images, const std::string& path);

}  // namespace icon
