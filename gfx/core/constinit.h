#pragma once

// constinit for the layer's states that hold a vector or a string: only where the standard library
// builds those at compile time (C++20's constexpr vector and string). libc++ 13, which Debian's
// emscripten brings, has neither; there these states are initialised like any other static
// before main runs, which on a page's single thread nothing can observe half done.

#include <version>

#if defined(__cpp_lib_constexpr_vector) && __cpp_lib_constexpr_string >= 201907L
#define SNAKE_CONSTINIT constinit
#else
#define SNAKE_CONSTINIT
#endif
