// The SSE2 fast paths: chosen at build time where the compiler targets SSE2 (the
// 32-bit build with -msse2 and every x86-64 build), with the plain C++ version of
// each step kept as the reference. Both give bit-identical results; a test switch
// runs the plain paths on an SSE2 build so that the two can be compared.
#pragma once

#if defined(__SSE2__)
#define TVX_SSE2 1
#include <emmintrin.h>
#else
#define TVX_SSE2 0
#endif

namespace tvx::core {

// True when the fast paths are built in and not switched off for a test.
bool fast_paths() noexcept;

// Test-only switch: while set, every step runs its plain reference path.
void test_use_plain_paths(bool plain) noexcept;

}  // namespace tvx::core
