#include "scores/score_file.h"

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "console/console.h"
#include "tests/support/score_files.h"

namespace {

using namespace score_test;
using std::chrono::milliseconds;

class ScoreFile : public InTempDir {
 protected:
  void TearDown() override {
    scores::SetBeforeReplaceHook(nullptr);
    scores::SetLockWaitMilliseconds(scores::kDefaultLockWaitMilliseconds);
    InTempDir::TearDown();
  }
};

void Merge(std::uint16_t score, std::string_view name) {
  RefreshScores(score, ShortString(name));
}

ino_t InodeOf(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 ? info.st_ino : 0;
}

// Makes a forked child an ordinary user, so permission checks apply even when the suite runs as
// root. Returns false when that is not possible.
bool DropPrivileges() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

// Runs body in a child without privileges; true when it exits with 0.
template <typename Body>
bool ChildSucceeds(Body body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(DropPrivileges() && body() ? 0 : 1);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int WaitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST_F(ScoreFile, FirstResultCreatesOneRecordWithUnsetBytesZero) {
  Merge(17, "Ann");
  const Bytes file = ReadFile("scores.db");
  ASSERT_EQ(file.size(), kRecord);
  EXPECT_EQ(RowsOf(file), (std::vector<Row>{{"Ann", 17}}));
  Bytes expected(kRecord, 0);
  PutEntry(expected, 1, "Ann", 17);
  PutU16(expected, kSizeAt, 1);
  EXPECT_EQ(file, expected);
}

TEST_F(ScoreFile, MergesKeepDescendingOrderAndTiesStayInEntryOrder) {
  WriteFile("scores.db", Record({{"A", 9}, {"B", 5}, {"C", 2}}));
  Merge(5, "New");
  EXPECT_EQ(RowsOf(ReadFile("scores.db")),
            (std::vector<Row>{{"A", 9}, {"B", 5}, {"New", 5}, {"C", 2}}));

  Merge(0, "Zero");
  Merge(100, "Top");
  Merge(2, "Two");
  EXPECT_EQ(RowsOf(ReadFile("scores.db")),
            (std::vector<Row>{
                {"Top", 100}, {"A", 9}, {"B", 5}, {"New", 5}, {"C", 2}, {"Two", 2}, {"Zero", 0}}));
}

TEST_F(ScoreFile, FullTableReplacesItsLowestOnlyWhenBeaten) {
  const std::vector<Row> full = {{"a", 90}, {"b", 80}, {"c", 70}, {"d", 60}, {"e", 50},
                                 {"f", 40}, {"g", 30}, {"h", 20}, {"i", 10}, {"j", 4}};
  WriteFile("scores.db", Record(full));
  const Bytes before = ReadFile("scores.db");
  const ino_t oldInode = InodeOf("scores.db");

  Merge(4, "tie");
  EXPECT_EQ(ReadFile("scores.db"), before);
  EXPECT_NE(InodeOf("scores.db"), oldInode) << "the file is rewritten even when nothing entered";

  Merge(5, "five");
  std::vector<Row> expected = full;
  expected[9] = {"five", 5};
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), expected);

  Merge(35, "mid");
  expected = {{"a", 90}, {"b", 80},   {"c", 70}, {"d", 60}, {"e", 50},
              {"f", 40}, {"mid", 35}, {"g", 30}, {"h", 20}, {"i", 10}};
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), expected);

  Merge(65535, "best");
  expected.insert(expected.begin(), {"best", 65535});
  expected.pop_back();
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), expected);
}

TEST_F(ScoreFile, UnusualButValidContents) {
  WriteFile("scores.db", Record({}));
  Merge(3, "");
  Bytes file = ReadFile("scores.db");
  EXPECT_EQ(RowsOf(file), (std::vector<Row>{{"", 3}}));
  EXPECT_EQ(file[0], 0) << "an empty name is stored with length 0";

  const std::string longest(255, 'z');
  Merge(4, longest + "cut off");
  file = ReadFile("scores.db");
  EXPECT_EQ(RowsOf(file), (std::vector<Row>{{longest, 4}, {"", 3}}));

  Bytes longer = Record({{"x", 8}});
  longer.resize(5000, 0xAB);
  WriteFile("scores.db", longer);
  Merge(1, "y");
  file = ReadFile("scores.db");
  EXPECT_EQ(file.size(), kRecord) << "a longer file is rewritten to exactly one record";
  EXPECT_EQ(RowsOf(file), (std::vector<Row>{{"x", 8}, {"y", 1}}));
}

// Name bytes after the length and entries after the count mean nothing, but they were read from
// the file, so they go back as read and move with their entry.
TEST_F(ScoreFile, MeaninglessBytesTravelWithTheirEntries) {
  Bytes original = Record({{"high", 7}, {"low", 1}});
  std::mt19937 random(42);
  for (std::size_t i = 0; i < kRecord - 2; ++i) {
    const std::size_t inEntry = i % kEntry;
    const bool meaningful = i < 2 * kEntry && (inEntry >= 256 || inEntry <= original[i - inEntry]);
    if (!meaningful) original[i] = static_cast<std::uint8_t>(random());
  }
  WriteFile("scores.db", original);
  Merge(9, "top");
  const Bytes file = ReadFile("scores.db");
  ASSERT_EQ(RowsOf(file), (std::vector<Row>{{"top", 9}, {"high", 7}, {"low", 1}}));
  EXPECT_EQ(Slice(file, kEntry, kEntry), Slice(original, 0, kEntry));
  EXPECT_EQ(Slice(file, 2 * kEntry, kEntry), Slice(original, kEntry, kEntry));
  Bytes newEntry(kEntry, 0);
  PutEntry(newEntry, 1, "top", 9);
  EXPECT_EQ(Slice(file, 0, kEntry), newEntry) << "a new entry's unset bytes are zero";
  EXPECT_EQ(Slice(file, 3 * kEntry, 7 * kEntry), Slice(original, 3 * kEntry, 7 * kEntry));
}

TEST_F(ScoreFile, FileShorterThanOneRecordHoldsNoTableAndTheResultIsKept) {
  for (const std::size_t length : {std::size_t{0}, std::size_t{1}, kSizeAt, kRecord - 1}) {
    Bytes shortFile = Record({{"gone", 50}});
    shortFile.resize(length);
    WriteFile("scores.db", shortFile);
    Merge(6, "kept");
    const Bytes file = ReadFile("scores.db");
    EXPECT_EQ(file.size(), kRecord) << "length " << length;
    EXPECT_EQ(RowsOf(file), (std::vector<Row>{{"kept", 6}})) << "length " << length;
  }
}

// The game never writes a count above ten or entries out of order: such a file is damage. It is
// kept for the player, never overwritten, and the result starts a new table.
TEST_F(ScoreFile, DamagedTableIsMovedAsideAndTheResultStartsANewTable) {
  std::vector<Row> rows;
  for (std::uint16_t k = 0; k < 10; ++k) {
    rows.push_back({"r" + std::to_string(k), static_cast<std::uint16_t>(100 - k)});
  }
  Bytes countTooHigh = Record(rows);
  PutU16(countTooHigh, kSizeAt, 11);
  Bytes outOfOrder = Record({{"a", 5}, {"b", 6}});
  Bytes noise(kRecord);
  std::mt19937 random(3);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  PutU16(noise, kSizeAt, 65535);

  const std::vector<Bytes> damaged = {countTooHigh, outOfOrder, noise};
  const char* kept[] = {"scores.db.damaged", "scores.db.damaged.1", "scores.db.damaged.2"};
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    WriteFile("scores.db", damaged[i]);
    TRec shown;
    EXPECT_FALSE(scores::ReadScoreTable(shown)) << "the screen shows no rows of damage " << i;
    testing::internal::CaptureStderr();
    Merge(95, "in");
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(std::string("damaged: it was moved to ") + kept[i]), std::string::npos)
        << said;
    EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"in", 95}})) << i;
    for (std::size_t j = 0; j <= i; ++j) EXPECT_EQ(ReadFile(kept[j]), damaged[j]) << i;
  }
}

mode_t ModeOf(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 ? info.st_mode & 07777 : 0;
}

// The rewrite keeps the permissions the player gave the table, but only its read and write bits:
// a table planted with setuid, setgid or execute bits (a valid table that is also a program) must
// not come back from a run as root as root's program with those bits.
TEST_F(ScoreFile, RewriteKeepsOnlyTheReadAndWriteBitsOfTheOldFile) {
  const std::pair<mode_t, mode_t> modes[] = {{0640, 0640}, {06777, 0666}, {01755, 0644}};
  for (const auto& [before, after] : modes) {
    WriteFile("scores.db", Record({{"a", 1}}));
    ASSERT_EQ(chmod("scores.db", before), 0);
    Merge(2, "b");
    EXPECT_EQ(ModeOf("scores.db"), after) << std::oct << "old mode " << before;
  }
}

// One run as root (`make run` installs packages as root) left the table root's, and every later
// run of its player stopped at it. Now a run as root leaves the table to its owner, and a table it
// makes, and the lock it makes, to the directory's owner, even with a umask that closes them.
TEST_F(ScoreFile, RunAsRootLeavesTheTableToItsPlayer) {
  if (geteuid() != 0) GTEST_SKIP() << "only a run as root can give files to another user";
  constexpr uid_t kPlayer = 65534;  // the user DropPrivileges becomes
  constexpr gid_t kTableGroup = 12345, kDirectoryGroup = 23456;
  ASSERT_EQ(chown(Dir().c_str(), kPlayer, kDirectoryGroup), 0);
  WriteFile("scores.db", Record({{"player", 3}}));
  ASSERT_EQ(chown("scores.db", kPlayer, kTableGroup), 0);
  ASSERT_EQ(chmod("scores.db", 0640), 0);
  const mode_t umaskBefore = umask(077);
  Merge(4, "root");
  struct stat info;
  ASSERT_EQ(stat("scores.db", &info), 0);
  EXPECT_EQ(info.st_uid, kPlayer);
  EXPECT_EQ(info.st_gid, kTableGroup);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_TRUE(ChildSucceeds([] {
    Merge(5, "player again");
    return true;
  })) << "the player's next run could not record";
  EXPECT_EQ(RowsOf(ReadFile("scores.db")),
            (std::vector<Row>{{"player again", 5}, {"root", 4}, {"player", 3}}));

  ASSERT_EQ(unlink("scores.db"), 0);
  Merge(6, "root");
  umask(umaskBefore);
  ASSERT_EQ(stat("scores.db", &info), 0);
  EXPECT_EQ(info.st_uid, kPlayer) << "a new table goes to the directory's owner";
  EXPECT_EQ(info.st_gid, kDirectoryGroup);
  EXPECT_TRUE(ChildSucceeds([] {
    Merge(7, "player");
    return true;
  }));
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"player", 7}, {"root", 6}}));
}

// A hundred damaged tables kept already: the numbered names are all taken, and the next damaged
// tables still go aside, each under a name of its own, and the result starts a new table.
TEST_F(ScoreFile, DamagedTablesBeyondTheNumberedNamesAreStillMovedAside) {
  std::vector<std::string> numbered = {"scores.db.damaged"};
  for (int k = 1; k <= 99; ++k) numbered.push_back("scores.db.damaged." + std::to_string(k));
  for (std::size_t k = 0; k < numbered.size(); ++k) {
    WriteFile(numbered[k], Bytes{static_cast<std::uint8_t>(k)});
  }
  std::vector<Bytes> damaged;
  for (int run = 0; run < 3; ++run) {
    damaged.push_back(Record({{"low", 1}, {"run" + std::to_string(run), 2}}));
    WriteFile("scores.db", damaged.back());
    // In a child: the 101st used to end the run, and in-process the test with it.
    testing::internal::CaptureStderr();
    const pid_t pid = fork();
    if (pid == 0) {
      Merge(9, "in");
      _exit(0);
    }
    const int code = WaitExit(pid);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(code, 0) << said;
    EXPECT_NE(said.find("damaged: it was moved to scores.db.damaged."), std::string::npos) << said;
    EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"in", 9}})) << run;
  }
  std::vector<Bytes> keptBeyond;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("scores.db.damaged.") &&
        std::find(numbered.begin(), numbered.end(), name) == numbered.end()) {
      keptBeyond.push_back(ReadFile(name));
    }
  }
  std::sort(keptBeyond.begin(), keptBeyond.end());
  std::sort(damaged.begin(), damaged.end());
  EXPECT_EQ(keptBeyond, damaged) << "each damaged table kept once, none over another";
  for (std::size_t k = 0; k < numbered.size(); ++k) {
    EXPECT_EQ(ReadFile(numbered[k]), Bytes{static_cast<std::uint8_t>(k)}) << numbered[k];
  }
}

TEST_F(ScoreFile, TemporaryLeftByAKilledRunIsReused) {
  WriteFile("scores.db.tmp", Bytes(100, 0xEE));
  Merge(3, "c");
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"c", 3}}));
  EXPECT_FALSE(Exists("scores.db.tmp"));
}

// The screen only reads, so a table the player made read-only is still listed.
TEST_F(ScoreFile, ReadOnlyTableCanBeReadForDisplay) {
  WriteFile("scores.db", Record({{"mine", 9}, {"yours", 2}}));
  ASSERT_EQ(chmod("scores.db", 0444), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0755), 0);
  EXPECT_TRUE(ChildSucceeds([] {
    TRec table;
    return scores::ReadScoreTable(table) && table.Size == 2 && table.Arr[0].Name.View() == "mine" &&
           table.Arr[1].Scores == 2;
  }));
}

using ScoreFileDeathTest = ScoreFile;

TEST_F(ScoreFileDeathTest, UnwritableFileStopsWithCode5AndStaysUnchanged) {
  const Bytes original = Record({{"keep", 9}});
  WriteFile("scores.db", original);
  ASSERT_EQ(chmod("scores.db", 0444), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0777), 0);
  if (!ChildSucceeds([] { return open("scores.db", O_RDWR) < 0 && errno == EACCES; })) {
    GTEST_SKIP() << "a read-only file can be opened for writing here (running privileged)";
  }
  EXPECT_EXIT(
      {
        if (!DropPrivileges()) _exit(99);
        Merge(50, "lost");
      },
      testing::ExitedWithCode(5), "");
  EXPECT_EQ(ReadFile("scores.db"), original);
}

// The same path without needing an unprivileged user: a directory cannot be opened for writing
// by anybody, so it is taken as no table and creating the file over it fails.
TEST_F(ScoreFileDeathTest, DirectoryInThePlaceOfTheFileStopsWithCode5) {
  ASSERT_EQ(mkdir("scores.db", 0755), 0);
  WriteFile("scores.db/inside", Bytes{1, 2, 3});
  EXPECT_EXIT(Merge(50, "lost"), testing::ExitedWithCode(5), "");
  EXPECT_EQ(ReadFile("scores.db/inside"), (Bytes{1, 2, 3}));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"scores.db", "scores.db.lock"}));
}

// Nothing can be created beside the table: neither the lock nor the new table. The table is
// never rewritten in place, so it stays as it was, whether or not a lock file is there already.
TEST_F(ScoreFileDeathTest, ReadOnlyDirectoryStopsWithCode5AndTheTableStays) {
  const Bytes original = Record({{"old", 3}});
  WriteFile("scores.db", original);
  ASSERT_EQ(chmod("scores.db", 0666), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0555), 0);
  if (!ChildSucceeds([] { return open("probe", O_WRONLY | O_CREAT, 0666) < 0; })) {
    GTEST_SKIP() << "files can be created in a read-only directory here (running privileged)";
  }
  const auto mergeUnprivileged = [] {
    if (!DropPrivileges()) _exit(99);
    Merge(9, "new");
  };
  EXPECT_EXIT(mergeUnprivileged(), testing::ExitedWithCode(5), "scores.db.lock: Permission denied");
  EXPECT_EQ(ReadFile("scores.db"), original);

  ASSERT_EQ(chmod(Dir().c_str(), 0777), 0);
  WriteFile("scores.db.lock", {});
  ASSERT_EQ(chmod("scores.db.lock", 0666), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0555), 0);
  EXPECT_EXIT(mergeUnprivileged(), testing::ExitedWithCode(5), "scores.db.tmp: Permission denied");
  EXPECT_EQ(ReadFile("scores.db"), original);
}

// Write-only to the player: it cannot be read, so it is not "no table", and it is not replaced.
TEST_F(ScoreFileDeathTest, UnreadableTableStopsWithCode5AndStaysUnchanged) {
  const Bytes original = Record({{"a", 9}, {"b", 5}, {"c", 2}});
  WriteFile("scores.db", original);
  ASSERT_EQ(chmod("scores.db", 0222), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0777), 0);
  EXPECT_EXIT(
      {
        if (!DropPrivileges()) _exit(99);
        Merge(50, "lost");
      },
      testing::ExitedWithCode(5), "scores.db: Permission denied; the score was not recorded");
  ASSERT_EQ(chmod("scores.db", 0644), 0);
  EXPECT_EQ(ReadFile("scores.db"), original);
}

// Another user's table in a sticky directory can be neither moved aside (when damaged) nor
// replaced: the run stops with code 5, and the message names that table, not the name it was
// being moved to or the new table.
TEST_F(ScoreFileDeathTest, AnotherUsersTableInAStickyDirectoryIsTheFileNamed) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give the table to another user";
  ASSERT_EQ(chmod(Dir().c_str(), 01777), 0);
  const auto mergeUnprivileged = [] {
    if (!DropPrivileges()) _exit(99);
    Merge(9, "mine");
  };
  const Bytes damaged = Record({{"low", 1}, {"high", 2}});
  WriteFile("scores.db", damaged);
  ASSERT_EQ(chown("scores.db", 12345, 12345), 0);
  ASSERT_EQ(chmod("scores.db", 0666), 0);
  WriteFile("scores.db.damaged", Bytes{1});
  EXPECT_EXIT(mergeUnprivileged(), testing::ExitedWithCode(5),
              "^scores.db is damaged and could not be moved aside: Operation not permitted; the "
              "score was not recorded\n$");
  EXPECT_EQ(ReadFile("scores.db"), damaged);

  const Bytes theirs = Record({{"theirs", 4}});
  WriteFile("scores.db", theirs);
  EXPECT_EXIT(mergeUnprivileged(), testing::ExitedWithCode(5),
              "^scores.db could not be replaced: Operation not permitted; the score was not "
              "recorded\n$");
  EXPECT_EQ(ReadFile("scores.db"), theirs);
  EXPECT_FALSE(Exists("scores.db.tmp"));
}

// Open, read and merge would block for good on a FIFO; a FIFO as the lock would hang the merge
// while other runs wait. Neither is ever opened.
TEST_F(ScoreFileDeathTest, FifoAsTableOrLockStopsWithCode5WithoutWaiting) {
  ASSERT_EQ(mkfifo("scores.db", 0666), 0);
  TRec shown;
  EXPECT_FALSE(scores::ReadScoreTable(shown));
  EXPECT_EXIT(Merge(5, "x"), testing::ExitedWithCode(5), "scores.db is a FIFO, not a regular file");

  ASSERT_EQ(unlink("scores.db"), 0);
  const Bytes original = Record({{"old", 3}});
  WriteFile("scores.db", original);
  ASSERT_EQ(unlink("scores.db.lock"), 0);
  ASSERT_EQ(mkfifo("scores.db.lock", 0666), 0);
  EXPECT_EXIT(Merge(5, "x"), testing::ExitedWithCode(5), "scores.db.lock is a FIFO");
  EXPECT_EQ(ReadFile("scores.db"), original);
}

// A lock file that cannot be used never lets a merge go ahead unlocked: runs that did so lost
// results to each other.
TEST_F(ScoreFileDeathTest, UnusableLockFileStopsWithCode5AndTheTableStays) {
  const Bytes original = Record({{"old", 3}});
  WriteFile("scores.db", original);
  ASSERT_EQ(mkdir("scores.db.lock", 0777), 0);
  EXPECT_EXIT(Merge(5, "x"), testing::ExitedWithCode(5), "scores.db.lock is a directory");
  EXPECT_EQ(ReadFile("scores.db"), original);

  // Another user's private file; as root the run is made that other user.
  ASSERT_EQ(rmdir("scores.db.lock"), 0);
  WriteFile("scores.db.lock", {});
  ASSERT_EQ(chmod("scores.db.lock", 0), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0777), 0);
  EXPECT_EXIT(
      {
        if (!DropPrivileges()) _exit(99);
        Merge(5, "x");
      },
      testing::ExitedWithCode(5), "scores.db.lock: Permission denied");
  EXPECT_EQ(ReadFile("scores.db"), original);
}

// A link is never followed: its target, however long, is not cut to one record, and a dangling
// link does not create its target (in a shared sticky directory either could be another user's).
TEST_F(ScoreFileDeathTest, LinkAsTheTableIsRefusedAndNothingBehindItChanges) {
  Bytes document(13893);
  std::mt19937 random(11);
  for (auto& b : document) b = static_cast<std::uint8_t>(random());
  WriteFile("document", document);
  ASSERT_EQ(symlink("document", "scores.db"), 0);
  TRec shown;
  EXPECT_FALSE(scores::ReadScoreTable(shown));
  EXPECT_EXIT(Merge(7, "b"), testing::ExitedWithCode(5), "scores.db is a symbolic link");
  EXPECT_EQ(ReadFile("document"), document);

  ASSERT_EQ(unlink("scores.db"), 0);
  ASSERT_EQ(symlink("target", "scores.db"), 0);
  EXPECT_EXIT(Merge(7, "b"), testing::ExitedWithCode(5), "scores.db is a symbolic link");
  EXPECT_FALSE(Exists("target"));
}

// The hook runs in a child that is about to be killed: it checks that the old table is still in
// place and the new one complete beside it, and reports through the exit code.
void CheckThenDie() {
  int complete = 0;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("scores.db.tmp") && ReadFile(name).size() == kRecord &&
        RowsOf(ReadFile(name)) == std::vector<Row>{{"new", 8}, {"old", 2}}) {
      ++complete;
    }
  }
  const bool oldInPlace = RowsOf(ReadFile("scores.db")) == std::vector<Row>{{"old", 2}};
  if (complete != 1 || !oldInPlace) _exit(3);
  raise(SIGKILL);
}

TEST_F(ScoreFile, RunKilledBeforeTheReplacementLeavesTheOldTableWhole) {
  const Bytes original = Record({{"old", 2}});
  WriteFile("scores.db", original);
  const pid_t pid = fork();
  if (pid == 0) {
    scores::SetBeforeReplaceHook(CheckThenDie);
    Merge(8, "new");
    _exit(0);
  }
  ASSERT_EQ(WaitExit(pid), -SIGKILL);
  EXPECT_EQ(ReadFile("scores.db"), original);
  Merge(1, "after");
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"old", 2}, {"after", 1}}));
}

TEST_F(ScoreFile, RunKilledAtAnyMomentLeavesAWholeTable) {
  std::mt19937 random(7);
  for (int round = 0; round < 30; ++round) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (std::uint16_t i = 0;; ++i) Merge(static_cast<std::uint16_t>(i % 50 + 1), "loop");
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    kill(pid, SIGKILL);
    WaitExit(pid);
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      const std::string name = entry.path().filename().string();
      ASSERT_TRUE(name == "scores.db" || name == "scores.db.lock" || name == "scores.db.tmp")
          << "round " << round << " left " << name;
    }
    if (!Exists("scores.db")) continue;  // killed before the first table was in place
    const Bytes file = ReadFile("scores.db");
    ASSERT_EQ(file.size(), kRecord) << "round " << round;
    const std::vector<Row> rows = RowsOf(file);
    ASSERT_GE(rows.size(), 1u);
    ASSERT_LE(U16At(file, kSizeAt), 10);
  }
}

// A closed standard input is the end of input, as a pipe at its end: an empty name, and the
// result is still recorded.
TEST_F(ScoreFile, ClosedStandardInputGivesAnEmptyNameAndTheResultIsRecorded) {
  const pid_t pid = fork();
  if (pid == 0) {
    close(STDIN_FILENO);
    RefreshScores(12, ReadLine());
    _exit(0);
  }
  ASSERT_EQ(WaitExit(pid), 0);
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"", 12}}));
}

int heldPipe[2];
int releasePipe[2];

void HoldUntilReleased() {
  char c = 'h';
  (void)!write(heldPipe[1], &c, 1);
  (void)!read(releasePipe[0], &c, 1);
}

pid_t StartMerge(std::uint16_t score, std::string_view name, scores::ReplaceHook hook) {
  const pid_t pid = fork();
  if (pid == 0) {
    scores::SetBeforeReplaceHook(hook);
    Merge(score, name);
    _exit(0);
  }
  return pid;
}

// A child signals through a pipe; a child that never does fails the test instead of hanging it.
bool Signalled(int fd) {
  pollfd ready{fd, POLLIN, 0};
  char c;
  return poll(&ready, 1, 5000) == 1 && read(fd, &c, 1) == 1;
}

bool StillWaiting(pid_t pid) {
  std::this_thread::sleep_for(milliseconds(200));
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}

// Children still running when a test stops early are killed, so a failure never leaves one
// behind; the pipes go with them.
class Children {
 public:
  ~Children() {
    for (pid_t pid : pids_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (int fd : fds_) close(fd);
  }
  pid_t Add(pid_t pid) {
    pids_.push_back(pid);
    return pid;
  }
  int Wait(pid_t pid) {
    std::erase(pids_, pid);
    return WaitExit(pid);
  }
  void Close(int fd) {
    std::erase(fds_, fd);
    close(fd);
  }
  bool Pipe(int (&fds)[2]) {
    if (pipe(fds) != 0) return false;
    fds_.insert(fds_.end(), {fds[0], fds[1]});
    return true;
  }

 private:
  std::vector<pid_t> pids_;
  std::vector<int> fds_;
};

// Three runs in a row, each started while the one before holds the lock. The third is the one
// that a lock on the table's own inode lets through: it opens the file the rename put in place
// while the second still holds the lock on the inode that was replaced.
TEST_F(ScoreFile, RunsWaitForEachOtherAndAllResultsAreKept) {
  WriteFile("scores.db", Record({{"old", 3}}));
  Children children;
  ASSERT_TRUE(children.Pipe(heldPipe));
  ASSERT_TRUE(children.Pipe(releasePipe));
  const char c = 'r';
  const pid_t first = children.Add(StartMerge(10, "first", HoldUntilReleased));
  ASSERT_TRUE(Signalled(heldPipe[0]));

  const pid_t second = children.Add(StartMerge(20, "second", HoldUntilReleased));
  EXPECT_TRUE(StillWaiting(second)) << "the second run did not wait for the first";
  ASSERT_EQ(write(releasePipe[1], &c, 1), 1);
  EXPECT_EQ(children.Wait(first), 0);
  ASSERT_TRUE(Signalled(heldPipe[0]));

  const pid_t third = children.Add(StartMerge(30, "third", nullptr));
  EXPECT_TRUE(StillWaiting(third)) << "the third run did not wait for the second";
  ASSERT_EQ(write(releasePipe[1], &c, 1), 1);
  EXPECT_EQ(children.Wait(second), 0);
  EXPECT_EQ(children.Wait(third), 0);
  EXPECT_EQ(RowsOf(ReadFile("scores.db")),
            (std::vector<Row>{{"third", 30}, {"second", 20}, {"first", 10}, {"old", 3}}));
}

TEST_F(ScoreFile, ManyRunsFinishingTogetherAreAllRecorded) {
  Children children;
  int gate[2];
  ASSERT_TRUE(children.Pipe(gate));
  constexpr int kRuns = 8;
  std::vector<pid_t> runs;
  for (int i = 0; i < kRuns; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char c;
      (void)!read(gate[0], &c, 1);  // returns when the parent closes its end: all start at once
      Merge(static_cast<std::uint16_t>(i + 1), "run" + std::to_string(i));
      _exit(0);
    }
    runs.push_back(children.Add(pid));
  }
  children.Close(gate[1]);
  for (pid_t pid : runs) EXPECT_EQ(children.Wait(pid), 0);
  std::vector<Row> expected;
  for (int i = kRuns - 1; i >= 0; --i) {
    expected.push_back({"run" + std::to_string(i), static_cast<std::uint16_t>(i + 1)});
  }
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), expected);
}

// Merging unlocked after the wait lost the holder's result or this one; now the run gives up,
// having said once that it waits, and the table is the holder's to write.
TEST_F(ScoreFileDeathTest, LockHeldPastTheBoundStopsWithCode5AndTheTableStays) {
  const Bytes original = Record({{"old", 3}});
  WriteFile("scores.db", original);
  const int held = open("scores.db.lock", O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  scores::SetLockWaitMilliseconds(150);
  EXPECT_EXIT(Merge(4, "late"), testing::ExitedWithCode(5),
              "^Waiting for another run to record its score \\.\\.\\.\n"
              "Gave up after 0\\.15 s: another run still holds scores.db.lock; the score was not "
              "recorded\n$");
  close(held);
  EXPECT_EQ(ReadFile("scores.db"), original);
}

}  // namespace
