#include "core/image.h"

#include "core/simd.h"

namespace tvx::core {

bool twelve_bit(ImageView view) noexcept {
    std::uint16_t rest = 0;
#if TVX_SSE2
    __m128i any = _mm_setzero_si128();
#endif
    for (std::uint32_t y = 0; y < view.height; ++y) {
        const std::uint16_t* row = view.row(y);
        std::uint32_t x = 0;
#if TVX_SSE2
        for (; x + 8 <= view.width; x += 8) any = _mm_or_si128(any, load8(row + x));
#endif
        for (; x < view.width; ++x) rest = static_cast<std::uint16_t>(rest | row[x]);
    }
#if TVX_SSE2
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xF000));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(any, high), _mm_setzero_si128())) != 0xFFFF) return false;
#endif
    return (rest & 0xF000) == 0;
}

}  // namespace tvx::core
