#pragma once

#include <cstdint>
#include <string>

#include "scores/score_file.h"

// The score file between score_file.cpp, which holds what is the same everywhere (the format,
// the merge, the order of the steps, the lock's wait, the messages), and one file per operating
// system (score_file_posix.cpp, score_file_windows.cpp), which opens only regular files, locks,
// writes and replaces. Only the scores library includes this.

namespace scores {

// Never removed and never renamed over, so every run locks the same file. Locking "scores.db"
// itself would not do: the replace gives it a new identity, and a run that opened the old one
// would hold a lock that excludes nobody.
inline constexpr const char* kLockFileName = "scores.db.lock";
// One fixed name is enough because only the lock holder writes it; a run killed mid-write leaves
// it behind for the next run to reuse, so nothing accumulates.
inline constexpr const char* kTempFileName = "scores.db.tmp";

// score_file.cpp, for both sides.
// A line on the terminal that says what happened to the player's result.
void Say(const std::string& line);
// Says why, then stops with the run-time error report; nothing of the table has been touched.
[[noreturn]] void Refuse(const std::string& why, int ioResult);
// "NAME is KIND, not a regular file", code 5.
[[noreturn]] void RefuseKind(const char* name, const char* kind);
// Moves a damaged "scores.db" to the first free damaged name and says so.
void MoveAside();
// The test seam, just before the new table replaces the old one.
void BeforeReplace();

// What one operating system does.

// The lock file, opened (or made) as a regular file; a file that cannot be used stops the run.
class LockFile {
 public:
  LockFile();
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  // Takes the lock without waiting: false while another run holds it. Any other failure stops
  // the run.
  bool TryLock();

 private:
  std::intptr_t handle_;
};

// The table as found before the merge: whether a regular file was there, and what the new one
// keeps of it (owner, group and mode where the system has them).
struct FoundTable {
  bool Found = false;
  std::uint32_t Owner = 0;
  std::uint32_t Group = 0;
  std::uint32_t Mode = 0;
};

// Reads the first record of "scores.db" for the merge. False for no file; a file that cannot be
// opened for reading and writing, or read, stops the run. `whole` tells a whole record from a
// shorter file.
bool ReadForMerge(TRecBytes& bytes, bool& whole, FoundTable& found);
// Writes the new table beside "scores.db", flushes it, moves a damaged table aside and puts the
// new one in its place in one step, so that a crash at any moment leaves one or the other.
void ReplaceTable(const TRecBytes& bytes, const FoundTable& found, bool damaged);

enum class MoveOutcome { kMoved, kTaken, kFailed };
// Renames without replacing: kTaken when `to` exists.
MoveOutcome MoveWithoutReplacing(const char* from, const char* to);
// Removes the temporary file and stops the run, naming the file, the step and the system's last
// error.
[[noreturn]] void FailStepAndRemove(const char* name, const char* step);

// The first record of "scores.db" for display: false when there is none to read. Never writes,
// never blocks, never reports.
bool ReadForDisplay(TRecBytes& bytes);

// The time in UTC and the process number, "YYYYMMDDTHHMMSSZ.PID": a name that cannot run out.
std::string TimeAndProcess();

}  // namespace scores
