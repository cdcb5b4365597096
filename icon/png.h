#pragma once

// A PNG writer small enough to need no compression library: 8-bit RGB, no filtering, and a zlib
// stream of stored (uncompressed) deflate blocks. Icons are tiny, so the size does not matter.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace icon {

struct Image {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint32_t> Pixels;  // 0x00RRGGBB, row by row

  std::uint32_t& At(int x, int y) { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
  std::uint32_t At(int x, int y) const { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
};

// The whole PNG file for an image.
std::vector<std::uint8_t> EncodePng(const Image& image);
// Writes a whole file; false when it cannot be written.
bool WriteBytes(const std::vector<std::uint8_t>& bytes, const std::string& path);
// Writes the PNG file; false when the file cannot be written.
bool WritePng(const Image& image, const std::string& path);

}  // namespace icon
