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

#include "tests/score_test_support.h"

namespace {

using namespace score_test;
using std::chrono::milliseconds;

class ScoreFile : public InTempDir {
 protected:
  void TearDown() override {
    scores::SetBeforeReplaceHook(nullptr);
    scores::SetLockWaitMilliseconds(5000);
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
  Bytes original = Record({{"low", 1}, {"high", 7}});
  std::mt19937 random(42);
  for (std::size_t i = 0; i < kRecord - 2; ++i) {
    const std::size_t inEntry = i % kEntry;
    const bool meaningful = i < 2 * kEntry && (inEntry >= 256 || inEntry <= original[i - inEntry]);
    if (!meaningful) original[i] = static_cast<std::uint8_t>(random());
  }
  WriteFile("scores.db", original);
  Merge(4, "mid");
  const Bytes file = ReadFile("scores.db");
  ASSERT_EQ(RowsOf(file), (std::vector<Row>{{"high", 7}, {"mid", 4}, {"low", 1}}));
  EXPECT_EQ(Slice(file, 0, kEntry), Slice(original, kEntry, kEntry));
  EXPECT_EQ(Slice(file, 2 * kEntry, kEntry), Slice(original, 0, kEntry));
  Bytes newEntry(kEntry, 0);
  PutEntry(newEntry, 1, "mid", 4);
  EXPECT_EQ(Slice(file, kEntry, kEntry), newEntry) << "a new entry's unset bytes are zero";
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

TEST_F(ScoreFile, StoredCountAboveTenIsReadAsTen) {
  for (const std::uint16_t stored : {std::uint16_t{11}, std::uint16_t{65535}}) {
    std::vector<Row> rows;
    for (std::uint16_t k = 0; k < 10; ++k) {
      rows.push_back({"r" + std::to_string(k), static_cast<std::uint16_t>(100 - k)});
    }
    Bytes image = Record(rows);
    PutU16(image, kSizeAt, stored);
    WriteFile("scores.db", image);
    Merge(95, "in");
    const Bytes file = ReadFile("scores.db");
    EXPECT_EQ(U16At(file, kSizeAt), 10) << "stored " << stored;
    rows.pop_back();
    rows.insert(rows.begin() + 6, {"in", 95});  // below the equal 95 already there
    EXPECT_EQ(RowsOf(file), rows) << "stored " << stored;
  }
}

TEST_F(ScoreFile, RewriteKeepsThePermissionsOfTheOldFile) {
  WriteFile("scores.db", Record({{"a", 1}}));
  ASSERT_EQ(chmod("scores.db", 0640), 0);
  Merge(2, "b");
  struct stat info;
  ASSERT_EQ(stat("scores.db", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(ScoreFile, TableReachedThroughALinkIsUpdatedWhereItIs) {
  ASSERT_EQ(mkdir("shared", 0755), 0);
  WriteFile("shared/table", Record({{"a", 5}}));
  ASSERT_EQ(symlink("shared/table", "scores.db"), 0);
  Merge(7, "b");
  struct stat info;
  ASSERT_EQ(lstat("scores.db", &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(RowsOf(ReadFile("shared/table")), (std::vector<Row>{{"b", 7}, {"a", 5}}));
}

TEST_F(ScoreFile, TemporaryLeftByAnEarlierRunWithTheSamePidIsReplaced) {
  const std::string stale = "scores.db.tmp" + std::to_string(getpid());
  WriteFile(stale, Bytes(100, 0xEE));
  Merge(3, "c");
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"c", 3}}));
  EXPECT_FALSE(Exists(stale));
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

TEST_F(ScoreFileDeathTest, ReadOnlyDirectory) {
  const Bytes original = Record({{"old", 3}});
  WriteFile("scores.db", original);
  ASSERT_EQ(chmod("scores.db", 0666), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0555), 0);
  if (!ChildSucceeds([] { return open("probe", O_WRONLY | O_CREAT, 0666) < 0; })) {
    GTEST_SKIP() << "files can be created in a read-only directory here (running privileged)";
  }
  // Nothing can be created beside the table, so it is rewritten where it is.
  EXPECT_TRUE(ChildSucceeds([] {
    Merge(9, "new");
    return true;
  }));
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"new", 9}, {"old", 3}}));
  EXPECT_FALSE(Exists("scores.db.lock"));

  ASSERT_EQ(chmod(Dir().c_str(), 0777), 0);
  ASSERT_EQ(unlink("scores.db"), 0);
  ASSERT_EQ(chmod(Dir().c_str(), 0555), 0);
  EXPECT_EXIT(
      {
        if (!DropPrivileges()) _exit(99);
        Merge(9, "new");
      },
      testing::ExitedWithCode(5), "");
  EXPECT_FALSE(Exists("scores.db"));
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
    if (!Exists("scores.db")) continue;  // killed before the first table was in place
    const Bytes file = ReadFile("scores.db");
    ASSERT_EQ(file.size(), kRecord) << "round " << round;
    const std::vector<Row> rows = RowsOf(file);
    ASSERT_GE(rows.size(), 1u);
    ASSERT_LE(U16At(file, kSizeAt), 10);
  }
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

TEST_F(ScoreFile, LockHeldTooLongIsWaitedForThenTheResultIsStillRecorded) {
  const int held = open("scores.db.lock", O_RDONLY | O_CREAT, 0666);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  scores::SetLockWaitMilliseconds(150);
  const auto start = std::chrono::steady_clock::now();
  Merge(4, "late");
  const auto waited = std::chrono::steady_clock::now() - start;
  close(held);
  EXPECT_GE(waited, milliseconds(150));
  EXPECT_LT(waited, milliseconds(3000));
  EXPECT_EQ(RowsOf(ReadFile("scores.db")), (std::vector<Row>{{"late", 4}}));
}

}  // namespace
