// Step 10: contrast emphasis. A background level is estimated for every row
// and every column with an outlier-resistant mean, both profiles are smoothed
// with a moving average, and half their sum is subtracted from every pixel,
// which is then re-centered on mid-grey: slow brightness trends go, local
// contrast stays.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kStrip = 128;  // columns gathered at a time for the column statistics
constexpr double kBeyond16Bit = 70000.0;  // a limit past every 16-bit value, signed or not
constexpr std::int32_t kTop = core::kSampleMax;
constexpr std::int32_t kMidGrey = 2048;  // the level the emphasised block is centered on

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

#if TVX_SSE2
// Sum of the eight 16-bit lanes of a count vector, and of the four 32-bit lanes of a sum.
inline std::uint32_t lanes16(__m128i v) {
    alignas(16) std::uint16_t l[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(l), v);
    return static_cast<std::uint32_t>(l[0]) + l[1] + l[2] + l[3] + l[4] + l[5] + l[6] + l[7];
}
inline std::uint64_t lanes32(__m128i v) {
    alignas(16) std::uint32_t l[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(l), v);
    return static_cast<std::uint64_t>(l[0]) + l[1] + l[2] + l[3];
}
inline std::uint64_t lanes64(__m128i v) {
    alignas(16) std::uint64_t l[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(l), v);
    return l[0] + l[1];
}

// The column sums of the block's informative pixels, their squares and their count,
// and the same sums of each row; all integers, gathered in any order.
struct ColumnSums {
    std::uint32_t* sum;
    std::uint32_t* squares_part;  // squares of the last kChunk rows at most
    std::uint64_t* squares;
    std::uint16_t* count;
};

// Informative pixels of eight (neither 0 nor 4095), as an all-ones mask.
inline __m128i informative8(__m128i v, __m128i top) {
    const __m128i zero = _mm_setzero_si128();
    return _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi16(v, zero), _mm_cmpeq_epi16(v, top)), _mm_cmpeq_epi16(zero, zero));
}

// One row's moments, added into the column sums as well.
Moments row_moments(const std::uint16_t* row, std::uint32_t width, ColumnSums& c) {
    const __m128i top = _mm_set1_epi16(core::kSampleMax), ones = _mm_set1_epi16(1), zero = _mm_setzero_si128();
    __m128i sum = zero, squares = zero, wide_squares = zero, count = zero;
    std::uint32_t x = 0, n = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const __m128i keep = informative8(v, top);
        const __m128i kv = _mm_and_si128(keep, v);
        sum = _mm_add_epi32(sum, _mm_madd_epi16(kv, ones));
        squares = _mm_add_epi32(squares, _mm_madd_epi16(kv, kv));  // below 2^31 for 64 steps
        count = _mm_sub_epi16(count, keep);
        if (++n == 64) {
            wide_squares = _mm_add_epi64(wide_squares, _mm_unpacklo_epi32(squares, zero));
            wide_squares = _mm_add_epi64(wide_squares, _mm_unpackhi_epi32(squares, zero));
            squares = zero, n = 0;
        }
        __m128i* s = reinterpret_cast<__m128i*>(c.sum + x);
        _mm_storeu_si128(s, _mm_add_epi32(_mm_loadu_si128(s), _mm_unpacklo_epi16(kv, zero)));
        _mm_storeu_si128(s + 1, _mm_add_epi32(_mm_loadu_si128(s + 1), _mm_unpackhi_epi16(kv, zero)));
        const __m128i lo = _mm_mullo_epi16(kv, kv), hi = _mm_mulhi_epu16(kv, kv);
        __m128i* q = reinterpret_cast<__m128i*>(c.squares_part + x);
        _mm_storeu_si128(q, _mm_add_epi32(_mm_loadu_si128(q), _mm_unpacklo_epi16(lo, hi)));
        _mm_storeu_si128(q + 1, _mm_add_epi32(_mm_loadu_si128(q + 1), _mm_unpackhi_epi16(lo, hi)));
        __m128i* k = reinterpret_cast<__m128i*>(c.count + x);
        _mm_storeu_si128(k, _mm_sub_epi16(_mm_loadu_si128(k), keep));
    }
    wide_squares = _mm_add_epi64(wide_squares, _mm_unpacklo_epi32(squares, zero));
    wide_squares = _mm_add_epi64(wide_squares, _mm_unpackhi_epi32(squares, zero));
    Moments m;
    m.sum = static_cast<std::int64_t>(lanes32(sum));
    m.squares = static_cast<std::int64_t>(lanes64(wide_squares));
    m.count = lanes16(count);
    for (; x < width; ++x) {
        const std::uint32_t v = row[x];
        const std::uint32_t keep = keep_mask(v);
        const std::uint32_t kv = v & (0u - keep);
        m.sum += kv;
        m.squares += static_cast<std::int64_t>(kv) * kv;
        m.count += keep;
        c.sum[x] += kv;
        c.squares_part[x] += kv * kv;
        c.count[x] = static_cast<std::uint16_t>(c.count[x] + keep);
    }
    return m;
}

#if TVX_AVX2
// row_moments sixteen at a time (the same integers, added in another order); the
// rest of the row goes to row_moments.
TVX_AVX2_FN Moments row_moments_avx2(const std::uint16_t* row, std::uint32_t width, ColumnSums& c) {
    const __m256i top = _mm256_set1_epi16(core::kSampleMax), ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256(), all = _mm256_cmpeq_epi16(zero, zero);
    __m256i sum = zero, squares = zero, wide_squares = zero, count = zero;
    std::uint32_t x = 0, n = 0;
    for (; x + 16 <= width; x += 16) {
        const __m256i v = core::load16(row + x);
        const __m256i keep =
            _mm256_andnot_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, zero), _mm256_cmpeq_epi16(v, top)), all);
        const __m256i kv = _mm256_and_si256(keep, v);
        sum = _mm256_add_epi32(sum, _mm256_madd_epi16(kv, ones));
        squares = _mm256_add_epi32(squares, _mm256_madd_epi16(kv, kv));  // below 2^31 for 64 steps
        count = _mm256_sub_epi16(count, keep);
        if (++n == 64) {
            wide_squares = _mm256_add_epi64(wide_squares, _mm256_unpacklo_epi32(squares, zero));
            wide_squares = _mm256_add_epi64(wide_squares, _mm256_unpackhi_epi32(squares, zero));
            squares = zero, n = 0;
        }
        const __m256i k0 = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(kv));
        const __m256i k1 = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(kv, 1));
        __m256i* s = reinterpret_cast<__m256i*>(c.sum + x);
        _mm256_storeu_si256(s, _mm256_add_epi32(_mm256_loadu_si256(s), k0));
        _mm256_storeu_si256(s + 1, _mm256_add_epi32(_mm256_loadu_si256(s + 1), k1));
        __m256i* q = reinterpret_cast<__m256i*>(c.squares_part + x);
        _mm256_storeu_si256(q, _mm256_add_epi32(_mm256_loadu_si256(q), _mm256_mullo_epi32(k0, k0)));
        _mm256_storeu_si256(q + 1, _mm256_add_epi32(_mm256_loadu_si256(q + 1), _mm256_mullo_epi32(k1, k1)));
        core::store16(c.count + x, _mm256_sub_epi16(core::load16(c.count + x), keep));
    }
    wide_squares = _mm256_add_epi64(wide_squares, _mm256_unpacklo_epi32(squares, zero));
    wide_squares = _mm256_add_epi64(wide_squares, _mm256_unpackhi_epi32(squares, zero));
    ColumnSums rest{c.sum + x, c.squares_part + x, c.squares + x, c.count + x};
    Moments m = row_moments(row + x, width - x, rest);
    m.sum += static_cast<std::int64_t>(lanes32(_mm256_castsi256_si128(sum))) + static_cast<std::int64_t>(lanes32(_mm256_extracti128_si256(sum, 1)));
    m.squares += static_cast<std::int64_t>(lanes64(_mm256_castsi256_si128(wide_squares)) +
                                           lanes64(_mm256_extracti128_si256(wide_squares, 1)));
    m.count += lanes16(_mm256_castsi256_si128(count)) + lanes16(_mm256_extracti128_si256(count, 1));
    return m;
}

// The final subtraction of one row sixteen at a time, as the SSE2 loop below
// does it eight at a time; returns the columns done.
TVX_AVX2_FN std::uint32_t subtract_backgrounds_avx2(std::uint16_t* row, const double* xave, double ya,
                                                    std::uint32_t width) {
    const __m256i mid = _mm256_set1_epi16(kMidGrey), top = _mm256_set1_epi16(core::kSampleMax);
    const __m256i zero = _mm256_setzero_si256();
    const __m256d a = _mm256_set1_pd(ya);
    std::uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const double* xa = xave + x;
        const __m128i d0 = _mm256_cvttpd_epi32(_mm256_add_pd(a, _mm256_loadu_pd(xa)));
        const __m128i d1 = _mm256_cvttpd_epi32(_mm256_add_pd(a, _mm256_loadu_pd(xa + 4)));
        const __m128i d2 = _mm256_cvttpd_epi32(_mm256_add_pd(a, _mm256_loadu_pd(xa + 8)));
        const __m128i d3 = _mm256_cvttpd_epi32(_mm256_add_pd(a, _mm256_loadu_pd(xa + 12)));
        const __m256i d = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_packs_epi32(d0, d1)), _mm_packs_epi32(d2, d3), 1);
        const __m256i r = _mm256_add_epi16(_mm256_sub_epi16(core::load16(row + x), _mm256_srai_epi16(d, 1)), mid);
        core::store16(row + x, _mm256_min_epi16(_mm256_max_epi16(r, zero), top));
    }
    return x;
}
#endif

// One row's moments at the chosen level.
Moments moments_at(bool avx2, const std::uint16_t* row, std::uint32_t width, ColumnSums& c) {
#if TVX_AVX2
    if (avx2) return row_moments_avx2(row, width, c);
#endif
    (void)avx2;
    return row_moments(row, width, c);
}

// The band of 12-bit values a pixel must lie in to count: informative and within
// low .. high, as the limits just below and just above (values 0 .. 4096).
inline void band_limits(const Band& b, std::int16_t* below, std::int16_t* above) {
    *below = static_cast<std::int16_t>(std::clamp(b.low, 1, kTop) - 1);
    *above = static_cast<std::int16_t>(std::clamp(b.high, 0, kTop - 1) + 1);
}

// The moving average of step 10, two outputs at a time, each sum in the plain order.
void moving_average(const double* values, double* out, std::int32_t n, std::int32_t half) noexcept {
    const std::int32_t span = 2 * half + 1;
    const auto plain = [&](std::int32_t i) {
        const std::int32_t j0 = i - half < 0 ? 0 : i - half;
        const std::int32_t j1 = i + half > n - 1 ? n - 1 : i + half;
        double sum = 0.0;
        for (std::int32_t j = j0; j <= j1; ++j) sum += values[j];
        out[i] = sum / static_cast<double>(j1 - j0 + 1);
    };
    std::int32_t i = 0;
    for (; i < n && i < half; ++i) plain(i);
    // Full windows: lane k of a pair sums the window of output i + k from left to right.
    const __m128d count = _mm_set1_pd(static_cast<double>(span));
    for (; i + 8 <= n - half; i += 8) {
        __m128d a0 = _mm_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
        const double* v = values + i - half;
        for (std::int32_t t = 0; t < span; ++t) {
            a0 = _mm_add_pd(a0, _mm_loadu_pd(v + t));
            a1 = _mm_add_pd(a1, _mm_loadu_pd(v + t + 2));
            a2 = _mm_add_pd(a2, _mm_loadu_pd(v + t + 4));
            a3 = _mm_add_pd(a3, _mm_loadu_pd(v + t + 6));
        }
        _mm_storeu_pd(out + i, _mm_div_pd(a0, count));
        _mm_storeu_pd(out + i + 2, _mm_div_pd(a1, count));
        _mm_storeu_pd(out + i + 4, _mm_div_pd(a2, count));
        _mm_storeu_pd(out + i + 6, _mm_div_pd(a3, count));
    }
    for (; i < n; ++i) plain(i);
}

// smooth_average with its buffer given: the same text and moving average.
void smooth_in_place(double* values, std::uint32_t length, std::uint16_t range, double* tmp, const diag::Trace& trace) {
    trace.print(trace.param, "SMOOTHRANGE[%d]\n", static_cast<int>(range));
    const std::int32_t n = std::max<std::int32_t>(core::as_s16(length), 0);
    moving_average(values, tmp, n, range / 2);
    std::memcpy(values, tmp, sizeof(double) * static_cast<std::size_t>(n));
}

// Row statistics (and, in the same pass, the column sums), each row's band sum
// right after its moments while the row is in cache, a second pass for the
// columns' band sums, and the final subtraction. The sums are the same integers
// as the plain step's, and every floating value is formed by the same expression.
void emphasise_contrast_sse2(ImageView block, double sigma_factor, std::uint16_t smooth_range,
                             const diag::Trace& trace, void* work) noexcept {
    trace.print(trace.param, "SIGMARANGE[%lf]\n", sigma_factor);
    const std::uint32_t width = block.width, height = block.height;
    core::Carve carve(work);
    double* const xave = carve.take<double>(width);
    double* const xvarp = carve.take<double>(width);
    double* const yave = carve.take<double>(height);
    double* const yvarp = carve.take<double>(height);
    double* const tmp = carve.take<double>(std::max(width, height));
    ColumnSums c;
    c.squares = carve.take<std::uint64_t>(width);
    c.sum = carve.take<std::uint32_t>(2 * std::size_t{width});
    c.squares_part = c.sum + width;
    c.count = carve.take<std::uint16_t>(3 * std::size_t{width});
    std::int16_t* below = reinterpret_cast<std::int16_t*>(c.count + width);
    std::int16_t* above = below + width;
    std::memset(c.squares, 0, sizeof(std::uint64_t) * width);
    std::memset(c.sum, 0, sizeof(std::uint32_t) * 2 * width);
    std::memset(c.count, 0, sizeof(std::uint16_t) * width);

    const bool avx2 = core::avx2_paths();
    const __m128i ones = _mm_set1_epi16(1);
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint16_t* row = block.row(y);
        const Band b = band_of(moments_at(avx2, row, width, c), sigma_factor);
        if ((y + 1) % kChunk == 0 || y + 1 == height)
            for (std::uint32_t x = 0; x < width; ++x) c.squares[x] += c.squares_part[x], c.squares_part[x] = 0;
        std::int16_t lo, hi;
        band_limits(b, &lo, &hi);
        const __m128i vlo = _mm_set1_epi16(lo), vhi = _mm_set1_epi16(hi);
        __m128i sum = _mm_setzero_si128(), count = sum;
        std::uint32_t x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            const __m128i keep = _mm_and_si128(_mm_cmpgt_epi16(v, vlo), _mm_cmpgt_epi16(vhi, v));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_and_si128(keep, v), ones));
            count = _mm_sub_epi16(count, keep);
        }
        std::uint64_t s = lanes32(sum);
        std::uint32_t n = lanes16(count);
        for (; x < width; ++x) {
            const std::int32_t v = row[x];
            const bool keep = v > lo && v < hi;
            s += keep ? static_cast<std::uint32_t>(v) : 0u;
            n += keep ? 1u : 0u;
        }
        yvarp[y] = b.variance;
        yave[y] = mean_of(static_cast<std::int64_t>(s), n);
    }
    smooth_in_place(yave, height, smooth_range, tmp, trace);

    for (std::uint32_t x = 0; x < width; ++x) {
        Moments m;
        m.sum = c.sum[x];
        m.squares = static_cast<std::int64_t>(c.squares[x]);
        m.count = c.count[x];
        const Band b = band_of(m, sigma_factor);
        xvarp[x] = b.variance;
        band_limits(b, below + x, above + x);
        c.sum[x] = 0;
        c.count[x] = 0;
    }
    const __m128i zero = _mm_setzero_si128();
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint16_t* row = block.row(y);
        std::uint32_t x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            const __m128i keep = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(below + x))),
                                               _mm_cmpgt_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x)), v));
            const __m128i kv = _mm_and_si128(keep, v);
            __m128i* s = reinterpret_cast<__m128i*>(c.sum + x);
            _mm_storeu_si128(s, _mm_add_epi32(_mm_loadu_si128(s), _mm_unpacklo_epi16(kv, zero)));
            _mm_storeu_si128(s + 1, _mm_add_epi32(_mm_loadu_si128(s + 1), _mm_unpackhi_epi16(kv, zero)));
            __m128i* k = reinterpret_cast<__m128i*>(c.count + x);
            _mm_storeu_si128(k, _mm_sub_epi16(_mm_loadu_si128(k), keep));
        }
        for (; x < width; ++x) {
            const std::int32_t v = row[x];
            const bool keep = v > below[x] && v < above[x];
            c.sum[x] += keep ? static_cast<std::uint32_t>(v) : 0u;
            c.count[x] = static_cast<std::uint16_t>(c.count[x] + (keep ? 1 : 0));
        }
    }
    for (std::uint32_t x = 0; x < width; ++x) xave[x] = mean_of(c.sum[x], c.count[x]);
    smooth_in_place(xave, width, smooth_range, tmp, trace);

    // Both backgrounds are means of 12-bit pixels, so ya + xave lies in 0 .. 8190 and
    // its truncation packs to 16 bits unchanged; halving a value >= 0 is a shift.
    const __m128i mid = _mm_set1_epi16(kMidGrey), top = _mm_set1_epi16(core::kSampleMax);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint16_t* row = block.row(y);
        const double ya = yave[y];
        const __m128d a = _mm_set1_pd(ya);
        std::uint32_t x = 0;
#if TVX_AVX2
        if (avx2) x = subtract_backgrounds_avx2(row, xave, ya, width);
#endif
        for (; x + 8 <= width; x += 8) {
            const double* xa = xave + x;
            const __m128i d0 = _mm_cvttpd_epi32(_mm_add_pd(a, _mm_loadu_pd(xa)));
            const __m128i d1 = _mm_cvttpd_epi32(_mm_add_pd(a, _mm_loadu_pd(xa + 2)));
            const __m128i d2 = _mm_cvttpd_epi32(_mm_add_pd(a, _mm_loadu_pd(xa + 4)));
            const __m128i d3 = _mm_cvttpd_epi32(_mm_add_pd(a, _mm_loadu_pd(xa + 6)));
            const __m128i d = _mm_packs_epi32(_mm_unpacklo_epi64(d0, d1), _mm_unpacklo_epi64(d2, d3));
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            const __m128i r = _mm_add_epi16(_mm_sub_epi16(v, _mm_srai_epi16(d, 1)), mid);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_min_epi16(_mm_max_epi16(r, zero), top));
        }
        for (; x < width; ++x) {
            const std::int32_t d = core::as_s16(static_cast<std::uint32_t>(static_cast<std::int32_t>(ya + xave[x])));
            row[x] = core::clamp_to_12bit(core::as_s16(static_cast<std::uint32_t>(core::as_s16(row[x]) - d / 2 + kMidGrey)));
        }
    }
}
#endif

}  // namespace

std::size_t contrast_work(std::uint32_t width, std::uint32_t height) noexcept {
    using core::Carve;
    const std::size_t w = width, h = height;
    return 2 * Carve::bytes<double>(w) + 2 * Carve::bytes<double>(h) + Carve::bytes<double>(std::max(w, h)) +
           Carve::bytes<std::uint64_t>(w) + Carve::bytes<std::uint32_t>(2 * w) + Carve::bytes<std::uint16_t>(3 * w);
}

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
#if TVX_SSE2
    if (core::fast_paths()) {
        moving_average(values, tmp.data(), n, half);
        for (std::int32_t i = 0; i < n; ++i) values[i] = tmp[static_cast<std::size_t>(i)];
        return TAVIREX_OK;
    }
#endif
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
                                const diag::Trace& trace, void* work) {
#if TVX_SSE2
    if (work != nullptr) return emphasise_contrast_sse2(block, sigma_factor, smooth_range, trace, work), TAVIREX_OK;
    if (core::fast_paths() && core::twelve_bit(block)) {
        core::Buffer<std::uint8_t> own(contrast_work(block.width, block.height));
        if (!own.ok()) {
            trace.print(trace.param, "SIGMARANGE[%lf]\n", sigma_factor);
            trace.failure("Err:Cannot malloc for xave.\n");
            return TAVIREX_E_NO_MEMORY;
        }
        emphasise_contrast_sse2(block, sigma_factor, smooth_range, trace, own.data());
        return TAVIREX_OK;
    }
#endif
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

    const bool narrow = core::twelve_bit(block);
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
            row[x] = core::clamp_to_12bit(v);
        }
    }
    return TAVIREX_OK;
}

}  // namespace tvx::processing
