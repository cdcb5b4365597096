#include "icon/ico.h"

#include <cassert>

namespace icon {
namespace {

constexpr std::size_t kHeaderBytes = 6;
constexpr std::size_t kEntryBytes = 16;

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

}  // namespace

// Header (reserved, type 1 = icon, count), one directory entry per image, then the PNGs in order.
std::vector<std::uint8_t> EncodeIco(const std::vector<Image>& images) {
  std::vector<std::vector<std::uint8_t>> pngs;
  for (const Image& image : images) {
    assert(image.Width <= 256 && image.Height <= 256 && "an icon entry is at most 256 pixels");
    pngs.push_back(EncodePng(image));
  }
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<std::uint32_t>(images.size()));
  std::size_t offset = kHeaderBytes + kEntryBytes * images.size();
  for (std::size_t i = 0; i < images.size(); ++i) {
    // A side of 256 is written as 0.
    out.push_back(static_cast<std::uint8_t>(images[i].Width & 0xFF));
    out.push_back(static_cast<std::uint8_t>(images[i].Height & 0xFF));
    out.push_back(0);  // no palette
    out.push_back(0);
    Put16(out, 1);   // colour planes
    Put16(out, 24);  // bits per pixel of the PNG
    Put32(out, static_cast<std::uint32_t>(pngs[i].size()));
    Put32(out, static_cast<std::uint32_t>(offset));
    offset += pngs[i].size();
  }
  for (const auto& png : pngs) out.insert(out.end(), png.begin(), png.end());
  return out;
}

bool WriteIco(const std::vector<Image>& images, const std::string& path) {
  return WriteBytes(EncodeIco(images), path);
}

}  // namespace icon
