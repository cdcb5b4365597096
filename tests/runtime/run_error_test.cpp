#include "runtime/run_error.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>

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

TEST(RunErrorDeathTest, ReportsTheCodeAndEveryFrameOnStandardOutputAndExitsWithTheCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // The death test reads standard error, so the report's standard output goes there.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        // The cleanup (closing the window) comes before the report.
        runtime::SetFatalCleanup([] { std::fputs("cleanup ran\n", stderr); });
        runtime::RunError(101);
      },
      testing::ExitedWithCode(101),
      "cleanup ran\nRuntime error 101 at \\$[0-9A-F]{8}\n(  \\$[0-9A-F]{8}  [^\n]+\n)+");
}

}  // namespace
