#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

#include "runtime/run_error.h"
#include "runtime/windows_error.h"
#include "scores/score_file_os.h"

// The score file on Windows. Every file is opened with CreateFile, so bytes are bytes: no text
// mode turns a score of 10 into a line break or reads 26 as the end of the file. Links and
// junctions (reparse points) are never followed, LockFileEx locks, MoveFileEx moves aside
// without replacing and puts the new table in place in one step, written through to the disk.

namespace scores {
namespace {

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (Valid()) CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
  // Closes now and says whether that worked, which a writer must know.
  bool Close() { return CloseHandle(Release()) != 0; }

 private:
  HANDLE handle_;
};

std::wstring Wide(const char* name) {
  std::wstring wide;
  for (const char* c = name; *c != '\0'; ++c) wide.push_back(static_cast<wchar_t>(*c));
  return wide;
}

[[noreturn]] void RefuseSystemError(const char* name, DWORD systemError,
                                    runtime::IoDirection direction) {
  Refuse(std::string(name) + ": " + runtime::WindowsErrorText(systemError),
         runtime::IoResultFromWindowsError(systemError, direction));
}

// What stands under a name that is not a regular file, or nullptr when it is one.
const char* KindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a link";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a directory";
  if (attributes & FILE_ATTRIBUTE_DEVICE) return "a device";
  return nullptr;
}

struct Opened {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_SUCCESS;  // when there is no handle and the name is regular or missing
  const char* kind = nullptr;   // when the name is not a regular file
  bool Missing() const {
    return handle == INVALID_HANDLE_VALUE &&
           (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
  }
  bool Irregular() const { return kind != nullptr; }
};

// Opens a regular file and nothing else. A link or a junction is not followed but looked at
// itself (FILE_FLAG_OPEN_REPARSE_POINT), and what was opened is looked at again, in case the name
// changed between the two looks. Others may read, write and replace the file meanwhile: the lock
// file, not the sharing, keeps runs apart, and a reader must never stop the replace.
Opened OpenRegular(const char* name, DWORD access, DWORD disposition) {
  Opened opened;
  const std::wstring wide = Wide(name);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (opened.kind = KindOf(attributes)) != nullptr) {
    return opened;
  }
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  opened.handle = CreateFileW(wide.c_str(), access, kShare, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (opened.handle == INVALID_HANDLE_VALUE) {
    opened.error = GetLastError();
    return opened;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(opened.handle) != FILE_TYPE_DISK) {
    opened.kind = "a device";
  } else if (!GetFileInformationByHandle(opened.handle, &info)) {
    opened.error = GetLastError();
  } else {
    opened.kind = KindOf(info.dwFileAttributes);
  }
  if (opened.kind != nullptr || opened.error != ERROR_SUCCESS) {
    CloseHandle(std::exchange(opened.handle, INVALID_HANDLE_VALUE));
  }
  return opened;
}

enum class ReadOutcome { kComplete, kShort, kError };

// Reads the first record of the file; a file longer than one record has its tail ignored.
ReadOutcome ReadRecord(HANDLE file, TRecBytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                  nullptr)) {
      return ReadOutcome::kError;
    }
    if (n == 0) return ReadOutcome::kShort;
    done += n;
  }
  return ReadOutcome::kComplete;
}

bool WriteAll(HANDLE file, const TRecBytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                   nullptr)) {
      return false;
    }
    if (n == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    done += n;
  }
  return true;
}

HANDLE OpenLock() {
  const Opened lock = OpenRegular(kLockFileName, GENERIC_READ, OPEN_ALWAYS);
  if (lock.Irregular()) RefuseKind(kLockFileName, lock.kind);
  if (lock.handle == INVALID_HANDLE_VALUE) {
    RefuseSystemError(kLockFileName, lock.error, runtime::IoDirection::kOpen);
  }
  return lock.handle;
}

// Whatever fails after the temporary file exists removes it before the program stops.
[[noreturn]] void FailAndRemove() {
  const DWORD systemError = GetLastError();
  DeleteFileW(Wide(kTempFileName).c_str());
  RefuseSystemError(kTempFileName, systemError, runtime::IoDirection::kWrite);
}

}  // namespace

LockFile::LockFile() : handle_(reinterpret_cast<std::intptr_t>(OpenLock())) {}

LockFile::~LockFile() {
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// One byte of the lock file, locked for this run alone; the lock goes with the handle.
bool LockFile::TryLock() {
  OVERLAPPED at{};
  if (LockFileEx(reinterpret_cast<HANDLE>(handle_),
                 LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    return true;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
    RefuseSystemError(kLockFileName, error, runtime::IoDirection::kOpen);
  }
  return false;
}

bool ReadForMerge(TRecBytes& bytes, bool& whole, FoundTable& found) {
  const Opened opened = OpenRegular(kScoreFileName, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
  if (opened.Missing()) return false;
  if (opened.Irregular()) RefuseKind(kScoreFileName, opened.kind);
  if (opened.handle == INVALID_HANDLE_VALUE) {
    RefuseSystemError(kScoreFileName, opened.error, runtime::IoDirection::kOpen);
  }
  FileHandle file(opened.handle);
  found.Found = true;
  const ReadOutcome outcome = ReadRecord(file.Get(), bytes);
  if (outcome == ReadOutcome::kError) {
    RefuseSystemError(kScoreFileName, GetLastError(), runtime::IoDirection::kRead);
  }
  whole = outcome == ReadOutcome::kComplete;
  return true;
}

// A new table starts with the system's default permissions of the folder; the old one could only
// be read because it was readable and writable, so there are no bits of it to keep.
void ReplaceTable(const TRecBytes& bytes, const FoundTable&, bool damaged) {
  const std::wstring temp = Wide(kTempFileName);
  if (!DeleteFileW(temp.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    RefuseSystemError(kTempFileName, GetLastError(), runtime::IoDirection::kWrite);
  }
  FileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.Valid()) RefuseSystemError(kTempFileName, GetLastError(), runtime::IoDirection::kOpen);
  if (!WriteAll(file.Get(), bytes) || !FlushFileBuffers(file.Get())) FailAndRemove();
  if (!file.Close()) FailAndRemove();
  if (damaged) MoveAside();
  BeforeReplace();
  // Replaces in one step: never a moment without a table, and written through before it returns.
  // The new table is ours; what stops it is the old one, so that is the file the message names.
  if (!MoveFileExW(temp.c_str(), Wide(kScoreFileName).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    FailStepAndRemove(kScoreFileName, "could not be replaced");
  }
}

MoveOutcome MoveWithoutReplacing(const char* from, const char* to) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
    return MoveOutcome::kMoved;
  }
  const DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MoveOutcome::kTaken
                                                                     : MoveOutcome::kFailed;
}

void FailStepAndRemove(const char* name, const char* step) {
  const DWORD systemError = GetLastError();
  DeleteFileW(Wide(kTempFileName).c_str());
  Refuse(std::string(name) + " " + step + ": " + runtime::WindowsErrorText(systemError),
         runtime::IoResultFromWindowsError(systemError, runtime::IoDirection::kWrite));
}

bool ReadForDisplay(TRecBytes& bytes) {
  const Opened opened = OpenRegular(kScoreFileName, GENERIC_READ, OPEN_EXISTING);
  if (opened.handle == INVALID_HANDLE_VALUE) return false;
  FileHandle file(opened.handle);
  return ReadRecord(file.Get(), bytes) == ReadOutcome::kComplete;
}

std::string TimeAndProcess() {
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02uT%02u%02u%02uZ", utc.wYear, utc.wMonth, utc.wDay,
                utc.wHour, utc.wMinute, utc.wSecond);
  return std::string(stamp) + "." + std::to_string(GetCurrentProcessId());
}

}  // namespace scores
