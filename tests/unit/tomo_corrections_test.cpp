// The tomographic strip corrections and the strip joining on small hand-made
// frames: values worked out from the rules, refusals that leave the image as it
// was, allocation failures, tables, profiles and the DEBUG printouts.
#include <cmath>

#include "tomo_processing/corrections.h"
#include "support/support.h"

namespace {

using Pixels = tvxtest::Words;
namespace tomo = tvx::tomo;

// A frame of `blocks` blocks of `fill`, 13-bit as captured.
struct Frame {
    Pixels px;
    tomo::TomoFrame f;
    Frame(std::uint16_t w, std::uint16_t h, std::uint16_t strips, std::size_t blocks, std::uint16_t fill = 0)
        : px(blocks * w * h, fill), f{px.data(), px.size(), w, h, strips, 13, 8191} {}
    std::uint16_t& at(std::size_t block, std::size_t c, std::size_t r) { return px[(block * f.height + r) * f.width + c]; }
};

// What a step writes with every DEBUG switch on.
template <typename Step>
std::string traced(const std::string& path, Step&& step) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    step(tvx::diag::Trace{true, true, true, f});
    std::fclose(f);
    return tvxtest::read_text_file(path);
}

using TomoCorrectionTest = tvxtest::LibraryTest;

TEST_F(TomoCorrectionTest, DarkOffsetIsFittedPerChipOverTheCalibrationPair) {
    // Samples (rows 1, 6, ... of a chip, column 12) alternate between two pairs; every other
    // calibration pixel is 5000 and would spoil the fit. Chip 0: X = 2 dark - 10; chip 1:
    // X = dark / 2 + 12; chip 2: one dark value, so slope 0 and the mean X, 25.
    Frame fr(30, 2304, 2, 6, 5000);
    for (int z = 0; z < 3; ++z)
        for (int i = 0; i < 154; ++i) {
            const int odd = i % 2, r = 768 * z + 1 + 5 * i;
            const int u[] = {10 + odd, 2 * odd, 7}, v[] = {2 * u[0] - 10, 12 + odd, 20 + 10 * odd};
            fr.at(5, 12, r) = static_cast<std::uint16_t>(u[z]), fr.at(4, 12, r) = static_cast<std::uint16_t>(v[z]);
        }
    // {strip, column, row, X, dark, result}: offsets below 0 count as 0 and above M as M, halves round
    // up, differences are limited to 0..M after being taken as signed 16-bit.
    const int cells[][6] = {{0, 0, 0, 500, 100, 310},    {0, 29, 767, 500, 0, 500},  {1, 5, 10, 100, 100, 0},
                            {1, 6, 10, 9000, 0, 8191},   {0, 1, 1, 8191, 5000, 0},   {0, 2, 2, 40000, 0, 0},
                            {1, 0, 768, 100, 1, 87},     {0, 3, 1535, 100, 4, 86},   {1, 29, 2303, 100, 9999, 75}};
    for (const auto& c : cells) fr.at(2 * c[0], c[1], c[2]) = c[3], fr.at(2 * c[0] + 1, c[1], c[2]) = c[4];
    ASSERT_EQ(tomo::subtract_dark_offset(fr.f), 0);
    for (const auto& c : cells) EXPECT_EQ(fr.at(c[0], c[1], c[2]), c[5]) << c[0] << " " << c[1] << " " << c[2];

    // No samples at width 24: nothing is subtracted. Refused, image unchanged: not three chips, buffer
    // short of the calibration pair, no memory.
    Frame narrow(24, 2304, 1, 4, 100), bad(2, 2303, 1, 4, 9), small(2, 2304, 1, 4, 9);
    narrow.at(0, 3, 3) = 500, small.f.capacity -= 1;
    const auto run = [](Frame& f) { return tomo::subtract_dark_offset(f.f); };
    EXPECT_EQ(Codes({run(narrow), run(bad), run(small), tvxtest::with_failed_allocation(1, [&] { return run(narrow); })}),
              Codes({0, 3, 3, 5}));
    EXPECT_EQ(tvxtest::vals(narrow.at(0, 3, 3), bad.px == Pixels(4 * 2 * 2303, 9), small.px == Pixels(4 * 2 * 2304, 9)),
              tvxtest::vals(500, 1, 1));
    // Without the fit the X blocks only move together.
    Frame plain(1, 1, 2, 6);
    plain.px = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(tomo::drop_dark_blocks(plain.f), 0);
    EXPECT_EQ(plain.px, (Pixels{1, 3, 3, 4, 5, 6}));
}

TEST_F(TomoCorrectionTest, ColumnsAreSummedAndTheDepthGrows) {
    // Strip s column c holds mult (c + 1) + 10 s; one row. {w, pixel, max, mult, code, w', depth', max', pixels'}
    const struct Row { std::uint16_t w, pixel, max, mult; int code; std::uint16_t w2, depth, max2; Pixels out; } rows[] = {
        {5, 2, 8191, 1, 0, 2, 14, 16382, {3, 7, 23, 27}},       {7, 3, 8191, 1, 0, 2, 15, 24573, {6, 15, 36, 45}},
        {8, 8, 8191, 1, 0, 1, 16, 65528, {36, 116}},            {3, 1, 8191, 1, 0, 3, 13, 8191, {1, 2, 3, 11, 12, 13}},
        {3, 0, 8191, 1, 0, 3, 13, 8191, {1, 2, 3, 11, 12, 13}}, {3, 9, 8191, 1, 3, 3, 13, 8191, {1, 2, 3, 11, 12, 13}},
        // Sums and maximum held at 65535 when the maximum does not match the depth.
        {2, 2, 65535, 30000, 0, 1, 14, 65535, {65535, 65535}},
    };
    for (const Row& r : rows) {
        Frame fr(r.w, 1, 2, 2);
        for (int s = 0; s < 2; ++s)
            for (int c = 0; c < r.w; ++c) fr.at(s, c, 0) = static_cast<std::uint16_t>(r.mult * (c + 1) + 10 * s);
        fr.f.max_value = r.max;
        EXPECT_EQ(tomo::bin_columns(fr.f, r.pixel), r.code) << r.w << " " << r.pixel;
        EXPECT_EQ(tvxtest::vals(fr.f.width, fr.f.bit_depth, fr.f.max_value), tvxtest::vals(r.w2, r.depth, r.max2));
        fr.px.resize(r.out.size());
        EXPECT_EQ(fr.px, r.out) << r.w << " " << r.pixel;
    }
}

TEST_F(TomoCorrectionTest, GainAndOffsetTablesInSinglePrecisionOrRefused) {
    const std::string folder = dir.file("");
    const auto table = [](const std::string& head, std::vector<float> v) {
        return head + std::string(reinterpret_cast<const char*>(v.data()), 4 * v.size());
    };
    const float nan = std::nanf("");
    // 1 + 0.99999994 is 2 in single precision (1 in double); the last gain is not a number.
    const std::string gain = table("aB12A", {1, 0.5f, 2, 1, nan}), offset = table("AB12b", {0.99999994f, 0, 1.5f, -10, 0});
    tvxtest::write_file(folder + "Ab12345678a.tbl", "AB12345678" + gain.substr(4));  // the longest identifier
    tvxtest::write_file(folder + "Ab12345678b.tbl", "ab12345678" + offset.substr(4));
    const auto run = [&](const std::string& g, const std::string& o, const char* id = "Ab12", std::string fold = "") {
        for (const auto& [name, bytes] : {std::pair{"Ab12a.tbl", g}, std::pair{"Ab12b.tbl", o}})
            bytes.empty() ? (void)std::remove(dir.file(name).c_str()) : tvxtest::write_file(dir.file(name), bytes);
        Frame fr(5, 1, 2, 2);
        fr.px = {1, 7, 5, 3, 9, 100, 8191, 8000, 20, 9};
        const std::int32_t rc = tomo::correct_sensitivity(fr.f, fold.empty() ? folder.c_str() : fold.c_str(), id);
        EXPECT_EQ(fr.px, (rc ? Pixels{1, 7, 5, 3, 9, 100, 8191, 8000, 20, 9}
                             : Pixels{2, 3, 11, 0, 0, 101, 4095, 8191, 10, 0}));
        return rc;
    };
    EXPECT_EQ(Codes({run(gain, offset), run("", offset), run(gain, ""), run("Zz12" + gain.substr(4), offset),
                     run(gain, "AB"), run("aB12b" + gain.substr(5), offset), run(gain, "AB12a" + offset.substr(5)),
                     run(gain.substr(0, gain.size() - 1), offset), run(gain, offset + "x"), run(gain, offset, "Ab12345678x"),
                     run(gain, offset, "Ab12345678"), run(gain, offset, "Ab12", std::string(513, 'x')),
                     tvxtest::with_failed_allocation(1, [&] { return run(gain, offset); }),
                     tvxtest::with_failed_allocation(2, [&] { return run(gain, offset); })}),
              Codes({0, 100, 100, 26, 100, 101, 101, 100, 100, 3, 0, 3, 5, 5}));
}

TEST_F(TomoCorrectionTest, NoiseRowsAreInterpolatedInEveryStripFromOneReadingOfTheTable) {
    // Bands at row 0 (no row above) and row 5 (no row below) are skipped; rows 2-3 run from row 1 to row 4.
    tvxtest::write_words(dir.file("S1.dat"), {3, 0, 2, 5, 1, 2, 1});
    const std::string folder = dir.file("");
    for (std::size_t blocks : {4, 2}) {  // scratch in the buffer, or taken
        Frame fr(2, 6, 2, blocks, 999);
        const int edge[][2] = {{10, 41}, {20, 50}, {110, 141}, {120, 90}};  // rows 1 and 4, strip s column c at 2 s + c
        for (int i = 0; i < 4; ++i) fr.at(i / 2, i % 2, 1) = edge[i][0], fr.at(i / 2, i % 2, 4) = edge[i][1];
        const auto step = [&](const auto& t) { EXPECT_EQ(tomo::correct_noise_rows(fr.f, folder.c_str(), "S1", t), 0); };
        EXPECT_EQ(traced(dir.file("t"), step), "ch1  Num;  3  Pos;   0   2   5\n              Hei;   1   2   1\n");
        fr.px.resize(24);
        EXPECT_EQ(fr.px, (Pixels{999, 999, 10, 20, 20, 30, 30, 40, 41, 50, 999, 999,
                                 999, 999, 110, 120, 120, 110, 130, 100, 141, 90, 999, 999}));
    }
    Frame fr(2, 6, 2, 2, 7);
    const auto run = [&](const Pixels& words) {
        words.empty() ? (void)std::remove(dir.file("S1.dat").c_str()) : tvxtest::write_words(dir.file("S1.dat"), words);
        return tomo::correct_noise_rows(fr.f, folder.c_str(), "S1");
    };
    EXPECT_EQ(Codes({run({0}), run({0, 1}), run({1, 2}), run({1, 2, 1, 0}), run({}),
                     tvxtest::with_failed_allocation(1, [&] { return run({1, 2, 1}); })}),
              Codes({0, 28, 28, 28, 28, 5}));
    EXPECT_EQ(fr.px, Pixels(24, 7));
    std::remove(dir.file("S1.dat").c_str());
    const auto missing = [&](const auto& t) { tomo::correct_noise_rows(fr.f, folder.c_str(), "S1", t); };
    EXPECT_EQ(traced(dir.file("t"), missing).substr(0, folder.size() + 8), "[" + folder + "S1.dat]");
}

TEST_F(TomoCorrectionTest, ChipGapsAreClosedAndFilledOrRefused) {
    Frame fr(1, 2304, 2, 2);
    for (std::size_t r = 0; r < 2304; ++r) fr.at(0, 0, r) = fr.at(1, 0, r) = static_cast<std::uint16_t>(r);
    // Row 764 after the move is row 766 (100), row 1540 is row 1537 (601).
    for (int s = 0; s < 2; ++s)
        fr.at(s, 0, 766) = 100, fr.at(s, 0, 769) = 201, fr.at(s, 0, 1534) = 300, fr.at(s, 0, 1537) = 601;
    ASSERT_EQ(tomo::fill_chip_gaps(fr.f, {}), 0);
    const int want[][2] = {{0, 2},      {763, 765},  {764, 100},  {765, 120},  {766, 140},   {767, 160},  {768, 180},
                           {769, 201},  {770, 770},  {1533, 1533}, {1534, 300}, {1535, 350}, {1536, 400}, {1537, 450},
                           {1538, 500}, {1539, 550}, {1540, 601}, {1541, 1538}, {2303, 2300}};
    for (int s = 0; s < 2; ++s)
        for (const auto& w : want) EXPECT_EQ(fr.at(s, 0, w[0]), w[1]) << s << " " << w[0];
    // Refused, image unchanged: a gap as tall as a chip, good rows above row 0 or below the last row.
    Frame same(1, 2304, 2, 2, 5), short_strip(1, 1539, 2, 2, 5), limit(1, 2304, 2, 2);
    EXPECT_EQ(Codes({tomo::fill_chip_gaps(same.f, {768}), tomo::fill_chip_gaps(same.f, {2, 3, 1, 1, 1536}),
                     tomo::fill_chip_gaps(same.f, {2, 3, 1, 1, 1, 765}), tomo::fill_chip_gaps(limit.f, {2, 3, 1, 1, 1, 764}),
                     tomo::fill_chip_gaps(short_strip.f, {})}),
              Codes({3, 3, 3, 0, 3}));
    EXPECT_EQ(same.px, Pixels(2 * 2304, 5));
    EXPECT_EQ(short_strip.px, Pixels(2 * 1539, 5));
}

TEST_F(TomoCorrectionTest, StripsAreShiftedThenJoinedEdgeToEdge) {
    // Strip s pixel (c, r) = 100 s + 10 r + c. Shift sums 2 and 2 - 4: strip 0 up two rows, strip 1 down two.
    tomo::StripJoinParams p;
    p.overlay = 0, p.up_down[0] = 2, p.up_down[1] = 0xFFFC;
    const auto join = [&](const tomo::StripJoinParams& q, std::size_t capacity = 48) {
        Frame fr(3, 4, 2, 4);
        for (int s = 0; s < 2; ++s)
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 3; ++c) fr.at(s, c, r) = static_cast<std::uint16_t>(100 * s + 10 * r + c);
        const Pixels before = fr.px;
        fr.f.capacity = capacity;
        const std::int32_t rc = tomo::join_strips(fr.f, q);
        EXPECT_TRUE(rc == 0 || fr.px == before);
        return rc ? Pixels{static_cast<std::uint16_t>(rc)} : Pixels(fr.px.begin(), fr.px.begin() + fr.f.width * 4);
    };
    const Pixels shifted = {20, 21, 22, 100, 101, 102, 0, 0, 30, 31, 32, 100, 101, 102, 0, 0,
                            30, 31, 32, 100, 101, 102, 0, 0, 30, 31, 32, 110, 111, 112, 0, 0};
    EXPECT_EQ(join(p), shifted);
    EXPECT_EQ(join(p), shifted);  // the same shifts for the next frame
    tomo::StripJoinParams off = p;
    off.use_cuts = false, off.overlay = 3, off.left_cut[0] = 2;  // ignored
    EXPECT_EQ(join(off), (Pixels{0, 1, 2, 100, 101, 102, 0, 0, 10, 11, 12, 110, 111, 112, 0, 0,
                                 20, 21, 22, 120, 121, 122, 0, 0, 30, 31, 32, 130, 131, 132, 0, 0}));
    // Refused: shift sums reaching the height (4, 2 + 2, -4), cuts below the overlay, cuts filling the
    // strip, no strips, a joined image (8 x 4) larger than the buffer; no memory for the work image.
    std::vector<tomo::StripJoinParams> bad(5, p);
    bad[0].up_down[0] = 4, bad[1].up_down[0] = 2, bad[1].up_down[1] = 2, bad[2].up_down[0] = 0xFFFC, bad[3].overlay = 1;
    bad[4].left_cut[1] = 1, bad[4].right_cut[1] = 2;
    Frame none(3, 4, 0, 4);
    EXPECT_EQ(Codes({join(bad[0])[0], join(bad[1])[0], join(bad[2])[0], join(bad[3])[0], join(bad[4])[0],
                     tomo::join_strips(none.f, p), join(p, 24)[0],
                     tvxtest::with_failed_allocation(2, [&] { return static_cast<std::int32_t>(join(p, 32)[0]); })}),
              Codes({3, 3, 3, 3, 3, 3, 3, 5}));
}

TEST_F(TomoCorrectionTest, OverlapIsScaledByTheAveragedRowRatioAndCrossFaded) {
    // Overlay 2, cuts 2: strip 0 keeps all 8 columns, strip 1 overlaps its last 4. Single-row ratios
    // 2, 4, 1, 4; averaged over one row either side within rows 0-1: 3, 3, 4 (row 1 alone), 0 (none).
    Frame fr(8, 4, 2, 6);
    const Pixels strips = {1,  2,  3,  4,  40, 41, 41, 42, 1,  2,  3,  4,  39, 39, 39, 39,  // strip 0
                           1,  2,  3,  4,  5,  5,  5,  5,  1,  2,  3,  4,  7,  7,  7,  7,
                           19, 20, 20, 21, 30, 31, 32, 33, 9,  9,  9,  9,  10, 11, 12, 13,  // strip 1
                           5,  5,  5,  5,  6,  6,  6,  6,  1,  1,  1,  1,  1,  1,  1,  1};
    std::copy(strips.begin(), strips.end(), fr.px.begin());
    fr.f.max_value = 100;
    tomo::StripJoinParams p;
    p.overlay = 2, p.average = 1, p.bottom_offset = 2, p.write_profiles = true;
    for (int s = 0; s < 2; ++s) p.left_cut[s] = p.right_cut[s] = 2;
    tvxtest::InDirectory in(dir.path());
    const std::string log = traced(dir.file("t"), [&](const auto& t) { EXPECT_EQ(tomo::join_strips(fr.f, p, t), 0); });
    EXPECT_EQ(log, "[PUTIMAGES] AVERAGE= 1\n\x8D\x87\x90\xAC\x89\xE6\x91\x9C\x83T\x83" "C\x83Y[  12 x    4]\n");
    // Fade weights 1/4, 1/2, 1/2, 3/4 for the new strip; row 0: 3 (p + 1) - 1 against 40, 41, 41, 42, the last above M.
    EXPECT_EQ(tvxtest::vals(fr.f.width, fr.f.strips), tvxtest::vals(12, 1));
    EXPECT_EQ(Pixels(fr.px.begin(), fr.px.begin() + 48),
              (Pixels{1, 2, 3, 4, 44, 51, 51, 59, 92, 95, 98, 100, 1, 2, 3, 4, 36, 34, 34, 31, 32, 35, 38, 41,
                      1, 2, 3, 4, 9, 14, 14, 18, 27, 27, 27, 27, 1, 2, 3, 4, 5, 3, 3, 1, 0, 0, 0, 0}));
    EXPECT_EQ(tvxtest::read_text_file(dir.file("profile_0R1L.csv")),
              ",profile,profile,ratio,ratio\n,left,right,signle,average\n0,41.000000,20.000000,2.000000,3.000000\n"
              "1,39.000000,9.000000,4.000000,3.000000\n2,5.000000,5.000000,1.000000,4.000000\n"
              "3,7.000000,1.000000,4.000000,0.000000\n");
}

TEST_F(TomoCorrectionTest, FastPathsGiveThePlainImages) {
    if (!TVX_SSE2) GTEST_SKIP() << "no SSE2 loops in this build";
    // {width, strips, values lo..hi, M}: widths off the run of 8 (tails, an odd column left by the
    // binning, no run at all), dark values from a narrow range or all, M above the signed range, all 0,
    // all 65535. The gain and offset tables hold NaN, infinities and negative values.
    const struct { std::uint16_t w, strips, lo, hi, max; } rows[] = {
        {13, 2, 0, 65535, 8191}, {64, 3, 300, 900, 8191}, {21, 2, 0, 65535, 40000}, {3, 1, 0, 65535, 65535},
        {16, 2, 0, 0, 8191},     {16, 2, 65535, 65535, 65535}};
    const std::string folder = dir.file("");
    for (const auto& r : rows) {
        std::string table[2] = {"T1a", "T1b"};
        const Pixels bits = tvxtest::random_words(4u * r.w * 50, r.w, 0, 65535);
        for (std::size_t i = 0; i < 2u * r.w * 50; ++i) {
            const float special[] = {std::nanf(""), INFINITY, -INFINITY, -0.0f, 1.0f};
            const float v = i % 7 == 0 ? special[i / 7 % 5] : static_cast<float>(bits[2 * i] - 16384) / (4096.0f + bits[2 * i + 1]);
            table[i % 2].append(reinterpret_cast<const char*>(&v), 4);
        }
        for (int t = 0; t < 2; ++t) tvxtest::write_file(folder + (t ? "T1b.tbl" : "T1a.tbl"), table[t]);
        tomo::StripJoinParams join;
        join.overlay = r.w >= 10 ? 4 : 0, join.average = 5, join.top_offset = 3, join.bottom_offset = 6, join.up_down[1] = 1;
        std::fill(join.left_cut, join.left_cut + 3, join.overlay), std::fill(join.right_cut, join.right_cut + 3, join.overlay + 1);
        // Each step on two copies of one random frame, plain and SSE2: codes, images and sizes agree.
        const auto same = [&](std::size_t blocks, std::uint16_t h, const auto& step) {
            Frame a(r.w, h, r.strips, blocks), b(r.w, h, r.strips, blocks);
            const Pixels px = tvxtest::random_words(a.px.size(), r.w * r.strips, r.lo, r.hi);
            std::copy(px.begin(), px.end(), a.px.begin()), std::copy(px.begin(), px.end(), b.px.begin());
            a.f.max_value = b.f.max_value = r.max, a.f.bit_depth = b.f.bit_depth = 15;
            tvx::core::test_use_plain_paths(true);
            const std::int32_t plain = step(a.f);
            tvx::core::test_use_plain_paths(false);
            EXPECT_EQ(Codes({plain, step(b.f)}), Codes({0, 0}));
            EXPECT_TRUE(a.px == b.px && a.f.width == b.f.width) << r.w << " " << r.lo;
        };
        same(2 * r.strips + 2, 2304, [](auto& f) { return tomo::subtract_dark_offset(f); });
        same(r.strips, 50, [&](auto& f) { return tomo::correct_sensitivity(f, folder.c_str(), "T1"); });
        same(r.strips, 50, [](auto& f) { return tomo::bin_columns(f, 2); });
        same(2 * r.strips + 4, 50, [&](auto& f) { return tomo::join_strips(f, join, {}); });
    }
}

}  // namespace
