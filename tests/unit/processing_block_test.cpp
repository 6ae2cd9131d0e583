// Steps 7 to 11 on hand-made blocks, and the fast forms of the steps against
// straightforward transcriptions of their formulas on random blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
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
namespace proc = tvx::processing;

class BlockTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
};

std::vector<std::uint16_t> random_block(std::size_t n, std::uint32_t seed, int lo = 0, int hi = 4095) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    std::vector<std::uint16_t> v(n);
    for (auto& x : v) x = static_cast<std::uint16_t>(d(rng));
    return v;
}

std::uint16_t clamp12(double v) {
    const long t = static_cast<long>(v);
    return static_cast<std::uint16_t>(t < 0 ? 0 : (t > 4095 ? 4095 : t));
}
std::int16_t s16(long v) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF)); }

// ---- straightforward transcriptions --------------------------------------

std::vector<std::uint16_t> ref_noise(const std::vector<std::uint16_t>& in, int w, int h) {
    std::vector<std::uint16_t> out = in;
    for (int y = 1; y <= h - 2; ++y)
        for (int x = 1; x <= w - 2; ++x) {
            std::uint16_t v[9];
            int k = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) v[k++] = in[(y + dy) * w + x + dx];
            std::uint16_t sum = 0;
            for (auto a : v) sum = static_cast<std::uint16_t>(sum + a);
            const std::uint16_t mean = sum / 9;
            std::uint16_t best = 4095;
            for (auto a : v) {
                const std::uint16_t d = static_cast<std::uint16_t>(std::abs(mean - a));
                if (d < best) {
                    best = d;
                    out[y * w + x] = a;
                }
            }
        }
    return out;
}

void ref_joint(std::vector<std::uint16_t>& px, int w, int h, const proc::JointSmoothingParams& p) {
    std::vector<std::int16_t> org(px.size(), 0), id(px.size(), 0);
    std::vector<int> joints;
    if (p.ceph_mode == 0) joints = {p.ypos};
    else joints = {static_cast<std::uint16_t>(p.ypos - p.ccd_gap / 2),
                   static_cast<std::uint16_t>(p.ypos2 + p.ccd_gap2 / 2 - p.upper_ypos + p.ypos)};
    for (int j : joints)
        for (int y = j - 2 * p.ave_range_low; y <= j + 2 * p.ave_range - 1; ++y) {
            if (y < 0 || y >= h) continue;
            for (int x = 0; x < w; ++x) {
                unsigned sum = 0, n = 0;
                for (int c = x - 1; c >= x - 30 && c >= 0; --c) sum += px[y * w + c], ++n;
                for (int c = x; c <= x + 30 && c < w; ++c) sum += px[y * w + c], ++n;
                org[y * w + x] = s16(sum / n);
                id[y * w + x] = s16(px[y * w + x] - static_cast<long>(sum / n));
            }
        }
    for (int j : joints)
        for (int y = j - p.ave_range_low; y <= j + p.ave_range - 1; ++y) {
            if (y < 0 || y >= h) continue;
            double wt = 0.0;
            if (y != j) {
                const int d = y < j ? std::abs(y - p.ave_range_low - j) : std::abs(y - p.ave_range - j);
                const int r = y < j ? p.ave_range_low : p.ave_range;
                wt = std::pow((std::cos(static_cast<double>(d) / (2 * r) * 6.28318) + 1) * 0.5, 2);
            }
            for (int x = 0; x < w; ++x) {
                long sum = 0, n = 0;
                for (int r = y - 1; r >= y - p.chg_sum_range && r >= 0; --r) sum += org[r * w + x], ++n;
                for (int r = y; r <= y + p.chg_sum_range && r < h; ++r) sum += org[r * w + x], ++n;
                const std::int16_t chg = n ? s16(sum / n) : 0;
                const std::int16_t s = s16(chg + id[y * w + x]);
                px[y * w + x] = clamp12(s * (1 - wt) + px[y * w + x] * wt);
            }
        }
}

std::uint16_t ref_stretch_pixel(int v, float mn, float mx) {
    const float r = (v * 4095.0f - mn * 4095.0f) / (mx - mn) + 0.5f;
    const long t = static_cast<long>(r);
    return static_cast<std::uint16_t>(t > 4095 ? 4095 : t);
}

std::uint16_t ref_tone_pixel(int v, int m) {
    const double k = (12576768.0 - m * m) / (4095 - 2 * m);
    const double p = 4095 - k;
    return clamp12(p + std::sqrt(p * p + 2 * k * v - static_cast<double>(v) * v));
}

// Row and column background exactly as written: double sums in pixel order.
double ref_background(const std::vector<std::uint16_t>& px, int first, int count, int stride, double sigma) {
    double sum = 0, sq = 0;
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const int v = static_cast<std::int16_t>(px[first + i * stride]);
        if (v == 0 || v == 4095) continue;
        sum += v;
        sq += static_cast<double>(v) * v;
        ++n;
    }
    const double mu = n ? sum / n : 0, var = n ? sq / n - mu * mu : 0;
    const double s = std::sqrt(var) * sigma;
    double sum2 = 0;
    int n2 = 0;
    for (int i = 0; i < count; ++i) {
        const int v = static_cast<std::int16_t>(px[first + i * stride]);
        if (v == 0 || v == 4095) continue;
        if (mu - s <= v && v <= mu + s) sum2 += v, ++n2;
    }
    return n2 ? sum2 / n2 : 0;
}

std::vector<double> ref_smooth(const std::vector<double>& a, int range) {
    const int n = static_cast<int>(a.size()), half = range / 2;
    std::vector<double> t(a.size());
    for (int i = 0; i < n; ++i) {
        double s = 0;
        int c = 0;
        for (int j = i - half; j <= i + half; ++j)
            if (j >= 0 && j < n) s += a[j], ++c;
        t[i] = s / c;
    }
    return t;
}

void ref_emphasis(std::vector<std::uint16_t>& px, int w, int h, double sigma, int range) {
    std::vector<double> ya(h), xa(w);
    for (int y = 0; y < h; ++y) ya[y] = ref_background(px, y * w, w, 1, sigma);
    ya = ref_smooth(ya, range);
    for (int x = 0; x < w; ++x) xa[x] = ref_background(px, x, h, w, sigma);
    xa = ref_smooth(xa, range);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::int16_t d = s16(static_cast<long>(ya[y] + xa[x]));
            const long v = s16(static_cast<std::int16_t>(px[y * w + x]) - d / 2 + 2048);
            px[y * w + x] = static_cast<std::uint16_t>(v < 0 ? 0 : (v > 4095 ? 4095 : v));
        }
}

// ---- step 7 -------------------------------------------------------------

TEST_F(BlockTest, NoiseRemovalTakesTheValueNearestTheWindowMean) {
    std::vector<std::uint16_t> px(25, 100);
    px[12] = 4095;  // mean (8 x 100 + 4095) / 9 = 543: nearest value 100
    ASSERT_EQ(proc::remove_noise(ImageView{px.data(), 5, 5}), 0);
    for (auto v : px) EXPECT_EQ(v, 100);

    // Mean 10, values 7 and 13 equally near: the first in window order wins.
    std::vector<std::uint16_t> tie = {7, 13, 13, 13, 13, 7, 7, 7, 13};
    ASSERT_EQ(proc::remove_noise(ImageView{tie.data(), 3, 3}), 0);
    EXPECT_EQ(tie[4], 7);
    EXPECT_EQ(tie[0], 7);  // border kept
    EXPECT_EQ(tie[8], 13);

    std::vector<std::uint16_t> thin = {1, 900, 3, 4, 5, 6};
    ASSERT_EQ(proc::remove_noise(ImageView{thin.data(), 2, 3}), 0);
    EXPECT_EQ(thin[1], 900);
    tvxtest::FailAllocation fail(1);
    EXPECT_EQ(proc::remove_noise(ImageView{px.data(), 5, 5}), TAVIREX_E_NO_MEMORY);
}

TEST_F(BlockTest, NoiseRemovalMatchesTheFormulaOnRandomBlocks) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        // The last seeds use full 16-bit values, where the window sum wraps.
        auto px = random_block(37 * 23, seed, 0, seed > 2 ? 65535 : 4095);
        const auto want = ref_noise(px, 37, 23);
        ASSERT_EQ(proc::remove_noise(ImageView{px.data(), 37, 23}), 0);
        EXPECT_EQ(px, want) << seed;
    }
}

// ---- step 8 -------------------------------------------------------------

TEST_F(BlockTest, JointWeightIsZeroAtTheJointAndNearlyOneAtTheBandEdges) {
    EXPECT_EQ(proc::joint_weight(768, 768, 80, 80), 0.0);
    EXPECT_GT(proc::joint_weight(688, 768, 80, 80), 0.9999999);
    EXPECT_LT(proc::joint_weight(688, 768, 80, 80), 1.0);  // 6.28318 is just short of 2 pi
    EXPECT_GT(proc::joint_weight(847, 768, 80, 80), 0.99);
    EXPECT_LT(proc::joint_weight(767, 768, 80, 80), 1e-6);
    EXPECT_LT(proc::joint_weight(769, 768, 80, 80), 1e-6);
}

TEST_F(BlockTest, JointRowTakesTheVerticallySmoothedAmbientBrightness) {
    // Upper chip a horizontal ramp (pixel = column), lower chip black.
    const int w = 100, h = 1536;
    std::vector<std::uint16_t> px(w * h, 0);
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < w; ++x) px[y * w + x] = static_cast<std::uint16_t>(x);
    const auto before = px;
    ASSERT_EQ(proc::smooth_joint_brightness(ImageView{px.data(), w, h}, proc::JointSmoothingParams{}), 0);
    // Row 768 (weight 0) = chgsum: 30 rows of the upper ambient value, 31 rows of 0, over 61.
    EXPECT_EQ(px[768 * w + 0], 7);   // ambient of column 0: columns 0..30, 465 / 31 = 15
    EXPECT_EQ(px[768 * w + 5], 8);   // columns 0..35: 630 / 36 = 17
    EXPECT_EQ(px[768 * w + 50], 24);  // columns 20..80: 50
    for (int y : {0, 687, 848, 1535})
        for (int x = 0; x < w; ++x) ASSERT_EQ(px[y * w + x], before[y * w + x]) << y;
}

TEST_F(BlockTest, CephalometricJointsAndBandsClippedToTheBlock) {
    const int w = 64, h = 2304;
    std::vector<std::uint16_t> px(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[y * w + x] = y < 767 ? 1000 : (y < 1536 ? 1100 : 1200);
    proc::JointSmoothingParams p;
    p.ceph_mode = 1;
    ASSERT_EQ(proc::smooth_joint_brightness(ImageView{px.data(), w, h}, p), 0);
    EXPECT_EQ(px[767 * w + 3], 1050);   // (30 x 1000 + 31 x 1100) / 61
    EXPECT_EQ(px[1536 * w + 3], 1150);  // (30 x 1100 + 31 x 1200) / 61

    // A joint near the top and one past the bottom: bands cut to the block.
    std::vector<std::uint16_t> small = random_block(40 * 50, 7);
    auto want = small;
    p.ypos = 10;
    p.ypos2 = 60;
    p.ccd_gap = 2;
    ref_joint(want, 40, 50, p);
    ASSERT_EQ(proc::smooth_joint_brightness(ImageView{small.data(), 40, 50}, p), 0);
    EXPECT_EQ(small, want);

    p.ceph_mode = 2;
    const auto before = small;
    EXPECT_EQ(proc::smooth_joint_brightness(ImageView{small.data(), 40, 50}, p), TAVIREX_E_RANGE);
    EXPECT_EQ(small, before);
}

TEST_F(BlockTest, JointSmoothingMatchesTheFormulaOnRandomBlocks) {
    struct Case {
        int w, h;
        proc::JointSmoothingParams p;
    };
    proc::JointSmoothingParams narrow;
    narrow.ypos = 40;
    narrow.ave_range = 12;
    narrow.ave_range_low = 7;
    narrow.chg_sum_range = 5;
    proc::JointSmoothingParams zero = narrow;
    zero.chg_sum_range = 0;
    proc::JointSmoothingParams ceph = narrow;
    ceph.ceph_mode = 1;
    ceph.ypos2 = 30;
    const Case cases[] = {{300, 1536, proc::JointSmoothingParams{}}, {70, 90, narrow}, {25, 90, zero}, {61, 120, ceph}};
    std::uint32_t seed = 11;
    for (const Case& c : cases) {
        auto px = random_block(static_cast<std::size_t>(c.w) * c.h, seed++);
        auto want = px;
        ref_joint(want, c.w, c.h, c.p);
        ASSERT_EQ(proc::smooth_joint_brightness(ImageView{px.data(), static_cast<std::uint32_t>(c.w),
                                                          static_cast<std::uint32_t>(c.h)},
                                                c.p),
                  0);
        EXPECT_EQ(px, want) << c.w << "x" << c.h;
    }
}

TEST_F(BlockTest, JointSmoothingOutOfMemoryNamesTheImageAndChangesNothing) {
    std::vector<std::uint16_t> px = random_block(64 * 900, 3);
    const auto before = px;
    tvx::DebugFlags.DebugProcess = 1;
    const char* names[] = {"orgsum", "chgsum", "id_info"};
    for (int n = 1; n <= 3; ++n) {
        tvxtest::CaptureStderr capture;
        {
            tvxtest::FailAllocation fail(static_cast<std::uint64_t>(n));
            EXPECT_EQ(proc::smooth_joint_brightness(ImageView{px.data(), 64, 900}, proc::JointSmoothingParams{}),
                      TAVIREX_E_NO_MEMORY);
        }
        EXPECT_NE(capture.text().find(std::string("Cannot Allocate for ") + names[n - 1] + "\n"), std::string::npos);
    }
    EXPECT_EQ(px, before);
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

// ---- steps 9 and 11 -------------------------------------------------------

TEST_F(BlockTest, ToneCurveAtTheLowestMedian) {
    // Median 0, limited to 552: K = 12272064 / 2991.
    std::uint16_t px[8] = {0, 0, 0, 0, 1, 552, 4094, 4095};
    proc::correct_brightness_scale(proc::kScaleToneCurve, ImageView{px, 4, 2}, 0, 0);
    const std::uint16_t want[8] = {0, 0, 0, 0, 82, 2047, 4094, 4095};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(px[i], want[i]) << i;
}

TEST_F(BlockTest, ClipStretchAndCurveOnAUniformAndAZeroFractionBlock) {
    std::vector<std::uint16_t> uniform(12, 1234);
    proc::correct_brightness_scale(7, ImageView{uniform.data(), 4, 3}, 0.001, 0.001);
    for (auto v : uniform) EXPECT_EQ(v, 0);  // clip keeps, stretch zeroes, curve maps 0 to 0

    // Zero fractions: the clip changes nothing; the stretch maps 100..300 to 0..4095.
    std::uint16_t px[4] = {100, 200, 300, 150};
    proc::correct_brightness_scale(proc::kScaleClip | proc::kScaleStretch, ImageView{px, 2, 2}, 0, 0);
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[1], 2048);  // 409500 / 200 + 0.5 = 2048
    EXPECT_EQ(px[2], 4095);
    EXPECT_EQ(px[3], 1024);  // 204750 / 200 + 0.5 = 1024.25

    std::uint16_t same[4] = {100, 200, 300, 150};
    proc::correct_brightness_scale(0, ImageView{same, 2, 2}, 0, 0);
    EXPECT_EQ(same[2], 300);
}

TEST_F(BlockTest, HistogramClipStopsAtTheFirstSparseValue) {
    // 100 pixels: 5 at 5, 50 at 10, 40 at 20, 5 at 30.
    std::vector<std::uint16_t> px;
    px.insert(px.end(), 5, 5);
    px.insert(px.end(), 50, 10);
    px.insert(px.end(), 40, 20);
    px.insert(px.end(), 5, 30);
    // tMany = tFew = trunc(100 x 10 x 0.01) = 10. Median 10 (cumulative 55 >= 50).
    // Down from 10: 9 has 0 < 10, so the low limit is 9. Up: 11 has 0 < 10, high limit 11.
    proc::clip_histogram(ImageView{px.data(), 10, 10}, 10, 10);
    EXPECT_EQ(px[0], 9);
    EXPECT_EQ(px[5], 10);
    EXPECT_EQ(px[60], 11);
    EXPECT_EQ(px[99], 11);

    // Values outside the data range count at its ends and are limited by the clip
    // (60000 is -5536 as a signed pixel).
    std::uint16_t wild[4] = {60000, 5000, 3, 3};
    proc::clip_histogram(ImageView{wild, 2, 2}, 0, 0);
    EXPECT_EQ(wild[0], 0);
    EXPECT_EQ(wild[1], 4095);
    std::uint16_t curve[2] = {60000, 5000};
    proc::apply_tone_curve(ImageView{curve, 2, 1});
    EXPECT_EQ(curve[0], 0);
    EXPECT_EQ(curve[1], 4095);
}

TEST_F(BlockTest, FractionsArePrintedUnderParamEvenForSelectorZero) {
    tvx::DebugFlags.DebugParam = 1;
    std::uint16_t px[1] = {5};
    tvxtest::CaptureStderr capture;
    proc::correct_brightness_scale(0, ImageView{px, 1, 1}, 0.001, 0.005);
    EXPECT_EQ(capture.text(), "Xray Many Side PRECENTAGE[0.001000]\nXray Few  Side PRECENTAGE[0.005000]\n");
}

TEST_F(BlockTest, TabulatedStretchAndCurveMatchTheFormula) {
    for (std::uint32_t seed = 21; seed <= 24; ++seed) {
        auto px = random_block(200 * 150, seed, static_cast<int>(seed % 3) * 300, 4095 - static_cast<int>(seed) * 40);
        auto want = px;
        float mn = 4095, mx = 0;
        for (auto v : want) mn = v < mn ? v : mn, mx = v > mx ? v : mx;
        for (auto& v : want) v = ref_stretch_pixel(v, mn, mx);
        // Median of the stretched block for the curve, then the curve.
        std::vector<std::uint32_t> hist(4096, 0);
        for (auto v : want) ++hist[v];
        std::uint64_t cum = 0;
        int m = 0;
        for (; m < 4096; ++m)
            if ((cum += hist[m]) >= want.size() / 2) break;
        m = m < 552 ? 552 : (m > 2044 ? 2044 : m);
        for (auto& v : want) v = ref_tone_pixel(v, m);
        proc::correct_brightness_scale(proc::kScaleStretch | proc::kScaleToneCurve, ImageView{px.data(), 200, 150},
                                       0, 0);
        EXPECT_EQ(px, want) << seed;
    }
}

TEST_F(BlockTest, ComposedScaleTablesMatchTheOperationsOneByOne) {
    const double fractions[][2] = {{0.001, 0.001}, {0.5, 2.0}, {0, 0}, {5, 0.01}};
    std::uint32_t seed = 41;
    for (const auto& f : fractions)
        for (std::uint8_t selector = 1; selector <= 7; ++selector) {
            // Peaked histograms so that the clip limits fall inside the range.
            auto px = random_block(160 * 90, seed++, 0, 4095);
            for (std::size_t i = 0; i < px.size(); ++i)
                if (i % 3) px[i] = static_cast<std::uint16_t>(1500 + px[i] % 700);
            auto want = px;
            const ImageView ref{want.data(), 160, 90};
            if (selector & proc::kScaleClip) proc::clip_histogram(ref, f[0], f[1]);
            if (selector & proc::kScaleStretch) proc::stretch_linear(ref);
            if (selector & proc::kScaleToneCurve) proc::apply_tone_curve(ref);
            proc::correct_brightness_scale(selector, ImageView{px.data(), 160, 90}, f[0], f[1]);
            ASSERT_EQ(px, want) << int(selector) << " " << f[0];
        }
}

// ---- step 10 ------------------------------------------------------------

TEST_F(BlockTest, ConstantBlockBecomesMidGrey) {
    std::vector<std::uint16_t> px(30 * 20, 1000);
    ASSERT_EQ(proc::emphasise_contrast(ImageView{px.data(), 30, 20}, 1.5, 200), 0);
    for (auto v : px) ASSERT_EQ(v, 2048);

    // Only 0 and 4095: no background; 4095 + 2048 is limited, never wrapped.
    std::uint16_t ends[4] = {0, 4095, 4095, 0};
    ASSERT_EQ(proc::emphasise_contrast(ImageView{ends, 2, 2}, 1.5, 200), 0);
    EXPECT_EQ(ends[0], 2048);
    EXPECT_EQ(ends[1], 4095);
}

TEST_F(BlockTest, ClippedMeanLeavesOutliersAndMovingAverage) {
    const std::uint16_t row[5] = {100, 100, 0, 100, 1000};
    double var = -1;
    // Informative values 100, 100, 100, 1000: mean 325, variance 151875, s = 1.5 x 389.7.
    EXPECT_EQ(proc::clipped_mean(row, 5, 1, 1.5, &var), 100.0);
    EXPECT_EQ(var, 151875.0);

    double a[3] = {0, 3, 6};
    ASSERT_EQ(proc::smooth_average(a, 3, 1), 0);  // half 0: unchanged
    EXPECT_EQ(a[1], 3.0);
    ASSERT_EQ(proc::smooth_average(a, 3, 3), 0);
    EXPECT_EQ(a[0], 1.5);
    EXPECT_EQ(a[1], 3.0);
    EXPECT_EQ(a[2], 4.5);
}

TEST_F(BlockTest, ContrastEmphasisMatchesTheFormulaOnRandomBlocks) {
    const int sizes[][2] = {{300, 200}, {129, 77}, {5, 400}};
    std::uint32_t seed = 31;
    for (const auto& s : sizes) {
        // The last block holds values beyond 12 bits (signed pixels), which take the general path.
        auto px = random_block(static_cast<std::size_t>(s[0]) * s[1], seed++, 0, s[0] == 5 ? 65535 : 4095);
        for (std::size_t i = 0; i < px.size(); i += 17) px[i] = (i % 2) ? 0 : 4095;
        auto want = px;
        ref_emphasis(want, s[0], s[1], 1.5, 40);
        ASSERT_EQ(proc::emphasise_contrast(
                      ImageView{px.data(), static_cast<std::uint32_t>(s[0]), static_cast<std::uint32_t>(s[1])}, 1.5, 40),
                  0);
        EXPECT_EQ(px, want) << s[0] << "x" << s[1];
    }
}

TEST_F(BlockTest, ContrastEmphasisOutOfMemoryChangesNothing) {
    std::vector<std::uint16_t> px = random_block(40 * 30, 5);
    const auto before = px;
    tvx::DebugFlags.DebugProcess = 1;
    const char* messages[] = {"Err:Cannot malloc for xave.\n", "Err:Cannot malloc for xvarp.\n",
                              "Err:Cannot malloc for yave.\n", "Err:Cannot malloc for yvarp.\n",
                              "Err in Smooth_Ave(yave).\n", "Err in Smooth_Ave(xave).\n"};
    for (int n = 1; n <= 6; ++n) {
        tvxtest::CaptureStderr capture;
        {
            tvxtest::FailAllocation fail(static_cast<std::uint64_t>(n));
            EXPECT_EQ(proc::emphasise_contrast(ImageView{px.data(), 40, 30}, 1.5, 200), TAVIREX_E_NO_MEMORY);
        }
        EXPECT_NE(capture.text().find(messages[n - 1]), std::string::npos) << n;
    }
    EXPECT_EQ(px, before);
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

}  // namespace
