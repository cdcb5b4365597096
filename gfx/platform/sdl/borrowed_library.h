#pragma once

// Libraries that SDL loads for its display driver (Xlib, libwayland-client) are borrowed by name
// from the process: nothing links against them, so one build runs under either display system.
// POSIX only; the files that borrow include this where SDL has the driver.

#include <dlfcn.h>

namespace gfx::sdl {

// The library if SDL has already loaded it, else null: never loads one of its own.
inline void* LoadedLibrary(const char* name) {
  return dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
}

template <typename T>
bool Bind(void* library, T& symbol, const char* name) {
  symbol = reinterpret_cast<T>(dlsym(library, name));
  return symbol != nullptr;
}

}  // namespace gfx::sdl
