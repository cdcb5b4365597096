#include "scores/score_file.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "runtime/run_error.h"
#include "scores/score_file_os.h"

namespace scores {
namespace {

constexpr const char* kDamagedFileName = "scores.db.damaged";
constexpr int kNumberedDamagedCopies = 99;
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

std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void StoreU16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value & 0xFF);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

// Holds the table's lock from before the read to after the replace, so that two runs ending at
// the same moment merge one after the other and neither result is lost. There is no unlocked
// way through: a lock file that cannot be used, or a holder that never lets go, stops the run.
class TableLock {
 public:
  TableLock() { Wait(); }

 private:
  void Wait() {
    const int waitMs = Settings().lockWaitMilliseconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    bool told = false;
    while (!file_.TryLock()) {
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

  LockFile file_;
};

// The name of the attempt-th try at keeping a damaged table: "scores.db.damaged", then ".1" to
// ".99"; once those are all taken, the time and the process number, which cannot run out, so a
// hundred damaged tables never stop the game. A further number follows only when even that name
// is taken (the same run trying again within the second).
std::string DamagedName(int attempt) {
  std::string name = kDamagedFileName;
  if (attempt == 0) return name;
  if (attempt <= kNumberedDamagedCopies) return name + "." + std::to_string(attempt);
  name += "." + TimeAndProcess();
  const int again = attempt - kNumberedDamagedCopies - 1;
  return again == 0 ? name : name + "." + std::to_string(again);
}

struct Loaded {
  TRec table;
  FoundTable found;
  bool damaged = false;
};

// The table to merge into. Only a missing file means no table yet; a file shorter than one
// record holds none either. Any other file that cannot be opened for reading and writing, or
// read, stops the run before anything is written.
Loaded LoadForMerge() {
  Loaded loaded;
  TRecBytes bytes;
  bool whole = false;
  if (!ReadForMerge(bytes, whole, loaded.found) || !whole) return loaded;
  loaded.damaged = IsDamaged(bytes);
  if (!loaded.damaged) loaded.table = DecodeRec(bytes);
  return loaded;
}

}  // namespace

// Standard error, so that it reaches the player even when standard output goes elsewhere; a
// failed write changes nothing.
void Say(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void Refuse(const std::string& why, int ioResult) {
  Say(why + "; the score was not recorded");
  runtime::RunError(ioResult);
}

void RefuseKind(const char* name, const char* kind) {
  Refuse(std::string(name) + " is " + kind + ", not a regular file", runtime::kAccessDenied);
}

// Keeps a damaged table for the player to look at: never deleted, never overwritten. Only a name
// that is taken leads to the next one; any other failure is about the table itself (another
// user's, in a sticky directory), so that is the file the message names.
void MoveAside() {
  std::string target;
  for (int attempt = 0;; ++attempt) {
    target = DamagedName(attempt);
    const MoveOutcome moved = MoveWithoutReplacing(kScoreFileName, target.c_str());
    if (moved == MoveOutcome::kMoved) break;
    if (moved == MoveOutcome::kFailed) {
      FailStepAndRemove(kScoreFileName, "is damaged and could not be moved aside");
    }
  }
  Say(std::string(kScoreFileName) + " was damaged: it was moved to " + target +
      " and a new table started");
}

void BeforeReplace() {
  if (ReplaceHook hook = Settings().beforeReplace) hook();
}

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
  TRecBytes bytes;
  if (!ReadForDisplay(bytes) || IsDamaged(bytes)) return false;
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
  scores::ReplaceTable(bytes, loaded.found, loaded.damaged);
}
