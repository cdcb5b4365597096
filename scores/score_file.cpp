#include "scores/score_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <utility>

#include "runtime/run_error.h"

namespace scores {
namespace {

// Never removed and never renamed over, so every run locks the same inode. Locking "scores.db"
// itself would not do: the rename gives it a new inode, and a run that opened the old one would
// hold a lock that excludes nobody.
constexpr const char* kLockFileName = "scores.db.lock";
// One fixed name is enough because only the lock holder writes it; a run killed mid-write leaves
// it behind for the next run to reuse, so nothing accumulates.
constexpr const char* kTempFileName = "scores.db.tmp";
constexpr const char* kDamagedFileName = "scores.db.damaged";
constexpr int kNumberedDamagedCopies = 99;
// A rewritten table keeps the old one's read and write bits and nothing else: setuid, setgid,
// sticky or execute bits on a table were never the player's, and another user who planted a file
// with them in a shared directory must not get them back on a file this run wrote.
constexpr mode_t kKeptModeBits = 0666;
constexpr std::size_t kScoresOffset = 256;
constexpr std::size_t kSizeOffset = kMaxScoreEntries * kScoreEntryBytes;
constexpr auto kLockPoll = std::chrono::milliseconds(10);

struct FileSettings {
  ReplaceHook beforeReplace = nullptr;
  int lockWaitMilliseconds = kDefaultLockWaitMilliseconds;
};

FileSettings& Settings() {
  static FileSettings settings;
  return settings;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Closes now and returns close's own result, which a writer must check.
  int Close() { return close(std::exchange(fd_, -1)); }

 private:
  int fd_;
};

std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void StoreU16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value & 0xFF);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

// A line on the terminal that says what happened to the player's result. Standard error, so that
// it reaches the player even when standard output goes elsewhere; a failed write changes nothing.
void Say(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

// Says why, then stops with the run-time error report; nothing of the table has been touched.
[[noreturn]] void Refuse(const std::string& why, int ioResult) {
  Say(why + "; the score was not recorded");
  runtime::RunError(ioResult);
}

[[noreturn]] void RefuseSystemError(const char* name, int systemError,
                                    runtime::IoDirection direction) {
  Refuse(std::string(name) + ": " + std::strerror(systemError),
         runtime::IoResultFromErrno(systemError, direction));
}

// Where a step acts on two files, the message names the one the failure is about and the step.
[[noreturn]] void RefuseStep(const char* name, const char* step, int systemError,
                             runtime::IoDirection direction) {
  Refuse(std::string(name) + " " + step + ": " + std::strerror(systemError),
         runtime::IoResultFromErrno(systemError, direction));
}

const char* KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "of an unknown kind";
}

[[noreturn]] void RefuseKind(const char* name, mode_t mode) {
  Refuse(std::string(name) + " is " + KindOf(mode) + ", not a regular file",
         runtime::kAccessDenied);
}

struct Opened {
  int fd = -1;
  int error = 0;    // errno of the failure, when fd is -1 and the file is regular or missing
  mode_t kind = 0;  // the file type found, when it is not a regular file
  bool Missing() const { return fd < 0 && error == ENOENT; }
  bool Irregular() const { return fd < 0 && kind != 0; }
};

// Opens a regular file and nothing else. A FIFO or a device is never even opened (an open could
// block for good or act on the device), a link is not followed, and O_NONBLOCK covers a file
// swapped for a FIFO between the two looks. With O_CREAT a missing file is created.
Opened OpenRegular(const char* name, int flags) {
  Opened opened;
  struct stat info;
  if (lstat(name, &info) == 0 && !S_ISREG(info.st_mode)) {
    opened.kind = info.st_mode & S_IFMT;
    return opened;
  }
  opened.fd = open(name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (opened.fd < 0) {
    opened.error = errno;
    if (errno == ELOOP) opened.kind = S_IFLNK;
    return opened;
  }
  if (fstat(opened.fd, &info) != 0) {
    opened.error = errno;
    close(std::exchange(opened.fd, -1));
  } else if (!S_ISREG(info.st_mode)) {
    opened.kind = info.st_mode & S_IFMT;
    close(std::exchange(opened.fd, -1));
  }
  return opened;
}

enum class ReadOutcome { kComplete, kShort, kError };

// Reads the first record of the file; a file longer than one record has its tail ignored.
ReadOutcome ReadRecord(int fd, TRecBytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadOutcome::kError;
    if (n == 0) return ReadOutcome::kShort;
    done += static_cast<std::size_t>(n);
  }
  return ReadOutcome::kComplete;
}

bool WriteAll(int fd, const TRecBytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Holds the table's lock from before the read to after the rename, so that two runs ending at
// the same moment merge one after the other and neither result is lost. There is no unlocked
// way through: a lock file that cannot be used, or a holder that never lets go, stops the run.
class TableLock {
 public:
  TableLock() : fd_(Open()) { Wait(); }

 private:
  static int Open() {
    const Opened lock = OpenRegular(kLockFileName, O_RDONLY | O_CREAT);
    if (lock.Irregular()) RefuseKind(kLockFileName, lock.kind);
    if (lock.fd < 0) RefuseSystemError(kLockFileName, lock.error, runtime::IoDirection::kOpen);
    GiveRootsLockAway(lock.fd);
    return lock.fd;
  }

  // A lock made by a run as root in a directory that is not root's goes to the directory's
  // owner, as the table does: root's umask could close it to the player, whose every later run
  // would then stop at it. Best effort, since the lock serves this run either way.
  static void GiveRootsLockAway(int fd) {
    struct stat lock, dir;
    if (geteuid() != 0 || fstat(fd, &lock) != 0 || stat(".", &dir) != 0) return;
    if (lock.st_uid == 0 && dir.st_uid != 0) (void)!fchown(fd, dir.st_uid, dir.st_gid);
  }

  void Wait() {
    const int waitMs = Settings().lockWaitMilliseconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    bool told = false;
    while (flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK)
        RefuseSystemError(kLockFileName, errno, runtime::IoDirection::kOpen);
      if (!told) Say("Waiting for another run to record its score ...");
      told = true;
      if (std::chrono::steady_clock::now() >= deadline) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", waitMs / 1000.0);
        Refuse(std::string("Gave up after ") + seconds + " s: another run still holds " +
                   kLockFileName,
               runtime::kAccessDenied);
      }
      std::this_thread::sleep_for(kLockPoll);
    }
  }

  FileDescriptor fd_;
};

// Whatever fails after the temporary file exists removes it before the program stops.
[[noreturn]] void FailAndRemove(int systemError) {
  unlink(kTempFileName);
  RefuseSystemError(kTempFileName, systemError, runtime::IoDirection::kWrite);
}

[[noreturn]] void FailStepAndRemove(const char* name, const char* step, int systemError) {
  unlink(kTempFileName);
  RefuseStep(name, step, systemError, runtime::IoDirection::kWrite);
}

void SyncDirectory() {
  // The new table is already in place; a directory that cannot be flushed only makes the rename
  // less durable, which is no reason to stop the program after the fact.
  FileDescriptor dir(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) fsync(dir.Get());
}

// Moves without replacing: an earlier damaged table is kept too. Where the file system has no
// such rename, a second link and an unlink do the same.
bool MoveWithoutReplacing(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (link(from, to) != 0) return false;
  return unlink(from) == 0 || errno == ENOENT;
}

// The name of the attempt-th try at keeping a damaged table: "scores.db.damaged", then ".1" to
// ".99"; once those are all taken, the time and the process number, which cannot run out, so a
// hundred damaged tables never stop the game. A further number follows only when even that name
// is taken (the same run trying again within the second).
std::string DamagedName(int attempt) {
  std::string name = kDamagedFileName;
  if (attempt == 0) return name;
  if (attempt <= kNumberedDamagedCopies) return name + "." + std::to_string(attempt);
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  char stamp[32] = "";
  if (gmtime_r(&now, &utc) != nullptr) std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  name += std::string(".") + stamp + "." + std::to_string(getpid());
  const int again = attempt - kNumberedDamagedCopies - 1;
  return again == 0 ? name : name + "." + std::to_string(again);
}

// Keeps a damaged table for the player to look at: never deleted, never overwritten. Only a name
// that is taken leads to the next one; any other failure is about the table itself (another
// user's, in a sticky directory), so that is the file the message names.
void MoveAside() {
  std::string target;
  for (int attempt = 0;; ++attempt) {
    target = DamagedName(attempt);
    if (MoveWithoutReplacing(kScoreFileName, target.c_str())) break;
    if (errno != EEXIST) {
      FailStepAndRemove(kScoreFileName, "is damaged and could not be moved aside", errno);
    }
  }
  Say(std::string(kScoreFileName) + " was damaged: it was moved to " + target +
      " and a new table started");
}

struct Loaded {
  TRec table;
  bool found = false;   // a regular file was there, whatever it held
  struct stat file {};  // that file's owner, group and mode
  bool damaged = false;
};

// A run as root writes the new table as its player: the old table's owner and group, or where
// there was none, the directory's. Otherwise one run as root (say, `make run` to install packages)
// would leave a table its player can no longer write. An ordinary user's run cannot give files
// away, and its new table is simply its own.
void KeepOwner(int temp, const Loaded& loaded) {
  if (geteuid() != 0) return;
  struct stat owner = loaded.file;
  if (!loaded.found && stat(".", &owner) != 0) {
    FailStepAndRemove("the table's directory", "could not be looked at", errno);
  }
  if (fchown(temp, owner.st_uid, owner.st_gid) != 0) {
    FailStepAndRemove(kTempFileName, "could not be given the table's owner", errno);
  }
}

// Writes the whole table beside "scores.db" and renames it over the old one, so that a crash at
// any moment leaves either the old table or the new one.
void ReplaceTable(const TRecBytes& bytes, const Loaded& loaded) {
  if (unlink(kTempFileName) != 0 && errno != ENOENT) {
    RefuseSystemError(kTempFileName, errno, runtime::IoDirection::kWrite);
  }
  constexpr int kTempFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  FileDescriptor temp(open(kTempFileName, kTempFlags, 0666));
  if (!temp.Valid()) RefuseSystemError(kTempFileName, errno, runtime::IoDirection::kOpen);
  KeepOwner(temp.Get(), loaded);
  // The rewritten file keeps the read and write permissions the player gave the old one.
  if (loaded.found) fchmod(temp.Get(), loaded.file.st_mode & kKeptModeBits);
  if (!WriteAll(temp.Get(), bytes) || fsync(temp.Get()) != 0) FailAndRemove(errno);
  if (temp.Close() != 0) FailAndRemove(errno);
  if (loaded.damaged) MoveAside();
  if (ReplaceHook hook = Settings().beforeReplace) hook();
  // The new table is ours; what stops a rename is the old one (another user's file in a sticky
  // directory), so that is the file the message names.
  if (rename(kTempFileName, kScoreFileName) != 0) {
    FailStepAndRemove(kScoreFileName, "could not be replaced", errno);
  }
  SyncDirectory();
}

// The table to merge into. Only a missing file means no table yet; a file shorter than one
// record holds none either. Any other file that cannot be opened for reading and writing, or
// read, stops the run before anything is written.
Loaded LoadForMerge() {
  Loaded loaded;
  const Opened opened = OpenRegular(kScoreFileName, O_RDWR);
  if (opened.Missing()) return loaded;
  if (opened.Irregular()) RefuseKind(kScoreFileName, opened.kind);
  if (opened.fd < 0) RefuseSystemError(kScoreFileName, opened.error, runtime::IoDirection::kOpen);
  FileDescriptor file(opened.fd);
  if (fstat(file.Get(), &loaded.file) != 0) {
    RefuseSystemError(kScoreFileName, errno, runtime::IoDirection::kOpen);
  }
  loaded.found = true;
  TRecBytes bytes;
  const ReadOutcome outcome = ReadRecord(file.Get(), bytes);
  if (outcome == ReadOutcome::kError) {
    RefuseSystemError(kScoreFileName, errno, runtime::IoDirection::kRead);
  }
  if (outcome == ReadOutcome::kComplete) {
    loaded.damaged = IsDamaged(bytes);
    if (!loaded.damaged) loaded.table = DecodeRec(bytes);
  }
  return loaded;
}

}  // namespace

void EncodeRec(const TRec& table, TRecBytes& bytes) {
  for (std::size_t k = 0; k < kMaxScoreEntries; ++k) {
    std::uint8_t* entry = bytes.data() + k * kScoreEntryBytes;
    const TScore& score = table.Arr[k];
    entry[0] = score.Name.Length();
    std::copy(score.Name.Bytes().begin(), score.Name.Bytes().end(), entry + 1);
    StoreU16(entry + kScoresOffset, score.Scores);
  }
  StoreU16(bytes.data() + kSizeOffset, table.Size);
}

TRec DecodeRec(const TRecBytes& bytes) {
  TRec table;
  for (std::size_t k = 0; k < kMaxScoreEntries; ++k) {
    const std::uint8_t* entry = bytes.data() + k * kScoreEntryBytes;
    TScore& score = table.Arr[k];
    score.Name.SetLength(entry[0]);
    std::copy(entry + 1, entry + 1 + ShortString::kCapacity, score.Name.Bytes().begin());
    score.Scores = LoadU16(entry + kScoresOffset);
  }
  const std::uint16_t stored = LoadU16(bytes.data() + kSizeOffset);
  table.Size = std::min<std::uint16_t>(stored, kMaxScoreEntries);
  return table;
}

void SortScores(TRec& table) {
  assert(table.Size <= kMaxScoreEntries && "a table never holds more than ten entries");
  bool flag;
  do {
    flag = true;
    for (std::size_t i = 0; i + 1 < table.Size; ++i) {
      if (table.Arr[i].Scores < table.Arr[i + 1].Scores) {
        std::swap(table.Arr[i], table.Arr[i + 1]);
        flag = false;
      }
    }
  } while (!flag);
}

void MergeScore(TRec& table, const TScore& entry) {
  assert(table.Size <= kMaxScoreEntries && "a table never holds more than ten entries");
  if (table.Size < kMaxScoreEntries) {
    table.Arr[table.Size] = entry;
    ++table.Size;
  } else if (table.Arr[kMaxScoreEntries - 1].Scores < entry.Scores) {
    table.Arr[kMaxScoreEntries - 1] = entry;
  }
  SortScores(table);
}

bool IsDamaged(const TRecBytes& bytes) {
  const std::uint16_t count = LoadU16(bytes.data() + kSizeOffset);
  if (count > kMaxScoreEntries) return true;
  for (std::size_t k = 1; k < count; ++k) {
    const std::uint8_t* above = bytes.data() + (k - 1) * kScoreEntryBytes + kScoresOffset;
    if (LoadU16(above) < LoadU16(above + kScoreEntryBytes)) return true;
  }
  return false;
}

bool ReadScoreTable(TRec& table) {
  const Opened opened = OpenRegular(kScoreFileName, O_RDONLY);
  if (opened.fd < 0) return false;
  FileDescriptor file(opened.fd);
  TRecBytes bytes;
  if (ReadRecord(file.Get(), bytes) != ReadOutcome::kComplete || IsDamaged(bytes)) return false;
  table = DecodeRec(bytes);
  return true;
}

void SetBeforeReplaceHook(ReplaceHook hook) {
  Settings().beforeReplace = hook;
}

void SetLockWaitMilliseconds(int milliseconds) {
  Settings().lockWaitMilliseconds = milliseconds;
}

}  // namespace scores

void RefreshScores(std::uint16_t Scores, ShortString Name) {
  TScore temp;
  // Only the name's own characters are taken: the bytes after them start as zero.
  temp.Name.Assign(Name.View());
  temp.Scores = Scores;

  scores::TableLock lock;
  scores::Loaded loaded = scores::LoadForMerge();
  scores::MergeScore(loaded.table, temp);
  TRecBytes bytes;
  scores::EncodeRec(loaded.table, bytes);
  scores::ReplaceTable(bytes, loaded);
}
