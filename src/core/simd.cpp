#include "core/simd.h"

#include <atomic>

#if TVX_AVX2
#include <cpuid.h>
#endif

namespace tvx::core {
namespace {

Kernels Cap = Kernels::Avx2;  // set by tests while no call runs, like the allocation switch

#if TVX_AVX2
// AVX2 in the CPU, and the system saving the YMM registers on a switch (XCR0 bits 1 and 2).
bool cpu_has_avx2() noexcept {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(0, nullptr) < 7 || !__get_cpuid(1, &a, &b, &c, &d)) return false;
    if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return false;
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    if ((lo & 6u) != 6u) return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_AVX2) != 0;
}
#endif

// The best level of this build on this CPU; detected once (any thread may race to
// it: every one finds the same answer).
Kernels best() noexcept {
#if TVX_AVX2
    static std::atomic<int> level{-1};
    int l = level.load(std::memory_order_relaxed);
    if (l < 0) {
        l = static_cast<int>(cpu_has_avx2() ? Kernels::Avx2 : Kernels::Sse2);
        level.store(l, std::memory_order_relaxed);
    }
    return static_cast<Kernels>(l);
#elif TVX_SSE2
    return Kernels::Sse2;
#else
    return Kernels::Plain;
#endif
}

}  // namespace

Kernels kernels() noexcept {
    const Kernels b = best();
    return static_cast<int>(Cap) < static_cast<int>(b) ? Cap : b;
}

void test_set_kernels(Kernels cap) noexcept { Cap = cap; }

}  // namespace tvx::core
