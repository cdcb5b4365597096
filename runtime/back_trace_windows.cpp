#include <windows.h>

#include <cinttypes>
#include <cstdio>

#include "runtime/back_trace.h"

namespace runtime {
namespace {

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  const DWORD flags =
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  if (!GetModuleHandleExW(flags, static_cast<LPCWSTR>(address), &module)) return nullptr;
  return module;
}

}  // namespace

// A module's handle is the address it is loaded at.
std::uintptr_t ModuleOffset(const void* address) {
  const auto raw = reinterpret_cast<std::uintptr_t>(address);
  const HMODULE module = ModuleOf(address);
  return module != nullptr ? raw - reinterpret_cast<std::uintptr_t>(module) : raw;
}

void PrintBackTrace() {
  void* frames[62];  // the most CaptureStackBackTrace takes on older systems
  // Skipped: this function and the report; the trace starts at the report's caller.
  const USHORT count = CaptureStackBackTrace(2, 62, frames, nullptr);
  for (USHORT i = 0; i < count; ++i) {
    char path[MAX_PATH] = "?";
    const HMODULE module = ModuleOf(frames[i]);
    if (module == nullptr || GetModuleFileNameA(module, path, sizeof path) == 0) {
      std::snprintf(path, sizeof path, "?");
    }
    std::printf("  $%08" PRIXPTR "  %s\n", ModuleOffset(frames[i]) & 0xFFFFFFFFu, path);
  }
}

}  // namespace runtime
