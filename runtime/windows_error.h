#pragma once

#include <string>

#include "runtime/run_error.h"

// Windows' own error codes (GetLastError) for the files and the console of the Windows build.

namespace runtime {

// Maps a Windows error code to the I/O result code of the operation that failed, as
// IoResultFromErrno does for errno.
int IoResultFromWindowsError(unsigned long systemError, IoDirection direction);
// The system's text for the code, without the line break it ends with.
std::string WindowsErrorText(unsigned long systemError);

}  // namespace runtime
