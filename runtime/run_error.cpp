#include "runtime/run_error.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "runtime/back_trace.h"

namespace runtime {
namespace {

std::atomic<FatalCleanup> fatalCleanup{nullptr};

// Disk quotas are not everywhere; where errno has no code for them, no error maps to this.
#ifdef EDQUOT
constexpr int kQuotaExceeded = EDQUOT;
#else
constexpr int kQuotaExceeded = -1;
#endif

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
    case kQuotaExceeded:
      return kDiskWriteError;
    default:
      return direction == IoDirection::kWrite ? kDiskWriteError : kDiskReadError;
  }
}

void SetFatalCleanup(FatalCleanup cleanup) {
  fatalCleanup.store(cleanup);
}

void RunErrorAt(int code, const void* address) {
  // Only one report, even if the cleanup itself fails and comes back here.
  if (FatalCleanup cleanup = fatalCleanup.exchange(nullptr)) cleanup();
  std::fflush(stdout);
  std::printf("Runtime error %d at $%08" PRIXPTR "\n", code, ModuleOffset(address) & 0xFFFFFFFFu);
  PrintBackTrace();
  std::fflush(stdout);
  std::exit(code);
}

void RunError(int code) {
  RunErrorAt(code, __builtin_return_address(0));
}

}  // namespace runtime
