#include "icon/png.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>

namespace icon {
namespace {

// The largest payload of one stored deflate block.
constexpr std::size_t kStoredBlock = 65535;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::uint32_t Adler32(const std::vector<std::uint8_t>& data) {
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type,
              const std::vector<std::uint8_t>& data) {
  PutBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

// Each row is preceded by its filter byte, 0 (none).
std::vector<std::uint8_t> Scanlines(const Image& image) {
  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<std::size_t>(image.Height) * (1 + 3 * image.Width));
  for (int y = 0; y < image.Height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < image.Width; ++x) {
      const std::uint32_t p = image.Pixels[static_cast<std::size_t>(y) * image.Width + x];
      raw.push_back(static_cast<std::uint8_t>(p >> 16));
      raw.push_back(static_cast<std::uint8_t>(p >> 8));
      raw.push_back(static_cast<std::uint8_t>(p));
    }
  }
  return raw;
}

std::vector<std::uint8_t> ZlibStored(const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> z = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min(kStoredBlock, raw.size() - offset);
    const bool last = offset + length == raw.size();
    z.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
    z.push_back(static_cast<std::uint8_t>(length));
    z.push_back(static_cast<std::uint8_t>(length >> 8));
    z.push_back(static_cast<std::uint8_t>(~length));
    z.push_back(static_cast<std::uint8_t>(~length >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
             raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
    offset += length;
  } while (offset < raw.size());
  PutBig32(z, Adler32(raw));
  return z;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const Image& image) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig32(header, static_cast<std::uint32_t>(image.Width));
  PutBig32(header, static_cast<std::uint32_t>(image.Height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
  PutChunk(out, "IHDR", header);
  PutChunk(out, "IDAT", ZlibStored(Scanlines(image)));
  PutChunk(out, "IEND", {});
  return out;
}

// Binary, so that no byte is translated where the C library has a text mode (Windows).
bool WriteBytes(const std::vector<std::uint8_t>& bytes, const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

bool WritePng(const Image& image, const std::string& path) {
  return WriteBytes(EncodePng(image), path);
}

}  // namespace icon
