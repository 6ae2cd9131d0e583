// Step 10: contrast emphasis. A background level is estimated for every row
// and every column with an outlier-resistant mean, both profiles are smoothed
// with a moving average, and half their sum is subtracted from every pixel,
// which is then re-centred on mid-grey: slow brightness trends go, local
// contrast stays.
#include <cmath>
#include <cstdio>

#include "core/alloc.h"
#include "core/intmath.h"
#include "processing/arith.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kStrip = 128;  // columns gathered at a time for the column statistics
constexpr double kBeyond16Bit = 70000.0;  // a limit past every 16-bit value, signed or not
constexpr std::int32_t kMidGrey = 2048;  // the level the emphasised block is centred on

// Pixels at either end of the scale (nothing or saturated) carry no background.
inline bool informative(std::int32_t v) { return v != 0 && v != core::kSampleMax; }

struct Moments {
    std::int64_t sum = 0;
    std::int64_t squares = 0;
    std::uint32_t count = 0;
};

struct Band {
    double mean = 0.0;
    double variance = 0.0;
    // mu - s <= v <= mu + s, for whole v, as integer limits.
    std::int32_t low = 1;
    std::int32_t high = 0;
};

inline void add(Moments& m, std::int32_t v) {
    const std::int32_t keep = informative(v) ? 1 : 0;
    const std::int32_t kv = keep ? v : 0;
    m.sum += kv;
    m.squares += static_cast<std::int64_t>(kv) * kv;
    m.count += static_cast<std::uint32_t>(keep);
}

inline Band band_of(const Moments& m, double sigma_factor) {
    Band b;
    if (m.count != 0) {
        b.mean = static_cast<double>(m.sum) / m.count;
        b.variance = static_cast<double>(m.squares) / m.count - b.mean * b.mean;
    }
    const double spread = std::sqrt(b.variance) * sigma_factor;
    const double lo = std::ceil(b.mean - spread);
    const double hi = std::floor(b.mean + spread);
    // Pixels are 16-bit; limits beyond that range admit every value on that side,
    // so they are held to a bound past it before the integer conversion.
    if (lo == lo && hi == hi) {
        b.low = static_cast<std::int32_t>(lo < -kBeyond16Bit ? -kBeyond16Bit : (lo > kBeyond16Bit ? kBeyond16Bit : lo));
        b.high = static_cast<std::int32_t>(hi < -kBeyond16Bit ? -kBeyond16Bit : (hi > kBeyond16Bit ? kBeyond16Bit : hi));
    }
    return b;
}

inline bool inside(const Band& b, std::int32_t v) { return informative(v) && b.low <= v && v <= b.high; }

inline double mean_of(std::int64_t sum, std::uint32_t count) {
    return count == 0 ? 0.0 : static_cast<double>(sum) / count;
}

// Blocks of 12-bit pixels (the usual case) take 32-bit sums, with the squares
// gathered over at most 256 pixels before they are added to a 64-bit total, so
// nothing overflows; the sums are the same integers as in the general path.
constexpr std::uint32_t kChunk = 256;

bool twelve_bit(ImageView block) {
    std::uint16_t widest = 0;
    const std::size_t n = block.pixels();
    for (std::size_t i = 0; i < n; ++i) widest = static_cast<std::uint16_t>(widest | block.data[i]);
    return widest <= core::kSampleMax;
}

inline std::uint32_t keep_mask(std::uint32_t v) {
    return static_cast<std::uint32_t>(v != 0) & static_cast<std::uint32_t>(v != core::kSampleMax);
}

double row_background_narrow(const std::uint16_t* row, std::uint32_t width, double sigma_factor, double* variance) {
    Moments m;
    for (std::uint32_t x0 = 0; x0 < width; x0 += kChunk) {
        const std::size_t len = width - x0 < kChunk ? width - x0 : kChunk;
        std::uint32_t sum = 0, squares = 0, count = 0;
        for (std::size_t i = 0; i < len; ++i) {
            const std::uint32_t v = row[x0 + i];
            const std::uint32_t keep = keep_mask(v);
            const std::uint32_t kv = v & (0u - keep);
            sum += kv;
            squares += kv * kv;
            count += keep;
        }
        m.sum += sum;
        m.squares += squares;
        m.count += count;
    }
    const Band b = band_of(m, sigma_factor);
    std::uint32_t sum = 0, count = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::int32_t v = row[i];
        const std::uint32_t keep = keep_mask(static_cast<std::uint32_t>(v)) &
                                   static_cast<std::uint32_t>(b.low <= v) & static_cast<std::uint32_t>(v <= b.high);
        sum += static_cast<std::uint32_t>(v) & (0u - keep);
        count += keep;
    }
    *variance = b.variance;
    return mean_of(sum, count);
}

// The pixel when `keep` is 1, else 0, without a branch.
inline std::uint32_t masked(std::uint32_t v, std::uint32_t keep) { return v & (0u - keep); }
inline std::int64_t masked(std::int64_t v, std::uint32_t keep) { return keep ? v : 0; }

// Column backgrounds, gathered row by row over strips of columns so that the
// image is read in memory order. Integer sums, so the order does not matter.
// 12-bit blocks read unsigned pixels into 32-bit sums (squares gathered over
// kChunk rows fit them); other blocks read signed pixels into 64-bit sums.
// Both give the same integers.
template <typename Pixel, typename Sum>
void column_backgrounds(ImageView block, double sigma_factor, double* ave, double* varp) {
    for (std::uint32_t x0 = 0; x0 < block.width; x0 += kStrip) {
        const std::size_t len = block.width - x0 < kStrip ? block.width - x0 : kStrip;
        Sum sum[kStrip] = {};
        std::uint32_t count[kStrip] = {};
        std::int64_t squares[kStrip] = {};
        for (std::uint32_t y0 = 0; y0 < block.height; y0 += kChunk) {
            const std::uint32_t y1 = block.height - y0 < kChunk ? block.height : y0 + kChunk;
            Sum part[kStrip] = {};
            for (std::uint32_t y = y0; y < y1; ++y) {
                const Pixel* row = reinterpret_cast<const Pixel*>(block.row(y) + x0);
                for (std::size_t i = 0; i < len; ++i) {
                    const Sum v = static_cast<Sum>(row[i]);
                    const std::uint32_t keep = keep_mask(static_cast<std::uint32_t>(v));
                    const Sum kv = masked(v, keep);
                    sum[i] += kv;
                    part[i] += kv * kv;
                    count[i] += keep;
                }
            }
            for (std::size_t i = 0; i < len; ++i) squares[i] += static_cast<std::int64_t>(part[i]);
        }
        std::int32_t low[kStrip], high[kStrip];
        for (std::size_t i = 0; i < len; ++i) {
            Moments m;
            m.sum = static_cast<std::int64_t>(sum[i]);
            m.squares = squares[i];
            m.count = count[i];
            const Band b = band_of(m, sigma_factor);
            varp[x0 + i] = b.variance;
            low[i] = b.low;
            high[i] = b.high;
            sum[i] = 0;
            count[i] = 0;
        }
        for (std::uint32_t y = 0; y < block.height; ++y) {
            const Pixel* row = reinterpret_cast<const Pixel*>(block.row(y) + x0);
            for (std::size_t i = 0; i < len; ++i) {
                const std::int32_t v = row[i];
                const std::uint32_t keep = keep_mask(static_cast<std::uint32_t>(v)) &
                                           static_cast<std::uint32_t>(low[i] <= v) &
                                           static_cast<std::uint32_t>(v <= high[i]);
                sum[i] += masked(static_cast<Sum>(v), keep);
                count[i] += keep;
            }
        }
        for (std::size_t i = 0; i < len; ++i) ave[x0 + i] = mean_of(static_cast<std::int64_t>(sum[i]), count[i]);
    }
}

}  // namespace

double clipped_mean(const std::uint16_t* first, std::uint32_t count, std::size_t stride, double sigma_factor,
                    double* variance) {
    const std::int16_t* px = reinterpret_cast<const std::int16_t*>(first);
    Moments m;
    for (std::size_t i = 0; i < count; ++i) add(m, px[i * stride]);
    const Band b = band_of(m, sigma_factor);
    std::int64_t sum = 0;
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t v = px[i * stride];
        const std::uint32_t keep = inside(b, v) ? 1u : 0u;
        sum += keep ? v : 0;
        n += keep;
    }
    *variance = b.variance;
    return mean_of(sum, n);
}

std::int32_t smooth_average(double* values, std::int16_t length, std::uint16_t range, const diag::Trace& trace) {
    trace.print(trace.param, "SMOOTHRANGE[%d]\n", static_cast<int>(range));
    const std::int32_t n = length > 0 ? length : 0;
    core::Buffer<double> tmp(static_cast<std::size_t>(n));
    if (!tmp.ok()) {
        trace.failure("Err:Cannot malloc for tmp.\n");
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

std::int32_t emphasise_contrast(ImageView block, double sigma_factor, std::uint16_t smooth_range,
                                const diag::Trace& trace) {
    trace.print(trace.param, "SIGMARANGE[%lf]\n", sigma_factor);
    const auto fail = [&trace](const char* message) {
        trace.failure(message);
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

    const bool narrow = twelve_bit(block);
    for (std::uint32_t y = 0; y < block.height; ++y)
        yave[y] = narrow ? row_background_narrow(block.row(y), block.width, sigma_factor, &yvarp[y])
                         : clipped_mean(block.row(y), block.width, 1, sigma_factor, &yvarp[y]);
    std::int32_t rc = smooth_average(yave.data(), core::as_s16(block.height), smooth_range, trace);
    if (rc != TAVIREX_OK) {
        trace.failure("Err in Smooth_Ave(yave).\n");
        return rc;
    }
    if (narrow)
        column_backgrounds<std::uint16_t, std::uint32_t>(block, sigma_factor, xave.data(), xvarp.data());
    else
        column_backgrounds<std::int16_t, std::int64_t>(block, sigma_factor, xave.data(), xvarp.data());
    rc = smooth_average(xave.data(), core::as_s16(block.width), smooth_range, trace);
    if (rc != TAVIREX_OK) {
        trace.failure("Err in Smooth_Ave(xave).\n");
        return rc;
    }

    for (std::uint32_t y = 0; y < block.height; ++y) {
        std::uint16_t* row = block.row(y);
        const double ya = yave[y];
        for (std::size_t x = 0; x < block.width; ++x) {
            // Backgrounds are means of 16-bit pixels, so the sum always fits a 32-bit integer.
            const std::int32_t d = core::as_s16(static_cast<std::uint32_t>(static_cast<std::int32_t>(ya + xave[x])));
            const std::int32_t v = core::as_s16(static_cast<std::uint32_t>(core::as_s16(row[x]) - d / 2 + kMidGrey));
            row[x] = clamp12(v);
        }
    }
    return TAVIREX_OK;
}

}  // namespace tvx::processing
