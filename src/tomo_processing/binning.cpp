// Column binning: adjacent columns of each strip are summed (not averaged), so
// the bit depth and the maximum grow with the bin size.
#include "core/simd.h"
#include "tavirex.h"
#include "tomo_processing/corrections.h"

namespace tvx::tomo {
namespace {

#if TVX_SSE2
// Pairs of columns of one row: out[j] = in[2j] + in[2j + 1] held at 65535, eight at
// a time. Each store lands at or before the sixteen pixels just read, so the row can
// be packed in place.
void bin_pairs(const std::uint16_t* in, std::uint16_t* out, std::uint32_t nw) {
    const __m128i low = _mm_set1_epi32(0xFFFF);
    const auto sums = [low](__m128i v) {
        // Even columns in the low halves, odd ones shifted there; the saturating sum
        // leaves the high halves 0, and the shifts turn it into a signed 16-bit value
        // that packs unchanged.
        const __m128i s = _mm_adds_epu16(_mm_and_si128(v, low), _mm_srli_epi32(v, 16));
        return core::low16_signed(s);
    };
    std::uint32_t j = 0;
    for (; j + 8 <= nw; j += 8) {
        const __m128i a = core::load8(in + 2 * j), b = core::load8(in + 2 * j + 8);
        core::store8(out + j, _mm_packs_epi32(sums(a), sums(b)));
    }
    for (; j < nw; ++j) {
        const std::uint32_t sum = std::uint32_t{in[2 * j]} + in[2 * j + 1];
        out[j] = static_cast<std::uint16_t>(sum > 0xFFFFu ? 0xFFFFu : sum);
    }
}
#endif

}  // namespace

std::int32_t bin_columns(TomoFrame& f, std::uint16_t pixel) noexcept {
    if (pixel == 0) return TAVIREX_OK;
    // The sum of `pixel` values of bit_depth bits must fit in 16 bits.
    if (f.bit_depth > 16 || pixel > (1u << (16 - f.bit_depth))) return TAVIREX_E_RANGE;
    if (!holds_blocks(f, f.strips)) return TAVIREX_E_RANGE;

    const std::uint32_t w = f.width, h = f.height, nw = w / pixel;
    // Packed in place: every output pixel lies at or before the first pixel it is summed from.
    std::uint16_t* out = f.data;
    const bool pairs_sse2 = pixel == 2 && core::fast_paths();
    for (std::uint32_t t = 0; t < f.strips; ++t) {
        for (std::uint32_t r = 0; r < h; ++r) {
            const std::uint16_t* in = f.block(t).row(r);
#if TVX_SSE2
            if (pairs_sse2) {
                bin_pairs(in, out, nw);
                out += nw;
                continue;
            }
#endif
            for (std::uint32_t j = 0; j < nw; ++j) {
                std::uint32_t sum = 0;
                for (std::uint32_t k = 0; k < pixel; ++k) sum += in[j * pixel + k];
                *out++ = static_cast<std::uint16_t>(sum > 0xFFFFu ? 0xFFFFu : sum);
            }
        }
    }
    std::uint16_t grow = 0;
    for (std::uint32_t left = pixel; left > 1; left = (left + 1) / 2) ++grow;
    const std::uint32_t max = static_cast<std::uint32_t>(f.max_value) * pixel;
    f.width = static_cast<std::uint16_t>(nw);
    f.bit_depth = static_cast<std::uint16_t>(f.bit_depth + grow);
    f.max_value = static_cast<std::uint16_t>(max > 0xFFFFu ? 0xFFFFu : max);
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
