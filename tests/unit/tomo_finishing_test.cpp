// The finishing steps of the joined tomographic image on small hand-made frames.
#include "tomo_processing/finishing.h"
#include "support/support.h"

namespace {

namespace tomo = tvx::tomo;
using Pixels = tvxtest::Words;
using tvxtest::Codes;
using FinishingTest = tvxtest::LibraryTest;

tomo::TomoFrame frame(Pixels& px, int w, int top = 8191, int bits = 13) {
    const auto u16 = [](auto v) { return static_cast<std::uint16_t>(v); };
    return {px.data(), px.size(), u16(w), u16(px.size() / w), 1, u16(bits), u16(top)};
}
// Pixel (x, y) = 10 y + x.
Pixels ramp(int w, int h) {
    Pixels px(w * h);
    for (int i = 0; i < w * h; ++i) px[i] = static_cast<std::uint16_t>(10 * (i / w) + i % w);
    return px;
}

TEST_F(FinishingTest, CropKeepsTheInsideOrRefusesMarginsBeyondTheImage) {
    // {margins, result, size, pixels from the start} on the 4 x 3 ramp. Margins using up the width
    // give 0 x 0 and move nothing; 65535 + 1 rows must not wrap to 0.
    const Pixels all = ramp(4, 3);
    const struct { tomo::CropMargins m; int code, w, h; Pixels out; } rows[] = {
        {{1, 0, 1, 1}, 0, 2, 2, {11, 12, 21, 22}}, {{0, 1, 0, 1}, 0, 3, 2, {0, 1, 2, 10, 11, 12}},
        {{0, 0, 2, 2}, 0, 0, 0, all}, {{0, 0, 3, 2}, 3, 4, 3, all}, {{65535, 1, 0, 0}, 3, 4, 3, all}};
    for (const auto& r : rows) {
        Pixels px = all;
        auto f = frame(px, 4);
        const int code = tomo::crop_frame(f, r.m);
        EXPECT_EQ(tvxtest::vals(code, f.width, f.height), tvxtest::vals(r.code, r.w, r.h));
        EXPECT_EQ(Pixels(px.begin(), px.begin() + r.out.size()), r.out);
    }
}

TEST_F(FinishingTest, NeighbourhoodsReachInwardAtEdgesAndCorners) {
    // 6 x 7 image, position = 6 y + x; {x, y, the nine positions in order}.
    const struct { std::uint32_t x, y; std::size_t at[9]; } rows[] = {
        {2, 3, {13, 14, 15, 19, 20, 21, 25, 26, 27}}, {0, 1, {0, 1, 6, 7, 12, 13, 18, 19, 24}},
        {0, 5, {12, 13, 18, 19, 24, 25, 30, 31, 36}}, {5, 3, {11, 16, 17, 22, 23, 28, 29, 34, 35}},
        {4, 0, {1, 7, 2, 8, 3, 9, 4, 10, 5}},         {2, 6, {36, 31, 37, 32, 38, 33, 39, 34, 40}},
        {0, 0, {24, 18, 12, 6, 0, 7, 1, 2, 3}},       {5, 0, {29, 23, 17, 11, 5, 10, 4, 3, 2}},
        {0, 6, {12, 18, 24, 30, 36, 31, 37, 38, 39}}, {5, 6, {17, 23, 29, 35, 41, 34, 40, 39, 38}}};
    for (const auto& r : rows) {
        std::size_t at[9];
        tomo::neighbourhood(r.x, r.y, 6, 7, at);
        EXPECT_TRUE(std::equal(at, at + 9, r.at)) << r.x << "," << r.y;
    }
}

TEST_F(FinishingTest, NoiseFiltersOnHandMadeFrames) {
    Pixels pit(25, 9000), run = {50, 9, 1, 2, 3, 99, 4, 5, 6, 0};
    pit[12] = 0;  // mean 72000 / 9 = 8000, so 9000 is nearest (a 16-bit sum would make it 0)
    // {DELNOISE2, frame, width, M, cells {x, y, value}}. On the ramp an edge pixel near a corner takes
    // its moved center's result: (0, 1) under DELNOISE1 gets (0, 2)'s value 20.
    const struct { bool second; Pixels px; int w, top; std::vector<std::array<int, 3>> at; } rows[] = {
        {false, ramp(6, 7), 6, 8191, {{2, 3, 32}, {0, 0, 1}, {5, 6, 64}, {0, 1, 20}, {0, 5, 40}, {1, 0, 2}}},
        // Means 13, 52, 6, 57, 26; ties go to the earlier sample ((2, 6): 60 before 54).
        {true, ramp(6, 7), 6, 8191, {{2, 3, 32}, {0, 0, 11}, {5, 6, 54}, {1, 0, 4}, {2, 6, 60}, {5, 1, 25}}},
        // Nothing nearer than M = 2: the pixel keeps its own value, not its center's.
        {true, ramp(6, 7), 6, 2, {{2, 3, 32}, {0, 0, 0}, {1, 0, 1}}},
        {true, pit, 5, 16382, {{2, 2, 9000}}}, {false, pit, 5, 16382, {{2, 2, 9000}}},
        // Narrower than 3: one run; the first and last four values lie inside their own window.
        {false, run, 1, 8191, {{0, 0, 50}, {0, 4, 3}, {0, 5, 9}, {0, 9, 0}}},
        {false, ramp(4, 4), 4, 8191, {{0, 0, 0}, {0, 1, 10}}}, {true, ramp(5, 4), 5, 8191, {{0, 0, 0}, {1, 0, 1}}}};
    for (auto r : rows) {
        const auto f = frame(r.px, r.w, r.top);
        ASSERT_EQ(r.second ? tomo::replace_by_nearest_to_mean(f) : tomo::clamp_to_neighbours(f), 0);
        for (const auto& c : r.at) EXPECT_EQ(r.px[c[1] * r.w + c[0]], c[2]) << r.second << " " << c[0] << "," << c[1];
    }
}

TEST_F(FinishingTest, BrightnessScalingAndToneCurve) {
    // Scaling (bit 0), N = 10: thresholds trunc(10 x 15 x 0.01) = 1, trunc(10 x 5 x 0.01) = 0. Median 3;
    // no dark level above 1 pixel (lo = 2) or level 1 (lo = 1); hi = 10, as 15 holds just 1; then
    // (p - lo) / (hi - lo) x 15.
    // Tone curve (bit 1), 8 pixels at 50 %: the attention level A is the first whose running count
    // exceeds 4; T = 2^(B - 8) x TARGET. A 1000, T 4096: a = 7965.7 moved to M, sqrt(p (16382 - p)).
    // A 4096, T 2048: a = -3071, r = 11262, r - sqrt(r^2 - 6142 p - p^2) meets (4096, 2048).
    // T 256: a = 1647 moved to 0, 8191 - sqrt(8191^2 - p^2). Both: the scaling leaves A = M, a = 3071.5.
    const Pixels mixed = {2, 3, 3, 3, 8, 9, 10, 10, 15, 1}, dark = {0, 1, 1000, 1000, 1000, 4096, 8191, 9000},
                 mid = {0, 1000, 1000, 1000, 4096, 4096, 4096, 8191};
    const struct { std::uint8_t select; int top, bits; double few; int target, code; Pixels px, out; } rows[] = {
        {1, 15, 13, 15, 0, 0, mixed, {0, 1, 1, 1, 11, 13, 15, 15, 15, 0}},
        {1, 15, 13, 5, 0, 0, mixed, {1, 3, 3, 3, 11, 13, 15, 15, 15, 0}},
        {1, 15, 13, 15, 0, 0, {5, 5, 5, 5}, {7, 7, 7, 7}},        // lo 4, hi 6
        {1, 15, 13, 15, 0, 0, {0, 0, 0, 9}, {0, 0, 0, 15}},       // median 0: lo 0
        {1, 15, 13, 15, 0, 0, {15, 40, 15, 0}, {15, 15, 15, 0}},  // median at M: hi M; 40 counts as 15
        {1, 0, 13, 15, 0, 0, {0, 3}, {0, 0}},                     // M = 0: no division by hi - lo = 0
        {2, 8191, 13, 15, 128, 0, dark, {0, 127, 3921, 3921, 3921, 7093, 8191, 8191}},
        {2, 8191, 14, 15, 64, 0, dark, {0, 127, 3921, 3921, 3921, 7093, 8191, 8191}},
        {2, 8191, 13, 15, 64, 0, mid, {0, 321, 321, 321, 2048, 2048, 2048, 8191}},
        {2, 8191, 13, 15, 8, 0, mid, {0, 61, 61, 61, 1097, 1097, 1097, 8191}},
        {2, 8191, 13, 15, 128, 0, Pixels(8, 4096), Pixels(8, 4096)},  // already at the target
        {2, 8191, 13, 15, 256, 3, mid, mid},
        {0, 8191, 13, 15, 64, 0, mid, mid},
        {1, 8191, 13, 15, 64, 0, mid, {0, 2, 2, 2, 8191, 8191, 8191, 8191}},  // clip to 999 .. 4096
        {3, 8191, 13, 15, 64, 0, mid, {0, 0, 0, 0, 8191, 8191, 8191, 8191}}};
    for (auto r : rows) {
        const tomo::BrightnessParams p{r.select, 15, r.few, static_cast<std::uint16_t>(r.target), 50.0};
        EXPECT_EQ(tomo::correct_brightness(frame(r.px, 2, r.top, r.bits), p), r.code);
        EXPECT_EQ(r.px, r.out) << int{r.select} << " " << r.top << " " << r.target;
    }
}

TEST_F(FinishingTest, BrightnessTexts) {
    Pixels px = {0, 1, 1000, 1000, 1000, 4096, 8191, 8191};
    tvxtest::CaptureStderr err;
    const tvx::diag::Trace trace{false, true, true};
    tomo::change_tone_curve(frame(px, 4), 128, 50.0, trace);
    tomo::change_tone_curve(frame(px = Pixels(8, 4096), 4), 8, 50.0, trace);
    tomo::scale_brightness(frame(px, 4), 15, 5, trace);
    // " [CHGTONECURVE] darkest 50.0 % of all pixels", "  (before inversion) set to pixel value 128.",
    // "threshold pixel count, bright [ 1 ]" and "..., dark [ 0 ]".
    const std::string head = " [CHGTONECURVE] \x91S\x89\xE6\x91" "f\x90\x94\x82\xCC\x96\xBE\x82\xE9\x82\xB3\x89\xBA\x88\xCA  50.0 %\x82\xCC\n";
    const std::string value = "  (\x94\x92\x8D\x95\x94\xBD\x93]\x91O)  \x89\xE6\x91" "f\x82\xCC\x92l\x82\xF0 ";
    const std::string to = " \x82\xC9\x82\xB7\x82\xE9\x81" "B\n", count = "\xE8\x87\x92l\x89\xE6\x91" "f\x90\x94\x81@";
    EXPECT_EQ(err.text(), head + value + "128" + to + "Attn[ 1000 ] Target[ 4096 ]\ntg stay ; 4096\n ### a -> 8191\n" +
                              head + value + "8" + to + "Attn[ 4096 ] Target[ 256 ]\ntg stay ; 256\n ### a -> 0\n" + count +
                              "\x96\xBE[ 1 ]\n" + count + "\x88\xC3[ 0 ]\n");
}

TEST_F(FinishingTest, FastPathsGiveThePlainImages) {
    if (!TVX_SSE2) GTEST_SKIP() << "no SSE2 loops in this build";
    // {w, h, values lo..hi, M, target}: rows off the run of 8 and at its minimum of 10, few values
    // (ties), sums near 2^20, values above M, all 0, all 65535, narrower than a run, the run form.
    const struct { int w, h; std::uint16_t lo, hi, top, target; } rows[] = {
        {456, 21, 0, 16382, 16382, 128}, {17, 9, 0, 3, 3, 128},       {10, 5, 0, 65535, 65535, 200},
        {19, 6, 60000, 65535, 8191, 0},  {24, 5, 0, 0, 8191, 128},    {24, 5, 65535, 65535, 65535, 255},
        {9, 9, 0, 100, 100, 128},        {2, 30, 0, 8191, 8191, 300}};
    for (const auto& r : rows) {
        const Pixels px = tvxtest::random_words(r.w * r.h, r.w * r.h, r.lo, r.hi);
        Pixels a = px, b = px;
        const auto fa = frame(a, r.w, r.top, r.top > 8191 ? 15 : 13), fb = frame(b, r.w, r.top, fa.bit_depth);
        for (const auto filter : {tomo::clamp_to_neighbours, tomo::replace_by_nearest_to_mean}) {
            tvx::core::test_use_plain_paths(true);
            const std::int32_t plain = filter(fa);
            tvx::core::test_use_plain_paths(false);
            EXPECT_EQ(plain, filter(fb));
            EXPECT_TRUE(a == b) << r.w << " x " << r.h;
        }
        // Scaling and tone curve in one pass against one after the other, texts included.
        const tvx::diag::Trace trace{false, true, true};
        std::int32_t rc[2];
        std::string text[2];
        {
            tvxtest::CaptureStderr err;
            rc[0] = tomo::correct_brightness(fa, {3, 0.5, 0.5, r.target, 50.0}, trace);
            text[0] = err.text();
        }
        tvxtest::CaptureStderr err;
        rc[1] = tomo::scale_brightness(fb, 0.5, 0.5, trace);
        if (rc[1] == 0) rc[1] = tomo::change_tone_curve(fb, r.target, 50.0, trace);
        text[1] = err.text();
        EXPECT_EQ(tvxtest::vals(rc[0], text[0] == text[1], a == b), tvxtest::vals(rc[1], 1, 1)) << r.w << " x " << r.h;
    }
}

TEST_F(FinishingTest, HalfTurnResamplingRefusalsAndFailedAllocations) {
    Pixels px = ramp(3, 2), dst(8, 7);
    ASSERT_EQ(tomo::rotate_half_turn(frame(px, 3)), 0);
    EXPECT_EQ(px, (Pixels{12, 11, 10, 2, 1, 0}));
    // 3 x 3 to 2 x 4: columns cover [0, 1.5) and [1.5, 3), rows [0, .75), [.75, 1.5), [1.5, 2.25), [2.25, 3).
    // (0, 1): (10 x .25 + 20 x .5 x .25 + 30 x .5 + 30 x .5 x .5) / 1.125 = 27.5 / 1.125.
    const Pixels src = {10, 20, 40, 30, 30, 30, 0, 60, 90};
    ASSERT_EQ(tomo::resample_area_average(src.data(), 3, 3, dst.data(), 2, 4), 0);
    EXPECT_EQ(dst, (Pixels{13, 33, 24, 31, 26, 46, 20, 80}));

    // No destination pixels: nothing. Refused: a source without pixels, a frame larger than its buffer.
    const Pixels base = ramp(6, 6), kept = dst;
    auto f = frame(px = base, 6);
    f.capacity = 35;
    EXPECT_EQ(Codes({tomo::resample_area_average(src.data(), 3, 3, dst.data(), 0, 4),
                     tomo::resample_area_average(src.data(), 0, 3, dst.data(), 2, 2), tomo::crop_frame(f, {}),
                     tomo::clamp_to_neighbours(f), tomo::replace_by_nearest_to_mean(f), tomo::scale_brightness(f, 1, 1),
                     tomo::change_tone_curve(f, 200, 50.0), tomo::rotate_half_turn(f)}),
              Codes({0, 3, 3, 3, 3, 3, 3, 3}));
    f.capacity = 36;
    const auto held = tvx::core::test_blocks_held();
    const auto fail = [](const std::function<std::int32_t()>& call) { return tvxtest::with_failed_allocation(1, call); };
    EXPECT_EQ(Codes({fail([&] { return tomo::clamp_to_neighbours(f); }), fail([&] { return tomo::replace_by_nearest_to_mean(f); }),
                     fail([&] { return tomo::scale_brightness(f, 1, 1); }), fail([&] { return tomo::change_tone_curve(f, 200, 50.0); }),
                     fail([&] { return tomo::resample_area_average(px.data(), 6, 6, dst.data(), 2, 2); })}),
              Codes(5, TAVIREX_E_NO_MEMORY));
    EXPECT_TRUE(px == base && dst == kept && tvx::core::test_blocks_held() == held);
}

}  // namespace
