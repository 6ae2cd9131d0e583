// The two noise filters of the joined image. Both take each pixel's nine-sample
// neighbourhood from the unfiltered image and write into a copy that replaces
// the image at the end, so the order of visiting pixels does not matter. Border
// pixels get neighbourhoods that reach inward instead of outside the image.
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "core/alloc.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "tavirex.h"
#include "tomo_processing/finishing.h"

namespace tvx::tomo {
namespace {

// Corners reach four pixels inward, and an edge window two either side of a
// center kept two from the corner.
constexpr std::uint32_t kMinSide = 5;
// The run form looks four values either side of its center.
constexpr std::size_t kMinRun = 2 * 4 + 1;

using Samples = std::uint16_t[kNeighbourhood];

// The SSE2 rows take eight pixels at a time; a row needs eight inside pixels.
constexpr std::uint32_t kLanes = 8;
constexpr std::uint32_t kMinRow = kLanes + 2;

// Calls run(x) for runs of eight from x = 1 to cover pixels 1 .. w - 2 (w >= kMinRow);
// the last run starts eight from the end, so some pixels are done twice.
template <typename Run>
inline void for_each_run(std::uint32_t w, Run run) {
    std::uint32_t x = 1;
    for (; x + kLanes < w; x += kLanes) run(x);
    if (x + 1 < w) run(w - 1 - kLanes);
}

// Applies `pick(samples, own value)` to every pixel of a w x h image (w, h >= 5).
// `row(a, b, c, o)`, when given, does the same for the inside pixels of a row of
// at least kMinRow pixels: b is the row, a and c the rows above and below, o the
// output row.
template <typename Pick, typename Row = std::nullptr_t>
void filter_image(const std::uint16_t* in, std::uint16_t* out, std::uint32_t w, std::uint32_t h, Pick pick,
                  Row row = nullptr) {
    const std::size_t sw = w;
    for (std::uint32_t y = 1; y + 1 < h; ++y) {
        const std::uint16_t* a = in + (y - 1) * sw;
        const std::uint16_t* b = a + sw;
        const std::uint16_t* c = b + sw;
        std::uint16_t* o = out + y * sw;
        if constexpr (!std::is_same_v<Row, std::nullptr_t>) {
            if (w >= kMinRow) {
                row(a, b, c, o);
                continue;
            }
        }
        for (std::uint32_t x = 1; x + 1 < w; ++x) {
            const Samples s = {a[x - 1], a[x], a[x + 1], b[x - 1], b[x], b[x + 1], c[x - 1], c[x], c[x + 1]};
            o[x] = pick(s, b[x]);
        }
    }
    const auto border = [&](std::uint32_t x, std::uint32_t y) {
        std::size_t at[kNeighbourhood];
        neighbourhood(x, y, w, h, at);
        Samples s;
        for (std::uint32_t k = 0; k < kNeighbourhood; ++k) s[k] = in[at[k]];
        // The result goes to the pixel's own place even where the center sample is another pixel.
        out[y * sw + x] = pick(s, in[y * sw + x]);
    };
    for (std::uint32_t x = 0; x < w; ++x) border(x, 0), border(x, h - 1);
    for (std::uint32_t y = 1; y + 1 < h; ++y) border(0, y), border(w - 1, y);
}

// Center value limited to the range of the other eight samples.
constexpr auto clamp_center = [](const Samples& s, std::uint16_t) {
    std::uint16_t lo = s[0], hi = s[0];
    for (std::uint32_t k = 1; k < kNeighbourhood; ++k) {
        if (k == kCenter) continue;
        lo = s[k] < lo ? s[k] : lo;
        hi = s[k] > hi ? s[k] : hi;
    }
    return core::clamp_to(s[kCenter], lo, hi);
};

#if TVX_SSE2
using core::flip_sign16;
using core::load8;
using core::store8;

// The nine samples of the eight inside pixels from b[x] on, in the order of neighbourhood().
struct Samples8 {
    __m128i s[kNeighbourhood];
    Samples8(const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c, std::uint32_t x)
        : s{load8(a + x - 1), load8(a + x), load8(a + x + 1), load8(b + x - 1), load8(b + x),
            load8(b + x + 1), load8(c + x - 1), load8(c + x), load8(c + x + 1)} {}
};

// DELNOISE1 over the inside of a row: the center limited to the range of the other eight.
void clamp_center_row(const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c, std::uint16_t* o,
                      std::uint32_t w) {
    for_each_run(w, [&](std::uint32_t x) {
        Samples8 in(a, b, c, x);
        __m128i* v = in.s;
#pragma GCC unroll 9
        for (std::uint32_t k = 0; k < kNeighbourhood; ++k) v[k] = flip_sign16(v[k]);  // unsigned order through signed minimums and maximums
        const __m128i lo = _mm_min_epi16(_mm_min_epi16(_mm_min_epi16(v[0], v[1]), _mm_min_epi16(v[2], v[3])),
                                         _mm_min_epi16(_mm_min_epi16(v[5], v[6]), _mm_min_epi16(v[7], v[8])));
        const __m128i hi = _mm_max_epi16(_mm_max_epi16(_mm_max_epi16(v[0], v[1]), _mm_max_epi16(v[2], v[3])),
                                         _mm_max_epi16(_mm_max_epi16(v[5], v[6]), _mm_max_epi16(v[7], v[8])));
        store8(o + x, flip_sign16(_mm_max_epi16(_mm_min_epi16(v[kCenter], hi), lo)));
    });
}

// A sample and its distance from the mean, for eight pixels.
struct Candidate {
    __m128i d, v;
};

// Of two candidates, b coming later in the sample order, the nearer, a on a tie.
// Over a tree of them this is the first strictly nearest, as the plain search finds.
inline Candidate first_nearest(const Candidate& a, const Candidate& b) {
    const __m128i gain = _mm_subs_epu16(a.d, b.d);  // non-zero where b is strictly nearer
    const __m128i keep = _mm_cmpeq_epi16(gain, _mm_setzero_si128());
    return {_mm_sub_epi16(a.d, gain), _mm_or_si128(_mm_and_si128(keep, a.v), _mm_andnot_si128(keep, b.v))};
}

// DELNOISE2 over the inside of a row. `col` is scratch of 2w words for the 32-bit
// sums of the three rows per column.
//
// The sum of nine 16-bit samples is below 2^20, so its float is exact, and the mean
// sum / 9 is the float product with 1/9 (which float rounds up), truncated: the
// product is not below sum / 9, and as the fraction of sum / 9 is at most 8/9 it
// stays below the next integer (1/9 is off by under 1e-9, the product's rounding
// by under 2^-8). Checked for every sum up to 9 x 65535.
void nearest_row(const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c, std::uint16_t* o,
                 std::uint32_t w, __m128i top, std::uint16_t* col) {
    const __m128i zero = _mm_setzero_si128();
    const auto col4 = [col](std::uint32_t x) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(col + 2 * x)); };
    const auto put4 = [col](std::uint32_t x, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(col + 2 * x), v); };
    const auto columns = [&](std::uint32_t x) {
        const __m128i p = load8(a + x), q = load8(b + x), r = load8(c + x);
        put4(x, _mm_add_epi32(_mm_add_epi32(_mm_unpacklo_epi16(p, zero), _mm_unpacklo_epi16(q, zero)),
                              _mm_unpacklo_epi16(r, zero)));
        put4(x + 4, _mm_add_epi32(_mm_add_epi32(_mm_unpackhi_epi16(p, zero), _mm_unpackhi_epi16(q, zero)),
                                  _mm_unpackhi_epi16(r, zero)));
    };
    std::uint32_t x = 0;
    for (; x + kLanes <= w; x += kLanes) columns(x);
    if (x < w) columns(w - kLanes);

    const __m128 ninth = _mm_set1_ps(1.0f / 9.0f);
    const auto mean4 = [&](std::uint32_t x) {
        const __m128i sum = _mm_add_epi32(_mm_add_epi32(col4(x - 1), col4(x)), col4(x + 1));
        return _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(sum), ninth));
    };
    for_each_run(w, [&](std::uint32_t x) {
        const __m128i mean = core::pack_u16(mean4(x), mean4(x + 4));
        const Samples8 in(a, b, c, x);
        Candidate s[kNeighbourhood];
#pragma GCC unroll 9
        for (std::uint32_t k = 0; k < kNeighbourhood; ++k)
            s[k] = {_mm_or_si128(_mm_subs_epu16(mean, in.s[k]), _mm_subs_epu16(in.s[k], mean)), in.s[k]};
        // M with the pixel's own value comes first: it stays unless a sample is nearer than M.
        const Candidate first = first_nearest(first_nearest(s[0], s[1]), first_nearest(s[2], s[3]));
        const Candidate second = first_nearest(first_nearest(s[4], s[5]), first_nearest(s[6], s[7]));
        const Candidate all = first_nearest(first_nearest(first, second), s[8]);
        store8(o + x, first_nearest({top, in.s[kCenter]}, all).v);
    });
}
#endif

}  // namespace

void neighbourhood(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
                   std::size_t (&index)[kNeighbourhood]) noexcept {
    const auto at = [w](std::int64_t cx, std::int64_t cy) { return static_cast<std::size_t>(cy * w + cx); };
    const std::int64_t r = w - 1, b = h - 1, px = x, py = y;
    const bool left = x == 0, right = px == r, top = y == 0, bottom = py == b;
    if ((left || right) && (top || bottom)) {
        // Four along the column (farthest first), the corner, the diagonal, three along the row.
        const std::int64_t dx = left ? 1 : -1, dy = top ? 1 : -1;
        const std::size_t v[] = {at(px, py + 4 * dy), at(px, py + 3 * dy), at(px, py + 2 * dy),
                                 at(px, py + dy),     at(px, py),          at(px + dx, py + dy),
                                 at(px + dx, py),     at(px + 2 * dx, py), at(px + 3 * dx, py)};
        std::memcpy(index, v, sizeof v);
    } else if (left || right) {
        // Two columns by five rows, centered at least two rows from the corners.
        const std::int64_t c = core::clamp_to<std::int64_t>(py, 2, b - 2);
        const std::size_t l[] = {at(0, c - 2), at(1, c - 2), at(0, c - 1), at(1, c - 1), at(0, c),
                                 at(1, c),     at(0, c + 1), at(1, c + 1), at(0, c + 2)};
        const std::size_t rr[] = {at(r, c - 2),     at(r - 1, c - 1), at(r, c - 1), at(r - 1, c), at(r, c),
                                  at(r - 1, c + 1), at(r, c + 1),     at(r - 1, c + 2), at(r, c + 2)};
        std::memcpy(index, left ? l : rr, sizeof l);
    } else if (top || bottom) {
        // The same along the top and bottom rows, with rows and columns swapped.
        const std::int64_t c = core::clamp_to<std::int64_t>(px, 2, r - 2);
        const std::size_t t[] = {at(c - 2, 0), at(c - 2, 1), at(c - 1, 0), at(c - 1, 1), at(c, 0),
                                 at(c, 1),     at(c + 1, 0), at(c + 1, 1), at(c + 2, 0)};
        const std::size_t bb[] = {at(c - 2, b),     at(c - 1, b - 1), at(c - 1, b), at(c, b - 1), at(c, b),
                                  at(c + 1, b - 1), at(c + 1, b),     at(c + 2, b - 1), at(c + 2, b)};
        std::memcpy(index, top ? t : bb, sizeof t);
    } else {
        const std::size_t v[] = {at(px - 1, py - 1), at(px, py - 1), at(px + 1, py - 1), at(px - 1, py), at(px, py),
                                 at(px + 1, py),     at(px - 1, py + 1), at(px, py + 1), at(px + 1, py + 1)};
        std::memcpy(index, v, sizeof v);
    }
}

std::int32_t clamp_to_neighbours(const TomoFrame& frame) noexcept {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    core::Buffer<std::uint16_t> out(n);
    if (!out.ok()) return TAVIREX_E_NO_MEMORY;
    const std::uint16_t* in = frame.data;
    if (frame.width < 3) {
        // One run of values: each is limited to the range of the eight around the
        // nearest center four or more from either end (itself excluded from that range).
        if (n < kMinRun) return TAVIREX_OK;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t j = core::clamp_to<std::size_t>(i, 4, n - 5);
            std::uint16_t lo = in[j - 4], hi = in[j - 4];
            for (std::size_t k = j - 3; k <= j + 4; ++k) {
                if (k == j) continue;
                lo = in[k] < lo ? in[k] : lo;
                hi = in[k] > hi ? in[k] : hi;
            }
            out[i] = core::clamp_to(in[i], lo, hi);
        }
    } else {
        if (frame.width < kMinSide || frame.height < kMinSide) return TAVIREX_OK;
#if TVX_SSE2
        if (core::fast_paths())
            filter_image(in, out.data(), frame.width, frame.height, clamp_center,
                         [w = frame.width](const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c,
                                           std::uint16_t* o) { clamp_center_row(a, b, c, o, w); });
        else
#endif
            filter_image(in, out.data(), frame.width, frame.height, clamp_center);
    }
    std::memcpy(frame.data, out.data(), out.bytes());
    return TAVIREX_OK;
}

std::int32_t replace_by_nearest_to_mean(const TomoFrame& frame) noexcept {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    // The SSE2 rows keep their column sums (2 words each) after the image.
    const bool sse2 = core::fast_paths();
    core::Buffer<std::uint16_t> out(n + (sse2 ? 2 * frame.width : 0));
    if (!out.ok()) return TAVIREX_E_NO_MEMORY;
    if (frame.width < kMinSide || frame.height < kMinSide) return TAVIREX_OK;
    const std::int32_t top = frame.max_value;
    // The first sample strictly nearer the mean than any before it, and nearer than M.
    const auto nearest = [top](const Samples& s, std::uint16_t own) {
        std::uint32_t sum = 0;
        for (std::uint16_t v : s) sum += v;
        const std::int32_t mean = static_cast<std::int32_t>(sum / kNeighbourhood);
        std::int32_t best = top;
        std::uint16_t pick = own;
        for (std::uint16_t v : s) {
            const std::int32_t d = mean > v ? mean - v : v - mean;
            pick = d < best ? v : pick;
            best = d < best ? d : best;
        }
        return pick;
    };
#if TVX_SSE2
    if (sse2) {
        const __m128i m = _mm_set1_epi16(static_cast<short>(frame.max_value));
        std::uint16_t* col = out.data() + n;
        filter_image(frame.data, out.data(), frame.width, frame.height, nearest,
                     [m, col, w = frame.width](const std::uint16_t* a, const std::uint16_t* b, const std::uint16_t* c,
                                               std::uint16_t* o) { nearest_row(a, b, c, o, w, m, col); });
    } else
#endif
        filter_image(frame.data, out.data(), frame.width, frame.height, nearest);
    std::memcpy(frame.data, out.data(), n * sizeof(std::uint16_t));
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
