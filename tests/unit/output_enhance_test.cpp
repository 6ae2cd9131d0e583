#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "core/alloc.h"
#include "output/enhance.h"
#include "support/support.h"

namespace {

using Image = std::vector<std::uint16_t>;

class OutputEnhanceTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
};

Image run_a(const Image& in, std::uint32_t w, std::uint32_t h, std::uint8_t k, std::uint16_t gain,
            std::uint32_t maximum = 4095) {
    Image out(in.size(), 0xBEEF);
    EXPECT_TRUE(tvx::output::enhance_a(in.data(), out.data(), w, h, k, gain, maximum));
    return out;
}

TEST_F(OutputEnhanceTest, GainTableRunsFromAFifthToNineFifthsOfTheGain) {
    std::vector<float> t(4096);
    tvx::output::build_gain_table_a(t.data(), 4095, 100);
    EXPECT_NEAR(t[0], 0.2, 1e-6);
    EXPECT_NEAR(t[2048], 1.0, 1e-3);
    EXPECT_NEAR(t[4095], 1.8, 1e-6);
    tvx::output::build_gain_table_b(t.data(), 50);
    EXPECT_NEAR(t[0], 0.1, 1e-6);
    EXPECT_NEAR(t[4095], 0.9, 1e-6);
}

// 5 x 5 image of 4095 with one brighter pixel in the top row. At value 4095 the
// gain is 1.8, so a pixel whose neighbour mean is (3 x 4095 + 4123) / 4 = 4102
// gets r = trunc(-7 x 1.8) + 4095 = 4083 and inverted 12. Everything else is 0.
TEST_F(OutputEnhanceTest, InteriorUsesTheDistanceAndRingsTheirOwn) {
    Image in(25, 4095);
    in[0 * 5 + 2] = 4123;
    const Image out = run_a(in, 5, 5, 2, 100);
    for (std::uint32_t y = 0; y < 5; ++y)
        for (std::uint32_t x = 0; x < 5; ++x) {
            // (1,2) is on ring 1 and reads (0,2) at distance 1; (2,2) reads it at distance 2.
            const bool reads = x == 2 && (y == 1 || y == 2);
            EXPECT_EQ(out[y * 5 + x], reads ? 12 : 0) << y << "," << x;
        }
}

TEST_F(OutputEnhanceTest, SmallImagesReadOnlyInsideForAnyDistance) {
    // 3 x 3 at distance 5: the centre can only look one pixel away.
    Image in(9, 4095);
    in[1] = 4123;
    Image out = run_a(in, 3, 3, 5, 100);
    EXPECT_EQ(out, (Image{0, 0, 0, 0, 12, 0, 0, 0, 0}));
    // Single rows and columns, empty images: every pixel is on the outer ring.
    for (const auto& [w, h] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 1}, {7, 1}, {1, 7}, {2, 9}}) {
        Image line(w * h);
        for (std::size_t i = 0; i < line.size(); ++i) line[i] = static_cast<std::uint16_t>(i * 1000);
        out = run_a(line, w, h, 255, 300);
        for (std::size_t i = 0; i < line.size(); ++i)
            EXPECT_EQ(out[i], 4095 - std::min<int>(line[i], 4095)) << w << "x" << h << " " << i;
    }
    Image none;
    EXPECT_TRUE(tvx::output::enhance_a(none.data(), none.data(), 0, 4, 3, 100, 4095));
    EXPECT_TRUE(tvx::output::enhance_a(none.data(), none.data(), 4, 0, 3, 100, 4095));
}

TEST_F(OutputEnhanceTest, VariantBChangesOnlyTheInteriorAndDoesNotInvert) {
    Image in(9, 4095);
    in[1] = 4123;
    Image out(9);
    ASSERT_TRUE(tvx::output::enhance_b(in.data(), out.data(), 3, 3, 1, 100));
    EXPECT_EQ(out, (Image{4095, 4123, 4095, 4095, 4083, 4095, 4095, 4095, 4095}));
    // Too small for any interior pixel: a copy.
    ASSERT_TRUE(tvx::output::enhance_b(in.data(), out.data(), 3, 3, 2, 100));
    EXPECT_EQ(out, in);
    // Values read as signed 16-bit: 40000 is negative and counts as 0, its neighbours' mean is 0.
    Image neg(9, 0);
    neg[4] = 40000;
    ASSERT_TRUE(tvx::output::enhance_b(neg.data(), out.data(), 3, 3, 1, 100));
    EXPECT_EQ(out[4], 0);
}

TEST_F(OutputEnhanceTest, FailedGainTableLeavesTheOutputAlone) {
    Image in(9, 100), out(9, 7);
    tvxtest::FailAllocation fail(1, true);
    EXPECT_FALSE(tvx::output::enhance_a(in.data(), out.data(), 3, 3, 1, 100, 4095));
    EXPECT_FALSE(tvx::output::enhance_b(in.data(), out.data(), 3, 3, 1, 100));
    EXPECT_EQ(out, Image(9, 7));
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

// The filter written the straightforward way: fill, interior, then the border
// rings, each pixel with the formula as it stands.
Image reference_a(const Image& in, int w, int h, int k, std::uint16_t gain, std::uint32_t maximum) {
    std::vector<float> table(maximum + 1);
    tvx::output::build_gain_table_a(table.data(), maximum, gain);
    Image out(in.size(), static_cast<std::uint16_t>(maximum));
    const std::int64_t m = maximum;
    auto at = [&](int y, int x) { return static_cast<std::int64_t>(in[static_cast<std::size_t>(y) * w + x]); };
    auto pixel = [&](int y, int x, int d) {
        const std::int64_t v = std::min(at(y, x), m);
        std::int64_t r;
        if (d == 0) {
            r = v;
        } else {
            const std::int64_t mean = (at(y - d, x) + at(y + d, x) + at(y, x - d) + at(y, x + d)) >> 2;
            r = static_cast<std::int64_t>(static_cast<double>(v - mean) * static_cast<double>(table[v])) + v;
        }
        r = std::clamp<std::int64_t>(r, 0, m);
        out[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint16_t>(m - r);
    };
    for (int y = k; y < h - k; ++y)
        for (int x = k; x < w - k; ++x) pixel(y, x, k);
    for (int r = 0; r < k; ++r) {
        for (int x = r; x <= w - 1 - r; ++x) {
            pixel(r, x, r);
            pixel(h - 1 - r, x, r);
        }
        for (int y = r + 1; y <= h - 2 - r; ++y) {
            pixel(y, r, r);
            pixel(y, w - 1 - r, r);
        }
    }
    return out;
}

TEST_F(OutputEnhanceTest, RowSegmentsMatchTheStraightforwardFilter) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 300; ++trial) {
        const int w = 1 + static_cast<int>(rng() % 40), h = 1 + static_cast<int>(rng() % 40);
        const int k = static_cast<int>(rng() % (std::min(w, h) / 2 + 1));  // 2k + 1 <= min(w, h)
        const std::uint16_t gain = static_cast<std::uint16_t>(rng() % 3 == 0 ? rng() : rng() % 400);
        const std::uint32_t maximum = trial % 4 == 0 ? 8191 : 4095;
        Image in(static_cast<std::size_t>(w) * h);
        for (auto& v : in) v = static_cast<std::uint16_t>(rng() % 10 == 0 ? rng() : rng() % (maximum + 1));
        ASSERT_EQ(run_a(in, w, h, static_cast<std::uint8_t>(k), gain, maximum),
                  reference_a(in, w, h, k, gain, maximum))
            << w << "x" << h << " k=" << k << " gain=" << gain;
    }
}

}  // namespace
