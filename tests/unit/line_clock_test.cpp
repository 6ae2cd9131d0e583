#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "core/alloc.h"
#include "device/line_clock.h"
#include "support/support.h"

using namespace tvx::device;

namespace {

class LineClockTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }

    // Picture entries of a profile; the buffer is sized to the limit so a write past it is caught.
    std::int32_t entries(const std::vector<float>& v, std::uint16_t interval, std::uint32_t limit,
                         std::vector<std::uint16_t>* out) {
        out->assign(limit, 0);
        std::uint32_t k = 0;
        const std::int32_t rc = line_clock_entries(v.data(), v.size(), interval, limit, out->data(), &k);
        out->resize(k);
        return rc;
    }
};

TEST_F(LineClockTest, LayoutsOfTheFiveClockCodes) {
    const PassLayout expected[5] = {{4096, 6250}, {2048, 3126}, {1364, 2084}, {1024, 1564}, {3500, 5210}};
    for (std::uint32_t code = 0; code < 5; ++code) {
        PassLayout got{};
        ASSERT_TRUE(pass_layout(code, &got));
        EXPECT_EQ(got.lines, expected[code].lines) << code;
        EXPECT_EQ(got.limit, expected[code].limit) << code;
    }
    PassLayout none{};
    EXPECT_FALSE(pass_layout(5, &none));
}

TEST_F(LineClockTest, ConstantSpeedGivesEqualIntervalsPaddedToAnEvenCount) {
    std::vector<std::uint16_t> out;
    // 0.048 / 40 s = 1.2 ms = 30 counts; 100 samples of 10 ms hold 833 whole steps.
    ASSERT_EQ(entries(std::vector<float>(100, 40.0f), 10, 6250, &out), 0);
    ASSERT_EQ(out.size(), 834u);
    for (const auto e : out) ASSERT_EQ(e, 30);
}

TEST_F(LineClockTest, SpeedChangeInsideAStep) {
    std::vector<std::uint16_t> out;
    // 8 steps of 30 counts end at 9.6 ms; the 9th covers 0.016 at speed 40 and
    // 0.032 at speed 20 (1.6 ms): t = 11.6 ms, count 290, interval 50; then
    // steps of 2.4 ms (60 counts) at 14.0, 16.4 and 18.8 ms; 21.2 ms is past the end.
    ASSERT_EQ(entries({40.0f, 20.0f}, 10, 6250, &out), 0);
    const std::vector<std::uint16_t> expected = {30, 30, 30, 30, 30, 30, 30, 30, 50, 60, 60, 60};
    EXPECT_EQ(out, expected);
}

TEST_F(LineClockTest, IntervalsOutsideTheClockRangeGive10) {
    std::vector<std::uint16_t> out;
    // 0.048 / 200 s = 6 counts.
    EXPECT_EQ(entries(std::vector<float>(10, 200.0f), 10, 6250, &out), 10);
    // A standstill of five 10 ms samples inside the scan: more than 1023 counts.
    std::vector<float> stop(10, 40.0f);
    stop.insert(stop.end(), 5, 0.0f);
    stop.insert(stop.end(), 10, 40.0f);
    EXPECT_EQ(entries(stop, 10, 6250, &out), 10);
    // An interval of 66030 counts (a 2.64 s standstill) must not pass as 494 after a 16-bit wrap.
    std::vector<float> long_stop(10, 40.0f);
    long_stop.insert(long_stop.end(), 264, 0.0f);
    long_stop.insert(long_stop.end(), 10, 40.0f);
    EXPECT_EQ(entries(long_stop, 10, 6250, &out), 10);
    // Reverse motion and a sample that is not a number.
    EXPECT_EQ(entries(std::vector<float>(10, -40.0f), 10, 6250, &out), 10);
    std::vector<float> nan_sample(10, 40.0f);
    nan_sample[0] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(entries(nan_sample, 10, 6250, &out), 10);
}

TEST_F(LineClockTest, MoreEntriesThanThePassHoldsGive11) {
    std::vector<std::uint16_t> out;
    // Two passes hold 3126 picture entries; 400 samples at speed 40 need 3333.
    EXPECT_EQ(entries(std::vector<float>(400, 40.0f), 10, 3126, &out), 11);
    // 376 samples (3.76 s) hold 3133 steps of 1.2 ms, 374 samples 3116.
    EXPECT_EQ(entries(std::vector<float>(376, 40.0f), 10, 3126, &out), 11);
    EXPECT_EQ(entries(std::vector<float>(374, 40.0f), 10, 3126, &out), 0);
    EXPECT_EQ(out.size(), 3116u);
}

TEST_F(LineClockTest, AStoppedStartGivesNoPictureEntries) {
    std::vector<std::uint16_t> out;
    std::vector<float> v(20, 40.0f);
    v[0] = 0.0f;
    EXPECT_EQ(entries(v, 10, 6250, &out), 0);
    EXPECT_TRUE(out.empty());
}

TEST_F(LineClockTest, AStepThatOutlastsTheProfileEndsThePassWithoutReadingPastIt) {
    std::vector<std::uint16_t> out;
    // 83 steps fit the first 100 ms; the 84th cannot end in the trailing
    // standstill or the slow last sample, so the pass ends there.
    std::vector<float> stopped(10, 40.0f);
    stopped.insert(stopped.end(), 5, 0.0f);
    ASSERT_EQ(entries(stopped, 10, 6250, &out), 0);
    EXPECT_EQ(out.size(), 84u);
    std::vector<float> slow(10, 40.0f);
    slow.push_back(1.0f);
    ASSERT_EQ(entries(slow, 10, 6250, &out), 0);
    EXPECT_EQ(out.size(), 84u);
    EXPECT_EQ(out.back(), 30);
}

TEST_F(LineClockTest, TimeLagEntries) {
    struct Case {
        std::uint16_t timelag;
        std::vector<std::uint16_t> lag;
    };
    std::vector<std::uint16_t> rem0_odd(24, 1023);
    rem0_odd.push_back(511);
    rem0_odd.push_back(512);
    const Case cases[] = {
        {0, {}},
        {100, {1023, 1023, 227, 227}},      // 2500 = 2 x 1023 + 454, q 3 -> 4
        {82, {1023, 1023, 2, 2}},           // 2050 = 2 x 1023 + 4
        {50, {625, 625}},                   // 1250 = 1023 + 227, q 2: even-adjusted
        {1, {12, 13}},                      // 25, q 1 -> 2
        {1023, rem0_odd},                   // 25575 = 25 x 1023
        {2046, std::vector<std::uint16_t>(50, 1023)},  // 51150 = 50 x 1023
    };
    for (const auto& c : cases) {
        std::vector<std::uint16_t> fine(6250, 0);
        fine[0] = 30;
        fine[1] = 31;
        std::uint32_t q = 99;
        ASSERT_EQ(insert_time_lag(fine.data(), 2, c.timelag, 6250, &q), 0) << c.timelag;
        ASSERT_EQ(q, c.lag.size()) << c.timelag;
        EXPECT_EQ(std::vector<std::uint16_t>(fine.begin(), fine.begin() + q), c.lag) << c.timelag;
        EXPECT_EQ(fine[q], 30);
        EXPECT_EQ(fine[q + 1], 31);
    }
}

TEST_F(LineClockTest, TimeLagThatDoesNotFitGives12) {
    std::vector<std::uint16_t> fine(1564, 30);
    std::uint32_t q = 0;
    EXPECT_EQ(insert_time_lag(fine.data(), 1560, 100, 1564, &q), 0);
    EXPECT_EQ(q, 4u);
    EXPECT_EQ(insert_time_lag(fine.data(), 1562, 100, 1564, &q), 12);
}

TEST_F(LineClockTest, RampRunsFromTheLowToTheHighMark) {
    // Marks: 40 sets low, 20 lowers it, 30 and 50 raise high: ramp 20..50 over 4 entries.
    std::vector<std::uint16_t> fine = {1023, 1023, 40, 20, 30, 50, 0, 0, 0, 0};
    apply_ramp(fine.data(), 2, 4, 10);
    EXPECT_EQ(std::vector<std::uint16_t>(fine.begin() + 6, fine.end()), (std::vector<std::uint16_t>{20, 30, 40, 50}));
    // Falling entries only ever lower the low mark: the ramp falls to 12, truncating toward zero.
    std::vector<std::uint16_t> falling = {100, 50, 0, 0, 0, 0};
    apply_ramp(falling.data(), 0, 2, 6);
    EXPECT_EQ(std::vector<std::uint16_t>(falling.begin() + 2, falling.end()), (std::vector<std::uint16_t>{50, 38, 25, 12}));
}

TEST_F(LineClockTest, PairwiseMergeAlternatesBetweenLowAndHigh) {
    const std::vector<std::uint16_t> fine = {5, 5, 3, 7, 3, 7, 8, 2, 4, 4, 1, 9};
    std::vector<std::uint16_t> out(6, 0);
    merge_pairs(fine.data(), 6, out.data());
    EXPECT_EQ(out, (std::vector<std::uint16_t>{5, 3, 7, 2, 4, 9}));
}

TEST_F(LineClockTest, OnePassWithTimeLag) {
    std::vector<float> v(100, 40.0f);
    std::vector<std::uint16_t> out(4096, 0);
    std::uint16_t start = 0, width = 0;
    ASSERT_EQ(build_pass(0, v.data(), v.size(), 10, 100, out.data(), &start, &width), 0);
    EXPECT_EQ(start, 2);
    EXPECT_EQ(width, 417);
    EXPECT_EQ(out[0], 1023);
    EXPECT_EQ(out[1], 227);
    EXPECT_EQ(out[2], 30);
    EXPECT_EQ(out[2 + 416], 30);
    // The ramp of a constant picture stays at 30.
    EXPECT_EQ(out[4095], 30);
    EXPECT_EQ(build_pass(5, v.data(), v.size(), 10, 100, out.data(), &start, &width), 3);
}

TEST_F(LineClockTest, TableOfSeveralPassesScansTheProfileBackAndForth) {
    // Speed 40 then 20: forwards the slow part comes last, backwards first.
    std::vector<float> v(50, 40.0f);
    v.insert(v.end(), 50, 20.0f);
    std::vector<std::uint16_t> table(4096, 0), pass(4096, 0);
    std::uint16_t start[4] = {}, width[4] = {};
    ASSERT_EQ(build_clock_table(1, 2, v.data(), v.size(), 10, 0, table.data(), 4096, pass.data(), start, width), 0);
    EXPECT_EQ(table[0], 30);
    EXPECT_EQ(table[2048], 60);
    EXPECT_EQ(start[0], 0);
    EXPECT_EQ(start[1], 0);
    EXPECT_GE(width[0], 310);  // about 624 picture entries
    EXPECT_GE(width[1], 310);
    EXPECT_EQ(v.front(), 40.0f);  // reversed twice

    // Three passes of 1364 lines leave the last 4 entries at 12.
    std::vector<float> c(100, 40.0f);
    ASSERT_EQ(build_clock_table(2, 3, c.data(), c.size(), 10, 0, table.data(), 4096, pass.data(), start, width), 0);
    for (int i = 4092; i < 4096; ++i) EXPECT_EQ(table[i], 12);
    EXPECT_EQ(table[4091], 30);
}

TEST_F(LineClockTest, SpeedProfileFile) {
    tvxtest::TempDir dir;
    std::vector<float> v(3000, 0.0f);
    std::size_t n = 0;
    EXPECT_EQ(read_speed_profile(dir.file("absent.txt").c_str(), v.data(), v.size(), &n), -99);
    tvxtest::write_file(dir.file("empty.txt"), "");
    EXPECT_EQ(read_speed_profile(dir.file("empty.txt").c_str(), v.data(), v.size(), &n), -99);
    // Numbers from the start of each line; text gives 0; a line longer than 63 characters counts as two.
    tvxtest::write_file(dir.file("p.txt"), "40.5\n  12 mm/s\nabc\n5" + std::string(62, ' ') + "7.25\n");
    ASSERT_EQ(read_speed_profile(dir.file("p.txt").c_str(), v.data(), v.size(), &n), 0);
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(v[0], 40.5f);
    EXPECT_EQ(v[1], 12.0f);
    EXPECT_EQ(v[2], 0.0f);
    EXPECT_EQ(v[3], 5.0f);
    EXPECT_EQ(v[4], 7.25f);
    // At most the capacity is read.
    std::string many;
    for (int i = 0; i < 10; ++i) many += "1\n";
    tvxtest::write_file(dir.file("many.txt"), many);
    ASSERT_EQ(read_speed_profile(dir.file("many.txt").c_str(), v.data(), 4, &n), 0);
    EXPECT_EQ(n, 4u);
}

TEST_F(LineClockTest, FineBufferFailureGives5) {
    std::vector<float> v(100, 40.0f);
    std::vector<std::uint16_t> out(4096, 0);
    std::uint16_t start = 0, width = 0;
    const auto held = tvx::core::test_blocks_held();
    {
        tvxtest::FailAllocation fail(1);
        EXPECT_EQ(build_pass(0, v.data(), v.size(), 10, 0, out.data(), &start, &width), 5);
    }
    EXPECT_EQ(tvx::core::test_blocks_held(), held);
}

}  // namespace
