#pragma once

#include <cstdint>

// The part of the run-time error report that each operating system finds its own way: where a
// code address lies within its program or library, and the stack. One file per system
// (back_trace_posix.cpp, back_trace_windows.cpp); only run_error.cpp includes this.

namespace runtime {

// A code address as its offset within the executable or library that holds it, so that the
// report means the same from run to run and can be looked up with addr2line.
std::uintptr_t ModuleOffset(const void* address);
// Writes one line per stack frame to standard output, "  $OFFSET  MODULE", starting at the
// caller of the function that calls this.
void PrintBackTrace();

}  // namespace runtime
