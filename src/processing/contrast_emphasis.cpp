// Step 10: contrast emphasis. A background level is estimated for every row
// and every column with an outlier-resistant mean, both profiles are smoothed
// with a moving average, and half their sum is subtracted from every pixel,
// which is then re-centred on mid-grey: slow brightness trends go, local
// contrast stays.
#include <cmath>
#include <cstdio>

#include "api/context.h"
#include "core/alloc.h"
#include "core/intmath.h"
#include "processing/arith.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kStrip = 128;  // columns gathered at a time for the column statistics

// Pixels at either end of the scale (nothing or saturated) carry no background.
inline bool informative(std::int32_t v) { return v != 0 && v != 4095; }

struct Moments {
    std::int64_t sum = 0;
    std::int64_t squares = 0;
    std::uint32_t count = 0;
};

struct Band {
    double mean = 0.0;
    double variance = 0.0;
    double spread = 0.0;  // sqrt(variance) x sigma factor
};

inline void add(Moments& m, std::int32_t v) {
    if (!informative(v)) return;
    m.sum += v;
    m.squares += static_cast<std::int64_t>(v) * v;
    ++m.count;
}

inline Band band_of(const Moments& m, double sigma_factor) {
    Band b;
    if (m.count != 0) {
        b.mean = static_cast<double>(m.sum) / m.count;
        b.variance = static_cast<double>(m.squares) / m.count - b.mean * b.mean;
    }
    b.spread = std::sqrt(b.variance) * sigma_factor;
    return b;
}

inline bool inside(const Band& b, std::int32_t v) {
    const double dv = v;
    return informative(v) && b.mean - b.spread <= dv && dv <= b.mean + b.spread;
}

inline double mean_of(std::int64_t sum, std::uint32_t count) {
    return count == 0 ? 0.0 : static_cast<double>(sum) / count;
}

// Column backgrounds, gathered row by row over strips of columns so that the
// image is read in memory order. Integer sums, so the order does not matter.
void column_backgrounds(ImageView block, double sigma_factor, double* ave, double* varp) {
    for (std::uint32_t x0 = 0; x0 < block.width; x0 += kStrip) {
        const std::uint32_t len = block.width - x0 < kStrip ? block.width - x0 : kStrip;
        Moments m[kStrip];
        for (std::uint32_t y = 0; y < block.height; ++y) {
            const std::uint16_t* row = block.row(y) + x0;
            for (std::uint32_t i = 0; i < len; ++i) add(m[i], core::as_s16(row[i]));
        }
        Band b[kStrip];
        for (std::uint32_t i = 0; i < len; ++i) b[i] = band_of(m[i], sigma_factor);
        std::int64_t sum[kStrip] = {};
        std::uint32_t count[kStrip] = {};
        for (std::uint32_t y = 0; y < block.height; ++y) {
            const std::uint16_t* row = block.row(y) + x0;
            for (std::uint32_t i = 0; i < len; ++i) {
                const std::int32_t v = core::as_s16(row[i]);
                if (inside(b[i], v)) {
                    sum[i] += v;
                    ++count[i];
                }
            }
        }
        for (std::uint32_t i = 0; i < len; ++i) {
            ave[x0 + i] = mean_of(sum[i], count[i]);
            varp[x0 + i] = b[i].variance;
        }
    }
}

}  // namespace

double clipped_mean(const std::uint16_t* first, std::uint32_t count, std::size_t stride, double sigma_factor,
                    double* variance) {
    Moments m;
    for (std::uint32_t i = 0; i < count; ++i) add(m, core::as_s16(first[i * stride]));
    const Band b = band_of(m, sigma_factor);
    std::int64_t sum = 0;
    std::uint32_t n = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::int32_t v = core::as_s16(first[i * stride]);
        if (inside(b, v)) {
            sum += v;
            ++n;
        }
    }
    *variance = b.variance;
    return mean_of(sum, n);
}

std::int32_t smooth_average(double* values, std::int16_t length, std::uint16_t range) {
    if (DebugFlags.DebugParam) std::fprintf(stderr, "SMOOTHRANGE[%d]\n", static_cast<int>(range));
    const std::int32_t n = length > 0 ? length : 0;
    core::Buffer<double> tmp(static_cast<std::size_t>(n));
    if (!tmp.ok()) {
        if (DebugFlags.DebugProcess) std::fputs("Err:Cannot malloc for tmp.\n", stderr);
        return TAVIREX_E_NO_MEMORY;
    }
    const std::int32_t half = range / 2;
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t j0 = i - half < 0 ? 0 : i - half;
        const std::int32_t j1 = i + half > n - 1 ? n - 1 : i + half;
        double sum = 0.0;
        for (std::int32_t j = j0; j <= j1; ++j) sum += values[j];
        tmp[static_cast<std::size_t>(i)] = sum / static_cast<double>(j1 - j0 + 1);
    }
    for (std::int32_t i = 0; i < n; ++i) values[i] = tmp[static_cast<std::size_t>(i)];
    return TAVIREX_OK;
}

std::int32_t emphasise_contrast(ImageView block, double sigma_factor, std::uint16_t smooth_range) {
    if (DebugFlags.DebugParam) std::fprintf(stderr, "SIGMARANGE[%lf]\n", sigma_factor);
    const auto fail = [](const char* message) {
        if (DebugFlags.DebugProcess) std::fputs(message, stderr);
        return TAVIREX_E_NO_MEMORY;
    };
    core::Buffer<double> xave(block.width);
    if (!xave.ok()) return fail("Err:Cannot malloc for xave.\n");
    core::Buffer<double> xvarp(block.width);
    if (!xvarp.ok()) return fail("Err:Cannot malloc for xvarp.\n");
    core::Buffer<double> yave(block.height);
    if (!yave.ok()) return fail("Err:Cannot malloc for yave.\n");
    core::Buffer<double> yvarp(block.height);
    if (!yvarp.ok()) return fail("Err:Cannot malloc for yvarp.\n");

    for (std::uint32_t y = 0; y < block.height; ++y)
        yave[y] = clipped_mean(block.row(y), block.width, 1, sigma_factor, &yvarp[y]);
    std::int32_t rc = smooth_average(yave.data(), core::as_s16(block.height), smooth_range);
    if (rc != TAVIREX_OK) {
        if (DebugFlags.DebugProcess) std::fputs("Err in Smooth_Ave(yave).\n", stderr);
        return rc;
    }
    column_backgrounds(block, sigma_factor, xave.data(), xvarp.data());
    rc = smooth_average(xave.data(), core::as_s16(block.width), smooth_range);
    if (rc != TAVIREX_OK) {
        if (DebugFlags.DebugProcess) std::fputs("Err in Smooth_Ave(xave).\n", stderr);
        return rc;
    }

    for (std::uint32_t y = 0; y < block.height; ++y) {
        std::uint16_t* row = block.row(y);
        const double ya = yave[y];
        for (std::uint32_t x = 0; x < block.width; ++x) {
            const std::int32_t d = core::as_s16(static_cast<std::uint32_t>(trunc_to_i32(ya + xave[x])));
            const std::int32_t v = core::as_s16(static_cast<std::uint32_t>(core::as_s16(row[x]) - d / 2 + 2048));
            row[x] = clamp12(v);
        }
    }
    return TAVIREX_OK;
}

}  // namespace tvx::processing
