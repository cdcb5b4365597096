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
#include <thread>
#include <utility>

#include "runtime/run_error.h"

namespace scores {
namespace {

// Never removed and never renamed over, so every run locks the same inode. Locking "scores.db"
// itself would not do: the rename gives it a new inode, and a run that opened the old one would
// hold a lock that excludes nobody.
constexpr const char* kLockFileName = "scores.db.lock";
constexpr std::size_t kScoresOffset = 256;
constexpr std::size_t kSizeOffset = kMaxScoreEntries * kScoreEntryBytes;
constexpr auto kLockPoll = std::chrono::milliseconds(10);

struct FileSettings {
  ReplaceHook beforeReplace = nullptr;
  int lockWaitMilliseconds = 5000;
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
  // Only ever replaces a descriptor that failed to open, so errno from the new open survives.
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    assert(fd_ < 0 && "replacing an open descriptor");
    fd_ = std::exchange(other.fd_, -1);
    return *this;
  }
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

[[noreturn]] void Fail(int systemError, runtime::IoDirection direction) {
  runtime::RunError(runtime::IoResultFromErrno(systemError, direction));
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
// the same moment merge one after the other and neither result is lost.
class TableLock {
 public:
  TableLock() : fd_(open(kLockFileName, O_RDONLY | O_CREAT | O_CLOEXEC, 0666)) {
    // In a directory where the lock file cannot be made, nobody can rename over the table
    // either, so the table's own inode is stable and serves as the lock.
    if (!fd_.Valid()) fd_ = FileDescriptor(open(kScoreFileName, O_RDONLY | O_CLOEXEC));
    if (fd_.Valid()) Wait();
  }

 private:
  // Bounded: a run stuck while holding the lock must not cost this run its result, so after the
  // wait the merge goes ahead unlocked.
  void Wait() {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(Settings().lockWaitMilliseconds);
    while (flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return;
      if (std::chrono::steady_clock::now() >= deadline) return;
      std::this_thread::sleep_for(kLockPoll);
    }
  }

  FileDescriptor fd_;
};

// The file exists but could not be opened for reading and writing: it is taken as absent, and
// replacing it is allowed only where creating it would have been, that is where it can be written.
void CheckReplaceable() {
  FileDescriptor probe(open(kScoreFileName, O_WRONLY | O_CLOEXEC));
  if (!probe.Valid() && errno != ENOENT) Fail(errno, runtime::IoDirection::kOpen);
}

// For a directory that lets the table be written but no file be created beside it, and for a
// table reached through a link: the table is rewritten in its own file, which is not atomic but
// is what can be done there.
void RewriteInPlace(const TRecBytes& bytes) {
  FileDescriptor file(open(kScoreFileName, O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  if (!file.Valid()) Fail(errno, runtime::IoDirection::kOpen);
  if (!WriteAll(file.Get(), bytes)) Fail(errno, runtime::IoDirection::kWrite);
  if (ftruncate(file.Get(), static_cast<off_t>(bytes.size())) != 0 || fsync(file.Get()) != 0) {
    Fail(errno, runtime::IoDirection::kWrite);
  }
  if (file.Close() != 0) Fail(errno, runtime::IoDirection::kWrite);
}

// Whatever fails after the temporary file exists removes it before the program stops.
[[noreturn]] void FailAndRemove(const char* tempName, int systemError) {
  unlink(tempName);
  Fail(systemError, runtime::IoDirection::kWrite);
}

void SyncDirectory() {
  // The new table is already in place; a directory that cannot be flushed only makes the rename
  // less durable, which is no reason to stop the program after the fact.
  FileDescriptor dir(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) fsync(dir.Get());
}

// Writes the whole table beside "scores.db" and renames it over the old one, so that a crash at
// any moment leaves either the old table or the new one.
void ReplaceTable(const TRecBytes& bytes, int keptMode) {
  // A player who linked "scores.db" to a table kept elsewhere expects that table to be updated,
  // not the link to be replaced by a file.
  struct stat link;
  if (lstat(kScoreFileName, &link) == 0 && S_ISLNK(link.st_mode)) return RewriteInPlace(bytes);
  char tempName[64];
  std::snprintf(tempName, sizeof tempName, "%s.tmp%ld", kScoreFileName,
                static_cast<long>(getpid()));
  constexpr int kTempFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  FileDescriptor temp(open(tempName, kTempFlags, 0666));
  if (!temp.Valid() && errno == EEXIST) {
    // Left by a run with our process id that was killed mid-write; only we can own this name now.
    unlink(tempName);
    temp = FileDescriptor(open(tempName, kTempFlags, 0666));
  }
  if (!temp.Valid()) {
    if (errno == EACCES || errno == EPERM) return RewriteInPlace(bytes);
    Fail(errno, runtime::IoDirection::kOpen);
  }
  // The rewritten file keeps the permissions the player gave the old one.
  if (keptMode >= 0) fchmod(temp.Get(), static_cast<mode_t>(keptMode));
  if (!WriteAll(temp.Get(), bytes) || fsync(temp.Get()) != 0) FailAndRemove(tempName, errno);
  if (temp.Close() != 0) FailAndRemove(tempName, errno);
  if (ReplaceHook hook = Settings().beforeReplace) hook();
  if (rename(tempName, kScoreFileName) != 0) FailAndRemove(tempName, errno);
  SyncDirectory();
}

// The table to merge into: empty when "scores.db" is missing, cannot be opened for reading and
// writing, or is shorter than one record (it holds no table, and the result still gets recorded).
// keptMode receives the permissions of the file that was read.
TRec LoadForMerge(int& keptMode) {
  TRec table;
  FileDescriptor file(open(kScoreFileName, O_RDWR | O_CLOEXEC));
  if (!file.Valid()) {
    if (errno != ENOENT) CheckReplaceable();
    return table;
  }
  struct stat info;
  if (fstat(file.Get(), &info) == 0) keptMode = static_cast<int>(info.st_mode & 07777);
  TRecBytes bytes;
  const ReadOutcome outcome = ReadRecord(file.Get(), bytes);
  if (outcome == ReadOutcome::kError) Fail(errno, runtime::IoDirection::kRead);
  if (outcome == ReadOutcome::kComplete) table = DecodeRec(bytes);
  return table;
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

bool ReadScoreTable(TRec& table) {
  FileDescriptor file(open(kScoreFileName, O_RDONLY | O_CLOEXEC));
  if (!file.Valid()) return false;
  TRecBytes bytes;
  if (ReadRecord(file.Get(), bytes) != ReadOutcome::kComplete) return false;
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
  int keptMode = -1;
  TRec table = scores::LoadForMerge(keptMode);
  scores::MergeScore(table, temp);
  TRecBytes bytes;
  scores::EncodeRec(table, bytes);
  scores::ReplaceTable(bytes, keptMode);
}
