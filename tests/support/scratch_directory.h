#pragma once

// A fresh empty working directory for one test, where files can be written: made under `root`,
// entered, and on the way out left and removed with everything in it, whatever permissions the
// test gave it.

#include <filesystem>
#include <random>
#include <string>

class ScratchDirectory {
 public:
  explicit ScratchDirectory(
      const std::filesystem::path& root = std::filesystem::temp_directory_path(),
      const std::string& prefix = "snake_test")
      : previous_(std::filesystem::current_path()) {
    std::random_device random;
    std::error_code ec;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto dir = root / (prefix + "." + std::to_string(random()));
      if (std::filesystem::create_directory(dir, ec)) path_ = dir;
    }
    if (path_.empty()) throw std::filesystem::filesystem_error("no scratch directory", root, ec);
    std::filesystem::current_path(path_);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};
