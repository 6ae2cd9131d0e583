// Step 8: brightness smoothing across CCD joints. The chips differ slightly in
// response, so the brightness steps where two chips meet. Near each joint the
// image is split into an ambient brightness (wide horizontal mean) and detail;
// the ambient brightness is smoothed vertically across the joint, the detail is
// added back, and the result is blended with the pixel by a raised-cosine weight
// that is 0 at the joint and nearly 1 at the band's edges.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "diag/diag.h"
#include "core/simd.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::int32_t kHalfWindow = 30;  // ambient mean: 30 columns left, the pixel and 30 right
constexpr std::uint32_t kStrip = 256;      // columns summed at a time on the stack
// 2 pi as the weight formula has always written it; the weights depend on these digits.
constexpr double kTwoPiApprox = 6.28318;

// Stage banners (code page 932): start of the ambient brightness and of the
// per-point values; start of the smoothing and of the restoring; end.
const char kAmbientStart[] = "    8-3.\x8A\xC2\x8B\xAB\x8BP\x93x\x8Cv\x8EZ\x8AJ\x8En";
const char kPointStart[] = "with8-4.\x8A" "e\x93_\x93\xC1\x90\xAB\x97\xCA\x8Cv\x8EZ\x8AJ\x8En";
const char kSmoothStart[] = "    8-5.\x8A\xC2\x8B\xAB\x8BP\x93x\x95\xBD\x8A\x8A\x89\xBB\x8AJ\x8En";
const char kRestoreStart[] = "with8-6.\x93\xC1\x90\xAB\x92l\x96\xDF\x82\xB5\x8AJ\x8En";
const char kEnd[] = "    8-7.\x8FI\x97\xB9";

// The three work images of the step, each one 16-bit value per pixel.
struct WorkImages {
    core::Buffer<std::int16_t> orgsum;   // ambient brightness
    core::Buffer<std::int16_t> chgsum;   // ambient brightness smoothed across the joint
    core::Buffer<std::int16_t> id_info;  // detail: pixel less ambient brightness
};


// Rows lo .. hi - 1 cut to the block.
void clip_rows(std::int64_t lo, std::int64_t hi, std::int64_t rows, std::int64_t* first, std::int64_t* end) {
    *first = lo < 0 ? 0 : lo;
    *end = hi > rows ? rows : hi;
}

// Ambient brightness and detail of one row: running sum of the horizontal window.
void ambient_row(const std::uint16_t* px, std::int16_t* org, std::int16_t* detail, std::int32_t width) {
    std::uint32_t sum = 0;
    std::int32_t right = 0;  // columns 0 .. right - 1 are in the sum
    std::int32_t left = 0;
    for (std::int32_t x = 0; x < width; ++x) {
        const std::int32_t want_right = x + kHalfWindow + 1 < width ? x + kHalfWindow + 1 : width;
        const std::int32_t want_left = x - kHalfWindow > 0 ? x - kHalfWindow : 0;
        while (right < want_right) sum += px[right++];
        while (left < want_left) sum -= px[left++];
        const std::uint32_t mean = sum / static_cast<std::uint32_t>(right - left);
        org[x] = core::as_s16(mean);
        detail[x] = core::as_s16(static_cast<std::uint32_t>(px[x] - static_cast<std::int32_t>(mean)));
    }
}

// Rows of the joints between chips: one for the panoramic sensor, two for the
// cephalometric one. 0 joints for a sensor flag that is neither.
std::uint32_t joint_rows(const JointSmoothingParams& p, std::int32_t* joints) {
    if (p.ceph_mode == 0) {
        joints[0] = p.ypos;
        return 1;
    }
    if (p.ceph_mode == 1) {
        joints[0] = core::wrap16(static_cast<std::int64_t>(p.ypos) - p.ccd_gap / 2);
        joints[1] = core::wrap16(static_cast<std::int64_t>(p.ypos2) + p.ccd_gap2 / 2 - p.upper_ypos + p.ypos);
        return 2;
    }
    return 0;
}

// The work images start cleared. Only the ambient rows, and the rows the
// vertical mean reads around the blended rows, are ever read, so only those
// are cleared; the other rows of the three images are never touched.
void clear_read_rows(ImageView block, const JointSmoothingParams& p, std::int32_t joint, WorkImages& w) {
    const std::int64_t lo = p.ave_range_low, hi = p.ave_range, range = p.chg_sum_range;
    std::int64_t first, end;
    clip_rows(joint - (2 * lo > lo + range ? 2 * lo : lo + range), joint + (2 * hi > hi + range ? 2 * hi : hi + range),
              block.height, &first, &end);
    if (first >= end) return;
    const std::size_t at = static_cast<std::size_t>(first) * block.width;
    const std::size_t count = static_cast<std::size_t>(end - first) * block.width;
    std::memset(w.orgsum.data() + at, 0, count * sizeof(std::int16_t));
    std::memset(w.chgsum.data() + at, 0, count * sizeof(std::int16_t));
    std::memset(w.id_info.data() + at, 0, count * sizeof(std::int16_t));
}

// Ambient brightness and detail of the rows within twice the band of a joint.
void split_ambient(ImageView block, const JointSmoothingParams& p, std::int32_t joint, WorkImages& w,
                   const diag::Trace& trace) {
    std::int64_t first, end;
    clip_rows(joint - 2 * static_cast<std::int64_t>(p.ave_range_low), joint + 2 * static_cast<std::int64_t>(p.ave_range),
              block.height, &first, &end);
    for (std::int64_t y = first; y < end; ++y) {
        trace.print(trace.check_state, "[h]=[%4d]\r", static_cast<int>(y));
        const std::size_t at = static_cast<std::size_t>(y) * block.width;
        ambient_row(block.data + at, w.orgsum.data() + at, w.id_info.data() + at, static_cast<std::int32_t>(block.width));
    }
    trace.print(trace.check_state, "\n");
}

// Smooths the ambient brightness vertically over the band of a joint, adds the
// detail back and blends the result with the pixel by the joint weight.
void blend_band(ImageView block, const JointSmoothingParams& p, std::int32_t joint, WorkImages& w,
                const diag::Trace& trace) {
    const std::int64_t rows = block.height;
    const std::int64_t range = p.chg_sum_range;
    std::int64_t first, end;
    clip_rows(joint - static_cast<std::int64_t>(p.ave_range_low), joint + static_cast<std::int64_t>(p.ave_range), rows,
              &first, &end);
    for (std::int64_t y = first; y < end; ++y) {
        trace.print(trace.check_state, "[h]=[%4d]\r", static_cast<int>(y));
        const double wgt = joint_weight(static_cast<std::int32_t>(y), joint, p.ave_range, p.ave_range_low);
        const double keep = 1.0 - wgt;
        const std::int64_t r0 = y - range < 0 ? 0 : y - range;
        const std::int64_t r1 = y + range >= rows ? rows - 1 : y + range;
        const std::int32_t count = static_cast<std::int32_t>(r1 - r0 + 1);
        const std::size_t at = static_cast<std::size_t>(y) * block.width;
        std::uint16_t* px = block.data + at;
        std::int16_t* chg = w.chgsum.data() + at;
        const std::int16_t* detail = w.id_info.data() + at;
        for (std::uint32_t x0 = 0; x0 < block.width; x0 += kStrip) {
            const std::uint32_t len = block.width - x0 < kStrip ? block.width - x0 : kStrip;
            std::int32_t acc[kStrip] = {};
            for (std::int64_t r = r0; r <= r1; ++r) {
                const std::int16_t* org = w.orgsum.data() + static_cast<std::size_t>(r) * block.width + x0;
                for (std::uint32_t i = 0; i < len; ++i) acc[i] += org[i];
            }
            for (std::uint32_t i = 0; i < len; ++i) {
                const std::uint32_t x = x0 + i;
                chg[x] = core::as_s16(static_cast<std::uint32_t>(acc[i] / count));
                const std::int32_t s = core::as_s16(static_cast<std::uint32_t>(chg[x] + detail[x]));
                px[x] = core::clamp_to_12bit(
                    core::trunc_to_i32_or_min(static_cast<double>(s) * keep + static_cast<double>(px[x]) * wgt));
            }
        }
    }
    trace.print(trace.check_state, "\n");
}

}  // namespace

double joint_weight(std::int32_t y, std::int32_t joint, std::uint16_t ave_range, std::uint16_t ave_range_low) {
    if (y == joint) return 0.0;
    std::int32_t d;
    std::int32_t r;
    if (y < joint) {
        d = std::abs(y - ave_range_low - joint);
        r = ave_range_low;
    } else {
        d = std::abs(y - ave_range - joint);
        r = ave_range;
    }
    const double t = (std::cos(static_cast<double>(d) / static_cast<double>(2 * r) * kTwoPiApprox) + 1.0) * 0.5;
    return t * t;
}

namespace {

// Rows lo .. hi - 1 cut to the block, for a joint at row j.
struct Rows {
    std::int64_t first, end;
};
Rows band_of(const JointSmoothingParams& p, std::int32_t j, std::int64_t rows) {
    Rows r;
    clip_rows(j - static_cast<std::int64_t>(p.ave_range_low), j + static_cast<std::int64_t>(p.ave_range), rows, &r.first, &r.end);
    return r;
}

std::int64_t ring_rows(std::uint32_t height, const JointSmoothingParams& p) {
    return std::max<std::int64_t>(1, std::min<std::int64_t>(2 * static_cast<std::int64_t>(p.chg_sum_range) + 1, height));
}

#if TVX_SSE2
// The low 16 bits of four 32-bit lanes, as signed 16-bit values.
inline __m128i low16_of(__m128i a, __m128i b) {
    return _mm_packs_epi32(core::low16_signed(a), core::low16_signed(b));
}

// Ambient brightness of one row into `org`, as ambient_row makes it: the window
// sums come from prefix sums (kept modulo 2^32; a window sum is below 2^22), and
// sum / 61 of the full windows is the truncated single-precision quotient, which
// is exact: the sum converts exactly and a quotient below 65536 is never rounded
// across a whole number, as 1/61 exceeds its rounding error.
void ambient_fast(const std::uint16_t* px, std::int16_t* org, std::uint32_t width, std::uint32_t* prefix) {
    prefix[0] = 0;
    for (std::uint32_t x = 0; x < width; ++x) prefix[x + 1] = prefix[x] + px[x];
    const auto mean_at = [&](std::uint32_t x) {
        const std::uint32_t right = x + kHalfWindow + 1 < width ? x + kHalfWindow + 1 : width;
        const std::uint32_t left = x > static_cast<std::uint32_t>(kHalfWindow) ? x - kHalfWindow : 0;
        return (prefix[right] - prefix[left]) / (right - left);
    };
    std::uint32_t x = 0;
    for (; x < width && x < static_cast<std::uint32_t>(kHalfWindow); ++x) org[x] = core::as_s16(mean_at(x));
    const __m128 full = _mm_set1_ps(2.0f * kHalfWindow + 1.0f);
    for (; x + 8 + kHalfWindow <= width; x += 8) {
        const std::uint32_t* r = prefix + x + kHalfWindow + 1;
        const std::uint32_t* l = prefix + x - kHalfWindow;
        const __m128i s0 = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(l)));
        const __m128i s1 = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 4)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(l + 4)));
        const __m128i m0 = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(s0), full));
        const __m128i m1 = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(s1), full));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(org + x), low16_of(m0, m1));
    }
    for (; x < width; ++x) org[x] = core::as_s16(mean_at(x));
}

// Adds (sign +1) or subtracts (-1) one row of ambient values into the 32-bit column sums.
void accumulate(std::int32_t* acc, const std::int16_t* org, std::uint32_t width, int sign) {
    std::uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(org + x));
        const __m128i lo = _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
        const __m128i hi = _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16);
        __m128i* a = reinterpret_cast<__m128i*>(acc + x);
        const __m128i a0 = _mm_loadu_si128(a), a1 = _mm_loadu_si128(a + 1);
        _mm_storeu_si128(a, sign > 0 ? _mm_add_epi32(a0, lo) : _mm_sub_epi32(a0, lo));
        _mm_storeu_si128(a + 1, sign > 0 ? _mm_add_epi32(a1, hi) : _mm_sub_epi32(a1, hi));
    }
    for (; x < width; ++x)
        acc[x] = static_cast<std::int32_t>(static_cast<std::uint32_t>(acc[x]) + static_cast<std::uint32_t>(sign * org[x]));
}

// One blended row: acc holds the column sums of `count` ambient rows, org the
// row's own ambient values (the detail is the pixel less them, in 16 bits).
// The quotient acc / count, truncated, is exact in single precision for
// count <= 256 (|acc| < 2^24 converts exactly, and a quotient below 2^15 is
// rounded by less than 1/256) and in double otherwise; the blend itself is the
// plain double expression, two pixels at a time.
void blend_row(std::uint16_t* px, const std::int32_t* acc, const std::int16_t* org, std::uint32_t width,
               std::int32_t count, double keep, double wgt) {
    const __m128d k = _mm_set1_pd(keep), g = _mm_set1_pd(wgt);
    const __m128 cf = _mm_set1_ps(static_cast<float>(count));
    const __m128d cd = _mm_set1_pd(static_cast<double>(count));
    const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(core::kSampleMax);
    const bool narrow = count <= 256;
    const auto blend2 = [&](__m128i s32, __m128i p32) {  // two lanes
        return _mm_cvttpd_epi32(
            _mm_add_pd(_mm_mul_pd(_mm_cvtepi32_pd(s32), k), _mm_mul_pd(_mm_cvtepi32_pd(p32), g)));
    };
    const auto quotient4 = [&](__m128i a) {
        if (narrow) return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(a), cf));
        const __m128i q0 = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(a), cd));
        const __m128i q1 = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(a, 0x0E)), cd));
        return _mm_unpacklo_epi64(q0, q1);
    };
    std::uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i q0 = quotient4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + x)));
        const __m128i q1 = quotient4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + x + 4)));
        const __m128i chg = low16_of(q0, q1);
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + x));
        const __m128i detail = _mm_sub_epi16(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(org + x)));
        const __m128i s = _mm_add_epi16(chg, detail);
        const __m128i s_lo = _mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16);
        const __m128i s_hi = _mm_srai_epi32(_mm_unpackhi_epi16(s, s), 16);
        const __m128i p_lo = _mm_unpacklo_epi16(p, zero);
        const __m128i p_hi = _mm_unpackhi_epi16(p, zero);
        const __m128i r0 = _mm_unpacklo_epi64(blend2(s_lo, p_lo),
                                              blend2(_mm_shuffle_epi32(s_lo, 0x0E), _mm_shuffle_epi32(p_lo, 0x0E)));
        const __m128i r1 = _mm_unpacklo_epi64(blend2(s_hi, p_hi),
                                              blend2(_mm_shuffle_epi32(s_hi, 0x0E), _mm_shuffle_epi32(p_hi, 0x0E)));
        const __m128i r = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(r0, r1), zero), top);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px + x), r);
    }
    for (; x < width; ++x) {
        const std::int32_t chg = core::as_s16(static_cast<std::uint32_t>(acc[x] / count));
        const std::int32_t detail = core::as_s16(static_cast<std::uint32_t>(px[x] - org[x]));
        const std::int32_t s = core::as_s16(static_cast<std::uint32_t>(chg + detail));
        px[x] = core::clamp_to_12bit(
            core::trunc_to_i32_or_min(static_cast<double>(s) * keep + static_cast<double>(px[x]) * wgt));
    }
}

// Each joint's band is blended row by row while a window of ambient rows slides
// down with it: a row's ambient brightness is made when it enters the window
// (before any row at or below it is blended), and the column sums of the window
// are kept up to date by adding the entering and subtracting the leaving row.
// Rows read but outside every joint's ambient rows count as 0, as the cleared
// rows of the plain step do.
std::int32_t smooth_joint_sse2(ImageView block, const JointSmoothingParams& p, const diag::Trace& trace,
                               void* work) noexcept {
    trace.banner("    8-2.Allocate");
    const std::int64_t rows = block.height;
    const std::uint32_t width = block.width;
    const std::int64_t range = p.chg_sum_range;
    const std::int64_t ring = ring_rows(block.height, p);
    core::Carve carve(work);
    std::int16_t* const org = carve.take<std::int16_t>(static_cast<std::size_t>(ring) * width);
    std::int32_t* const acc = carve.take<std::int32_t>(width);
    std::uint32_t* const prefix = carve.take<std::uint32_t>(std::size_t{width} + 1);
    trace.banner(kAmbientStart);
    trace.banner(kPointStart);
    std::int32_t joints[2];
    const std::uint32_t joint_count = joint_rows(p, joints);
    if (joint_count == 0) return TAVIREX_E_RANGE;
    trace.banner(kSmoothStart);
    trace.banner(kRestoreStart);

    const auto ambient_rows = [&](std::int64_t r) {
        for (std::uint32_t k = 0; k < joint_count; ++k)
            if (r >= joints[k] - 2 * static_cast<std::int64_t>(p.ave_range_low) &&
                r < joints[k] + 2 * static_cast<std::int64_t>(p.ave_range))
                return true;
        return false;
    };
    const auto slot = [&](std::int64_t r) { return org + static_cast<std::size_t>(r % ring) * width; };
    const auto enter = [&](std::int64_t r) {
        std::int16_t* o = slot(r);
        if (ambient_rows(r))
            ambient_fast(block.row(static_cast<std::uint32_t>(r)), o, width, prefix);
        else
            std::memset(o, 0, sizeof(std::int16_t) * width);
        accumulate(acc, o, width, +1);
    };
    for (std::uint32_t k = 0; k < joint_count; ++k) {
        const Rows band = band_of(p, joints[k], rows);
        if (band.first >= band.end) continue;
        std::memset(acc, 0, sizeof(std::int32_t) * width);
        std::int64_t lo = std::max<std::int64_t>(band.first - range, 0), hi = lo - 1;  // rows lo .. hi are summed
        for (std::int64_t y = band.first; y < band.end; ++y) {
            const std::int64_t r0 = std::max<std::int64_t>(y - range, 0);
            const std::int64_t r1 = std::min<std::int64_t>(y + range, rows - 1);
            for (; lo < r0; ++lo) accumulate(acc, slot(lo), width, -1);
            while (hi < r1) enter(++hi);
            const double wgt = joint_weight(static_cast<std::int32_t>(y), joints[k], p.ave_range, p.ave_range_low);
            blend_row(block.row(static_cast<std::uint32_t>(y)), acc, slot(y), width,
                      static_cast<std::int32_t>(r1 - r0 + 1), 1.0 - wgt, wgt);
        }
    }
    trace.banner(kEnd);
    return TAVIREX_OK;
}
#endif

}  // namespace

bool joint_smoothing_in_place(const JointSmoothingParams& p, std::uint32_t rows, const diag::Trace& trace) noexcept {
    if (trace.check_state) return false;
    std::int32_t joints[2];
    if (joint_rows(p, joints) != 2) return true;
    // The second joint's reads (its band widened by the vertical half window) must miss the first joint's band.
    const Rows b0 = band_of(p, joints[0], rows), b1 = band_of(p, joints[1], rows);
    if (b0.first >= b0.end || b1.first >= b1.end) return true;
    return b1.end - 1 + p.chg_sum_range < b0.first || b1.first - p.chg_sum_range >= b0.end;
}

std::size_t joint_work(std::uint32_t width, std::uint32_t height, const JointSmoothingParams& p) noexcept {
    using core::Carve;
    return Carve::bytes<std::int16_t>(static_cast<std::size_t>(ring_rows(height, p)) * width) +
           Carve::bytes<std::int32_t>(width) + Carve::bytes<std::uint32_t>(std::size_t{width} + 1);
}

std::int32_t smooth_joint_brightness(ImageView block, const JointSmoothingParams& p, const diag::Trace& trace,
                                     void* work) {
#if TVX_SSE2
    if (work != nullptr) return smooth_joint_sse2(block, p, trace, work);  // in place, checked by the driver
    if (core::fast_paths() && joint_smoothing_in_place(p, block.height, trace)) {
        core::Buffer<std::uint8_t> own(joint_work(block.width, block.height, p));
        if (!own.ok()) {
            trace.banner("    8-2.Allocate");
            trace.failure("Cannot Allocate for orgsum\n");
            return TAVIREX_E_NO_MEMORY;
        }
        return smooth_joint_sse2(block, p, trace, own.data());
    }
#endif
    trace.banner("    8-2.Allocate");
    const std::size_t n = block.pixels();
    WorkImages w;
    if (!w.orgsum.reset(n)) {
        trace.failure("Cannot Allocate for orgsum\n");
        return TAVIREX_E_NO_MEMORY;
    }
    if (!w.chgsum.reset(n)) {
        trace.failure("Cannot Allocate for chgsum\n");
        return TAVIREX_E_NO_MEMORY;
    }
    if (!w.id_info.reset(n)) {
        trace.failure("Cannot Allocate for id_info\n");
        return TAVIREX_E_NO_MEMORY;
    }
    trace.banner(kAmbientStart);
    trace.banner(kPointStart);

    std::int32_t joints[2];
    const std::uint32_t joint_count = joint_rows(p, joints);
    if (joint_count == 0) return TAVIREX_E_RANGE;
    for (std::uint32_t k = 0; k < joint_count; ++k) clear_read_rows(block, p, joints[k], w);
    for (std::uint32_t k = 0; k < joint_count; ++k) split_ambient(block, p, joints[k], w, trace);

    trace.banner(kSmoothStart);
    trace.banner(kRestoreStart);
    for (std::uint32_t k = 0; k < joint_count; ++k) blend_band(block, p, joints[k], w, trace);
    trace.banner(kEnd);
    return TAVIREX_OK;
}

}  // namespace tvx::processing
