#include <algorithm>
#include <random>

#include "scores/score_file.h"
#include "tests/support/score_files.h"

// Thousands of random and damaged files through the table's reader and the merge. Meant to be run
// under the address sanitizer as well: nothing may read outside the record or the table.
namespace {

using namespace score_test;

class ScoreRobustness : public InTempDir {};

// A file that is a valid table with some damage, or plain noise, of a length near one record.
Bytes RandomFile(std::mt19937& random) {
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes file;
  switch (random() % 4) {
    case 0:  // noise of any length up to twice a record
      file.resize(random() % (2 * kRecord + 1));
      for (auto& b : file) b = static_cast<std::uint8_t>(byte(random));
      return file;
    case 1:  // a table cut short
      file = Record({{"cut", 5}, {"off", 3}});
      file.resize(random() % kRecord);
      return file;
    default: {  // a table with flipped bytes and any count
      std::vector<Row> rows;
      for (std::size_t n = random() % 11; n > 0; --n) {
        rows.push_back({std::string(random() % 20, 'n'), static_cast<std::uint16_t>(random())});
      }
      // Half in the order the game writes, so that whole tables go through the merge too.
      if (random() % 2 == 0) {
        std::sort(rows.begin(), rows.end(),
                  [](const Row& a, const Row& b) { return a.score > b.score; });
      }
      file = Record(rows);
      for (std::size_t flips = random() % 40; flips > 0; --flips) {
        file[random() % kRecord] = static_cast<std::uint8_t>(byte(random));
      }
      const std::uint16_t counts[] = {0,  1,   9,     10,
                                      11, 255, 65535, static_cast<std::uint16_t>(random())};
      PutU16(file, kSizeAt, counts[random() % 8]);
      file.resize(kRecord + (random() % 3 == 0 ? random() % 500 : 0), 0x5A);
      return file;
    }
  }
}

// A whole record that the game could not have written: a count above ten, or entries out of
// descending order.
bool Damaged(const Bytes& file) {
  if (file.size() < kRecord) return false;
  const std::size_t count = U16At(file, kSizeAt);
  if (count > 10) return true;
  for (std::size_t k = 1; k < count; ++k) {
    if (U16At(file, (k - 1) * kEntry + 256) < U16At(file, k * kEntry + 256)) return true;
  }
  return false;
}

// The table a merge must leave, computed from the format and the rules alone, as whole entries.
// A short or damaged file holds no table.
Bytes ExpectedAfterMerge(const Bytes& file, const Bytes& newEntry) {
  Bytes before(kRecord, 0);
  std::size_t count = 0;
  if (file.size() >= kRecord && !Damaged(file)) {
    std::copy_n(file.begin(), kRecord, before.begin());
    count = U16At(before, kSizeAt);
  }
  std::vector<Bytes> entries;
  for (std::size_t k = 0; k < count; ++k) entries.push_back(Slice(before, k * kEntry, kEntry));
  const auto scoreOf = [](const Bytes& entry) { return U16At(entry, 256); };
  if (count < 10) {
    entries.push_back(newEntry);
  } else if (scoreOf(entries[9]) < scoreOf(newEntry)) {
    entries[9] = newEntry;
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const Bytes& a, const Bytes& b) { return scoreOf(a) > scoreOf(b); });
  Bytes after = before;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    std::copy(entries[k].begin(), entries[k].end(), after.begin() + static_cast<long>(k * kEntry));
  }
  PutU16(after, kSizeAt, static_cast<std::uint16_t>(entries.size()));
  return after;
}

TEST_F(ScoreRobustness, RandomAndDamagedFilesThroughReaderAndMerge) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    const Bytes file = RandomFile(random);
    WriteFile("scores.db", file);

    TRec shown;
    const bool readable = scores::ReadScoreTable(shown);
    ASSERT_EQ(readable, file.size() >= kRecord && !Damaged(file)) << "round " << round;
    if (readable) {
      ASSERT_EQ(shown.Size, U16At(file, kSizeAt));
      for (std::size_t k = 0; k < shown.Size; ++k) {
        ASSERT_EQ(shown.Arr[k].Scores, U16At(file, k * kEntry + 256)) << "round " << round;
        ASSERT_EQ(shown.Arr[k].Name.Length(), file[k * kEntry]) << "round " << round;
      }
    }

    std::string name(random() % 300, ' ');
    for (auto& ch : name) ch = static_cast<char>(random());
    const auto score = static_cast<std::uint16_t>(random());
    Bytes newEntry(kEntry, 0);
    PutEntry(newEntry, 1, std::string_view(name).substr(0, 255), score);

    testing::internal::CaptureStderr();  // the notice of each damaged file
    RefreshScores(score, ShortString(name));
    testing::internal::GetCapturedStderr();
    if (Damaged(file)) {
      ASSERT_EQ(ReadFile("scores.db.damaged"), file) << "round " << round;
      ASSERT_EQ(unlink("scores.db.damaged"), 0);
    }
    ASSERT_FALSE(Exists("scores.db.damaged")) << "round " << round;
    const Bytes written = ReadFile("scores.db");
    ASSERT_EQ(written.size(), kRecord) << "round " << round;
    const std::uint16_t size = U16At(written, kSizeAt);
    ASSERT_GE(size, 1) << "round " << round;
    ASSERT_LE(size, 10) << "round " << round;
    for (std::size_t k = 1; k < size; ++k) {
      ASSERT_GE(U16At(written, (k - 1) * kEntry + 256), U16At(written, k * kEntry + 256));
    }
    ASSERT_EQ(written, ExpectedAfterMerge(file, newEntry)) << "round " << round;
  }
}

}  // namespace
