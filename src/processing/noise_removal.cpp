// Step 7: noise removal. Every inner pixel takes the one value of its 3 x 3
// window that lies closest to the window's mean: isolated spikes go, and only
// values that occur in the image are kept.
#include <cstring>
#include <utility>

#include "core/alloc.h"
#include "core/geometry.h"
#include "core/simd.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kStrip = 1024;  // columns handled at a time, with scratch on the stack

// One strip of one row: output columns x0 .. x0 + len - 1 (all inner columns).
// The window values are visited in the fixed order top-left .. bottom-right and
// a later value replaces the pick only when strictly closer, so ties go to the
// earlier value. Written as plain loops over the strip so that they vectorise.
void strip(const std::uint16_t* r0, const std::uint16_t* r1, const std::uint16_t* r2, std::uint16_t* out,
           std::uint32_t x0, std::uint32_t len) {
    std::uint16_t mean[kStrip];
    std::uint16_t best[kStrip];
    std::uint16_t pick[kStrip];
    const std::uint16_t* a = r0 + x0;
    const std::uint16_t* b = r1 + x0;
    const std::uint16_t* c = r2 + x0;
    for (std::size_t i = 0; i < len; ++i) {
        // The window sum is kept in 16 bits, as the mean of 12-bit values needs no more.
        const std::uint16_t sum = static_cast<std::uint16_t>(a[i - 1] + a[i] + a[i + 1] + b[i - 1] + b[i] + b[i + 1] +
                                                             c[i - 1] + c[i] + c[i + 1]);
        mean[i] = static_cast<std::uint16_t>(sum / 9);
        best[i] = core::kSampleMax;
        pick[i] = b[i];
    }
    const std::uint16_t* rows[3] = {r0, r1, r2};
    for (int dy = 0; dy < 3; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const std::uint16_t* src = rows[dy] + x0 + dx;
            for (std::size_t i = 0; i < len; ++i) {
                const std::uint16_t v = src[i];
                const std::uint16_t m = mean[i];
                const std::uint16_t diff = static_cast<std::uint16_t>(m > v ? m - v : v - m);
                const bool closer = diff < best[i];
                best[i] = closer ? diff : best[i];
                pick[i] = closer ? v : pick[i];
            }
        }
    std::memcpy(out + x0, pick, sizeof(std::uint16_t) * len);
}

// The plain rule for one pixel, with the rows above, at and below it.
inline std::uint16_t nearest_to_mean(const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c,
                                     std::uint32_t x) {
    const std::uint16_t* rows[3] = {a, b, c};
    std::uint16_t sum = 0;
    for (const std::uint16_t* r : rows) sum = static_cast<std::uint16_t>(sum + r[x - 1] + r[x] + r[x + 1]);
    const std::uint16_t mean = static_cast<std::uint16_t>(sum / 9);
    std::uint16_t best = core::kSampleMax, pick = b[x];
    for (const std::uint16_t* r : rows)
        for (std::uint32_t i = x - 1; i <= x + 1; ++i) {
            const std::uint16_t diff = static_cast<std::uint16_t>(mean > r[i] ? mean - r[i] : r[i] - mean);
            if (diff < best) best = diff, pick = r[i];
        }
    return pick;
}

#if TVX_SSE2
// The three rows' sum of every column, in 16 bits (the window sums below wrap
// as the plain rule's do, whatever the order of the additions).
void column_sums(const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c, std::uint16_t* sums,
                 std::uint32_t w) {
    std::uint32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        const auto at = [x](const std::uint16_t* r) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x)); };
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x), _mm_add_epi16(_mm_add_epi16(at(a), at(b)), at(c)));
    }
    for (; x < w; ++x) sums[x] = static_cast<std::uint16_t>(a[x] + b[x] + c[x]);
}

// Inner columns 1 .. w - 2 of one row, eight at a time in registers. The window
// sum is three neighbouring column sums, sum / 9 is (sum x 58255) >> 19 for
// every 16-bit sum, and "strictly closer" is a nonzero saturating best - diff,
// so ties still go to the earlier value.
// For 12-bit rows every difference to the mean is below 4095 (at most 3640), so
// the first value always replaces the starting pick, and the differences compare
// as signed values.
template <bool TwelveBit>
void nearest_row(const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c, const std::uint16_t* sums,
                 std::uint16_t* out, std::uint32_t w) {
    const __m128i ninth = _mm_set1_epi16(static_cast<short>(58255));
    const __m128i zero = _mm_setzero_si128();
    std::uint32_t x = 1;
    for (; x + 9 <= w; x += 8) {
        __m128i v[9];
        const std::uint16_t* rows[3] = {a, b, c};
        for (int r = 0; r < 3; ++r)
            for (int dx = 0; dx < 3; ++dx)
                v[3 * r + dx] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + x - 1 + dx));
        const std::uint16_t* s = sums + x - 1;
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)),
                                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 1))),
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2)));
        const __m128i mean = _mm_srli_epi16(_mm_mulhi_epu16(sum, ninth), 3);
        const auto diff_of = [&](__m128i value) {
            return _mm_or_si128(_mm_subs_epu16(mean, value), _mm_subs_epu16(value, mean));
        };
        __m128i best, pick;
        if constexpr (TwelveBit) {
            best = diff_of(v[0]), pick = v[0];
            for (int k = 1; k < 9; ++k) {
                const __m128i diff = diff_of(v[k]);
                const __m128i closer = _mm_cmpgt_epi16(best, diff);
                best = _mm_min_epi16(best, diff);
                pick = _mm_xor_si128(pick, _mm_and_si128(closer, _mm_xor_si128(pick, v[k])));
            }
        } else {
            best = _mm_set1_epi16(core::kSampleMax), pick = v[4];
            for (int k = 0; k < 9; ++k) {
                const __m128i diff = diff_of(v[k]);
                const __m128i gain = _mm_subs_epu16(best, diff);  // nonzero where diff < best
                const __m128i keep = _mm_cmpeq_epi16(gain, zero);
                best = _mm_sub_epi16(best, gain);
                pick = _mm_xor_si128(pick, _mm_andnot_si128(keep, _mm_xor_si128(pick, v[k])));
            }
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), pick);
    }
    for (; x + 1 < w; ++x) out[x] = nearest_to_mean(a, b, c, x);
}

#if TVX_AVX2
// The column sums and the row's nearest values sixteen at a time, as the SSE2
// loops above compute them eight at a time; the rest of the row goes to those.
TVX_AVX2_FN void column_sums_avx2(const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c,
                                  std::uint16_t* sums, std::uint32_t w) {
    std::uint32_t x = 0;
    for (; x + 16 <= w; x += 16)
        core::store16(sums + x, _mm256_add_epi16(_mm256_add_epi16(core::load16(a + x), core::load16(b + x)),
                                                 core::load16(c + x)));
    column_sums(a + x, b + x, c + x, sums + x, w - x);
}

TVX_AVX2_FN inline __m256i diff_to(__m256i mean, __m256i value) {
    return _mm256_or_si256(_mm256_subs_epu16(mean, value), _mm256_subs_epu16(value, mean));
}

template <bool TwelveBit>
TVX_AVX2_FN void nearest_row_avx2(const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c,
                                  const std::uint16_t* sums, std::uint16_t* out, std::uint32_t w) {
    const __m256i ninth = _mm256_set1_epi16(static_cast<short>(58255));
    const __m256i zero = _mm256_setzero_si256();
    const std::uint16_t* rows[3] = {a, b, c};
    std::uint32_t x = 1;
    for (; x + 17 <= w; x += 16) {
        __m256i v[9];
        for (int r = 0; r < 3; ++r)
            for (int dx = 0; dx < 3; ++dx) v[3 * r + dx] = core::load16(rows[r] + x - 1 + dx);
        const std::uint16_t* s = sums + x - 1;
        const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(core::load16(s), core::load16(s + 1)), core::load16(s + 2));
        const __m256i mean = _mm256_srli_epi16(_mm256_mulhi_epu16(sum, ninth), 3);
        __m256i best, pick;
        if constexpr (TwelveBit) {
            best = diff_to(mean, v[0]), pick = v[0];
            for (int k = 1; k < 9; ++k) {
                const __m256i diff = diff_to(mean, v[k]);
                const __m256i closer = _mm256_cmpgt_epi16(best, diff);
                best = _mm256_min_epi16(best, diff);
                pick = _mm256_blendv_epi8(pick, v[k], closer);
            }
        } else {
            best = _mm256_set1_epi16(core::kSampleMax), pick = v[4];
            for (int k = 0; k < 9; ++k) {
                const __m256i diff = diff_to(mean, v[k]);
                const __m256i gain = _mm256_subs_epu16(best, diff);  // nonzero where diff < best
                best = _mm256_sub_epi16(best, gain);
                pick = _mm256_blendv_epi8(v[k], pick, _mm256_cmpeq_epi16(gain, zero));
            }
        }
        core::store16(out + x, pick);
    }
    // Columns x .. w - 2 are the inner columns of the row starting at x - 1.
    nearest_row<TwelveBit>(a + x - 1, b + x - 1, c + x - 1, sums + x - 1, out + x - 1, w - (x - 1));
}
#endif

// One row's sums and nearest values at the chosen level.
void noise_row(bool avx2, bool twelve_bit, const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c,
               std::uint16_t* sums, std::uint16_t* out, std::uint32_t w) {
#if TVX_AVX2
    if (avx2) {
        column_sums_avx2(a, b, c, sums, w);
        return twelve_bit ? nearest_row_avx2<true>(a, b, c, sums, out, w) : nearest_row_avx2<false>(a, b, c, sums, out, w);
    }
#endif
    (void)avx2;
    column_sums(a, b, c, sums, w);
    return twelve_bit ? nearest_row<true>(a, b, c, sums, out, w) : nearest_row<false>(a, b, c, sums, out, w);
}

// In place, row by row: the original of the row being replaced and of the row
// above it are kept in two row buffers; the row below is still unchanged.
void remove_noise_sse2(ImageView block, void* work, bool twelve_bit) noexcept {
    const std::uint32_t w = block.width;
    const std::uint32_t h = block.height;
    if (w < 3 || h < 3) return;
    core::Carve carve(work);
    std::uint16_t* above = carve.take<std::uint16_t>(w);
    std::uint16_t* at = carve.take<std::uint16_t>(w);
    std::uint16_t* sums = carve.take<std::uint16_t>(w);
    const bool avx2 = core::avx2_paths();
    std::memcpy(above, block.row(0), sizeof(std::uint16_t) * w);
    std::memcpy(at, block.row(1), sizeof(std::uint16_t) * w);
    for (std::uint32_t y = 1; y + 1 < h; ++y) {
        noise_row(avx2, twelve_bit, above, at, block.row(y + 1), sums, block.row(y), w);
        std::swap(above, at);
        if (y + 2 < h) std::memcpy(at, block.row(y + 1), sizeof(std::uint16_t) * w);
    }
}
#endif

}  // namespace

std::size_t noise_work(std::uint32_t width) noexcept { return 3 * core::Carve::bytes<std::uint16_t>(width); }

std::int32_t remove_noise(ImageView block, void* work) {
#if TVX_SSE2
    if (work != nullptr) return remove_noise_sse2(block, work, true), TAVIREX_OK;  // a 12-bit block in place
    if (core::fast_paths()) {
        core::Buffer<std::uint8_t> own(noise_work(block.width));
        if (!own.ok()) return TAVIREX_E_NO_MEMORY;
        remove_noise_sse2(block, own.data(), core::twelve_bit(block));
        return TAVIREX_OK;
    }
#endif
    core::Buffer<std::uint16_t> copy(block.pixels());
    if (!copy.ok()) return TAVIREX_E_NO_MEMORY;
    const std::uint32_t w = block.width;
    const std::uint32_t h = block.height;
    if (w < 3 || h < 3) return TAVIREX_OK;
    std::memcpy(copy.data(), block.data, copy.bytes());

    for (std::uint32_t y = 1; y + 1 < h; ++y) {
        std::uint16_t* out = copy.data() + static_cast<std::size_t>(y) * w;
        for (std::uint32_t x0 = 1; x0 + 1 < w; x0 += kStrip) {
            const std::uint32_t len = (w - 1 - x0) < kStrip ? (w - 1 - x0) : kStrip;
            strip(block.row(y - 1), block.row(y), block.row(y + 1), out, x0, len);
        }
    }
    std::memcpy(block.data, copy.data(), copy.bytes());
    return TAVIREX_OK;
}

}  // namespace tvx::processing
