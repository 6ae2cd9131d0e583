#include "device/line_clock.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "state/context.h"
#include "core/alloc.h"
#include "core/geometry.h"
#include "platform/file.h"
#include "tavirex.h"

namespace tvx::device {
namespace {

constexpr double kLineStep = 0.048;  // length units per line
// 25000 counts per second less one unit in the last place. Which way a count
// rounds depends on it, so the constant is kept bit for bit.
const double kCountsPerSecond = std::bit_cast<double>(std::uint64_t{0x40D869FFFFFFFFFF});
constexpr double kCountsPerMs = 25.0;
constexpr std::uint32_t kHalfLimitCeph = 2605;
// Line and profile buffers read 63 characters at a time.
constexpr int kProfileLine = 64;

}  // namespace

bool pass_layout(std::uint32_t code, PassLayout* layout) noexcept {
    if (code > kClockCodeCeph) return false;
    std::uint32_t half = kHalfLimitCeph;
    if (code < kClockCodeCeph) {
        const double h = static_cast<double>(300 / core::passes_of(code)) * 10.416666666666666;
        half = static_cast<std::uint32_t>(h);
        if (static_cast<double>(half) < h) ++half;
    }
    layout->lines = core::kLinesPerPass[code];
    layout->limit = 2 * half;
    return true;
}

std::int32_t read_speed_profile(const char* path, float* speeds, std::size_t capacity, std::size_t* count) noexcept {
    *count = 0;
    const platform::File f = platform::File::open(path, "r");
    if (!f) return TAVIREX_E_SPEED_PROFILE;
    char line[kProfileLine];
    std::size_t n = 0;
    while (n < capacity && std::fgets(line, sizeof line, f.get()) != nullptr) {
        const double value = std::strtod(line, nullptr);
        // Stored in single precision; a value beyond its range is stored as infinite.
        if (std::fabs(value) > std::numeric_limits<float>::max())
            speeds[n++] = value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
        else
            speeds[n++] = static_cast<float>(value);
    }
    *count = n;
    return n == 0 ? TAVIREX_E_SPEED_PROFILE : TAVIREX_OK;
}

std::int32_t line_clock_entries(const float* speeds, std::size_t n, std::uint16_t interval_ms, std::uint32_t limit,
                                std::uint16_t* out, std::uint32_t* count) noexcept {
    *count = 0;
    if (n == 0) return TAVIREX_OK;
    const double dt = interval_ms * 0.001;
    // End time of sample i.
    auto end_of = [dt](std::size_t i) { return static_cast<double>(i + 1) * dt; };
    auto v = [speeds](std::size_t i) { return static_cast<double>(speeds[i]); };
    const double last_end = end_of(n - 1);

    double t = 0.0;
    double previous_time = 0.0;
    std::int64_t previous_count = 0;
    std::size_t j = 0;
    std::uint32_t k = 0;
    for (;;) {
        t = t + kLineStep / v(j);
        if (t >= last_end) break;
        if (k >= limit) return TAVIREX_E_CLOCK_OVERFLOW;
        if (t >= end_of(j)) {
            // The step runs past sample j: finish it at the speeds of the samples that follow.
            if (j + 1 >= n) break;
            double boundary = end_of(j);
            double rest = kLineStep - (boundary - previous_time) * v(j);
            ++j;
            double step = rest / v(j);
            bool beyond_profile = false;
            while (step >= dt) {
                // No sample after the last one: the step ends after the profile does.
                if (j + 1 >= n) {
                    beyond_profile = true;
                    break;
                }
                boundary = end_of(j);
                rest = rest - v(j) * dt;
                step = rest / v(j + 1);
                ++j;
            }
            if (beyond_profile) break;
            t = boundary + step;
        }
        const double x = t * kCountsPerSecond;
        // Not a number or far beyond any clock count: no valid interval can follow.
        if (!(std::fabs(x) < 1e15)) return TAVIREX_E_CLOCK_RANGE;
        std::int64_t clock_count = static_cast<std::int64_t>(x);
        if (static_cast<std::int64_t>(10.0 * x) % 10 >= 5) ++clock_count;
        // The interval is checked whole: a long standstill must not wrap into the valid range.
        const std::int64_t d = clock_count - previous_count;
        if (d > kClockMax || d < kClockMin) return TAVIREX_E_CLOCK_RANGE;
        out[k] = static_cast<std::uint16_t>(d);
        previous_count = clock_count;
        previous_time = t;
        ++k;
    }
    if (k % 2 != 0) {
        out[k] = out[k - 1];
        ++k;
    }
    *count = k;
    return TAVIREX_OK;
}

std::int32_t insert_time_lag(std::uint16_t* fine, std::uint32_t k, std::uint16_t timelag_ms, std::uint32_t limit,
                             std::uint32_t* lag_entries) noexcept {
    *lag_entries = 0;
    const double wait = timelag_ms * kCountsPerMs;
    if (DebugFlags.DebugParam) {
        std::fprintf(stderr, "TIMELAG   [%d]\n", static_cast<int>(timelag_ms));
        std::fprintf(stderr, "dWaitHNum [%lf]\n", wait);
    }
    const auto total = static_cast<std::uint32_t>(std::ceil(wait - 0.5));  // halves round down
    const std::uint32_t rem = total % kClockMax;
    std::uint32_t q = total / kClockMax;
    if (rem > 0) ++q;
    const bool odd_adjusted = q % 2 != 0;
    if (odd_adjusted) ++q;
    if (q == 0) return TAVIREX_OK;
    if (k + q > limit) return TAVIREX_E_TIMELAG;

    for (std::uint32_t i = k; i > 0; --i) fine[q + i - 1] = fine[i - 1];
    for (std::uint32_t i = 0; i + 2 < q; ++i) fine[i] = kClockMax;
    std::uint32_t a;
    std::uint32_t b;
    if (rem > 0 && odd_adjusted) {
        a = rem / 2;
        b = rem - a;
    } else if (rem > 0) {
        a = (rem + kClockMax) / 2;
        b = rem + kClockMax - a;
    } else if (odd_adjusted) {
        a = 511;
        b = 512;
    } else {
        a = kClockMax;
        b = kClockMax;
    }
    fine[q - 2] = static_cast<std::uint16_t>(a);
    fine[q - 1] = static_cast<std::uint16_t>(b);
    *lag_entries = q;
    return TAVIREX_OK;
}

void apply_ramp(std::uint16_t* fine, std::uint32_t lag_entries, std::uint32_t k, std::uint32_t fine_count) noexcept {
    std::int32_t lo = kClockMax;
    std::int32_t hi = kClockMin;
    for (std::uint32_t i = 0; i < k; ++i) {
        const std::int32_t e = fine[lag_entries + i];
        if (e < lo)
            lo = e;
        else if (e > hi)
            hi = e;
    }
    const std::uint32_t first = lag_entries + k;
    if (first >= fine_count) return;
    const std::int32_t r = static_cast<std::int32_t>(fine_count - first);
    // A single ramp entry (never produced by the layouts) takes the low mark.
    const std::int32_t span = r > 1 ? r - 1 : 1;
    for (std::int32_t i = 0; i < r; ++i) fine[first + i] = static_cast<std::uint16_t>(lo + (i * (hi - lo)) / span);
}

void merge_pairs(const std::uint16_t* fine, std::uint32_t lines, std::uint16_t* out) noexcept {
    bool take_high = false;
    for (std::uint32_t i = 0; i < lines; ++i) {
        const std::uint16_t a = fine[2 * i];
        const std::uint16_t b = fine[2 * i + 1];
        if (a == b) {
            out[i] = a;
        } else if (!take_high) {
            out[i] = a < b ? a : b;
            take_high = true;
        } else {
            out[i] = a > b ? a : b;
            take_high = false;
        }
    }
}

std::int32_t build_pass(std::uint32_t code, const float* speeds, std::size_t n, std::uint16_t interval_ms,
                        std::uint16_t timelag_ms, std::uint16_t* out, std::uint16_t* segment_start,
                        std::uint16_t* segment_width) noexcept {
    PassLayout layout{4096, 0};
    const bool known = pass_layout(code, &layout);
    core::Buffer<std::uint16_t> fine(2 * static_cast<std::size_t>(layout.lines));
    if (!fine.ok()) return TAVIREX_E_NO_MEMORY;
    if (!known) return TAVIREX_E_RANGE;

    std::uint32_t k = 0;
    std::int32_t rc = line_clock_entries(speeds, n, interval_ms, layout.limit, fine.data(), &k);
    if (rc != 0) return rc;
    // No picture lines (a sample interval of 0, or a profile that never moves):
    // the module would expose nothing, so the set-up is refused.
    if (k == 0) return TAVIREX_E_RANGE;
    if (DebugFlags.DebugParam) std::fprintf(stderr, "NUM of CCD CNTL DATA for PICT[%4d]\n", static_cast<int>(k));
    std::uint32_t q = 0;
    rc = insert_time_lag(fine.data(), k, timelag_ms, layout.limit, &q);
    if (rc != 0) return rc;
    if (DebugFlags.DebugParam) std::fprintf(stderr, "Num of Cutted Pxl at Left Side[%4d]\n", static_cast<int>(q));
    apply_ramp(fine.data(), q, k, 2 * layout.lines);
    merge_pairs(fine.data(), layout.lines, out);
    *segment_start = static_cast<std::uint16_t>(q / 2);
    *segment_width = static_cast<std::uint16_t>(k / 2);
    return TAVIREX_OK;
}

std::int32_t build_clock_table(std::uint32_t code, std::uint32_t passes, float* speeds, std::size_t n,
                               std::uint16_t interval_ms, std::uint16_t timelag_ms, std::uint16_t* table,
                               std::uint32_t table_length, std::uint16_t* pass_table, std::uint16_t segment_start[4],
                               std::uint16_t segment_width[4]) noexcept {
    for (std::uint32_t i = 0; i < table_length; ++i) table[i] = kClockMin;
    PassLayout layout{};
    if (!pass_layout(code, &layout)) return TAVIREX_E_RANGE;
    if (passes < 1 || passes > core::kMaxPasses || static_cast<std::uint64_t>(passes) * layout.lines > table_length) return TAVIREX_E_RANGE;
    for (std::uint32_t p = 0; p < passes; ++p) {
        const std::int32_t rc = build_pass(code, speeds, n, interval_ms, timelag_ms, pass_table, &segment_start[p],
                                           &segment_width[p]);
        if (rc != 0) return rc;
        for (std::uint32_t i = 0; i < layout.lines; ++i) table[p * layout.lines + i] = pass_table[i];
        for (std::size_t a = 0, b = n; a + 1 < b; ++a, --b) {
            const float s = speeds[a];
            speeds[a] = speeds[b - 1];
            speeds[b - 1] = s;
        }
    }
    return TAVIREX_OK;
}

}  // namespace tvx::device
