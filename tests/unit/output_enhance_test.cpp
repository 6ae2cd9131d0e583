#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "output/enhance.h"

namespace {

using Image = std::vector<std::uint16_t>;

Image run_a(const Image& in, std::uint32_t w, std::uint32_t h, std::uint8_t k, std::uint16_t gain,
            std::uint32_t maximum = 4095) {
    Image out(in.size(), 0xBEEF);
    EXPECT_TRUE(tvx::output::enhance_a(in.data(), out.data(), w, h, k, gain, maximum));
    return out;
}

TEST(OutputEnhanceTest, GainTableRunsFromAFifthToNineFifthsOfTheGain) {
    std::vector<float> t(4096);
    tvx::output::build_gain_table_a(t.data(), 4095, 100);
    EXPECT_NEAR(t[0], 0.2, 1e-6);
    EXPECT_NEAR(t[2048], 1.0, 1e-3);
    EXPECT_NEAR(t[4095], 1.8, 1e-6);
    tvx::output::build_gain_table_b(t.data(), 50);
    EXPECT_NEAR(t[0], 0.1, 1e-6);
    EXPECT_NEAR(t[4095], 0.9, 1e-6);
}

// Images of 4095 with one brighter pixel (4123). At 4095 the gain is 1.8, so a pixel whose neighbour mean is
// (3 x 4095 + 4123) / 4 = 4102 gets r = trunc(-7 x 1.8) + 4095 = 4083, which variant A inverts to 12.
TEST(OutputEnhanceTest, SpikeByHand) {
    using tvx::output::enhance_b;
    Image in5(25, 4095), in3(9, 4095), out(9), expected(25, 0);
    in5[2] = in3[1] = 4123;
    expected[7] = expected[12] = 12;  // (1,2) on ring 1 reads the spike at distance 1, (2,2) at distance 2
    EXPECT_EQ(run_a(in5, 5, 5, 2, 100), expected);
    EXPECT_EQ(run_a(in3, 3, 3, 5, 100), (Image{0, 0, 0, 0, 12, 0, 0, 0, 0}));  // centre: one pixel away at most
    ASSERT_TRUE(enhance_b(in3.data(), out.data(), 3, 3, 1, 100));              // B: not inverted, ring kept
    EXPECT_EQ(out, (Image{4095, 4123, 4095, 4095, 4083, 4095, 4095, 4095, 4095}));
    ASSERT_TRUE(enhance_b(in3.data(), out.data(), 3, 3, 2, 100));  // B without interior pixels: a copy
    EXPECT_EQ(out, in3);
    // B reads values as signed 16-bit: 40000 is negative and counts as 0, as does its neighbours' mean.
    Image neg(9, 0);
    neg[4] = 40000;
    ASSERT_TRUE(enhance_b(neg.data(), out.data(), 3, 3, 1, 100));
    EXPECT_EQ(out[4], 0);
}

// The filter written the straightforward way: each pixel with the formula as it stands, at the filter
// distance or, if less, the distance to the nearest edge.
Image reference_a(const Image& in, int w, int h, int k, std::uint16_t gain, std::uint32_t maximum) {
    std::vector<float> table(maximum + 1);
    tvx::output::build_gain_table_a(table.data(), maximum, gain);
    const std::int64_t m = maximum;
    auto at = [&](int y, int x) { return static_cast<std::int64_t>(in[static_cast<std::size_t>(y * w + x)]); };
    Image out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int d = std::min({k, x, y, w - 1 - x, h - 1 - y});
            const std::int64_t v = std::min(at(y, x), m);
            const std::int64_t mean = (at(y - d, x) + at(y + d, x) + at(y, x - d) + at(y, x + d)) >> 2;
            const std::int64_t r =
                d == 0 ? v : static_cast<std::int64_t>(static_cast<double>(v - mean) * double{table[v]}) + v;
            out[static_cast<std::size_t>(y * w + x)] =
                static_cast<std::uint16_t>(m - std::clamp<std::int64_t>(r, 0, m));
        }
    return out;
}

TEST(OutputEnhanceTest, RowSegmentsMatchTheStraightforwardFilter) {
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 400; ++trial) {
        const int w = static_cast<int>(rng() % 41), h = static_cast<int>(rng() % 41);
        const int k = static_cast<int>(rng() % 3 == 0 ? rng() % 256 : rng() % 21);
        const std::uint16_t gain = static_cast<std::uint16_t>(rng() % 3 == 0 ? rng() : rng() % 400);
        const std::uint32_t maximum = trial % 4 == 0 ? 8191 : 4095;
        Image in(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
        for (auto& v : in) v = static_cast<std::uint16_t>(rng() % 10 == 0 ? rng() : rng() % (maximum + 1));
        ASSERT_EQ(run_a(in, w, h, static_cast<std::uint8_t>(k), gain, maximum),
                  reference_a(in, w, h, k, gain, maximum))
            << w << "x" << h << " k=" << k << " gain=" << gain;
    }
}

}  // namespace
