#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "device/line_clock.h"
#include "support/support.h"

using namespace tvx::device;

namespace {

using LineClockTest = tvxtest::LibraryTest;

// A speed profile from runs of {speed, samples}.
std::vector<float> runs(std::initializer_list<std::pair<float, int>> parts) {
    std::vector<float> v;
    for (const auto& p : parts) v.insert(v.end(), p.second, p.first);
    return v;
}

TEST_F(LineClockTest, PictureEntries) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // {what, speeds, limit, result, entry count, the value of every entry or 0}
    struct Row { const char* what; std::vector<float> speeds; std::uint32_t limit; std::int32_t rc; std::size_t count; std::uint16_t every; };
    const Row rows[] = {
        // 0.048 / 40 s = 1.2 ms = 30 counts; 100 samples of 10 ms hold 833 whole steps.
        {"constant speed, padded to an even count", runs({{40, 100}}), 6250, 0, 834, 30},
        {"0.048 / 200 s = 6 counts", runs({{200, 10}}), 6250, 10, 0, 0},
        {"a 50 ms standstill: more than 1023 counts", runs({{40, 10}, {0, 5}, {40, 10}}), 6250, 10, 0, 0},
        // 66030 counts must not pass as 494 after a 16-bit wrap.
        {"a 2.64 s standstill", runs({{40, 10}, {0, 264}, {40, 10}}), 6250, 10, 0, 0},
        {"reverse motion", runs({{-40, 10}}), 6250, 10, 0, 0},
        {"a sample that is not a number", runs({{nan, 1}, {40, 9}}), 6250, 10, 0, 0},
        // Two passes hold 3126 picture entries: 3.76 s hold 3133 steps of 1.2 ms, 3.74 s 3116.
        {"400 samples in two passes", runs({{40, 400}}), 3126, 11, 0, 0},
        {"376 samples in two passes", runs({{40, 376}}), 3126, 11, 0, 0},
        {"374 samples in two passes", runs({{40, 374}}), 3126, 0, 3116, 30},
        {"a stopped start", runs({{0, 1}, {40, 19}}), 6250, 0, 0, 0},
        // 83 steps fit the first 100 ms; the 84th cannot end in the trailing standstill or
        // the slow last sample, so the pass ends there without reading past the profile.
        {"a trailing standstill", runs({{40, 10}, {0, 5}}), 6250, 0, 84, 30},
        {"a slow last sample", runs({{40, 10}, {1, 1}}), 6250, 0, 84, 30},
    };
    for (const auto& row : rows) {
        std::vector<std::uint16_t> out(row.limit, 0);  // sized to the limit: a write past it is caught
        std::uint32_t k = 0;
        ASSERT_EQ(line_clock_entries(row.speeds.data(), row.speeds.size(), 10, row.limit, out.data(), &k), row.rc)
            << row.what;
        if (row.rc != 0) continue;
        EXPECT_EQ(k, row.count) << row.what;
        out.resize(k);
        EXPECT_TRUE(!row.every || out == std::vector<std::uint16_t>(k, row.every)) << row.what;
    }
    // 8 steps of 30 counts end at 9.6 ms; the 9th covers 0.016 at speed 40 and 0.032 at
    // speed 20 (1.6 ms): t = 11.6 ms, count 290, interval 50; then steps of 2.4 ms (60
    // counts) at 14.0, 16.4 and 18.8 ms; 21.2 ms is past the end.
    std::vector<std::uint16_t> out(6250, 0);
    const float change[] = {40.0f, 20.0f};
    std::uint32_t k = 0;
    ASSERT_EQ(line_clock_entries(change, 2, 10, 6250, out.data(), &k), 0);
    out.resize(k);
    EXPECT_EQ(out, (std::vector<std::uint16_t>{30, 30, 30, 30, 30, 30, 30, 30, 50, 60, 60, 60}));
}

TEST_F(LineClockTest, TimeLagEntries) {
    struct Case { std::uint16_t timelag; std::uint32_t k, limit; std::int32_t rc; std::vector<std::uint16_t> lag; };
    std::vector<std::uint16_t> rem0_odd(24, 1023);
    rem0_odd.push_back(511);
    rem0_odd.push_back(512);
    const Case cases[] = {
        {0, 2, 6250, 0, {}},
        {100, 2, 6250, 0, {1023, 1023, 227, 227}},  // 2500 = 2 x 1023 + 454, q 3 -> 4
        {82, 2, 6250, 0, {1023, 1023, 2, 2}},       // 2050 = 2 x 1023 + 4
        {50, 2, 6250, 0, {625, 625}},               // 1250 = 1023 + 227, q 2: even-adjusted
        {1, 2, 6250, 0, {12, 13}},                  // 25, q 1 -> 2
        {1023, 2, 6250, 0, rem0_odd},               // 25575 = 25 x 1023
        {2046, 2, 6250, 0, std::vector<std::uint16_t>(50, 1023)},  // 51150 = 50 x 1023
        {100, 1560, 1564, 0, {1023, 1023, 227, 227}},  // lag and picture fill the limit exactly
        {100, 1562, 1564, 12, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint16_t> fine(c.limit, 30);
        fine[1] = 31;
        std::uint32_t q = 99;
        ASSERT_EQ(insert_time_lag(fine.data(), c.k, c.timelag, c.limit, &q), c.rc) << c.timelag << " " << c.k;
        if (c.rc != 0) continue;
        ASSERT_EQ(q, c.lag.size()) << c.timelag;
        EXPECT_EQ(std::vector<std::uint16_t>(fine.begin(), fine.begin() + q), c.lag) << c.timelag;
        EXPECT_EQ(fine[q], 30);
        EXPECT_EQ(fine[q + 1], 31);
    }
}

TEST_F(LineClockTest, RampAndPairwiseMerge) {
    // Marks: 40 sets low, 20 lowers it, 30 and 50 raise high: ramp 20..50 over 4 entries.
    std::vector<std::uint16_t> fine = {1023, 1023, 40, 20, 30, 50, 0, 0, 0, 0};
    apply_ramp(fine.data(), 2, 4, 10);
    EXPECT_EQ(std::vector<std::uint16_t>(fine.begin() + 6, fine.end()), (std::vector<std::uint16_t>{20, 30, 40, 50}));
    // Falling entries only ever lower the low mark: the ramp falls to 12, truncating toward zero.
    std::vector<std::uint16_t> falling = {100, 50, 0, 0, 0, 0};
    apply_ramp(falling.data(), 0, 2, 6);
    falling.erase(falling.begin(), falling.begin() + 2);
    EXPECT_EQ(falling, (std::vector<std::uint16_t>{50, 38, 25, 12}));
    // Merging alternates between the smaller and the larger of each unequal pair.
    const std::vector<std::uint16_t> pairs = {5, 5, 3, 7, 3, 7, 8, 2, 4, 4, 1, 9};
    std::vector<std::uint16_t> merged(6, 0);
    merge_pairs(pairs.data(), 6, merged.data());
    EXPECT_EQ(merged, (std::vector<std::uint16_t>{5, 3, 7, 2, 4, 9}));
}

TEST_F(LineClockTest, SpeedProfileFile) {
    std::vector<float> v(3000, 0.0f);
    std::size_t n = 0;
    // Numbers from the start of each line; text gives 0; a line longer than 63 characters counts as two.
    tvxtest::write_file(dir.file("p.txt"), "40.5\n  12 mm/s\nabc\n5" + std::string(62, ' ') + "7.25\n");
    ASSERT_EQ(read_speed_profile(dir.file("p.txt").c_str(), v.data(), v.size(), &n), 0);
    v.resize(n);
    EXPECT_EQ(v, (std::vector<float>{40.5f, 12.0f, 0.0f, 5.0f, 7.25f}));
    // At most the capacity is read.
    tvxtest::write_file(dir.file("many.txt"), "1\n1\n1\n1\n1\n1\n");
    ASSERT_EQ(read_speed_profile(dir.file("many.txt").c_str(), v.data(), 4, &n), 0);
    EXPECT_EQ(n, 4u);
}

}  // namespace
