#pragma once

#include <cerrno>
#include <cstdint>

// The run-time error report and the I/O result codes that file and console operations report.
namespace runtime {

// I/O result codes in the classic numbering.
inline constexpr int kFileNotFound = 2;
inline constexpr int kPathNotFound = 3;
inline constexpr int kTooManyOpenFiles = 4;
inline constexpr int kAccessDenied = 5;
inline constexpr int kInvalidHandle = 6;
inline constexpr int kDiskReadError = 100;  // also a read past the end of a file
inline constexpr int kDiskWriteError = 101;
inline constexpr int kFileNotOpen = 103;

enum class IoDirection { kOpen, kRead, kWrite };

// Maps a system error number to the I/O result code of the operation that failed.
int IoResultFromErrno(int systemError, IoDirection direction);

// Called by the fatal path before it reports, so that the graphics window is gone first.
using FatalCleanup = void (*)();
void SetFatalCleanup(FatalCleanup cleanup);

// Writes "Runtime error N at $XXXXXXXX", then one line per stack frame, to standard output, and
// ends the program with exit code N. Every failed file or console operation ends here.
[[noreturn]] void RunError(int code);
[[noreturn]] void RunErrorAt(int code, const void* address);

}  // namespace runtime
