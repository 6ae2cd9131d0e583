// The SIMD kernels and the one pattern they follow, "kernel beside its
// reference": a step's SSE2 and AVX2 kernels sit in the step's own file next to
// the plain C++ loop they stand for, each guarded by its one guard (TVX_SSE2,
// TVX_AVX2; no other SIMD guard in the library), and the step chooses once with
// kernels() (or fast_paths() where it has only an SSE2 kernel). A kernel changes
// only the arithmetic's width: the same inputs, work memory, file reads and
// writes and result codes as the plain path, and bit-identical pixels. The plain
// loop stays the reference; a test switch caps the level so that all three can
// be compared on one machine.
// TVX_SSE2 is set where the compiler targets SSE2 (the 32-bit build with -msse2
// and every x86-64 build). TVX_AVX2 is set on x86 with GCC or Clang: the AVX2
// kernels are compiled per function (TVX_AVX2_FN, target("avx2")), so the rest
// of the build keeps its flags, and run only when the CPU has AVX2 and the system
// saves the YMM registers. A MinGW build assembles every vector move unaligned
// (GCC cannot align spills on Win64) or, without that assembler option, defines
// TVX_NO_AVX2. Functions marked TVX_AVX2_FN call only each other and
// intrinsics; a lambda inside one does not inherit the target, so they use none.
#pragma once

#if defined(__SSE2__)
#define TVX_SSE2 1
#include <emmintrin.h>
#else
#define TVX_SSE2 0
#endif

#if TVX_SSE2 && (defined(__GNUC__) || defined(__clang__)) && !defined(TVX_NO_AVX2)
#define TVX_AVX2 1
#define TVX_AVX2_FN __attribute__((target("avx2")))
#include <immintrin.h>
#else
#define TVX_AVX2 0
#endif

#include <cstdint>

namespace tvx::core {

// The kernel levels, each including the one before it.
enum class Kernels { Plain, Sse2, Avx2 };

// The best level the build and the CPU allow (detected once), lowered by the test cap.
Kernels kernels() noexcept;

// True when the SSE2 kernels run (kernels() is Sse2 or higher).
inline bool fast_paths() noexcept { return kernels() != Kernels::Plain; }

// True when the AVX2 kernels run.
inline bool avx2_paths() noexcept { return kernels() == Kernels::Avx2; }

// Test-only cap on kernels(): Plain runs every plain reference path, Avx2 lifts
// the cap. Set while no call runs (workers read it, they never write it).
void test_set_kernels(Kernels cap) noexcept;

// Test-only switch: while set, every step runs its plain reference path
// (test_set_kernels(Plain)); cleared, the cap is lifted.
inline void test_use_plain_paths(bool plain) noexcept { test_set_kernels(plain ? Kernels::Plain : Kernels::Avx2); }

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

#if TVX_AVX2
TVX_AVX2_FN inline __m256i load16(const std::uint16_t* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
TVX_AVX2_FN inline void store16(std::uint16_t* p, __m256i v) noexcept {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
#endif

}  // namespace tvx::core
