// Steps 9 and 11: brightness scale correction. Up to three operations chosen by
// selector bits: a histogram clip that cuts the sparsely populated ends of the
// value range, a linear stretch of what remains to the full 12-bit scale, and a
// circular-arc tone curve that brings the block's median to mid-grey.
#include <cmath>
#include <cstdio>

#include "api/context.h"
#include "core/intmath.h"
#include "processing/arith.h"
#include "processing/steps.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kLevels = 4096;

// Pixel as the signed value the scale operations work on.
inline std::int32_t value_of(std::uint16_t px) { return core::as_s16(px); }

void build_histogram(ImageView block, std::uint32_t* histogram) {
    for (std::uint32_t i = 0; i < kLevels; ++i) histogram[i] = 0;
    const std::size_t n = block.pixels();
    for (std::size_t i = 0; i < n; ++i) ++histogram[table_index(value_of(block.data[i]))];
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
    const double nd = static_cast<double>(n);
    const std::int64_t t_many = core::trunc_to_int(nd * many_side * 0.01);
    const std::int64_t t_few = core::trunc_to_int(nd * few_side * 0.01);
    std::uint32_t histogram[kLevels];
    build_histogram(block, histogram);
    std::int32_t m = histogram_median(histogram, n);
    if (m < 0) m = 0;
    std::int32_t low = 0;
    for (std::int32_t v = m; v >= 0; --v)
        if (static_cast<std::int64_t>(histogram[v]) < t_few) {
            low = v;
            break;
        }
    std::int32_t high = 4095;
    for (std::int32_t v = m; v <= 4095; ++v)
        if (static_cast<std::int64_t>(histogram[v]) < t_many) {
            high = v;
            break;
        }
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
    const float r = (fv * 4095.0f - lo * 4095.0f) / span + 0.5f;
    return clamp12(trunc_to_i32(r));
}

}  // namespace

void stretch_linear(ImageView block) {
    const std::size_t n = block.pixels();
    float lo = 4095.0f;
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
    if (m < 0) m = 552;
    m = core::clamp_to(m, 552, 2044);
    const double k = static_cast<double>(12576768 - m * m) / static_cast<double>(4095 - 2 * m);
    const double p = 4095.0 - k;
    std::uint16_t table[kLevels];
    for (std::uint32_t v = 0; v < kLevels; ++v) {
        const double vd = v;
        table[v] = clamp12(trunc_to_i32(p + std::sqrt(p * p + 2.0 * k * vd - vd * vd)));
    }
    for (std::size_t i = 0; i < n; ++i) block.data[i] = table[table_index(value_of(block.data[i]))];
}

void correct_brightness_scale(std::uint8_t selector, ImageView block, double many_side, double few_side) {
    if (DebugFlags.DebugParam) {
        std::fprintf(stderr, "Xray Many Side PRECENTAGE[%lf]\n", many_side);
        std::fprintf(stderr, "Xray Few  Side PRECENTAGE[%lf]\n", few_side);
    }
    if (selector & kScaleClip) clip_histogram(block, many_side, few_side);
    if (selector & kScaleStretch) stretch_linear(block);
    if (selector & kScaleToneCurve) apply_tone_curve(block);
}

}  // namespace tvx::processing
