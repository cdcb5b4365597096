#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "runtime/short_string.h"

// The table of the ten best results and its file "scores.db" in the working directory: one
// 2582-byte little-endian record, no header. Entries are stored in memory 0-based; entry k of the
// file is Arr[k - 1].

inline constexpr std::size_t kMaxScoreEntries = 10;
inline constexpr std::size_t kScoreEntryBytes = 258;
inline constexpr std::size_t kScoreRecordBytes = 2582;
inline constexpr const char* kScoreFileName = "scores.db";

struct TScore {
  ShortString Name;  // all 255 character bytes kept, also those past the length
  std::uint16_t Scores = 0;
};

using TScoreArr = std::array<TScore, kMaxScoreEntries>;

struct TRec {
  TScoreArr Arr{};
  std::uint16_t Size = 0;  // valid entries, counted from Arr[0]
};

using TRecBytes = std::array<std::uint8_t, kScoreRecordBytes>;

// Merges one result into the table in "scores.db" and rewrites the file, atomically and under a
// lock shared with other runs. Called once at the end of a run whose best score is not 0. Only
// regular files are read or written. The new table keeps the old one's read and write bits, and
// a run as root leaves it to its owner. A damaged table is moved aside to "scores.db.damaged" (or
// the next free name) and a new one started. Any failure (a file that cannot be used, a lock not
// given up in time) says which file and why on standard error and ends the program through the
// run-time error report with the I/O result code, the table untouched.
void RefreshScores(std::uint16_t Scores, ShortString Name);

namespace scores {

// The file image of a table, field by field; bytes that carry no meaning are written as held.
void EncodeRec(const TRec& table, TRecBytes& bytes);
// The table of a file image, with every byte kept. A stored count above 10 is read as 10, so
// nothing reads past the ten entries (such an image is damaged, see IsDamaged).
TRec DecodeRec(const TRecBytes& bytes);

// Puts the new entry at the end of a table with room, or over the tenth when it scores strictly
// more, then sorts by descending score; equal scores keep the order they entered in.
void MergeScore(TRec& table, const TScore& entry);
// Exchange passes that swap only a strictly smaller score above a larger one: a stable sort.
void SortScores(TRec& table);

// True for an image the game never writes: a count above ten, or entries out of descending order.
bool IsDamaged(const TRecBytes& bytes);

// Reads the table for display: false when "scores.db" is missing, not a regular file, unreadable,
// shorter than one record or damaged. Never writes, never blocks, never reports. Used by the
// high-score screen.
bool ReadScoreTable(TRec& table);

// Test seams. The hook runs in RefreshScores when the new table is complete and flushed in its
// temporary file, just before it replaces "scores.db", with the lock still held.
using ReplaceHook = void (*)();
void SetBeforeReplaceHook(ReplaceHook hook);
// How long RefreshScores waits for another run's lock before it gives up without merging.
inline constexpr int kDefaultLockWaitMilliseconds = 60000;
void SetLockWaitMilliseconds(int milliseconds);

}  // namespace scores
