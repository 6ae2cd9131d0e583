// Step 1: dark (DC) offset removal. The dark level of a column grows with the
// time the sensor integrated before it, which is modelled as the sum of the 64
// line-clock periods before the column. Each row's dark level is fitted as a
// straight line of that sum over the columns after the exposed part of every
// pass, and subtracted from the whole row.
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "platform/workers.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kWindow = 64;            // line-clock periods summed before a column
// The window in columns: the sample columns start a whole window after a pass's picture.
constexpr std::int32_t kWindowColumns = static_cast<std::int32_t>(kWindow);
constexpr std::uint32_t kPeriodBeforeBlock = 12;  // period counted for the lines before a block starts
// The sum at a block's first column: kWindow periods of kPeriodBeforeBlock.
constexpr std::uint32_t kSumAtBlockStart = kWindow * kPeriodBeforeBlock;
constexpr std::uint32_t kRowsPerBand = 64;  // fewest rows worth a worker

}  // namespace

void dark_profile(const DarkOffsetParams& p, std::uint32_t* profile, std::uint32_t columns) {
    std::memset(profile, 0, sizeof(std::uint32_t) * columns);
    const std::uint32_t n_width = core::kLinesPerPass[p.clock_mode];
    const std::uint32_t blocks = core::passes_of(p.clock_mode);
    const std::uint16_t* ct = p.clock_table;
    for (std::uint32_t k = 0; k < blocks; ++k) {
        const std::uint32_t base = k * n_width;
        // Running sum: each column adds the period before it and drops the one
        // kWindow + 1 columns back (a period before the block while there is none).
        profile[base] = kSumAtBlockStart;
        for (std::uint32_t c = 1; c <= kWindow && c < n_width; ++c)
            profile[base + c] = profile[base + c - 1] + ct[base + c - 1] - kPeriodBeforeBlock;
        for (std::uint32_t c = kWindow + 1; c < n_width; ++c)
            profile[base + c] = profile[base + c - 1] - ct[base + c - kWindow - 1] + ct[base + c - 1];
    }
}

namespace {

// The line from its four sums, as fit_line forms it.
void line_of(double sx, double sy, double sxy, double syy, std::uint32_t m, double* a, double* b) {
    const double md = m;
    const double det = md * syy - sy * sy;
    if (det == 0.0) {
        *a = sx / md;
        *b = 0.0;
    } else {
        *a = (syy * sx - sy * sxy) / det;
        *b = (sxy - *a * sy) / syy;
    }
}

}  // namespace

bool fit_line(const std::uint16_t* x, const std::uint32_t* y, std::uint32_t m, double* a, double* b) {
    if (m == 0) return false;
    double sx = 0.0, sy = 0.0, sxy = 0.0, syy = 0.0;
    for (std::uint32_t i = 0; i < m; ++i) {
        const double xv = x[i];
        const double yv = y[i];
        sx += xv;
        sy += yv;
        sxy += xv * yv;
        syy += yv * yv;
    }
    line_of(sx, sy, sxy, syy, m, a, b);
    return true;
}

#if TVX_SSE2
namespace {

// One row less its dark line d = max(as_s16(trunc(profile x b + a)), 0), eight
// pixels at a time: the same double product and sum, truncated, the low 16 bits
// kept, as the plain loop does for rows whose line converts exactly. When the
// whole line lies in the signed 16-bit range (Narrow), the truncated values are
// their own low 16 bits and pack unchanged.
template <bool Narrow>
void subtract_line(std::uint16_t* row, const double* profile, std::uint32_t width, double a, double b) {
    const __m128d va = _mm_set1_pd(a), vb = _mm_set1_pd(b);
    const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(core::kSampleMax);
    const auto low16 = [](__m128i v) {
        if constexpr (Narrow) return v;
        else return core::low16_signed(v);
    };
    std::uint32_t c = 0;
    for (; c + 8 <= width; c += 8) {
        const double* q = profile + c;
        const __m128i d0 = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_loadu_pd(q), vb), va));
        const __m128i d1 = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_loadu_pd(q + 2), vb), va));
        const __m128i d2 = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_loadu_pd(q + 4), vb), va));
        const __m128i d3 = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(_mm_loadu_pd(q + 6), vb), va));
        const __m128i d = _mm_max_epi16(
            _mm_packs_epi32(low16(_mm_unpacklo_epi64(d0, d1)), low16(_mm_unpacklo_epi64(d2, d3))), zero);
        const __m128i v = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + c)), d);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + c), _mm_min_epi16(_mm_max_epi16(v, zero), top));
    }
    for (; c < width; ++c) {
        std::int32_t d = core::as_s16(static_cast<std::uint32_t>(static_cast<std::int32_t>(profile[c] * b + a)));
        d = d < 0 ? 0 : d;
        row[c] = core::clamp_to_12bit(core::as_s16(static_cast<std::uint32_t>(row[c] - d)));
    }
}

#if TVX_AVX2
// The same sixteen pixels at a time, four doubles to a vector; the rest of the
// row with the plain pixel, as above.
template <bool Narrow>
TVX_AVX2_FN void subtract_line_avx2(std::uint16_t* row, const double* profile, std::uint32_t width, double a,
                                    double b) {
    const __m256d va = _mm256_set1_pd(a), vb = _mm256_set1_pd(b);
    const __m256i zero = _mm256_setzero_si256(), top = _mm256_set1_epi16(core::kSampleMax);
    std::uint32_t c = 0;
    for (; c + 16 <= width; c += 16) {
        const double* q = profile + c;
        __m128i d[4];
        for (int k = 0; k < 4; ++k) {
            d[k] = _mm256_cvttpd_epi32(_mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(q + 4 * k), vb), va));
            if constexpr (!Narrow) d[k] = core::low16_signed(d[k]);
        }
        const __m256i line = _mm256_max_epi16(
            _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_packs_epi32(d[0], d[1])), _mm_packs_epi32(d[2], d[3]), 1),
            zero);
        const __m256i v = _mm256_sub_epi16(core::load16(row + c), line);
        core::store16(row + c, _mm256_min_epi16(_mm256_max_epi16(v, zero), top));
    }
    for (; c < width; ++c) {
        std::int32_t d = core::as_s16(static_cast<std::uint32_t>(static_cast<std::int32_t>(profile[c] * b + a)));
        d = d < 0 ? 0 : d;
        row[c] = core::clamp_to_12bit(core::as_s16(static_cast<std::uint32_t>(row[c] - d)));
    }
}
#endif

// The row at the chosen level.
template <bool Narrow>
void subtract_line_at(bool avx2, std::uint16_t* row, const double* profile, std::uint32_t width, double a, double b) {
#if TVX_AVX2
    if (avx2) return subtract_line_avx2<Narrow>(row, profile, width, a, b);
#endif
    (void)avx2;
    subtract_line<Narrow>(row, profile, width, a, b);
}

// The fits with the sample sums hoisted: the profile sums are the same for every
// row (formed once in the plain order), and a row's sums of x and x y are sums of
// whole numbers. The samples lie inside the blocks (m <= 4096), x < 2^16 and the
// profile is a sum of 64 periods (< 2^22), so every partial sum stays below 2^53:
// the double sums are exact and equal the 64-bit integer sums.
std::int32_t remove_dark_offset_fast(ImageView image, const std::uint32_t* profile, const std::uint32_t* columns,
                                     std::uint32_t m, const double* profile_d) {
    double sy = 0.0, syy = 0.0;
    for (std::uint32_t i = 0; i < m; ++i) {
        const double yv = profile[columns[i]];
        sy += yv;
        syy += yv * yv;
    }
    std::uint32_t lowest = UINT32_MAX, highest = 0;
    for (std::uint32_t c = 0; c < image.width; ++c) {
        lowest = profile[c] < lowest ? profile[c] : lowest;
        highest = profile[c] > highest ? profile[c] : highest;
    }
    const bool avx2 = core::avx2_paths();
    for (std::uint32_t r = 0; r < image.height; ++r) {
        std::uint16_t* row = image.row(r);
        std::uint64_t sx = 0, sxy = 0;
        for (std::uint32_t i = 0; i < m; ++i) {
            const std::uint32_t c = columns[i];
            sx += row[c];
            sxy += static_cast<std::uint64_t>(row[c]) * profile[c];
        }
        double a = 0.0, b = 0.0;
        line_of(static_cast<double>(sx), sy, static_cast<double>(sxy), syy, m, &a, &b);
        const double ends[2] = {lowest * b + a, highest * b + a};
        const bool in_range = ends[0] > -2147483648.0 && ends[0] < 2147483647.0 && ends[1] > -2147483648.0 &&
                              ends[1] < 2147483647.0;
        if (in_range) {
            // The line is monotonic in the profile, so its ends bound every column.
            const bool narrow = ends[0] > -32769.0 && ends[0] < 32768.0 && ends[1] > -32769.0 && ends[1] < 32768.0;
            if (narrow)
                subtract_line_at<true>(avx2, row, profile_d, image.width, a, b);
            else
                subtract_line_at<false>(avx2, row, profile_d, image.width, a, b);
            continue;
        }
        for (std::uint32_t c = 0; c < image.width; ++c) {
            std::int32_t d = core::as_s16(static_cast<std::uint32_t>(core::trunc_to_i32_or_min(profile[c] * b + a)));
            if (d < 0) d = 0;
            row[c] = core::clamp_to_12bit(core::as_s16(static_cast<std::uint32_t>(row[c] - d)));
        }
    }
    return TAVIREX_OK;
}

}  // namespace
#endif

std::int32_t remove_dark_offset(ImageView image, const DarkOffsetParams& p) {
    if (p.clock_mode > core::kClockCodeCeph || p.clock_table == nullptr || p.segment_start == nullptr || p.segment_width == nullptr)
        return TAVIREX_E_RANGE;
    const std::uint32_t n_width = core::kLinesPerPass[p.clock_mode];
    const std::uint32_t blocks = core::passes_of(p.clock_mode);
    // The profile and the sample columns cover every block; both must exist.
    if (p.clock_table_length < blocks * n_width || image.width < blocks * n_width) return TAVIREX_E_RANGE;
    const std::uint32_t width = image.width;
    const std::uint32_t height = image.height;
    const std::uint32_t segments = p.segment_count < blocks ? p.segment_count : blocks;

    core::Buffer<std::uint32_t> profile(width);
    core::Buffer<std::uint32_t> sample_columns(width);
    core::Buffer<std::uint16_t> sample_x(width);
    core::Buffer<std::uint32_t> sample_y(width);
    core::Buffer<double> intercept(height);
    core::Buffer<double> slope(height);
    if (!profile.ok() || !sample_columns.ok() || !sample_x.ok() || !sample_y.ok() || !intercept.ok() || !slope.ok())
        return TAVIREX_E_NO_MEMORY;

    dark_profile(p, profile.data(), width);

    // Sample columns: from the end of each pass's picture to the end of its block.
    // A pass whose lag and picture fill the block (or would overrun it) gives none.
    std::uint32_t m = 0;
    for (std::uint32_t s = 0; s < segments; ++s) {
        const std::int32_t offset = p.segment_start[s];
        const std::int32_t pic = p.segment_width[s];
        const std::int32_t count = static_cast<std::int32_t>(n_width) - offset - kWindowColumns - pic;
        if (count <= 0) continue;
        const std::uint32_t first = s * n_width + static_cast<std::uint32_t>(offset + kWindowColumns + pic);
        for (std::int32_t j = 0; j < count; ++j) sample_columns[m++] = first + static_cast<std::uint32_t>(j);
    }
#if TVX_SSE2
    if (core::fast_paths()) {
        if (m == 0) return TAVIREX_OK;  // no row has a sample: every row stays as it is
        core::Buffer<double> profile_d(width);
        if (!profile_d.ok()) return TAVIREX_E_NO_MEMORY;
        for (std::uint32_t c = 0; c < width; ++c) profile_d[c] = profile[c];
        // Each row is fitted and corrected on its own: bands of rows run on workers.
        const std::uint32_t bands = platform::band_count(height, kRowsPerBand);
        platform::run_parallel(bands, [&](std::uint32_t band) {
            const std::uint32_t y0 = platform::band_start(height, bands, band);
            const std::uint32_t y1 = platform::band_start(height, bands, band + 1);
            const ImageView rows{image.row(y0), width, y1 - y0, image.stride};
            remove_dark_offset_fast(rows, profile.data(), sample_columns.data(), m, profile_d.data());
        });
        return TAVIREX_OK;
    }
#endif
    for (std::uint32_t i = 0; i < m; ++i) sample_y[i] = profile[sample_columns[i]];

    for (std::uint32_t r = 0; r < height; ++r) {
        const std::uint16_t* row = image.row(r);
        for (std::uint32_t i = 0; i < m; ++i) sample_x[i] = row[sample_columns[i]];
        if (!fit_line(sample_x.data(), sample_y.data(), m, &intercept[r], &slope[r])) {
            intercept[r] = 0.0;
            slope[r] = 0.0;
        }
    }
    if (m == 0) return TAVIREX_OK;  // no row has a sample: every row stays as it is

    std::uint32_t lowest = UINT32_MAX, highest = 0;
    for (std::uint32_t c = 0; c < width; ++c) {
        lowest = profile[c] < lowest ? profile[c] : lowest;
        highest = profile[c] > highest ? profile[c] : highest;
    }
    for (std::uint32_t r = 0; r < height; ++r) {
        std::uint16_t* row = image.row(r);
        const double a = intercept[r];
        const double b = slope[r];
        // The rounded line is monotonic in the profile, so when both ends convert
        // to an integer every column does, and the plain conversion is exact.
        const double ends[2] = {lowest * b + a, highest * b + a};
        const bool in_range = ends[0] > -2147483648.0 && ends[0] < 2147483647.0 && ends[1] > -2147483648.0 &&
                              ends[1] < 2147483647.0;
        if (in_range) {
            for (std::size_t c = 0; c < width; ++c) {
                std::int32_t d = core::as_s16(static_cast<std::uint32_t>(static_cast<std::int32_t>(profile[c] * b + a)));
                d = d < 0 ? 0 : d;
                row[c] = core::clamp_to_12bit(core::as_s16(static_cast<std::uint32_t>(row[c] - d)));
            }
            continue;
        }
        for (std::uint32_t c = 0; c < width; ++c) {
            std::int32_t d = core::as_s16(static_cast<std::uint32_t>(core::trunc_to_i32_or_min(profile[c] * b + a)));
            if (d < 0) d = 0;
            const std::int32_t v = core::as_s16(static_cast<std::uint32_t>(row[c] - d));
            row[c] = core::clamp_to_12bit(v);
        }
    }
    return TAVIREX_OK;
}

}  // namespace tvx::processing
