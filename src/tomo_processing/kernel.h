// The hot steps run their inner loops one of two ways: the plain C++ version,
// which is the reference, and an SSE2 version where the build targets SSE2
// (x86-64, and the 32-bit build with -msse2). A step uses the SSE2 version when
// it is built; tests run both on the same frames and compare them bit for bit.
#pragma once

namespace tvx::tomo {

enum class Kernel { plain, sse2 };

#if defined(__SSE2__)
inline constexpr Kernel kFastestKernel = Kernel::sse2;
#else
inline constexpr Kernel kFastestKernel = Kernel::plain;
#endif

// True when `k` asks for SSE2 and the build has it; otherwise the plain version runs.
constexpr bool use_sse2(Kernel k) noexcept { return k == Kernel::sse2 && kFastestKernel == Kernel::sse2; }

}  // namespace tvx::tomo
