#include "output/enhance.h"

#include <algorithm>
#include <cmath>

#include "core/alloc.h"
#include "core/geometry.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "platform/workers.h"

namespace tvx::output {
namespace {

constexpr std::uint32_t kRowsPerBand = 16;  // fewest rows worth a worker


// The gain is a single-precision value; tables of doubles hold it widened, which is exact.
template <typename T>
void gain_table_a(T* table, std::uint32_t maximum, std::uint16_t gain_percent) noexcept {
    const double g = static_cast<double>(gain_percent) * static_cast<double>(0.01f);
    const float pi = 3.14159265358979323846f;
    const float step = pi / static_cast<float>(maximum);
    for (std::uint32_t v = 0; v <= maximum; ++v) {
        const double c = std::cos(static_cast<double>(maximum - v) * static_cast<double>(step));
        table[v] = static_cast<float>(g + 0.8 * g * c * std::fabs(c));
    }
}

template <typename T>
void gain_table_b(T* table, std::uint16_t gain_percent) noexcept {
    const double g = static_cast<double>(gain_percent) * static_cast<double>(0.01f);
    for (std::uint32_t v = 0; v <= core::kSampleMax; ++v) {
        const double c = std::cos(static_cast<double>(core::kSampleMax - v) * 0.00076717767);
        table[v] = static_cast<float>(g + 0.8 * g * c * std::fabs(c));
    }
}

// One pixel of variant A with neighbours at distance d (d columns, d rows).
inline std::uint16_t enhance_a_pixel(const std::uint16_t* p, std::size_t d, std::size_t row_step, const double* gains,
                                     std::uint32_t maximum) noexcept {
    const std::uint32_t v = std::min<std::uint32_t>(*p, maximum);
    // At distance 0 the pixel is its own neighbour: plain inversion, also for values above the maximum.
    if (d == 0) return static_cast<std::uint16_t>(maximum - v);
    const std::uint32_t sum = static_cast<std::uint32_t>(p[-static_cast<std::ptrdiff_t>(row_step)]) + p[row_step] +
                              p[-static_cast<std::ptrdiff_t>(d)] + p[d];
    const std::int64_t mean = sum >> 2;
    std::int64_t r =
        core::trunc_to_i64_unchecked(static_cast<double>(static_cast<std::int64_t>(v) - mean) * gains[v]) + v;
    r = core::clamp_to<std::int64_t>(r, 0, maximum);
    return static_cast<std::uint16_t>(maximum - r);
}

#if TVX_SSE2
// Columns x0 .. x1 - 1 of a row at one distance d >= 1, eight at a time while the
// neighbours are below 16384 (their mean then needs no more than 16 bits and the
// difference to the pixel fits a signed 16-bit value); the rest with the plain
// pixel. Needs maximum <= 16383. The product is formed in double as in the plain
// pixel; the saturating 16-bit sums that follow clamp to the same 0..maximum.
void enhance_a_span_sse2(const std::uint16_t* src, std::uint16_t* dst, std::uint32_t x0, std::uint32_t x1,
                         std::size_t d, std::size_t row_step, const double* gains, std::uint32_t maximum) noexcept {
    const __m128i top = _mm_set1_epi16(static_cast<short>(maximum));
    const __m128i high_bits = _mm_set1_epi16(static_cast<short>(0xC000));
    const __m128i zero = _mm_setzero_si128();
    alignas(16) std::uint16_t v_of[8];
    std::uint32_t x = x0;
    for (; x + 8 <= x1; x += 8) {
        const std::uint16_t* p = src + x;
        const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - row_step));
        const __m128i down = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + row_step));
        const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - d));
        const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + d));
        const __m128i any = _mm_or_si128(_mm_or_si128(up, down), _mm_or_si128(left, right));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(any, high_bits), zero)) != 0xFFFF) {
            for (std::uint32_t i = 0; i < 8; ++i) dst[x + i] = enhance_a_pixel(p + i, d, row_step, gains, maximum);
            continue;
        }
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i v = _mm_sub_epi16(raw, _mm_subs_epu16(raw, top));  // min(raw, maximum)
        const __m128i mean = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(up, down), _mm_add_epi16(left, right)), 2);
        const __m128i delta = _mm_sub_epi16(v, mean);
        _mm_store_si128(reinterpret_cast<__m128i*>(v_of), v);
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(delta, delta), 16);
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(delta, delta), 16);
        const __m128d g0 = _mm_loadh_pd(_mm_load_sd(gains + v_of[0]), gains + v_of[1]);
        const __m128d g1 = _mm_loadh_pd(_mm_load_sd(gains + v_of[2]), gains + v_of[3]);
        const __m128d g2 = _mm_loadh_pd(_mm_load_sd(gains + v_of[4]), gains + v_of[5]);
        const __m128d g3 = _mm_loadh_pd(_mm_load_sd(gains + v_of[6]), gains + v_of[7]);
        const __m128i t0 = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(lo), g0));
        const __m128i t1 = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(lo, 0x0E)), g1));
        const __m128i t2 = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(hi), g2));
        const __m128i t3 = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(hi, 0x0E)), g3));
        const __m128i t = _mm_packs_epi32(_mm_unpacklo_epi64(t0, t1), _mm_unpacklo_epi64(t2, t3));
        const __m128i r = _mm_min_epi16(_mm_max_epi16(_mm_adds_epi16(t, v), zero), top);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_sub_epi16(top, r));
    }
    for (; x < x1; ++x) dst[x] = enhance_a_pixel(src + x, d, row_step, gains, maximum);
}
#endif

}  // namespace

void build_gain_table_a(float* table, std::uint32_t maximum, std::uint16_t gain_percent) noexcept {
    gain_table_a(table, maximum, gain_percent);
}

void build_gain_table_a(double* table, std::uint32_t maximum, std::uint16_t gain_percent) noexcept {
    gain_table_a(table, maximum, gain_percent);
}

void build_gain_table_b(float* table, std::uint16_t gain_percent) noexcept { gain_table_b(table, gain_percent); }

void build_gain_table_b(double* table, std::uint16_t gain_percent) noexcept { gain_table_b(table, gain_percent); }

void enhance_a_row(const std::uint16_t* src, std::size_t stride, std::uint16_t* dst, std::uint32_t width,
                   std::uint32_t dr, const double* gains, std::uint32_t maximum) noexcept {
    const std::uint32_t mid_begin = std::min(dr, width);
    const std::uint32_t mid_end = width >= 2 * dr ? width - dr : mid_begin;
    // Pixels near the left and right edges: their distance is limited by the edge.
    const auto edge = [&](std::uint32_t x) {
        const std::uint32_t d = std::min(dr, std::min(x, width - 1 - x));
        dst[x] = enhance_a_pixel(src + x, d, d * stride, gains, maximum);
    };
    for (std::uint32_t x = 0; x < mid_begin; ++x) edge(x);
    const std::size_t row_step = dr * stride;
#if TVX_SSE2
    if (core::fast_paths() && dr != 0 && maximum <= 16383) {
        enhance_a_span_sse2(src, dst, mid_begin, mid_end, dr, row_step, gains, maximum);
    } else
#endif
    {
        for (std::uint32_t x = mid_begin; x < mid_end; ++x) dst[x] = enhance_a_pixel(src + x, dr, row_step, gains, maximum);
    }
    for (std::uint32_t x = std::max(mid_end, mid_begin); x < width; ++x) edge(x);
}

bool enhance_a(const std::uint16_t* in, std::uint16_t* out, std::uint32_t width, std::uint32_t height,
               std::uint8_t distance, std::uint16_t gain_percent, std::uint32_t maximum) noexcept {
    core::Buffer<double> gains(static_cast<std::size_t>(maximum) + 1);
    if (!gains.ok()) return false;
    build_gain_table_a(gains.data(), maximum, gain_percent);
    const std::size_t w = width;
    // Rows only read the input: bands of rows run on workers.
    const std::uint32_t bands = platform::band_count(height, kRowsPerBand);
    platform::run_parallel(bands, [&](std::uint32_t b) {
        const std::uint32_t end = platform::band_start(height, bands, b + 1);
        for (std::uint32_t y = platform::band_start(height, bands, b); y < end; ++y) {
            // Distance used in this row: the filter distance, or less near the top and bottom.
            const std::uint32_t dr = std::min<std::uint32_t>(distance, std::min(y, height - 1 - y));
            enhance_a_row(in + y * w, w, out + y * w, width, dr, gains.data(), maximum);
        }
    });
    return true;
}

void enhance_b_row(const std::uint16_t* src, std::size_t stride, std::uint16_t* dst, std::uint32_t width,
                   std::uint8_t distance, bool inner, const double* gains) noexcept {
    std::copy(src, src + width, dst);
    const std::uint32_t k = distance;
    if (!inner || width < 2 * k + 1) return;
    const std::size_t row_step = k * stride;
    for (std::uint32_t x = k; x < width - k; ++x) {
        const std::uint16_t* p = src + x;
        const std::int32_t v = core::clamp_to_12bit(core::as_s16(*p));
        const std::uint32_t sum = static_cast<std::uint32_t>(p[-static_cast<std::ptrdiff_t>(row_step)]) + p[row_step] +
                                  p[-static_cast<std::ptrdiff_t>(k)] + p[k];
        const std::int32_t mean = core::as_s16(sum) >> 2;
        std::int64_t r = core::trunc_to_i64_unchecked(static_cast<double>(v - mean) * gains[v]) + v;
        dst[x] = core::clamp_to_12bit(r);
    }
}

bool enhance_b(const std::uint16_t* in, std::uint16_t* out, std::uint32_t width, std::uint32_t height,
               std::uint8_t distance, std::uint16_t gain_percent) noexcept {
    core::Buffer<double> gains(4096);
    if (!gains.ok()) return false;
    build_gain_table_b(gains.data(), gain_percent);
    const std::size_t w = width;
    const std::uint32_t k = distance;
    // Only rows at least `distance` from the top and bottom have inner pixels.
    const bool rows = height >= 2 * k + 1;
    const std::uint32_t bands = platform::band_count(height, kRowsPerBand);
    platform::run_parallel(bands, [&](std::uint32_t b) {
        const std::uint32_t end = platform::band_start(height, bands, b + 1);
        for (std::uint32_t y = platform::band_start(height, bands, b); y < end; ++y)
            enhance_b_row(in + y * w, w, out + y * w, width, distance, rows && y >= k && y < height - k, gains.data());
    });
    return true;
}

void invert(const std::uint16_t* in, std::uint16_t* out, std::size_t count, std::uint32_t maximum) noexcept {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint16_t>(maximum - std::min<std::uint32_t>(in[i], maximum));
}

}  // namespace tvx::output
