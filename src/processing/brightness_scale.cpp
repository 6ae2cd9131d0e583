// Steps 9 and 11: brightness scale correction. Up to three operations chosen by
// selector bits: a histogram clip that cuts the sparsely populated ends of the
// value range, a linear stretch of what remains to the full 12-bit scale, and a
// circular-arc tone curve that brings the block's median to mid-grey.
#include <cmath>
#include <cstdio>

#include "core/intmath.h"
#include "core/simd.h"
#include "processing/steps.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kLevels = core::kSampleLevels;
constexpr std::int32_t kTop = core::kSampleMax;
// The tone curve's median is limited to this range so that the arc's center
// stays off the data range; an empty histogram counts as the lower limit.
constexpr std::int32_t kToneMedianLow = 552;
constexpr std::int32_t kToneMedianHigh = 2044;
// 4095 x 2047.5 + 2047.5^2 rounded down: the numerator of the arc's center is
// this less the median squared (the arc passes through (m, 2047.5)).
constexpr std::int32_t kArcNumerator = 12576768;

struct ClipLimits {
    std::int32_t low;
    std::int32_t high;
};

// Walks down and up from the median to the first value held by fewer pixels
// than the few-side and many-side thresholds (percent of the pixel count).
ClipLimits clip_limits(const std::uint32_t* histogram, std::uint64_t n, double many_side, double few_side) {
    const double nd = static_cast<double>(n);
    const std::int64_t t_many = core::trunc_to_i64_unchecked(nd * many_side * 0.01);
    const std::int64_t t_few = core::trunc_to_i64_unchecked(nd * few_side * 0.01);
    std::int32_t m = histogram_median(histogram, n);
    if (m < 0) m = 0;
    ClipLimits c{0, kTop};
    for (std::int32_t v = m; v >= 0; --v)
        if (static_cast<std::int64_t>(histogram[v]) < t_few) {
            c.low = v;
            break;
        }
    for (std::int32_t v = m; v <= kTop; ++v)
        if (static_cast<std::int64_t>(histogram[v]) < t_many) {
            c.high = v;
            break;
        }
    return c;
}

// Pixel as the signed value the scale operations work on.
inline std::int32_t value_of(std::uint16_t px) { return core::as_s16(px); }

void build_histogram(ImageView block, std::uint32_t* histogram) {
    for (std::uint32_t i = 0; i < kLevels; ++i) histogram[i] = 0;
    const std::size_t n = block.pixels();
    for (std::size_t i = 0; i < n; ++i) ++histogram[core::clamp_to_12bit(value_of(block.data[i]))];
}

}  // namespace

std::int32_t histogram_median(const std::uint32_t* histogram, std::uint64_t total) {
    const std::uint64_t half = total / 2;
    std::uint64_t cumulative = 0;
    for (std::uint32_t v = 0; v < kLevels; ++v) {
        cumulative += histogram[v];
        if (cumulative >= half) return static_cast<std::int32_t>(v);
    }
    return -1;
}

void clip_histogram(ImageView block, double many_side, double few_side) {
    const std::size_t n = block.pixels();
    std::uint32_t histogram[kLevels];
    build_histogram(block, histogram);
    const auto [low, high] = clip_limits(histogram, n, many_side, few_side);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t v = value_of(block.data[i]);
        if (v < low)
            block.data[i] = static_cast<std::uint16_t>(low);
        else if (v > high)
            block.data[i] = static_cast<std::uint16_t>(high);
    }
}

namespace {

// One pixel of the stretch, in single precision as the unit computes it.
inline std::uint16_t stretch_value(std::int32_t v, float lo, float span) {
    const float fv = static_cast<float>(v);
    constexpr float top = static_cast<float>(kTop);
    const float r = (fv * top - lo * top) / span + 0.5f;
    return core::clamp_to_12bit(core::trunc_to_i32_or_min(r));
}

// The arc through (0, 0) and (4095, 4095) that passes through (m, 2047.5), with
// the median limited so that the circle's center stays off the data range.
void tone_table(std::int32_t median, std::uint16_t* table) {
    const std::int32_t m = core::clamp_to(median, kToneMedianLow, kToneMedianHigh);
    const double k = static_cast<double>(kArcNumerator - m * m) / static_cast<double>(kTop - 2 * m);
    const double p = static_cast<double>(kTop) - k;
    for (std::uint32_t v = 0; v < kLevels; ++v) {
        const double vd = v;
        table[v] = core::clamp_to_12bit(core::trunc_to_i32_or_min(p + std::sqrt(p * p + 2.0 * k * vd - vd * vd)));
    }
}

}  // namespace

void stretch_linear(ImageView block) {
    const std::size_t n = block.pixels();
    float lo = static_cast<float>(kTop);
    float hi = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = static_cast<float>(value_of(block.data[i]));
        if (v < lo) lo = v;
        if (v > hi) hi = v;
    }
    const float span = hi - lo;
    if (!(span > 0.0f)) {
        for (std::size_t i = 0; i < n; ++i) block.data[i] = 0;
        return;
    }
    // Tabulated over the data range; values outside it (never left by the earlier
    // steps) are computed one by one with the same formula.
    std::uint16_t table[kLevels];
    for (std::int32_t v = 0; v < static_cast<std::int32_t>(kLevels); ++v) table[v] = stretch_value(v, lo, span);
    for (std::size_t i = 0; i < n; ++i) {
        const std::int32_t v = value_of(block.data[i]);
        block.data[i] = (v >= 0 && v < static_cast<std::int32_t>(kLevels)) ? table[v] : stretch_value(v, lo, span);
    }
}

void apply_tone_curve(ImageView block) {
    const std::size_t n = block.pixels();
    std::uint32_t histogram[kLevels];
    build_histogram(block, histogram);
    std::int32_t m = histogram_median(histogram, n);
    if (m < 0) m = kToneMedianLow;
    std::uint16_t table[kLevels];
    tone_table(m, table);
    for (std::size_t i = 0; i < n; ++i) block.data[i] = table[core::clamp_to_12bit(value_of(block.data[i]))];
}

namespace {

// The three operations are per-value functions of the pixel, and each later
// operation needs only the histogram of the values before it, which follows from
// the previous histogram and function. So when every pixel is in the data range,
// the chosen operations are composed into one table from one histogram and the
// block is read and written once; the result is the same as running them one by one.
void compose_tables(std::uint8_t selector, std::uint32_t* histogram, std::uint64_t n, double many_side,
                    double few_side, std::uint16_t* table) {
    for (std::uint32_t v = 0; v < kLevels; ++v) table[v] = static_cast<std::uint16_t>(v);
    std::uint16_t step[kLevels];
    const auto apply = [&]() {
        std::uint32_t moved[kLevels] = {};
        for (std::uint32_t v = 0; v < kLevels; ++v) {
            table[v] = step[table[v]];
            moved[step[v]] += histogram[v];
        }
        for (std::uint32_t v = 0; v < kLevels; ++v) histogram[v] = moved[v];
    };
    if (selector & kScaleClip) {
        const auto [low, high] = clip_limits(histogram, n, many_side, few_side);
        for (std::int32_t v = 0; v < static_cast<std::int32_t>(kLevels); ++v)
            step[v] = static_cast<std::uint16_t>(core::clamp_to(v, low, high));
        apply();
    }
    if (selector & kScaleStretch) {
        float lo = static_cast<float>(kTop), hi = 0.0f;
        for (std::uint32_t v = 0; v < kLevels; ++v)
            if (histogram[v] != 0) {
                const float fv = static_cast<float>(v);
                if (fv < lo) lo = fv;
                if (fv > hi) hi = fv;
            }
        const float span = hi - lo;
        for (std::int32_t v = 0; v < static_cast<std::int32_t>(kLevels); ++v)
            step[v] = span > 0.0f ? stretch_value(v, lo, span) : 0;
        apply();
    }
    if (selector & kScaleToneCurve) {
        std::int32_t m = histogram_median(histogram, n);
        if (m < 0) m = kToneMedianLow;
        tone_table(m, step);
        apply();
    }
}

#if TVX_SSE2
// The block is known to hold 12-bit values: one histogram (four partial ones,
// so that runs of equal values do not wait on each other), the composed table,
// and one pass through it.
void scale_brightness_sse2(std::uint8_t selector, ImageView block, double many_side, double few_side,
                           const diag::Trace& trace) noexcept {
    trace.print(trace.param, "Xray Many Side PRECENTAGE[%lf]\n", many_side);
    trace.print(trace.param, "Xray Few  Side PRECENTAGE[%lf]\n", few_side);
    selector &= kScaleClip | kScaleStretch | kScaleToneCurve;
    if (selector == 0) return;
    std::uint32_t part[4][kLevels] = {};
    const std::uint32_t w = block.width;
    for (std::uint32_t y = 0; y < block.height; ++y) {
        const std::uint16_t* row = block.row(y);
        std::uint32_t x = 0;
        for (; x + 4 <= w; x += 4) {
            ++part[0][row[x]];
            ++part[1][row[x + 1]];
            ++part[2][row[x + 2]];
            ++part[3][row[x + 3]];
        }
        for (; x < w; ++x) ++part[0][row[x]];
    }
    std::uint32_t histogram[kLevels];
    for (std::uint32_t v = 0; v < kLevels; ++v) histogram[v] = part[0][v] + part[1][v] + part[2][v] + part[3][v];
    std::uint16_t table[kLevels];
    compose_tables(selector, histogram, static_cast<std::uint64_t>(w) * block.height, many_side, few_side, table);
    alignas(16) std::uint16_t at[8];
    for (std::uint32_t y = 0; y < block.height; ++y) {
        std::uint16_t* row = block.row(y);
        std::uint32_t x = 0;
        for (; x + 8 <= w; x += 8) {
            _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x)));
            for (std::uint32_t k = 0; k < 8; ++k) row[x + k] = table[at[k]];
        }
        for (; x < w; ++x) row[x] = table[row[x]];
    }
}
#endif

}  // namespace

void correct_brightness_scale(std::uint8_t selector, ImageView block, double many_side, double few_side,
                              const diag::Trace& trace) {
#if TVX_SSE2
    if (core::fast_paths() && core::twelve_bit(block))
        return scale_brightness_sse2(selector, block, many_side, few_side, trace);
#endif
    trace.print(trace.param, "Xray Many Side PRECENTAGE[%lf]\n", many_side);
    trace.print(trace.param, "Xray Few  Side PRECENTAGE[%lf]\n", few_side);
    selector &= kScaleClip | kScaleStretch | kScaleToneCurve;
    if (selector == 0) return;
    const std::size_t n = block.pixels();
    // Two partial histograms, so that runs of equal values do not wait on each other.
    std::uint32_t histogram[kLevels] = {};
    std::uint32_t partial[kLevels] = {};
    std::uint16_t widest = 0;
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const std::uint16_t a = block.data[i];
        const std::uint16_t b = block.data[i + 1];
        widest = static_cast<std::uint16_t>(widest | a | b);
        ++histogram[a & 0xFFFu];
        ++partial[b & 0xFFFu];
    }
    for (; i < n; ++i) {
        widest = static_cast<std::uint16_t>(widest | block.data[i]);
        ++histogram[block.data[i] & 0xFFFu];
    }
    for (std::uint32_t v = 0; v < kLevels; ++v) histogram[v] += partial[v];
    if (widest >= kLevels) {
        if (selector & kScaleClip) clip_histogram(block, many_side, few_side);
        if (selector & kScaleStretch) stretch_linear(block);
        if (selector & kScaleToneCurve) apply_tone_curve(block);
        return;
    }
    std::uint16_t table[kLevels];
    compose_tables(selector, histogram, n, many_side, few_side, table);
    for (i = 0; i < n; ++i) block.data[i] = table[block.data[i] & 0xFFFu];
}

}  // namespace tvx::processing
