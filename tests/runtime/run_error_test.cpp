// GCC 12, optimizing <regex>'s automaton under the sanitizers, warns that a std::function inside
// it may be used uninitialized: a false report about the library that -Werror would make fatal.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "runtime/run_error.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>

namespace {

using runtime::IoDirection;
using runtime::IoResultFromErrno;

TEST(RunErrorTest, SystemErrorsMapToTheClassicIoResultCodes) {
  EXPECT_EQ(IoResultFromErrno(ENOENT, IoDirection::kOpen), 2);
  EXPECT_EQ(IoResultFromErrno(ENOTDIR, IoDirection::kOpen), 3);
  EXPECT_EQ(IoResultFromErrno(EMFILE, IoDirection::kOpen), 4);
  EXPECT_EQ(IoResultFromErrno(EACCES, IoDirection::kOpen), 5);
  EXPECT_EQ(IoResultFromErrno(EROFS, IoDirection::kWrite), 5);
  EXPECT_EQ(IoResultFromErrno(EBADF, IoDirection::kRead), 6);
  EXPECT_EQ(IoResultFromErrno(ENOSPC, IoDirection::kWrite), 101);
  // An error with no code of its own reports the direction that failed.
  EXPECT_EQ(IoResultFromErrno(EIO, IoDirection::kRead), 100);
  EXPECT_EQ(IoResultFromErrno(EIO, IoDirection::kWrite), 101);
}

// The report's layout, matched with std::regex: GoogleTest's own matcher on Windows knows no
// brackets, counts or groups. A line may end in CR LF where standard output is in text mode.
class ReportLayout : public testing::MatcherInterface<const std::string&> {
 public:
  bool MatchAndExplain(const std::string& output, testing::MatchResultListener*) const override {
    static const std::regex layout(
        "cleanup ran\r?\nRuntime error 101 at \\$[0-9A-F]{8}\r?\n(  \\$[0-9A-F]{8}  "
        "[^\r\n]+\r?\n)+");
    return std::regex_search(output, layout);
  }
  void DescribeTo(std::ostream* os) const override {
    *os << "the cleanup, then the report with a line per stack frame";
  }
};

TEST(RunErrorDeathTest, ReportsTheCodeAndEveryFrameOnStandardOutputAndExitsWithTheCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // The death test reads standard error, so the report's standard output goes there.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        // The cleanup (closing the window) comes before the report.
        runtime::SetFatalCleanup([] {
          std::fputs("cleanup ran\n", stderr);
          std::fflush(stderr);  // Windows' C library buffers standard error into a pipe
        });
        runtime::RunError(101);
      },
      testing::ExitedWithCode(101), testing::MakeMatcher(new ReportLayout));
}

}  // namespace
