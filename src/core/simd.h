// The SSE2 fast paths and the one pattern they follow, "kernel beside its
// reference": a step's SSE2 kernel sits in the step's own file next to the plain
// C++ loop it stands for, both guarded by TVX_SSE2 only (no other SIMD guard in
// the library), and the step chooses once with fast_paths(). A fast path changes
// only the kernel: the same inputs, work memory, file reads and writes and result
// codes as the plain path, and bit-identical pixels. The plain loop stays the
// reference; a test switch runs it on an SSE2 build so the two can be compared.
// TVX_SSE2 is set where the compiler targets SSE2 (the 32-bit build with -msse2
// and every x86-64 build).
#pragma once

#if defined(__SSE2__)
#define TVX_SSE2 1
#include <emmintrin.h>
#else
#define TVX_SSE2 0
#endif

#include <cstdint>

namespace tvx::core {

// True when the fast paths are built in and not switched off for a test.
bool fast_paths() noexcept;

// Test-only switch: while set, every step runs its plain reference path.
void test_use_plain_paths(bool plain) noexcept;

#if TVX_SSE2
inline __m128i load8(const std::uint16_t* p) noexcept { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store8(std::uint16_t* p, __m128i v) noexcept { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// SSE2 compares, minimums and maximums of 16-bit lanes are signed only. Unsigned
// 16-bit order is signed order after flipping the top bit: flip the operands, use
// the signed operation, flip the result back.
inline __m128i flip_sign16(__m128i v) noexcept { return _mm_xor_si128(v, _mm_set1_epi16(static_cast<short>(0x8000))); }

// The low 16 bits of each 32-bit lane as a signed value, so that a signed pack
// (_mm_packs_epi32) keeps them unchanged: the truncation to 16 bits, eight at a time.
inline __m128i low16_signed(__m128i v) noexcept { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }

// Eight values 0..65535 held in two vectors of 32-bit lanes packed to unsigned
// 16-bit words: packed as signed values less 32768 (no saturation can occur),
// then flipped back.
inline __m128i pack_u16(__m128i lo, __m128i hi) noexcept {
    const __m128i bias = _mm_set1_epi32(0x8000);
    return flip_sign16(_mm_packs_epi32(_mm_sub_epi32(lo, bias), _mm_sub_epi32(hi, bias)));
}
#endif

}  // namespace tvx::core
