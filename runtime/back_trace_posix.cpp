#include <dlfcn.h>
#include <execinfo.h>

#include <cinttypes>
#include <cstdio>

#include "runtime/back_trace.h"

namespace runtime {

std::uintptr_t ModuleOffset(const void* address) {
  Dl_info info{};
  const auto raw = reinterpret_cast<std::uintptr_t>(address);
  if (dladdr(address, &info) != 0 && info.dli_fbase != nullptr) {
    return raw - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  }
  return raw;
}

void PrintBackTrace() {
  void* frames[64];
  const int count = backtrace(frames, 64);
  // Frame 0 is this function and frame 1 the report; the trace starts at the report's caller.
  for (int i = 2; i < count; ++i) {
    Dl_info info{};
    const char* module = dladdr(frames[i], &info) != 0 && info.dli_fname ? info.dli_fname : "?";
    std::printf("  $%08" PRIXPTR "  %s\n", ModuleOffset(frames[i]) & 0xFFFFFFFFu, module);
  }
}

}  // namespace runtime
