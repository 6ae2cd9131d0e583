// Steps 1 to 3: dark offset, shading and injection lines, on hand-made images.
#include <gtest/gtest.h>

#include <array>
#include <optional>
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

using tvxtest::bytes_of;

// Line table: count, positions, heights, little-endian 16-bit.
std::string line_table(const std::vector<int>& pos, const std::vector<int>& hei) {
    std::vector<std::uint16_t> w{static_cast<std::uint16_t>(pos.size())};
    for (const auto* list : {&pos, &hei})
        for (int v : *list) w.push_back(static_cast<std::uint16_t>(v));
    return bytes_of(w);
}

class CorrectionTest : public tvxtest::LibraryTest {
protected:

    // A panoramic single pass: 4096 columns, the picture ends 4 columns before the
    // block end, so columns 4092..4095 are the dark samples.
    proc::DarkOffsetParams dark() { return {clock.data(), 4096, 0, 1, start, width}; }
    std::vector<std::uint16_t> clock = std::vector<std::uint16_t>(4096, 12);
    std::uint16_t start[4] = {0, 0, 0, 0};
    std::uint16_t width[4] = {4028, 0, 0, 0};
};

TEST_F(CorrectionTest, DarkLevelIsFittedAgainstTheClockSumAndSubtracted) {
    struct Row {
        std::uint16_t sample_clock;  // period of the columns 4091..4094
        std::vector<std::array<int, 4>> cells;  // {x, y, before, after}; other pixels 1000
    };
    const Row rows[] = {
        // Constant clock: row 0 samples 10, 20, 30, 40 (mean 25), row 1 samples 0. Results below
        // 0 are 0, not wrapped; results above the range 4095.
        {12, {{0, 0, 100, 75},    {1, 0, 10, 0},       {2, 0, 5000, 4095}, {3, 0, 1000, 975}, {4092, 0, 10, 0},
              {4093, 0, 20, 0},   {4094, 0, 30, 5},    {4095, 0, 40, 15},  {0, 1, 4095, 4095}, {1, 1, 6000, 4095},
              {3, 1, 1000, 1000}, {4092, 1, 0, 0},     {4093, 1, 0, 0},    {4094, 1, 0, 0},   {4095, 1, 0, 0}}},
        // Clock sums 778, 788, 798, 808 at the samples, 768 elsewhere. Row 0 lies on x = 0.5 y - 300
        // (84 at 768); row 1 on x = 2 y - 1550, negative at 768, where it counts as 0.
        {22, {{0, 0, 1000, 916}, {4091, 0, 1000, 916}, {4092, 0, 89, 0}, {4093, 0, 94, 0}, {4094, 0, 99, 0},
              {4095, 0, 104, 0}, {0, 1, 1000, 1000},   {4092, 1, 6, 0},  {4093, 1, 26, 0}, {4094, 1, 46, 0},
              {4095, 1, 66, 0}}},
    };
    for (const Row& r : rows) {
        for (int c = 4091; c <= 4094; ++c) clock[c] = r.sample_clock;
        std::vector<std::uint16_t> px(2 * 4096, 1000);
        for (const auto& c : r.cells) px[c[1] * 4096 + c[0]] = static_cast<std::uint16_t>(c[2]);
        ASSERT_EQ(proc::remove_dark_offset(ImageView{px.data(), 4096, 2}, dark()), 0);
        for (const auto& c : r.cells)
            EXPECT_EQ(px[c[1] * 4096 + c[0]], c[3]) << r.sample_clock << ": " << c[0] << "," << c[1];
    }
}

TEST_F(CorrectionTest, DarkOffsetWithoutSamplesOrTablesChangesNothing) {
    std::vector<std::uint16_t> px(4096, 1000);
    px[4092] = 500;
    const auto before = px;
    const auto run = [&](const proc::DarkOffsetParams& p, std::uint32_t w = 4096) {
        const std::int32_t rc = proc::remove_dark_offset(ImageView{px.data(), w, 1}, p);
        EXPECT_EQ(px, before);
        return rc;
    };
    width[0] = 4096;  // picture wider than the block: the sample count would be negative and counts as 0
    EXPECT_EQ(run(dark()), 0);
    width[0] = 4028;
    EXPECT_EQ(run({clock.data(), 4000, 0, 1, start, width}), TAVIREX_E_RANGE);  // table shorter than the block
    EXPECT_EQ(run({nullptr, 4096, 0, 1, start, width}), TAVIREX_E_RANGE);
    EXPECT_EQ(run(dark(), 4000), TAVIREX_E_RANGE);
    tvxtest::FailAllocation fail(3);
    EXPECT_EQ(run(dark()), TAVIREX_E_NO_MEMORY);
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

TEST_F(CorrectionTest, ShadingLooksUpEachRowsTableOrRefusesTheFile) {
    std::vector<std::uint16_t> tables(2 * 4096);
    for (std::uint16_t v = 0; v < 4096; ++v) {
        tables[v] = v / 2;                                      // row 0 halves
        tables[4096 + v] = static_cast<std::uint16_t>(4095 - v);  // row 1 inverts
    }
    tvxtest::write_file(dir.file("calib.bin"), bytes_of(tables));
    std::vector<std::uint16_t> px = {100, 4095, 5000, 0, 7, 60000};  // above the range: the last entry
    ASSERT_EQ(proc::correct_shading(ImageView{px.data(), 3, 2}, dir.file("calib.bin").c_str()), 0);
    EXPECT_EQ(px, (std::vector<std::uint16_t>{50, 2047, 2047, 4095, 4088, 0}));

    const std::string exact(2 * 4096 * 2, '\x01');
    tvxtest::write_file(dir.file("long.bin"), exact + "x");
    tvxtest::write_file(dir.file("short.bin"), exact.substr(1));
    tvxtest::write_file(dir.file("ok.bin"), exact);
    const struct {
        const char* file;
        int fail, code;
    } rows[] = {{"long.bin", 0, TAVIREX_E_DATA_SIZE},
                {"short.bin", 0, TAVIREX_E_DATA_SIZE},
                {"none.bin", 0, TAVIREX_E_DATA_FILE},
                {"ok.bin", 1, TAVIREX_E_NO_MEMORY}};
    std::uint16_t two[2] = {10, 20};
    for (const auto& r : rows) {
        std::optional<tvxtest::FailAllocation> fail;
        if (r.fail) fail.emplace(r.fail);
        EXPECT_EQ(proc::correct_shading(ImageView{two, 1, 2}, dir.file(r.file).c_str()), r.code) << r.file;
        EXPECT_TRUE(two[0] == 10 && two[1] == 20) << r.file;
    }
    EXPECT_EQ(proc::correct_shading(ImageView{two, 1, 2}, dir.file("ok.bin").c_str()), 0);
    EXPECT_EQ(two[0], 0x0101);
}

TEST_F(CorrectionTest, PanoramicBandIsInterpolatedBetweenItsNeighbours) {
    // Band at 800 (row 32 after removing half the height), height 2; band at 700 is skipped;
    // bands of height 0 and -1 change nothing; a band touching the last row is skipped.
    tvxtest::write_file(dir.file("lines.dat"), line_table({800, 700, 900, 901, 2302}, {2, 3, 0, -1, 2}));
    std::vector<std::uint16_t> px(2u * 1536, 500);
    px[2 * 31] = 100;  // column 0: rows 31 and 34 around the band
    px[2 * 34] = 400;
    px[2 * 31 + 1] = 401;  // column 1
    px[2 * 34 + 1] = 100;
    ASSERT_EQ(proc::correct_injection_lines(ImageView{px.data(), 2, 1536}, dir.file("lines.dat").c_str(), true), 0);
    // 400 + 2/3 (100 - 400), 400 + 1/3 (100 - 400); trunc(100 + 2/3 x 301), trunc(100 + 1/3 x 301).
    const int want[][3] = {{0, 32, 200}, {0, 33, 300}, {1, 32, 300}, {1, 33, 200}};
    for (const auto& c : want) EXPECT_EQ(px[2 * c[1] + c[0]], c[2]) << c[0] << "," << c[1];
    for (std::uint32_t y = 0; y < 1536; ++y) EXPECT_TRUE(px[2 * y] == 500 || (y >= 31 && y <= 34)) << y;
}

TEST_F(CorrectionTest, CephalometricPositionsAreUsedAsStoredAndEdgeBandsSkipped) {
    // Row 0 has no row above and a band at the last row none below: both are skipped.
    tvxtest::write_file(dir.file("lines.dat"), line_table({0, 2, 6}, {1, 1, 1}));
    std::vector<std::uint16_t> px = {10, 20, 99, 40, 50, 60, 77};
    ASSERT_EQ(proc::correct_injection_lines(ImageView{px.data(), 1, 7}, dir.file("lines.dat").c_str(), false), 0);
    EXPECT_EQ(px, (std::vector<std::uint16_t>{10, 20, 30, 40, 50, 60, 77}));
    // 90 + 2/3 (30 - 90), 90 + 1/3 (30 - 90).
    tvxtest::write_file(dir.file("lines.dat"), line_table({3}, {2}));
    px[5] = 90;
    ASSERT_EQ(proc::correct_injection_lines(ImageView{px.data(), 1, 7}, dir.file("lines.dat").c_str(), false), 0);
    EXPECT_EQ(px, (std::vector<std::uint16_t>{10, 20, 30, 50, 70, 90, 77}));
}

TEST_F(CorrectionTest, LineTableErrorsAndMessages) {
    std::uint16_t px[4] = {1, 2, 3, 4};
    const auto run = [&](const std::string& bytes) {
        tvxtest::write_file(dir.file("t.dat"), bytes);
        return proc::correct_injection_lines(ImageView{px, 1, 4}, dir.file("t.dat").c_str(), false);
    };
    EXPECT_EQ(run(std::string("\0\0", 2)), 0);
    for (const std::string& bad : {std::string("\0\0\0", 3), std::string(), std::string("\x01", 1),
                                   line_table({2}, {1}).substr(0, 5), line_table({2}, {1}) + "x"})
        EXPECT_EQ(run(bad), TAVIREX_E_DATA_CONTENT) << bad.size();
    EXPECT_EQ(proc::correct_injection_lines(ImageView{px, 1, 4}, dir.file("none.dat").c_str(), false),
              TAVIREX_E_DATA_FILE);
    {
        tvxtest::FailAllocation fail(2);
        EXPECT_EQ(run(line_table({2}, {1})), TAVIREX_E_NO_MEMORY);
    }
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
    EXPECT_EQ(std::vector<std::uint16_t>(px, px + 4), (std::vector<std::uint16_t>{1, 2, 3, 4}));
}

}  // namespace
