#include "runtime/run_error.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace runtime {
namespace {

std::atomic<FatalCleanup> fatalCleanup{nullptr};

// A code address as its offset within the executable or library that holds it, so that the
// report means the same from run to run and can be looked up with addr2line.
std::uintptr_t ModuleOffset(const void* address) {
  Dl_info info{};
  const auto raw = reinterpret_cast<std::uintptr_t>(address);
  if (dladdr(address, &info) != 0 && info.dli_fbase != nullptr) {
    return raw - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  }
  return raw;
}

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

void SetFatalCleanup(FatalCleanup cleanup) {
  fatalCleanup.store(cleanup);
}

void RunErrorAt(int code, const void* address) {
  // Only one report, even if the cleanup itself fails and comes back here.
  if (FatalCleanup cleanup = fatalCleanup.exchange(nullptr)) cleanup();
  std::fflush(stdout);
  std::printf("Runtime error %d at $%08" PRIXPTR "\n", code, ModuleOffset(address) & 0xFFFFFFFFu);
  void* frames[64];
  const int count = backtrace(frames, 64);
  // Frame 0 is this function; the report starts at its caller.
  for (int i = 1; i < count; ++i) {
    Dl_info info{};
    const char* module = dladdr(frames[i], &info) != 0 && info.dli_fname ? info.dli_fname : "?";
    std::printf("  $%08" PRIXPTR "  %s\n", ModuleOffset(frames[i]) & 0xFFFFFFFFu, module);
  }
  std::fflush(stdout);
  std::exit(code);
}

void RunError(int code) {
  RunErrorAt(code, __builtin_return_address(0));
}

}  // namespace runtime
