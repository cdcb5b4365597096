// What recording one result costs: the whole merge (lock, read, a new file beside the table,
// flushed and renamed over it) against the least any writer of the table could do, a plain
// truncate-and-write of the one record in place, unlocked and unflushed. Both run in a scratch
// directory on the file system of the working directory, where the game keeps its table.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "scores/score_file.h"

namespace {

// A scratch directory beside the working directory for one benchmark; the table starts full,
// so that every merge reads, sorts and writes ten entries.
class ScratchTable {
 public:
  ScratchTable() : previous_(std::filesystem::current_path()) {
    std::string pattern = (previous_ / "score_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    std::filesystem::current_path(dir_);
    for (std::uint16_t k = 1; k <= kMaxScoreEntries; ++k)
      RefreshScores(static_cast<std::uint16_t>(k * 10), ShortString("player"));
  }
  ScratchTable(const ScratchTable&) = delete;
  ScratchTable& operator=(const ScratchTable&) = delete;
  ~ScratchTable() {
    std::filesystem::current_path(previous_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  bool Ready() const { return !dir_.empty(); }

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

void BM_RefreshScores(benchmark::State& state) {
  ScratchTable table;
  if (!table.Ready()) return state.SkipWithError("no scratch directory");
  std::uint16_t score = 0;
  for (auto _ : state)
    RefreshScores(static_cast<std::uint16_t>(score++ % 200), ShortString("bench"));
}
BENCHMARK(BM_RefreshScores)->Unit(benchmark::kMicrosecond);

void BM_TruncateAndWriteBaseline(benchmark::State& state) {
  ScratchTable table;
  if (!table.Ready()) return state.SkipWithError("no scratch directory");
  TRecBytes bytes{};
  for (auto _ : state) {
    const int fd = open(kScoreFileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      return state.SkipWithError("the plain write failed");
    }
    close(fd);
  }
}
BENCHMARK(BM_TruncateAndWriteBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace
