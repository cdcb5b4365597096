#pragma once

// Helpers shared by the score tests: a private working directory per test, and the file's byte
// layout read and written from its published offsets rather than through the code under test.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scratch_directory.h"

namespace score_test {

inline constexpr std::size_t kRecord = 2582;
inline constexpr std::size_t kEntry = 258;
inline constexpr std::size_t kSizeAt = 2580;

using Bytes = std::vector<std::uint8_t>;

struct Row {
  std::string name;
  std::uint16_t score;
  friend bool operator==(const Row&, const Row&) = default;
};

inline void PrintTo(const Row& row, std::ostream* os) {
  *os << "{\"" << row.name << "\", " << row.score << "}";
}

inline std::uint16_t U16At(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline void PutU16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Entry k (1-based) of a record image.
inline void PutEntry(Bytes& bytes, int k, std::string_view name, std::uint16_t score) {
  const std::size_t at = kEntry * static_cast<std::size_t>(k - 1);
  bytes[at] = static_cast<std::uint8_t>(name.size());
  for (std::size_t i = 0; i < name.size(); ++i)
    bytes[at + 1 + i] = static_cast<std::uint8_t>(name[i]);
  PutU16(bytes, at + 256, score);
}

inline Bytes Record(const std::vector<Row>& rows) {
  Bytes bytes(kRecord, 0);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    PutEntry(bytes, static_cast<int>(i + 1), rows[i].name, rows[i].score);
  }
  PutU16(bytes, kSizeAt, static_cast<std::uint16_t>(rows.size()));
  return bytes;
}

// The valid rows of a record image, as a reader of the format sees them.
inline std::vector<Row> RowsOf(const Bytes& bytes) {
  std::vector<Row> rows;
  const std::uint16_t size = U16At(bytes, kSizeAt);
  for (std::size_t k = 0; k < size && k < 10; ++k) {
    const std::size_t at = kEntry * k;
    rows.push_back({std::string(reinterpret_cast<const char*>(&bytes[at + 1]), bytes[at]),
                    U16At(bytes, at + 256)});
  }
  return rows;
}

inline Bytes Slice(const Bytes& bytes, std::size_t at, std::size_t length) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A link counts, dangling or not.
inline bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found;
}

// A directory where fsync is cheap when the machine has one.
inline std::filesystem::path ScratchRoot() {
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return std::filesystem::temp_directory_path();
}

// Runs each test in a fresh directory of its own and comes back afterwards, so the real
// "scores.db" name is used and nothing leaks between tests.
class InTempDir : public testing::Test {
 protected:
  void SetUp() override { dir_.emplace(ScratchRoot(), "scores_test"); }
  void TearDown() override { dir_.reset(); }
  const std::filesystem::path& Dir() const { return dir_->Path(); }

 private:
  std::optional<ScratchDirectory> dir_;
};

}  // namespace score_test
