#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "runtime/back_trace.h"

// A web page has no execinfo: the frames come from the browser's own stack of the WebAssembly
// code (library_back_trace.js), as offsets in the program's module, which is what the browser's
// tools show for them.

extern "C" int snake_web_stack(std::uint32_t* offsets, int count);

namespace runtime {

// Code addresses in WebAssembly are offsets in the module already.
std::uintptr_t ModuleOffset(const void* address) {
  return reinterpret_cast<std::uintptr_t>(address);
}

void PrintBackTrace() {
  std::uint32_t frames[64];
  const int count = snake_web_stack(frames, 64);
  // Frame 0 is this function and frame 1 the report; the trace starts at the report's caller.
  for (int i = 2; i < count; ++i) std::printf("  $%08" PRIX32 "  snake.wasm\n", frames[i]);
}

}  // namespace runtime
