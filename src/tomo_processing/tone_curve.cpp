// The tone curve of the joined image: a circular arc from (0, 0) to (M, M) whose
// center lies on the line x + y = M, chosen to carry the attention level (the
// level below which the given share of the pixels lies) to the target level.
// The center is kept outside the square 0..M so that the curve rises steadily;
// when it has to be moved, the curve becomes the quarter circle through the
// corners and no longer meets the target.
#include <algorithm>
#include <cmath>

#include "core/alloc.h"
#include "core/intmath.h"
#include "tavirex.h"
#include "tomo_processing/finishing.h"

namespace tvx::tomo {
namespace {

// " [CHGTONECURVE] darkest %5.1lf %% of all pixels" and "  (before inversion)
// set to pixel value %d." in code page 932.
constexpr const char kShareText[] =
    " [CHGTONECURVE] \x91S\x89\xE6\x91" "f\x90\x94\x82\xCC\x96\xBE\x82\xE9\x82\xB3\x89\xBA\x88\xCA %5.1lf %%\x82\xCC\n";
constexpr const char kTargetText[] =
    "  (\x94\x92\x8D\x95\x94\xBD\x93]\x91O)  \x89\xE6\x91" "f\x82\xCC\x92l\x82\xF0 %d \x82\xC9\x82\xB7\x82\xE9\x81" "B\n";

constexpr std::uint16_t kMaxTarget = 255;

// A level is truncated, then limited to 0..M (core::trunc_clamped_to). A square
// root of a value a rounding step below zero is taken as 0.
inline double root(double v) { return std::sqrt(v > 0.0 ? v : 0.0); }

}  // namespace

bool tone_target_ok(std::uint16_t target, double percentage, const diag::Trace& trace) noexcept {
    trace.print(trace.param, kShareText, percentage);
    trace.print(trace.param, kTargetText, static_cast<int>(target));
    return target <= kMaxTarget;
}

bool tone_table(std::uint32_t* table, std::size_t n, const TomoFrame& frame, std::uint16_t target, double percentage,
                const diag::Trace& trace) noexcept {
    const std::uint32_t top = frame.max_value;
    // The 8-bit target scaled to the data's bit depth.
    const std::int64_t t = core::trunc_to_i64_saturating(std::pow(2.0, frame.bit_depth - 8.0) * target);
    const std::int64_t count = percent_of_pixels(n, percentage);
    std::uint32_t attention = top;
    std::uint64_t run = 0;
    for (std::uint32_t v = 0; v <= top; ++v)
        if (static_cast<std::int64_t>(run += table[v]) > count) {
            attention = v;
            break;
        }
    trace.print(trace.check_state, "Attn[ %ld ] Target[ %ld ]\n", static_cast<long>(attention), static_cast<long>(t));
    if (attention == t) return false;
    trace.print(trace.check_state, "tg stay ; %ld\n", static_cast<long>(t));

    // Center (a, M - a) of the circle through (0, 0), (M, M) and (A, T), in single precision.
    const double ad = attention, td = static_cast<double>(t), md = top;
    float a = static_cast<float>((ad * ad + td * td - 2.0 * md * td) / (2.0 * (ad - td)));
    if (a < md / 2.0) {
        // Center up and left of the square: the curve sags and darkens the middle tones.
        if (a > 0.0f) {
            a = 0.0f;
            trace.print(trace.check_state, " ### a -> 0\n");
        }
        const double r = md - a;
        for (std::uint32_t v = 0; v <= top; ++v) {
            const double p = v;
            table[v] = core::trunc_clamped_to(r - root(r * r + 2.0 * a * p - p * p), top);
        }
    } else {
        // Center down and right of the square: the curve bulges and lifts them.
        if (a < md) {
            a = static_cast<float>(top);
            trace.print(trace.check_state, " ### a -> %d\n", static_cast<int>(top));
        }
        const double r = md - a;
        for (std::uint32_t v = 0; v <= top; ++v) {
            const double p = v;
            table[v] = core::trunc_clamped_to(root(r * r + 2.0 * a * p - p * p) + r, top);
        }
    }
    return true;
}

std::int32_t change_tone_curve(const TomoFrame& frame, std::uint16_t target, double percentage,
                               const diag::Trace& trace) noexcept {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    if (!tone_target_ok(target, percentage, trace)) return TAVIREX_E_RANGE;

    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    core::Buffer<std::uint32_t> table(frame.max_value + 1u);
    if (!table.ok()) return TAVIREX_E_NO_MEMORY;
    level_histogram(frame, table.data());
    if (tone_table(table.data(), n, frame, target, percentage, trace)) map_levels(frame, table.data());
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
