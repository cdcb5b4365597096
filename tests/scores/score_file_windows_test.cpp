#include <windows.h>

#include <filesystem>
#include <string>

#include "scores/score_file.h"
#include "tests/support/score_files.h"

// What the score file must do on Windows besides what every system does: bytes stay bytes (no
// text mode), an existing table is replaced, links and junctions are refused, the lock is
// Windows' own. The merge rules themselves are tested with the rest of the suite.

namespace {

using namespace score_test;

class ScoreFileWindows : public InTempDir {
 protected:
  void TearDown() override {
    scores::SetLockWaitMilliseconds(scores::kDefaultLockWaitMilliseconds);
    InTempDir::TearDown();
  }
};
using ScoreFileWindowsDeathTest = ScoreFileWindows;

// Line feed (10), carriage return (13) and end of file (26) wherever a byte carries no meaning,
// and as the two stored scores: a file in text mode would grow, shrink or end early.
Bytes TableWithTextModeBytes() {
  Bytes bytes(kRecord);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = "\x0A\x1A\x0D"[i % 3];
  PutEntry(bytes, 1, "Alice", 26);
  PutEntry(bytes, 2, "Bob", 10);
  PutU16(bytes, kSizeAt, 2);
  return bytes;
}

TEST_F(ScoreFileWindows, TableStaysByteExactWithTheBytesTextModeWouldChange) {
  const Bytes before = TableWithTextModeBytes();
  WriteFile("scores.db", before);
  RefreshScores(10, ShortString("Carol"));
  const Bytes after = ReadFile("scores.db");
  ASSERT_EQ(after.size(), kRecord);
  EXPECT_EQ(RowsOf(after), (std::vector<Row>{{"Alice", 26}, {"Bob", 10}, {"Carol", 10}}));
  // Entries 1 and 2 and the unused entries 4 to 10 come back exactly as they were read.
  EXPECT_EQ(Slice(after, 0, 2 * kEntry), Slice(before, 0, 2 * kEntry));
  EXPECT_EQ(Slice(after, 3 * kEntry, 7 * kEntry), Slice(before, 3 * kEntry, 7 * kEntry));
}

TEST_F(ScoreFileWindows, AnExistingTableIsReplacedAndNothingIsLeftBeside) {
  RefreshScores(5, ShortString("first"));
  RefreshScores(7, ShortString("second"));
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"second", 7}, {"first", 5}}));
  EXPECT_FALSE(Exists("scores.db.tmp"));
  TRec table;
  ASSERT_TRUE(scores::ReadScoreTable(table));
  EXPECT_EQ(table.Size, 2);
}

TEST_F(ScoreFileWindowsDeathTest, ALinkAsTheTableIsRefusedAndWhatItPointsAtStays) {
  const Bytes target = Record({{"kept", 3}});
  WriteFile("elsewhere.db", target);
  if (!CreateSymbolicLinkW(L"scores.db", L"elsewhere.db", 0)) {
    GTEST_SKIP() << "this system does not let the test make a symbolic link";
  }
  // Wine makes the link a POSIX one, which it shows as a plain file: nothing to refuse there.
  const DWORD attributes = GetFileAttributesW(L"scores.db");
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    GTEST_SKIP() << "this system does not show the link as a reparse point";
  }
  EXPECT_EXIT(RefreshScores(9, ShortString("x")), testing::ExitedWithCode(5),
              "scores.db is a link, not a regular file");
  EXPECT_EQ(ReadFile("elsewhere.db"), target);
  TRec table;
  EXPECT_FALSE(scores::ReadScoreTable(table));
}

TEST_F(ScoreFileWindowsDeathTest, ADirectoryAsTheTableStopsWithCode5) {
  std::filesystem::create_directory("scores.db");
  EXPECT_EXIT(RefreshScores(9, ShortString("x")), testing::ExitedWithCode(5),
              "scores.db is a directory, not a regular file");
}

TEST_F(ScoreFileWindowsDeathTest, ALockHeldByAnotherRunIsWaitedForThenGivenUpWithCode5) {
  const Bytes before = Record({{"kept", 3}});
  WriteFile("scores.db", before);
  const HANDLE lock = CreateFileW(L"scores.db.lock", GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  OVERLAPPED at{};
  ASSERT_TRUE(LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at));
  EXPECT_EXIT(
      {
        scores::SetLockWaitMilliseconds(300);
        RefreshScores(9, ShortString("x"));
      },
      testing::ExitedWithCode(5),
      "Waiting for another run to record its score ...\r?\nGave up after 0.3 s");
  CloseHandle(lock);
  EXPECT_EQ(ReadFile("scores.db"), before);
}

}  // namespace
