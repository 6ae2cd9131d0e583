// Brightness of the joined image: the histogram clip and stretch to the full
// range, and the choice between it and the tone curve (tone_curve.cpp).
#include <algorithm>

#include "core/alloc.h"
#include "core/intmath.h"
#include "tavirex.h"
#include "tomo_processing/finishing.h"

namespace tvx::tomo {
namespace {

// "Threshold pixel count, bright [ %ld ]" and "..., dark [ %ld ]" in code page 932.
constexpr const char kBrightCount[] = "\xE8\x87\x92l\x89\xE6\x91" "f\x90\x94\x81@\x96\xBE[ %ld ]\n";
constexpr const char kDarkCount[] = "\xE8\x87\x92l\x89\xE6\x91" "f\x90\x94\x81@\x88\xC3[ %ld ]\n";

}  // namespace

void level_histogram(const TomoFrame& frame, std::uint32_t* counts) noexcept {
    const std::uint16_t top = frame.max_value;
    std::fill(counts, counts + top + 1, 0u);
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    for (std::size_t i = 0; i < n; ++i) ++counts[std::min(frame.data[i], top)];
}

std::int64_t percent_of_pixels(std::size_t n, double percent) noexcept {
    return core::trunc_to_i64_saturating(static_cast<double>(n) * percent * 0.01);
}

void map_levels(const TomoFrame& frame, const std::uint32_t* table) noexcept {
    const std::uint32_t top = frame.max_value;
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    for (std::size_t i = 0; i < n; ++i)
        frame.data[i] = static_cast<std::uint16_t>(table[std::min<std::uint32_t>(frame.data[i], top)]);
}

void scale_table(const std::uint32_t* counts, std::uint32_t* table, std::size_t n, std::uint32_t top,
                 std::int64_t bright, std::int64_t dark) noexcept {
    // Median: the lowest level at which the running count reaches half the pixels.
    std::uint32_t m = 0;
    std::uint64_t run = counts[0];
    while (run < n / 2) run += counts[++m];
    // Clip levels: the first level outward that more pixels hold than the threshold,
    // searched from the ends of the range; beside the median when there is none.
    std::uint32_t lo = m == 0 ? 0 : m - 1;
    for (std::uint32_t v = 0; v < m; ++v)
        if (std::int64_t{counts[v]} > dark) {
            lo = v;
            break;
        }
    std::uint32_t hi = top;
    if (top > m) {
        hi = m + 1;
        for (std::uint32_t v = top; v > m; --v)
            if (std::int64_t{counts[v]} > bright) {
                hi = v;
                break;
            }
    }
    // Clip and stretch as one table over the levels (the counts are no longer read).
    // hi equals lo only when M is 0, where every level is 0.
    const double span = hi - lo;
    for (std::uint32_t v = 0; v <= top; ++v) {
        const double s = hi > lo ? static_cast<double>(std::clamp(v, lo, hi) - lo) / span * top : 0.0;
        table[v] = core::trunc_clamped_to(s, top);
    }
}

namespace {

// Pixel-count thresholds of the scaling, printed as the scaling goes.
struct Thresholds {
    std::int64_t bright, dark;
};
Thresholds thresholds(std::size_t n, double many_side, double few_side, const diag::Trace& trace) {
    const Thresholds t{percent_of_pixels(n, many_side), percent_of_pixels(n, few_side)};
    trace.print(trace.check_state, kBrightCount, static_cast<long>(t.bright));
    trace.print(trace.check_state, kDarkCount, static_cast<long>(t.dark));
    return t;
}

// Scaling and tone curve in one pass over the image. The tone curve's histogram is
// that of the scaled image: every level's count moved to the level the scaling
// maps it to. The two tables are then chained and the image mapped once.
std::int32_t scale_and_tone(const TomoFrame& frame, const BrightnessParams& params, const diag::Trace& trace) {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    const Thresholds limits = thresholds(n, params.many_side, params.few_side, trace);
    const std::size_t levels = frame.max_value + std::size_t{1};
    core::Buffer<std::uint32_t> work(3 * levels);
    if (!work.ok()) return TAVIREX_E_NO_MEMORY;
    std::uint32_t* counts = work.data();
    std::uint32_t* scale = counts + levels;
    std::uint32_t* tone = scale + levels;
    level_histogram(frame, counts);
    scale_table(counts, scale, n, frame.max_value, limits.bright, limits.dark);
    std::int32_t rc = TAVIREX_E_RANGE;
    if (tone_target_ok(params.target, params.percentage, trace)) {
        rc = TAVIREX_OK;
        std::fill(tone, tone + levels, 0u);
        for (std::size_t v = 0; v < levels; ++v) tone[scale[v]] += counts[v];
        if (tone_table(tone, n, frame, params.target, params.percentage, trace))
            for (std::size_t v = 0; v < levels; ++v) scale[v] = tone[scale[v]];
    }
    map_levels(frame, scale);
    return rc;
}

}  // namespace

std::int32_t scale_brightness(const TomoFrame& frame, double many_side, double few_side,
                              const diag::Trace& trace) noexcept {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    const Thresholds limits = thresholds(n, many_side, few_side, trace);
    const std::uint32_t top = frame.max_value;
    core::Buffer<std::uint32_t> counts(top + 1u);
    if (!counts.ok()) return TAVIREX_E_NO_MEMORY;
    level_histogram(frame, counts.data());
    scale_table(counts.data(), counts.data(), n, top, limits.bright, limits.dark);
    map_levels(frame, counts.data());
    return TAVIREX_OK;
}

std::int32_t correct_brightness(const TomoFrame& frame, const BrightnessParams& params,
                                const diag::Trace& trace) noexcept {
    const bool scaling = params.select & kSelectScaling, curve = params.select & kSelectToneCurve;
    if (scaling && curve) return scale_and_tone(frame, params, trace);
    if (scaling) {
        const std::int32_t rc = scale_brightness(frame, params.many_side, params.few_side, trace);
        if (rc != TAVIREX_OK) return rc;
    }
    if (curve) return change_tone_curve(frame, params.target, params.percentage, trace);
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
