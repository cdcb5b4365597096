#include "runtime/run_error.h"

#include <execinfo.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace runtime {
namespace {

std::atomic<FatalCleanup> fatalCleanup{nullptr};

}  // namespace

int IoResultFromErrno(int systemError, IoDirection direction) {
  switch (systemError) {
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kPathNotFound;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return kAccessDenied;
    case EBADF:
      return kInvalidHandle;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return kDiskWriteError;
    default:
      return direction == IoDirection::kWrite ? kDiskWriteError : kDiskReadError;
  }
}

void SetFatalCleanup(FatalCleanup cleanup) { fatalCleanup.store(cleanup); }

void RunErrorAt(int code, const void* address) {
  // Only one report, even if the cleanup itself fails and comes back here.
  if (FatalCleanup cleanup = fatalCleanup.exchange(nullptr)) cleanup();
  std::fflush(stdout);
  std::printf("Runtime error %d at $%08" PRIXPTR "\n",
              code, static_cast<std::uintptr_t>(reinterpret_cast<std::uintptr_t>(address)) & 0xFFFFFFFFu);
  void* frames[64];
  const int count = backtrace(frames, 64);
  // Frame 0 is this function; the report starts at its caller.
  for (int i = 1; i < count; ++i) {
    std::printf("  $%016" PRIXPTR "\n", reinterpret_cast<std::uintptr_t>(frames[i]));
  }
  std::fflush(stdout);
  std::exit(code);
}

void RunError(int code) { RunErrorAt(code, __builtin_return_address(0)); }

}  // namespace runtime
