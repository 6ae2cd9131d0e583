// Steps 7 to 11 on hand-made blocks, and the fast forms of the steps against
// straightforward transcriptions of their formulas on random blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "api/context.h"
#include "core/alloc.h"
#include "processing/steps.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

using tvx::core::ImageView;
using Pixels = std::vector<std::uint16_t>;
namespace proc = tvx::processing;

using BlockTest = tvxtest::LibraryTest;

Pixels random_block(std::size_t n, std::uint32_t seed, int lo = 0, int hi = 4095) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    Pixels v(n);
    for (auto& x : v) x = static_cast<std::uint16_t>(d(rng));
    return v;
}
ImageView view(Pixels& px, int w) {
    return ImageView{px.data(), static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(px.size() / w)};
}
std::uint16_t clamp12(double v) { return static_cast<std::uint16_t>(std::clamp(static_cast<long>(v), 0L, 4095L)); }
std::int16_t s16(long v) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF)); }

// ---- straightforward transcriptions --------------------------------------

Pixels ref_noise(const Pixels& in, int w, int h) {
    Pixels out = in;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const auto at = [&](int k) { return in[(y + k / 3 - 1) * w + x + k % 3 - 1]; };
            std::uint16_t sum = 0, best = 4095;  // the sum wraps at 16 bits
            for (int k = 0; k < 9; ++k) sum = static_cast<std::uint16_t>(sum + at(k));
            for (int k = 0; k < 9; ++k)
                if (static_cast<std::uint16_t>(std::abs(sum / 9 - at(k))) < best)
                    best = static_cast<std::uint16_t>(std::abs(sum / 9 - at(k))), out[y * w + x] = at(k);
        }
    return out;
}

void ref_joint(Pixels& px, int w, int h, const proc::JointSmoothingParams& p) {
    std::vector<std::int16_t> org(px.size()), id(px.size());
    std::vector<int> joints = {p.ypos};
    if (p.ceph_mode)
        joints = {static_cast<std::uint16_t>(p.ypos - p.ccd_gap / 2),
                  static_cast<std::uint16_t>(p.ypos2 + p.ccd_gap2 / 2 - p.upper_ypos + p.ypos)};
    // Ambient brightness: 61-column mean, cut at the block edges.
    for (int j : joints)
        for (int y = std::max(0, j - 2 * p.ave_range_low); y <= std::min(h - 1, j + 2 * p.ave_range - 1); ++y)
            for (int x = 0; x < w; ++x) {
                unsigned sum = 0, n = 0;
                for (int c = std::max(0, x - 30); c <= std::min(w - 1, x + 30); ++c) sum += px[y * w + c], ++n;
                org[y * w + x] = s16(sum / n);
                id[y * w + x] = s16(px[y * w + x] - static_cast<long>(sum / n));
            }
    for (int j : joints)
        for (int y = std::max(0, j - p.ave_range_low); y <= std::min(h - 1, j + p.ave_range - 1); ++y) {
            const int r = y < j ? p.ave_range_low : p.ave_range;
            const double d = std::abs(y - r - j);
            const double wt = y == j ? 0.0 : std::pow((std::cos(d / (2 * r) * 6.28318) + 1) * 0.5, 2);
            for (int x = 0; x < w; ++x) {
                long sum = 0, n = 0;
                for (int q = std::max(0, y - p.chg_sum_range); q <= std::min(h - 1, y + p.chg_sum_range); ++q)
                    sum += org[q * w + x], ++n;
                const std::int16_t s = s16(s16(sum / n) + id[y * w + x]);
                px[y * w + x] = clamp12(s * (1 - wt) + px[y * w + x] * wt);
            }
        }
}

std::uint16_t ref_stretch_pixel(int v, float mn, float mx) {
    const long t = static_cast<long>((v * 4095.0f - mn * 4095.0f) / (mx - mn) + 0.5f);
    return static_cast<std::uint16_t>(t > 4095 ? 4095 : t);
}

std::uint16_t ref_tone_pixel(int v, int m) {
    const double k = (12576768.0 - m * m) / (4095 - 2 * m), p = 4095 - k;
    return clamp12(p + std::sqrt(p * p + 2 * k * v - static_cast<double>(v) * v));
}

// Row or column background as written: double sums in pixel order, 0 and 4095 left out,
// then the mean of the values within sigma standard deviations.
double ref_background(const std::uint16_t* first, int count, int stride, double sigma) {
    double sum = 0, sq = 0, sum2 = 0;
    int n = 0, n2 = 0;
    for (int i = 0; i < count; ++i) {
        const int v = static_cast<std::int16_t>(first[i * stride]);
        if (v != 0 && v != 4095) sum += v, sq += static_cast<double>(v) * v, ++n;
    }
    const double mu = n ? sum / n : 0, s = std::sqrt(n ? sq / n - mu * mu : 0) * sigma;
    for (int i = 0; i < count; ++i) {
        const int v = static_cast<std::int16_t>(first[i * stride]);
        if (v != 0 && v != 4095 && mu - s <= v && v <= mu + s) sum2 += v, ++n2;
    }
    return n2 ? sum2 / n2 : 0;
}

void ref_emphasis(Pixels& px, int w, int h, double sigma, int range) {
    const auto smooth = [range](const std::vector<double>& a) {
        const int n = static_cast<int>(a.size());
        std::vector<double> t(a.size());
        for (int i = 0; i < n; ++i) {
            double s = 0;
            for (int j = std::max(0, i - range / 2); j <= std::min(n - 1, i + range / 2); ++j) s += a[j];
            t[i] = s / (std::min(n - 1, i + range / 2) - std::max(0, i - range / 2) + 1);
        }
        return t;
    };
    std::vector<double> ya(h), xa(w);
    for (int y = 0; y < h; ++y) ya[y] = ref_background(&px[y * w], w, 1, sigma);
    for (int x = 0; x < w; ++x) xa[x] = ref_background(&px[x], h, w, sigma);
    ya = smooth(ya);
    xa = smooth(xa);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::int16_t d = s16(static_cast<long>(ya[y] + xa[x]));
            const long v = s16(static_cast<std::int16_t>(px[y * w + x]) - d / 2 + 2048);
            px[y * w + x] = static_cast<std::uint16_t>(std::clamp(v, 0L, 4095L));
        }
}

// ---- step 7 -------------------------------------------------------------

TEST_F(BlockTest, NoiseRemovalTakesTheValueNearestTheWindowMean) {
    Pixels spike(25, 100);
    spike[12] = 4095;  // mean (8 x 100 + 4095) / 9 = 543: nearest value 100
    ASSERT_EQ(proc::remove_noise(view(spike, 5)), 0);
    EXPECT_EQ(spike, Pixels(25, 100));
    // Mean 10, values 7 and 13 equally near: the first in window order wins; the border is kept.
    Pixels tie = {7, 13, 13, 13, 13, 7, 7, 7, 13};
    ASSERT_EQ(proc::remove_noise(view(tie, 3)), 0);
    EXPECT_EQ(tie, (Pixels{7, 13, 13, 13, 7, 7, 7, 7, 13}));
    Pixels thin = {1, 900, 3, 4, 5, 6};  // no inner pixel
    ASSERT_EQ(proc::remove_noise(view(thin, 2)), 0);
    EXPECT_EQ(thin, (Pixels{1, 900, 3, 4, 5, 6}));
    tvxtest::FailAllocation fail(1);
    EXPECT_EQ(proc::remove_noise(view(spike, 5)), TAVIREX_E_NO_MEMORY);
}

// ---- step 8 -------------------------------------------------------------

TEST_F(BlockTest, JointWeightIsZeroAtTheJointAndNearlyOneAtTheBandEdges) {
    // {row, lower bound, upper bound} around the joint at 768; 6.28318 is just short of 2 pi.
    const double rows[][3] = {{768, 0, 0}, {688, 0.9999999, 1}, {847, 0.99, 1}, {767, 0, 1e-6}, {769, 0, 1e-6}};
    for (const auto& r : rows) {
        const double wt = proc::joint_weight(static_cast<std::int32_t>(r[0]), 768, 80, 80);
        EXPECT_TRUE(r[1] <= wt && wt <= r[2] && wt < 1.0) << r[0] << " " << wt;
    }
}

TEST_F(BlockTest, JointRowsTakeTheVerticallySmoothedAmbientBrightness) {
    // Panoramic: upper chip a horizontal ramp (pixel = column), lower chip black. Row 768
    // (weight 0) = chgsum: 30 rows of the upper ambient value, 31 rows of 0, over 61.
    Pixels px(100 * 1536, 0);
    for (int i = 0; i < 100 * 768; ++i) px[i] = static_cast<std::uint16_t>(i % 100);
    const Pixels before = px;
    ASSERT_EQ(proc::smooth_joint_brightness(view(px, 100), proc::JointSmoothingParams{}), 0);
    EXPECT_EQ(px[768 * 100 + 0], 7);    // ambient of column 0: columns 0..30, 465 / 31 = 15
    EXPECT_EQ(px[768 * 100 + 5], 8);    // columns 0..35: 630 / 36 = 17
    EXPECT_EQ(px[768 * 100 + 50], 24);  // columns 20..80: 50
    for (int y : {0, 687, 848, 1535})
        for (int x = 0; x < 100; ++x) ASSERT_EQ(px[y * 100 + x], before[y * 100 + x]) << y;

    // Cephalometric: joints at 767 and 1536 between chips of 1000, 1100 and 1200.
    Pixels ceph(64 * 2304);
    for (int i = 0; i < 64 * 2304; ++i) ceph[i] = i < 64 * 767 ? 1000 : (i < 64 * 1536 ? 1100 : 1200);
    proc::JointSmoothingParams p;
    p.ceph_mode = 1;
    ASSERT_EQ(proc::smooth_joint_brightness(view(ceph, 64), p), 0);
    EXPECT_EQ(ceph[767 * 64 + 3], 1050);   // (30 x 1000 + 31 x 1100) / 61
    EXPECT_EQ(ceph[1536 * 64 + 3], 1150);  // (30 x 1100 + 31 x 1200) / 61

    // A sensor flag neither 0 nor 1 is refused.
    p.ceph_mode = 2;
    const Pixels kept = ceph;
    EXPECT_EQ(proc::smooth_joint_brightness(view(ceph, 64), p), TAVIREX_E_RANGE);
    EXPECT_EQ(ceph, kept);
}

// ---- steps 9 and 11 -------------------------------------------------------

TEST_F(BlockTest, ScaleOperationsOnHandMadeBlocks) {
    // Tone curve at median 0, limited to 552: K = 12272064 / 2991.
    Pixels px = {0, 0, 0, 0, 1, 552, 4094, 4095};
    proc::correct_brightness_scale(proc::kScaleToneCurve, view(px, 4), 0, 0);
    EXPECT_EQ(px, (Pixels{0, 0, 0, 0, 82, 2047, 4094, 4095}));
    // Uniform block: the clip keeps, the stretch zeroes, the curve maps 0 to 0.
    px.assign(12, 1234);
    proc::correct_brightness_scale(7, view(px, 4), 0.001, 0.001);
    EXPECT_EQ(px, Pixels(12, 0));
    // Zero fractions: the clip changes nothing; the stretch maps 100..300 to 0..4095
    // (409500 / 200 + 0.5 = 2048, 204750 / 200 + 0.5 = 1024.25). Selector 0 changes nothing.
    px = {100, 200, 300, 150};
    proc::correct_brightness_scale(0, view(px, 2), 0, 0);
    EXPECT_EQ(px, (Pixels{100, 200, 300, 150}));
    proc::correct_brightness_scale(proc::kScaleClip | proc::kScaleStretch, view(px, 2), 0, 0);
    EXPECT_EQ(px, (Pixels{0, 2048, 4095, 1024}));
}

TEST_F(BlockTest, HistogramClipStopsAtTheFirstSparseValueAndLimitsOutliers) {
    // 100 pixels: 5 at 5, 50 at 10, 40 at 20, 5 at 30. tMany = tFew = trunc(100 x 10 x 0.01) = 10.
    // Median 10 (cumulative 55 >= 50). Down from 10: 9 has 0 < 10, so the low limit is 9; up: 11.
    Pixels px(100, 30);
    std::fill(px.begin(), px.begin() + 95, 20);
    std::fill(px.begin(), px.begin() + 55, 10);
    std::fill(px.begin(), px.begin() + 5, 5);
    proc::clip_histogram(view(px, 10), 10, 10);
    for (const auto& [i, v] : {std::pair{0, 9}, {5, 10}, {60, 11}, {99, 11}}) EXPECT_EQ(px[i], v) << i;
    // Values outside the data range count at its ends and are limited by the clip and the
    // curve (60000 is -5536 as a signed pixel).
    Pixels wild = {60000, 5000, 3, 3}, curve = {60000, 5000};
    proc::clip_histogram(view(wild, 2), 0, 0);
    proc::apply_tone_curve(view(curve, 2));
    EXPECT_EQ(wild[0], 0);
    EXPECT_EQ(wild[1], 4095);
    EXPECT_EQ(curve, (Pixels{0, 4095}));

}

TEST_F(BlockTest, ScaleTablesMatchTheFormulaForEverySelector) {
    // The clip runs as its own step; the tabulated stretch and curve follow the formulas.
    const double fractions[][2] = {{0.001, 0.001}, {0.5, 2.0}, {0, 0}, {5, 0.01}};
    std::uint32_t seed = 41;
    for (const auto& f : fractions)
        for (std::uint8_t selector = 1; selector <= 7; ++selector, ++seed) {
            // Peaked histograms so that the clip limits fall inside the range.
            const int lo = static_cast<int>(seed % 3) * 300, hi = 4095 - static_cast<int>(seed % 5) * 200;
            Pixels px = random_block(160 * 90, seed, lo, hi);
            for (std::size_t i = 0; i < px.size(); ++i)
                if (i % 3) px[i] = static_cast<std::uint16_t>(1500 + px[i] % 700);
            Pixels want = px;
            if (selector & proc::kScaleClip) proc::clip_histogram(view(want, 160), f[0], f[1]);
            if (selector & proc::kScaleStretch) {
                const auto [mn, mx] = std::minmax_element(want.begin(), want.end());
                const float low = *mn, high = *mx;
                for (auto& v : want) v = ref_stretch_pixel(v, low, high);
            }
            if (selector & proc::kScaleToneCurve) {
                // Median of the block so far, limited to 552..2044.
                Pixels sorted = want;
                std::sort(sorted.begin(), sorted.end());
                const int m = std::clamp<int>(sorted[want.size() / 2 - 1], 552, 2044);
                for (auto& v : want) v = ref_tone_pixel(v, m);
            }
            proc::correct_brightness_scale(selector, view(px, 160), f[0], f[1]);
            ASSERT_EQ(px, want) << int(selector) << " " << f[0];
        }
}

// ---- step 10 ------------------------------------------------------------

TEST_F(BlockTest, ContrastEmphasisOnHandMadeBlocks) {
    Pixels px(30 * 20, 1000);
    ASSERT_EQ(proc::emphasise_contrast(view(px, 30), 1.5, 200), 0);
    EXPECT_EQ(px, Pixels(30 * 20, 2048));
    // Only 0 and 4095: no background; 4095 + 2048 is limited, never wrapped.
    Pixels ends = {0, 4095, 4095, 0};
    ASSERT_EQ(proc::emphasise_contrast(view(ends, 2), 1.5, 200), 0);
    EXPECT_EQ(ends, (Pixels{2048, 4095, 4095, 2048}));

    // Informative values 100, 100, 100, 1000: mean 325, variance 151875, s = 1.5 x 389.7.
    const std::uint16_t row[5] = {100, 100, 0, 100, 1000};
    double var = -1;
    EXPECT_EQ(proc::clipped_mean(row, 5, 1, 1.5, &var), 100.0);
    EXPECT_EQ(var, 151875.0);
    std::vector<double> a = {0, 3, 6};
    ASSERT_EQ(proc::smooth_average(a.data(), 3, 1), 0);  // half 0: unchanged
    EXPECT_EQ(a, (std::vector<double>{0, 3, 6}));
    ASSERT_EQ(proc::smooth_average(a.data(), 3, 3), 0);
    EXPECT_EQ(a, (std::vector<double>{1.5, 3, 4.5}));
}

// ---- steps 7, 8 and 10 against the formulas -------------------------------

TEST_F(BlockTest, NoiseJointAndContrastStepsMatchTheFormulasOnRandomBlocks) {
    struct Case {
        int w, h, hi;  // block size and largest value
        std::function<std::int32_t(ImageView)> step;
        std::function<void(Pixels&, int, int)> formula;
    };
    // Full 16-bit values make the noise window sum wrap and send contrast emphasis down its
    // general path (signed pixels).
    const auto noise = [](int hi) {
        return Case{37, 23, hi, proc::remove_noise, [](Pixels& px, int w, int h) { px = ref_noise(px, w, h); }};
    };
    const auto joint = [](int w, int h, proc::JointSmoothingParams p) {
        return Case{w, h, 4095, [p](ImageView v) { return proc::smooth_joint_brightness(v, p); },
                    [p](Pixels& px, int w, int h) { ref_joint(px, w, h, p); }};
    };
    const auto contrast = [](int w, int h, int hi) {
        return Case{w, h, hi, [](ImageView v) { return proc::emphasise_contrast(v, 1.5, 40); },
                    [](Pixels& px, int w, int h) { ref_emphasis(px, w, h, 1.5, 40); }};
    };
    const proc::JointSmoothingParams narrow{.ave_range = 12, .ave_range_low = 7, .chg_sum_range = 5, .ypos = 40};
    const proc::JointSmoothingParams zero{.ave_range = 12, .ave_range_low = 7, .chg_sum_range = 0, .ypos = 40};
    const proc::JointSmoothingParams ceph{
        .ave_range = 12, .ave_range_low = 7, .chg_sum_range = 5, .ypos = 40, .ypos2 = 30, .ceph_mode = 1};
    // A joint near the top and one past the bottom: bands cut to the block.
    const proc::JointSmoothingParams edges{.ypos = 10, .ypos2 = 60, .ccd_gap = 2, .ceph_mode = 1};
    const Case cases[] = {noise(4095),           noise(4095),           noise(65535),         noise(65535),
                          joint(300, 1536, {}),  joint(70, 90, narrow), joint(25, 90, zero),  joint(61, 120, ceph),
                          joint(40, 50, edges),  contrast(300, 200, 4095), contrast(129, 77, 4095),
                          contrast(5, 400, 65535)};
    std::uint32_t seed = 0;
    for (const Case& c : cases) {
        ++seed;
        Pixels px = random_block(static_cast<std::size_t>(c.w) * c.h, seed, 0, c.hi);
        for (std::size_t i = 0; i < px.size(); i += 17) px[i] = (i % 2) ? 0 : 4095;  // values left out of backgrounds
        Pixels want = px;
        c.formula(want, c.w, c.h);
        ASSERT_EQ(c.step(view(px, c.w)), 0) << seed;
        EXPECT_EQ(px, want) << "case " << seed << ": " << c.w << "x" << c.h;
    }
}

}  // namespace
