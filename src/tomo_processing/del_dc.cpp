// Dark offset removal. Each X-ray strip is read with a dark block right after
// it; the dark level of a pixel in the X strip is predicted from its dark pixel
// by a straight line fitted, chip by chip, over the calibration pair at the end
// of the frame. The X strips are then packed to the start of the buffer.
#include <cstring>

#include "core/intmath.h"
#include "core/simd.h"
#include "tavirex.h"
#include "tomo_processing/corrections.h"

namespace tvx::tomo {
namespace {

constexpr std::uint32_t kChips = 3;
constexpr std::size_t kDarkValues = 65536;

struct Line {
    double a = 0;  // slope
    double b = 0;  // intercept
};

// Least-squares line X = a x dark + b over the sample grid of one chip: rows
// first + 1, first + 6, ... below first + 767, columns 12, 22, ... below width - 12.
Line fit_chip(const TomoFrame& f, std::uint32_t chip) {
    const std::uint32_t n = f.strips;
    const core::ImageView x = f.block(2 * n);
    const core::ImageView dark = f.block(2 * n + 1);
    const std::uint32_t first = chip * kChipRows;
    std::uint64_t count = 0, su = 0, sv = 0, suu = 0, suv = 0;
    for (std::uint32_t r = first + 1; r < first + kChipRows - 1; r += 5) {
        for (std::uint32_t c = 12; c + 12 < f.width; c += 10) {
            const std::uint64_t u = dark.at(c, r);
            const std::uint64_t v = x.at(c, r);
            ++count, su += u, sv += v, suu += u * u, suv += u * v;
        }
    }
    const double N = static_cast<double>(count), Su = static_cast<double>(su), Sv = static_cast<double>(sv);
    const double Suu = static_cast<double>(suu), Suv = static_cast<double>(suv);
    Line line;
    const double d = N * Suu - Su * Su;
    if (d == 0) {
        // Without samples nothing is subtracted.
        line.b = count == 0 ? 0 : Sv / N;
        return line;
    }
    line.b = (Suu * Sv - Su * Suv) / d;
    line.a = (Suv - line.b * Su) / Suu;
    return line;
}

// The offset predicted for dark value d: 0..max, rounded half up.
std::uint16_t predicted_offset(std::uint32_t d, const Line& line, std::uint16_t max) {
    const double p = static_cast<double>(d) * line.a + line.b;
    if (p < 0) return 0;
    if (p > max) return max;
    const double whole = static_cast<double>(core::trunc_to_i64_unchecked(p));
    return static_cast<std::uint16_t>(whole + (p - whole >= 0.5 ? 1 : 0));
}

// X less the offset of its dark value, as signed 16-bit, limited to 0..max.
inline std::uint16_t corrected(std::uint16_t x, std::uint16_t offset, std::int32_t max) {
    const std::int32_t diff = core::as_s16(static_cast<std::uint32_t>(x - offset));
    return static_cast<std::uint16_t>(core::clamp_to<std::int32_t>(diff, 0, max));
}

#if TVX_SSE2
// The least and greatest dark value in rows `first` .. `end` - 1 of every strip.
void dark_range(const TomoFrame& f, std::uint32_t first, std::uint32_t end, std::uint32_t* lo, std::uint32_t* hi) {
    // Unsigned order through signed minimums and maximums of flipped values.
    __m128i least = _mm_set1_epi16(0x7FFF), most = _mm_set1_epi16(static_cast<short>(0x8000));
    std::uint32_t tail_lo = 0xFFFF, tail_hi = 0;
    for (std::uint32_t t = 0; t < f.strips; ++t) {
        const core::ImageView dark = f.block(2 * t + 1);
        for (std::uint32_t r = first; r < end; ++r) {
            const std::uint16_t* d = dark.row(r);
            std::uint32_t c = 0;
            for (; c + 8 <= f.width; c += 8) {
                const __m128i v = core::flip_sign16(core::load8(d + c));
                least = _mm_min_epi16(least, v);
                most = _mm_max_epi16(most, v);
            }
            for (; c < f.width; ++c) {
                tail_lo = d[c] < tail_lo ? d[c] : tail_lo;
                tail_hi = d[c] > tail_hi ? d[c] : tail_hi;
            }
        }
    }
    alignas(16) std::uint16_t l[8], h[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(l), core::flip_sign16(least));
    _mm_store_si128(reinterpret_cast<__m128i*>(h), core::flip_sign16(most));
    for (std::uint32_t k = 0; k < 8; ++k) {
        tail_lo = l[k] < tail_lo ? l[k] : tail_lo;
        tail_hi = h[k] > tail_hi ? h[k] : tail_hi;
    }
    *lo = tail_lo;
    *hi = tail_hi;
}

// One row of corrected pixels, eight at a time; the offsets are fetched one by one.
void correct_row(const std::uint16_t* x, const std::uint16_t* dark, std::uint16_t* out, std::uint32_t w,
                 const std::uint16_t* offset, std::int32_t max) {
    // Differences are signed 16-bit: a limit above 32767 never bites.
    const __m128i top = _mm_set1_epi16(static_cast<short>(max > 0x7FFF ? 0x7FFF : max));
    const __m128i zero = _mm_setzero_si128();
    std::uint32_t c = 0;
    for (; c + 8 <= w; c += 8) {
        __m128i o = _mm_cvtsi32_si128(offset[dark[c]]);
        o = _mm_insert_epi16(o, offset[dark[c + 1]], 1);
        o = _mm_insert_epi16(o, offset[dark[c + 2]], 2);
        o = _mm_insert_epi16(o, offset[dark[c + 3]], 3);
        o = _mm_insert_epi16(o, offset[dark[c + 4]], 4);
        o = _mm_insert_epi16(o, offset[dark[c + 5]], 5);
        o = _mm_insert_epi16(o, offset[dark[c + 6]], 6);
        o = _mm_insert_epi16(o, offset[dark[c + 7]], 7);
        const __m128i diff = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + c)), o);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), _mm_min_epi16(_mm_max_epi16(diff, zero), top));
    }
    for (; c < w; ++c) out[c] = corrected(x[c], offset[dark[c]], max);
}
#endif

}  // namespace

std::int32_t subtract_dark_offset(TomoFrame& f) noexcept {
    if (f.height != kChips * kChipRows || !holds_blocks(f, 2 * static_cast<std::size_t>(f.strips) + 2))
        return TAVIREX_E_RANGE;
    // The offset is a function of the dark value alone: tabulated once per chip.
    core::Buffer<std::uint16_t> offset(kDarkValues);
    if (!offset.ok()) return TAVIREX_E_NO_MEMORY;
    Line lines[kChips];
    for (std::uint32_t z = 0; z < kChips; ++z) lines[z] = fit_chip(f, z);

    const std::int32_t max = f.max_value;
    for (std::uint32_t z = 0; z < kChips; ++z) {
        const std::uint32_t first = z * kChipRows, end = first + kChipRows;
#if TVX_SSE2
        if (core::fast_paths()) {
            // Only the dark values that occur are tabulated.
            std::uint32_t lo = 0, hi = 0;
            dark_range(f, first, end, &lo, &hi);
            for (std::uint32_t d = lo; d <= hi; ++d) offset[d] = predicted_offset(d, lines[z], f.max_value);
            for (std::uint32_t t = 0; t < f.strips; ++t) {
                const core::ImageView x = f.block(2 * t), dark = f.block(2 * t + 1), out = f.block(t);
                for (std::uint32_t r = first; r < end; ++r)
                    correct_row(x.row(r), dark.row(r), out.row(r), f.width, offset.data(), max);
            }
            continue;
        }
#endif
        for (std::uint32_t d = 0; d < kDarkValues; ++d) offset[d] = predicted_offset(d, lines[z], f.max_value);
        // Strip t is written to block t after blocks 2t and 2t + 1 were read: the
        // blocks of later strips and the calibration pair lie beyond it.
        for (std::uint32_t t = 0; t < f.strips; ++t) {
            const core::ImageView x = f.block(2 * t), dark = f.block(2 * t + 1), out = f.block(t);
            for (std::uint32_t r = first; r < end; ++r) {
                const std::uint16_t* xr = x.row(r);
                const std::uint16_t* dr = dark.row(r);
                std::uint16_t* o = out.row(r);
                for (std::uint32_t c = 0; c < f.width; ++c) o[c] = corrected(xr[c], offset[dr[c]], max);
            }
        }
    }
    return TAVIREX_OK;
}

std::int32_t drop_dark_blocks(TomoFrame& f) noexcept {
    if (!holds_blocks(f, 2 * static_cast<std::size_t>(f.strips))) return TAVIREX_E_RANGE;
    const std::size_t size = block_pixels(f, 1);
    for (std::uint32_t t = 1; t < f.strips; ++t)
        std::memcpy(f.block(t).data, f.block(2 * t).data, size * sizeof(std::uint16_t));
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
