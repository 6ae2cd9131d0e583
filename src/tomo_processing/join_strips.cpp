// Strip joining. The strips are first aligned vertically by their configured
// shifts, then laid left to right: each new strip overlaps the joined part by
// twice the overlay, is scaled row by row so that its overlap matches the joined
// part's brightness (the ratio averaged over neighbouring rows), and is
// cross-faded into it.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "platform/file.h"
#include "tavirex.h"
#include "tomo_processing/corrections.h"

namespace tvx::tomo {
namespace {

// "Joined image size" (code page 932)
const char kJoinedSize[] = "\x8D\x87\x90\xAC\x89\xE6\x91\x9C\x83T\x83" "C\x83Y[%4d x %4d]\n";

// Rows of strip `strip` move up by `shift` (down when negative); the rows left
// uncovered repeat the strip's last (first) row.
void shift_rows(const core::ImageView& strip, std::int32_t shift) {
    if (shift == 0) return;
    const std::size_t row_bytes = sizeof(std::uint16_t) * strip.width;
    const std::uint32_t h = strip.height;
    if (shift > 0) {
        const std::uint32_t s = static_cast<std::uint32_t>(shift);
        std::memmove(strip.row(0), strip.row(s), row_bytes * (h - s));
        for (std::uint32_t r = h - s; r < h; ++r) std::memcpy(strip.row(r), strip.row(h - s - 1), row_bytes);
    } else {
        const std::uint32_t s = static_cast<std::uint32_t>(-shift);
        std::memmove(strip.row(s), strip.row(0), row_bytes * (h - s));
        for (std::uint32_t r = 1; r < s; ++r) std::memcpy(strip.row(r), strip.row(0), row_bytes);
    }
}

struct RowArrays {
    double* left;     // mean of the joined part's overlap columns
    double* right;    // mean of the new strip's overlap columns
    double* single;   // (left + 1) / (right + 1)
    double* average;  // single ratio averaged over the neighbouring rows in the band
};

void write_profile(std::uint32_t s, const RowArrays& a, std::uint32_t h) {
    char name[48];
    std::snprintf(name, sizeof name, "profile_%dR%dL.csv", static_cast<int>(s - 1), static_cast<int>(s));
    const platform::File file = platform::File::open(name, "w");
    if (!file) return;  // a profile is a service aid; joining goes on without it
    std::fputs(",profile,profile,ratio,ratio\n", file.get());
    std::fputs(",left,right,signle,average\n", file.get());
    for (std::uint32_t r = 0; r < h; ++r)
        std::fprintf(file.get(), "%d,%lf,%lf,%lf,%lf\n", static_cast<int>(r), a.left[r], a.right[r], a.single[r],
                     a.average[r]);
}

// The single ratio averaged over rows r - half .. r + half inside the band
// [top, end): summed in row order, divided by the rows summed; 0 without rows.
double band_average(const double* single, std::int64_t r, std::int64_t half, std::int64_t top, std::int64_t end) {
    const std::int64_t from = r - half < top ? top : r - half;
    const std::int64_t to = r + half + 1 > end ? end : r + half + 1;
    double total = 0;
    for (std::int64_t i = from; i < to; ++i) total += single[i];
    return from < to ? total / static_cast<double>(to - from) : 0;
}

// Weight of the new strip at overlap column k of 2 ov: rising by `fade` (1 / 2ov)
// per column, skipping the middle step.
inline double fade_weight(std::uint32_t k, std::uint32_t ov, double fade) {
    return static_cast<double>(k < ov ? k + 1 : k) * fade;
}

// The joined part's pixel o with the new strip's pixel p scaled by `ratio` and, at
// weight t (from 0 to 1 across the overlap), cross-faded into it; 0..max, truncated.
inline std::uint16_t joined_pixel(std::uint16_t p, double ratio, double t, std::uint16_t o, bool fade,
                                  std::int32_t max) {
    const double scaled = static_cast<double>(p + 1) * ratio - 1;
    const double v = fade ? scaled * t + (1 - t) * static_cast<double>(o) : scaled;
    return static_cast<std::uint16_t>(core::trunc_clamped_to(v, static_cast<std::uint32_t>(max)));
}

#if TVX_SSE2
// band_average for every row whose rows r - half .. r + half all lie in the band,
// eight rows at a time: each lane sums its own row's ratios in row order, as the
// plain sum does, and divides by the same count. The rows left are done singly.
void band_averages(const double* single, double* average, std::int64_t h, std::int64_t half, std::int64_t top,
                   std::int64_t end) {
    const std::int64_t inner_from = top + half > 0 ? top + half : 0;
    const std::int64_t inner_to = end - half < h ? end - half : h;
    const __m128d count = _mm_set1_pd(static_cast<double>(2 * half + 1));
    for (std::int64_t r = 0; r < h;) {
        if (r < inner_from || r + 8 > inner_to) {
            average[r] = band_average(single, r, half, top, end);
            ++r;
            continue;
        }
        __m128d sum[4] = {_mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd(), _mm_setzero_pd()};
        for (const double* s = single + (r - half); s <= single + (r + half); ++s)
#pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) sum[k] = _mm_add_pd(sum[k], _mm_loadu_pd(s + 2 * k));
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k) _mm_storeu_pd(average + r + 2 * k, _mm_div_pd(sum[k], count));
        r += 8;
    }
}

// One row of the new strip past the overlap: (p + 1) x ratio - 1, limited to 0..max
// and truncated, eight pixels at a time in double precision as the plain row.
void scale_row(const std::uint16_t* in, std::uint16_t* out, std::uint32_t n, double ratio, std::int32_t max) {
    const __m128d r = _mm_set1_pd(ratio), one = _mm_set1_pd(1.0), zero = _mm_setzero_pd();
    const __m128d top = _mm_set1_pd(static_cast<double>(max));
    const __m128i z = _mm_setzero_si128(), plus = _mm_set1_epi32(1);
    // Two pixels: the limits as a maximum and a minimum; truncation is exact inside them.
    const auto two = [&](__m128i p) {
        const __m128d v = _mm_sub_pd(_mm_mul_pd(_mm_cvtepi32_pd(p), r), one);
        return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(v, zero), top));
    };
    const auto four = [&](__m128i p) {
        const __m128i q = _mm_add_epi32(p, plus);
        return _mm_unpacklo_epi64(two(q), two(_mm_srli_si128(q, 8)));
    };
    std::uint32_t k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m128i p = core::load8(in + k);
        core::store8(out + k, core::pack_u16(four(_mm_unpacklo_epi16(p, z)), four(_mm_unpackhi_epi16(p, z))));
    }
    for (; k < n; ++k) out[k] = joined_pixel(in[k], ratio, 0, 0, false, max);
}
#endif

}  // namespace

std::int32_t join_strips(TomoFrame& f, const StripJoinParams& p, const diag::Trace& trace) noexcept {
    const std::uint32_t n = f.strips, w = f.width, h = f.height;
    if (n == 0 || n > kTomoListSize) return TAVIREX_E_RANGE;
    const auto cut = [&](const std::uint16_t* list, std::uint32_t s) -> std::uint32_t { return p.use_cuts ? list[s] : 0; };
    const std::uint32_t ov = p.use_cuts ? p.overlay : 0;

    // Shifts are running sums of the configured values, taken afresh for every frame.
    std::int32_t shift[kTomoListSize];
    std::int32_t sum = 0;
    for (std::uint32_t s = 0; s < n; ++s) {
        sum += p.use_cuts ? core::as_s16(p.up_down[s]) : 0;
        if (sum != 0 && static_cast<std::uint32_t>(sum < 0 ? -sum : sum) >= h) return TAVIREX_E_RANGE;
        shift[s] = sum;
    }

    trace.print(trace.param, "[PUTIMAGES] AVERAGE= %d\n", static_cast<int>(p.average));
    std::uint64_t joined = 2 * static_cast<std::uint64_t>(ov);
    for (std::uint32_t s = 0; s < n; ++s) {
        const std::uint32_t l = cut(p.left_cut, s), r = cut(p.right_cut, s);
        if (l < ov || r < ov || l + r >= w) return TAVIREX_E_RANGE;
        joined += w - l - r;
    }
    const std::uint64_t out_w = (joined + 3) / 4 * 4;
    if (out_w > 0xFFFFu || out_w * h > f.capacity || !holds_blocks(f, n)) return TAVIREX_E_RANGE;

    const std::size_t out_pixels = static_cast<std::size_t>(out_w) * h;
    core::Buffer<std::uint16_t> own;
    core::Buffer<std::uint8_t> rows(4 * core::Carve::bytes<double>(h));  // the four row arrays
    std::uint16_t* out = scratch_space(f, block_pixels(f, n), out_pixels, own);
    if (out == nullptr || !rows.ok()) return TAVIREX_E_NO_MEMORY;
    core::Carve carve(rows.data());
    const RowArrays a{carve.take<double>(h), carve.take<double>(h), carve.take<double>(h), carve.take<double>(h)};

    for (std::uint32_t s = 0; s < n; ++s) shift_rows(f.block(s), shift[s]);
    const bool sse2 = core::fast_paths();
    const auto out_row = [&](std::uint32_t r) { return out + static_cast<std::size_t>(r) * out_w; };
    // The strips fill every column up to the joined width; the columns added after it are 0.
    for (std::uint32_t r = 0; r < h; ++r) std::fill(out_row(r) + joined, out_row(r) + out_w, std::uint16_t{0});

    // Strip 0 as it stands, overlap columns on both sides included.
    const std::uint32_t l0 = cut(p.left_cut, 0), r0 = cut(p.right_cut, 0);
    std::uint32_t x = w - r0 - l0 + 2 * ov;
    for (std::uint32_t r = 0; r < h; ++r)
        std::memcpy(out_row(r), f.block(0).row(r) + (l0 - ov), sizeof(std::uint16_t) * x);

    const double fade = ov == 0 ? 0 : 0.5 / ov;
    const std::int64_t band_top = p.top_offset, band_end = static_cast<std::int64_t>(h) - p.bottom_offset;
    const std::int32_t max = f.max_value;
    for (std::uint32_t s = 1; s < n; ++s) {
        const core::ImageView strip = f.block(s);
        const std::uint32_t ls = cut(p.left_cut, s), rs = cut(p.right_cut, s);
        const std::uint32_t first = x - 2 * ov;  // output column of the strip's first shown column
        for (std::uint32_t r = 0; r < h; ++r) {
            std::uint64_t left = 0, right = 0;
            for (std::uint32_t k = 0; k < 2 * ov; ++k) left += out_row(r)[first + k], right += strip.row(r)[ls - ov + k];
            a.left[r] = ov == 0 ? 0 : static_cast<double>(left) / (2 * ov);
            a.right[r] = ov == 0 ? 0 : static_cast<double>(right) / (2 * ov);
            a.single[r] = (a.left[r] + 1) / (a.right[r] + 1);
        }
#if TVX_SSE2
        if (sse2)
            band_averages(a.single, a.average, h, p.average, band_top, band_end);
        else
#endif
            for (std::int64_t r = 0; r < h; ++r) a.average[r] = band_average(a.single, r, p.average, band_top, band_end);
        if (p.write_profiles) write_profile(s, a, h);

        const std::uint32_t count = w - rs + ov - (ls - ov);
        for (std::uint32_t r = 0; r < h; ++r) {
            const std::uint16_t* in = strip.row(r) + (ls - ov);
            std::uint16_t* o = out_row(r) + first;
            const double ratio = a.average[r];
            std::uint32_t k = 0;
#if TVX_SSE2
            if (sse2) {
                for (; k < 2 * ov; ++k) o[k] = joined_pixel(in[k], ratio, fade_weight(k, ov, fade), o[k], true, max);
                scale_row(in + k, o + k, count - k, ratio, max);
                continue;
            }
#endif
            for (; k < count; ++k) o[k] = joined_pixel(in[k], ratio, fade_weight(k, ov, fade), o[k], k < 2 * ov, max);
        }
        x += w - rs - ls;
    }

    std::memmove(f.data, out, out_pixels * sizeof(std::uint16_t));
    f.width = static_cast<std::uint16_t>(out_w);
    f.strips = 1;
    trace.print(trace.param, kJoinedSize, static_cast<int>(f.width), static_cast<int>(h));
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
