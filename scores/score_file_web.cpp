#include <array>
#include <string>

#include "runtime/run_error.h"
#include "scores/score_file_os.h"

// The score file of a web page: the table is a record in the page's IndexedDB, under the file's
// own name (library_score_store.js). The merge's read, its moving aside of a damaged table and its
// write are one read-write transaction, which the browser runs one at a time for every tab of the
// page: that transaction is the lock, and a tab closed halfway has it undone, so nothing is ever
// held for good or written in part. The program sleeps while each step is under way.

extern "C" {
int snake_web_await_table_read(std::uint8_t* bytes, int size);
int snake_web_await_table_move(const char* to);
int snake_web_await_table_write(const std::uint8_t* bytes, int size);
int snake_web_table_shown(std::uint8_t* bytes, int size);
int snake_web_table_kept();
void snake_web_table_problem(char* buffer, int size);
void snake_web_time_and_tab(char* buffer, int size);
}

namespace scores {
namespace {

constexpr int kNoTable = -1;
constexpr int kReadFailed = -2;
constexpr int kRecordBytes = static_cast<int>(kScoreRecordBytes);

std::string Problem() {
  std::array<char, 256> text{};
  snake_web_table_problem(text.data(), static_cast<int>(text.size()));
  return text.data();
}

}  // namespace

// A page has no lock file: the merge's transaction excludes every other tab's from its read to
// its write's end, and the browser ends it with the tab.
LockFile::LockFile() : handle_(0) {}

LockFile::~LockFile() {
  static_cast<void>(handle_);
}

bool LockFile::TryLock() {
  return true;
}

bool ReadForMerge(TRecBytes& bytes, bool& whole, FoundTable& found) {
  const int length = snake_web_await_table_read(bytes.data(), kRecordBytes);
  if (length == kReadFailed) {
    Refuse(std::string(kScoreFileName) + " could not be read: " + Problem(),
           runtime::kDiskReadError);
  }
  if (length == kNoTable) return false;
  whole = length >= kRecordBytes;
  found.Found = true;
  return true;
}

void ReplaceTable(const TRecBytes& bytes, const FoundTable&, bool damaged) {
  if (damaged) MoveAside();
  BeforeReplace();
  if (snake_web_await_table_write(bytes.data(), kRecordBytes) != 0) {
    FailStepAndRemove(kScoreFileName, "could not be stored");
  }
  if (!snake_web_table_kept()) {
    Say("The table is kept only until this page is closed: the browser gives the page no storage "
        "(" +
        Problem() + ")");
  }
}

MoveOutcome MoveWithoutReplacing(const char*, const char* to) {
  switch (snake_web_await_table_move(to)) {
    case 0:
      return MoveOutcome::kMoved;
    case 1:
      return MoveOutcome::kTaken;
    default:
      return MoveOutcome::kFailed;
  }
}

// The storage refused the step (it is full, or gone): the transaction, and with it everything
// this merge did, is undone.
void FailStepAndRemove(const char* name, const char* step) {
  Refuse(std::string(name) + " " + step + ": " + Problem(), runtime::kDiskWriteError);
}

bool ReadForDisplay(TRecBytes& bytes) {
  return snake_web_table_shown(bytes.data(), kRecordBytes) >= kRecordBytes;
}

// Every page has the same process number, so a number drawn once per tab stands for it: two tabs
// that set a table aside in the same second still take different names.
std::string TimeAndProcess() {
  std::array<char, 64> text{};
  snake_web_time_and_tab(text.data(), static_cast<int>(text.size()));
  return text.data();
}

}  // namespace scores
