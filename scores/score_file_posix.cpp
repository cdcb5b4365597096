#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "runtime/run_error.h"
#include "scores/score_file_os.h"

// The score file on POSIX systems: lstat and O_NOFOLLOW keep to regular files, flock locks,
// renameat2 moves aside without replacing, rename replaces, fsync makes it last.

namespace scores {
namespace {

// A rewritten table keeps the old one's read and write bits and nothing else: setuid, setgid,
// sticky or execute bits on a table were never the player's, and another user who planted a file
// with them in a shared directory must not get them back on a file this run wrote.
constexpr mode_t kKeptModeBits = 0666;

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

[[noreturn]] void RefuseSystemError(const char* name, int systemError,
                                    runtime::IoDirection direction) {
  Refuse(std::string(name) + ": " + std::strerror(systemError),
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

// A lock made by a run as root in a directory that is not root's goes to the directory's owner,
// as the table does: root's umask could close it to the player, whose every later run would then
// stop at it. Best effort, since the lock serves this run either way.
void GiveRootsLockAway(int fd) {
  struct stat lock, dir;
  if (geteuid() != 0 || fstat(fd, &lock) != 0 || stat(".", &dir) != 0) return;
  if (lock.st_uid == 0 && dir.st_uid != 0) (void)!fchown(fd, dir.st_uid, dir.st_gid);
}

int OpenLock() {
  const Opened lock = OpenRegular(kLockFileName, O_RDONLY | O_CREAT);
  if (lock.Irregular()) RefuseKind(kLockFileName, KindOf(lock.kind));
  if (lock.fd < 0) RefuseSystemError(kLockFileName, lock.error, runtime::IoDirection::kOpen);
  GiveRootsLockAway(lock.fd);
  return lock.fd;
}

// Whatever fails after the temporary file exists removes it before the program stops.
[[noreturn]] void FailAndRemove(int systemError) {
  unlink(kTempFileName);
  RefuseSystemError(kTempFileName, systemError, runtime::IoDirection::kWrite);
}

void SyncDirectory() {
  // The new table is already in place; a directory that cannot be flushed only makes the rename
  // less durable, which is no reason to stop the program after the fact.
  FileDescriptor dir(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) fsync(dir.Get());
}

// A run as root writes the new table as its player: the old table's owner and group, or where
// there was none, the directory's. Otherwise one run as root (say, `make run` to install packages)
// would leave a table its player can no longer write. An ordinary user's run cannot give files
// away, and its new table is simply its own.
void KeepOwner(int temp, const FoundTable& found) {
  if (geteuid() != 0) return;
  uid_t owner = found.Owner;
  gid_t group = found.Group;
  if (!found.Found) {
    struct stat dir;
    if (stat(".", &dir) != 0) FailStepAndRemove("the table's directory", "could not be looked at");
    owner = dir.st_uid;
    group = dir.st_gid;
  }
  if (fchown(temp, owner, group) != 0) {
    FailStepAndRemove(kTempFileName, "could not be given the table's owner");
  }
}

}  // namespace

LockFile::LockFile() : handle_(OpenLock()) {}

LockFile::~LockFile() {
  close(static_cast<int>(handle_));
}

bool LockFile::TryLock() {
  while (flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) RefuseSystemError(kLockFileName, errno, runtime::IoDirection::kOpen);
    return false;
  }
  return true;
}

bool ReadForMerge(TRecBytes& bytes, bool& whole, FoundTable& found) {
  const Opened opened = OpenRegular(kScoreFileName, O_RDWR);
  if (opened.Missing()) return false;
  if (opened.Irregular()) RefuseKind(kScoreFileName, KindOf(opened.kind));
  if (opened.fd < 0) RefuseSystemError(kScoreFileName, opened.error, runtime::IoDirection::kOpen);
  FileDescriptor file(opened.fd);
  struct stat info;
  if (fstat(file.Get(), &info) != 0) {
    RefuseSystemError(kScoreFileName, errno, runtime::IoDirection::kOpen);
  }
  found = FoundTable{true, info.st_uid, info.st_gid, info.st_mode};
  const ReadOutcome outcome = ReadRecord(file.Get(), bytes);
  if (outcome == ReadOutcome::kError) {
    RefuseSystemError(kScoreFileName, errno, runtime::IoDirection::kRead);
  }
  whole = outcome == ReadOutcome::kComplete;
  return true;
}

void ReplaceTable(const TRecBytes& bytes, const FoundTable& found, bool damaged) {
  if (unlink(kTempFileName) != 0 && errno != ENOENT) {
    RefuseSystemError(kTempFileName, errno, runtime::IoDirection::kWrite);
  }
  constexpr int kTempFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  FileDescriptor temp(open(kTempFileName, kTempFlags, 0666));
  if (!temp.Valid()) RefuseSystemError(kTempFileName, errno, runtime::IoDirection::kOpen);
  KeepOwner(temp.Get(), found);
  // The rewritten file keeps the read and write permissions the player gave the old one.
  if (found.Found) fchmod(temp.Get(), static_cast<mode_t>(found.Mode) & kKeptModeBits);
  if (!WriteAll(temp.Get(), bytes) || fsync(temp.Get()) != 0) FailAndRemove(errno);
  if (temp.Close() != 0) FailAndRemove(errno);
  if (damaged) MoveAside();
  BeforeReplace();
  // The new table is ours; what stops a rename is the old one (another user's file in a sticky
  // directory), so that is the file the message names.
  if (rename(kTempFileName, kScoreFileName) != 0) {
    FailStepAndRemove(kScoreFileName, "could not be replaced");
  }
  SyncDirectory();
}

// Where the file system has no rename that refuses to replace, a second link and an unlink do
// the same.
MoveOutcome MoveWithoutReplacing(const char* from, const char* to) {
  auto failed = [] { return errno == EEXIST ? MoveOutcome::kTaken : MoveOutcome::kFailed; };
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return MoveOutcome::kMoved;
  if (errno != EINVAL && errno != ENOSYS) return failed();
  if (link(from, to) != 0) return failed();
  if (unlink(from) == 0 || errno == ENOENT) return MoveOutcome::kMoved;
  return failed();
}

void FailStepAndRemove(const char* name, const char* step) {
  const int systemError = errno;
  unlink(kTempFileName);
  Refuse(std::string(name) + " " + step + ": " + std::strerror(systemError),
         runtime::IoResultFromErrno(systemError, runtime::IoDirection::kWrite));
}

bool ReadForDisplay(TRecBytes& bytes) {
  const Opened opened = OpenRegular(kScoreFileName, O_RDONLY);
  if (opened.fd < 0) return false;
  FileDescriptor file(opened.fd);
  return ReadRecord(file.Get(), bytes) == ReadOutcome::kComplete;
}

std::string TimeAndProcess() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  char stamp[32] = "";
  if (gmtime_r(&now, &utc) != nullptr) std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  return std::string(stamp) + "." + std::to_string(getpid());
}

}  // namespace scores
