// Column binning: adjacent columns of each strip are summed (not averaged), so
// the bit depth and the maximum grow with the bin size.
#include "tavirex.h"
#include "tomo_processing/corrections.h"

namespace tvx::tomo {

std::int32_t bin_columns(TomoFrame& f, std::uint16_t pixel) noexcept {
    if (pixel == 0) return TAVIREX_OK;
    // The sum of `pixel` values of bit_depth bits must fit in 16 bits.
    if (f.bit_depth > 16 || pixel > (1u << (16 - f.bit_depth))) return TAVIREX_E_RANGE;
    if (!holds_blocks(f, f.strips)) return TAVIREX_E_RANGE;

    const std::uint32_t w = f.width, h = f.height, nw = w / pixel;
    // Packed in place: every output pixel lies at or before the first pixel it is summed from.
    std::uint16_t* out = f.data;
    for (std::uint32_t t = 0; t < f.strips; ++t) {
        for (std::uint32_t r = 0; r < h; ++r) {
            const std::uint16_t* in = f.block(t).row(r);
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
