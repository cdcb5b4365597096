#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

// A length byte and room for 255 single-byte characters. Names, screen texts and the console's
// name line are of this type, and its 256-byte form is part of the score file, so it never grows.
class ShortString {
 public:
  static constexpr std::size_t kCapacity = 255;

  ShortString() = default;
  // Keeps the first 255 bytes of a longer text.
  ShortString(std::string_view text) { Assign(text); }  // NOLINT: converts like the classic type

  void Assign(std::string_view text) {
    length_ = static_cast<std::uint8_t>(std::min(text.size(), kCapacity));
    std::copy_n(text.data(), length_, chars_.begin());
  }
  // Appends what fits; the rest is dropped.
  void Append(std::string_view text) {
    const std::size_t room = kCapacity - length_;
    const std::size_t n = std::min(text.size(), room);
    std::copy_n(text.data(), n, chars_.begin() + length_);
    length_ = static_cast<std::uint8_t>(length_ + n);
  }

  std::string_view View() const { return {chars_.data(), length_}; }
  operator std::string_view() const { return View(); }  // NOLINT: used wherever text is drawn
  std::uint8_t Length() const { return length_; }
  bool Empty() const { return length_ == 0; }
  char operator[](std::size_t i) const { return chars_[i]; }

  // The raw 255 character bytes, including those past the length (they travel with score entries).
  std::array<char, kCapacity>& Bytes() { return chars_; }
  const std::array<char, kCapacity>& Bytes() const { return chars_; }
  void SetLength(std::uint8_t length) { length_ = length; }

  friend bool operator==(const ShortString& a, const ShortString& b) {
    return a.View() == b.View();
  }

 private:
  std::uint8_t length_ = 0;
  std::array<char, kCapacity> chars_{};
};
