// Chip gaps: the three chips of a strip sit with physical openings between
// them. The outer chips are moved against the middle one and the rows between
// the last good rows on either side of each opening are interpolated.
#include <cstring>

#include "core/intmath.h"
#include "tavirex.h"
#include "tomo_processing/corrections.h"

namespace tvx::tomo {
namespace {

// Rows lo + 1 .. hi - 1 become the straight line from row lo to row hi.
void fill_between(const core::ImageView& strip, std::int64_t lo, std::int64_t hi) {
    const std::uint16_t* a = strip.row(static_cast<std::uint32_t>(lo));
    const std::uint16_t* b = strip.row(static_cast<std::uint32_t>(hi));
    const double span = static_cast<double>(hi - lo);
    for (std::int64_t r = lo + 1; r < hi; ++r) {
        std::uint16_t* row = strip.row(static_cast<std::uint32_t>(r));
        const std::int64_t below = r - lo, above = hi - lo - (r - lo);
        for (std::uint32_t c = 0; c < strip.width; ++c) {
            const double v = static_cast<double>(b[c] * below) / span + static_cast<double>(a[c] * above) / span;
            row[c] = static_cast<std::uint16_t>(core::trunc_to_i64_unchecked(v));
        }
    }
}

}  // namespace

std::int32_t fill_chip_gaps(TomoFrame& f, const ChipGapParams& p) noexcept {
    const std::int64_t h = f.height, chip = kChipRows;
    const std::int64_t g0 = p.ccd_gap0, g1 = p.ccd_gap1;
    const std::int64_t lo1 = chip - 1 - g0 - p.bottom_cut0, hi1 = chip + p.top_cut1;
    const std::int64_t lo2 = 2 * chip - 1 - p.bottom_cut1, hi2 = 2 * chip + g1 + p.top_cut2;
    // Both gaps and the good rows around them must lie inside the strip.
    if (lo1 < 0 || lo2 < 0 || hi1 > h - 1 || hi2 > h - 1 || !holds_blocks(f, f.strips)) return TAVIREX_E_RANGE;

    const std::size_t row_bytes = sizeof(std::uint16_t) * f.width;
    for (std::uint32_t t = 0; t < f.strips; ++t) {
        const core::ImageView strip = f.block(t);
        std::memmove(strip.row(0), strip.row(static_cast<std::uint32_t>(g0)),
                     row_bytes * static_cast<std::size_t>(chip - g0));
        std::memmove(strip.row(static_cast<std::uint32_t>(2 * chip + g1)), strip.row(static_cast<std::uint32_t>(2 * chip)),
                     row_bytes * static_cast<std::size_t>(h - 2 * chip - g1));
        fill_between(strip, lo1, hi1);
        fill_between(strip, lo2, hi2);
    }
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
