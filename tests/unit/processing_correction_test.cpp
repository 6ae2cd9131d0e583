// Steps 1 to 3: dark offset, shading and injection lines, on hand-made images.
#include <gtest/gtest.h>

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

std::string words(const std::vector<std::uint16_t>& v) {
    std::string s;
    for (std::uint16_t w : v) {
        s.push_back(static_cast<char>(w & 0xFF));
        s.push_back(static_cast<char>(w >> 8));
    }
    return s;
}

class CorrectionTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
};

// A panoramic single pass: 4096 columns, the picture ends 4 columns before the
// block end, so columns 4092..4095 are the dark samples.
struct DarkFixture {
    std::vector<std::uint16_t> clock = std::vector<std::uint16_t>(4096, 12);
    std::vector<std::uint16_t> pixels;
    std::uint16_t start[4] = {0, 0, 0, 0};
    std::uint16_t width[4] = {4028, 0, 0, 0};
    proc::DarkOffsetParams params(std::uint8_t segments = 1) {
        proc::DarkOffsetParams p;
        p.clock_table = clock.data();
        p.clock_table_length = static_cast<std::uint32_t>(clock.size());
        p.clock_mode = 0;
        p.segment_count = segments;
        p.segment_start = start;
        p.segment_width = width;
        return p;
    }
    ImageView view(std::uint32_t rows) {
        pixels.assign(4096u * rows, 1000);
        return ImageView{pixels.data(), 4096, rows};
    }
};

TEST_F(CorrectionTest, ConstantClockSubtractsTheMeanOfTheDarkSamples) {
    DarkFixture f;
    ImageView img = f.view(2);
    // Row 0: samples 10, 20, 30, 40 (mean 25); row 1: samples 0 (nothing to remove).
    for (int i = 0; i < 4; ++i) img.at(4092 + i, 0) = static_cast<std::uint16_t>(10 * (i + 1));
    for (int i = 0; i < 4; ++i) img.at(4092 + i, 1) = 0;
    img.at(0, 0) = 100;
    img.at(1, 0) = 10;    // below the dark level: 0, not wrapped
    img.at(2, 0) = 5000;  // above the range after subtraction: 4095
    img.at(0, 1) = 4095;
    img.at(1, 1) = 6000;
    ASSERT_EQ(proc::remove_dark_offset(img, f.params()), 0);
    EXPECT_EQ(img.at(0, 0), 75);
    EXPECT_EQ(img.at(1, 0), 0);
    EXPECT_EQ(img.at(2, 0), 4095);
    EXPECT_EQ(img.at(3, 0), 975);
    EXPECT_EQ(img.at(4095, 0), 15);
    EXPECT_EQ(img.at(0, 1), 4095);
    EXPECT_EQ(img.at(1, 1), 4095);
    EXPECT_EQ(img.at(3, 1), 1000);
}

TEST_F(CorrectionTest, DarkLevelFollowsTheClockSum) {
    DarkFixture f;
    // Longer periods just before the samples: sums 778, 788, 798, 808 at columns 4092..4095.
    for (int c = 4091; c <= 4094; ++c) f.clock[c] = 22;
    std::vector<std::uint32_t> profile(4096);
    proc::dark_profile(f.params(), profile.data(), 4096);
    EXPECT_EQ(profile[0], 768u);
    EXPECT_EQ(profile[4091], 768u);
    EXPECT_EQ(profile[4092], 778u);
    EXPECT_EQ(profile[4095], 808u);

    ImageView img = f.view(2);
    // Row 0 lies on x = 0.5 y - 300, row 1 on x = 2 y - 1550 (negative at the sum 768).
    const std::uint16_t row0[4] = {89, 94, 99, 104};
    const std::uint16_t row1[4] = {6, 26, 46, 66};
    for (int i = 0; i < 4; ++i) {
        img.at(4092 + i, 0) = row0[i];
        img.at(4092 + i, 1) = row1[i];
    }
    ASSERT_EQ(proc::remove_dark_offset(img, f.params()), 0);
    EXPECT_EQ(img.at(0, 0), 1000 - 84);  // 768 x 0.5 - 300
    EXPECT_EQ(img.at(4092, 0), 0);      // 89 - 89
    EXPECT_EQ(img.at(0, 1), 1000);      // negative dark level counts as 0
    EXPECT_EQ(img.at(4095, 1), 0);      // 66 - 66
}

TEST_F(CorrectionTest, DarkOffsetWithoutSamplesOrTablesChangesNothing) {
    DarkFixture f;
    ImageView img = f.view(1);
    // Picture wider than the block: the count would be negative and contributes nothing.
    f.width[0] = 4096;
    ASSERT_EQ(proc::remove_dark_offset(img, f.params()), 0);
    EXPECT_EQ(img.at(0, 0), 1000);
    EXPECT_EQ(img.at(4095, 0), 1000);

    f.width[0] = 4028;
    proc::DarkOffsetParams p = f.params();
    p.clock_table_length = 4000;
    EXPECT_EQ(proc::remove_dark_offset(img, p), TAVIREX_E_RANGE);
    p = f.params();
    p.clock_table = nullptr;
    EXPECT_EQ(proc::remove_dark_offset(img, p), TAVIREX_E_RANGE);
    EXPECT_EQ(proc::remove_dark_offset(ImageView{img.data, 4000, 1}, f.params()), TAVIREX_E_RANGE);

    tvxtest::FailAllocation fail(3);
    img.at(4092, 0) = 500;
    EXPECT_EQ(proc::remove_dark_offset(img, f.params()), TAVIREX_E_NO_MEMORY);
    EXPECT_EQ(img.at(0, 0), 1000);
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

TEST_F(CorrectionTest, ShadingLooksUpEachRowsTable) {
    tvxtest::TempDir dir;
    const std::string path = dir.file("calib.bin");
    std::vector<std::uint16_t> tables(2 * 4096);
    for (std::uint32_t v = 0; v < 4096; ++v) {
        tables[v] = static_cast<std::uint16_t>(v / 2);          // row 0 halves
        tables[4096 + v] = static_cast<std::uint16_t>(4095 - v);  // row 1 inverts
    }
    tvxtest::write_file(path, words(tables));
    std::uint16_t px[6] = {100, 4095, 5000, 0, 7, 60000};
    ImageView img{px, 3, 2};
    ASSERT_EQ(proc::correct_shading(img, path.c_str()), 0);
    EXPECT_EQ(px[0], 50);
    EXPECT_EQ(px[1], 2047);
    EXPECT_EQ(px[2], 2047);  // above the range: the last entry
    EXPECT_EQ(px[3], 4095);
    EXPECT_EQ(px[4], 4088);
    EXPECT_EQ(px[5], 0);
}

TEST_F(CorrectionTest, ShadingFileOfTheWrongSizeOrMissingLeavesTheImage) {
    tvxtest::TempDir dir;
    const std::string exact(2 * 4096 * 2, '\x01');
    std::uint16_t px[2] = {10, 20};
    ImageView img{px, 1, 2};
    tvxtest::write_file(dir.file("long.bin"), exact + "x");
    tvxtest::write_file(dir.file("short.bin"), exact.substr(1));
    EXPECT_EQ(proc::correct_shading(img, dir.file("long.bin").c_str()), TAVIREX_E_DATA_SIZE);
    EXPECT_EQ(proc::correct_shading(img, dir.file("short.bin").c_str()), TAVIREX_E_DATA_SIZE);
    EXPECT_EQ(proc::correct_shading(img, dir.file("none.bin").c_str()), TAVIREX_E_DATA_FILE);
    EXPECT_EQ(px[0], 10);
    EXPECT_EQ(px[1], 20);
    tvxtest::write_file(dir.file("ok.bin"), exact);
    {
        tvxtest::FailAllocation fail(1);
        EXPECT_EQ(proc::correct_shading(img, dir.file("ok.bin").c_str()), TAVIREX_E_NO_MEMORY);
    }
    EXPECT_EQ(px[0], 10);
    EXPECT_EQ(proc::correct_shading(img, dir.file("ok.bin").c_str()), 0);
    EXPECT_EQ(px[0], 0x0101);
}

// Line table: count, positions, heights, little-endian 16-bit.
std::string line_table(const std::vector<std::int16_t>& pos, const std::vector<std::int16_t>& hei) {
    std::vector<std::uint16_t> w{static_cast<std::uint16_t>(pos.size())};
    for (auto p : pos) w.push_back(static_cast<std::uint16_t>(p));
    for (auto h : hei) w.push_back(static_cast<std::uint16_t>(h));
    return words(w);
}

TEST_F(CorrectionTest, PanoramicBandIsInterpolatedBetweenItsNeighbours) {
    tvxtest::TempDir dir;
    const std::string path = dir.file("lines.dat");
    // Band at 800 (row 32 after removing half the height), height 2; band at 700 is skipped;
    // bands of height 0 and -1 change nothing; a band touching the last row is skipped.
    tvxtest::write_file(path, line_table({800, 700, 900, 901, 2302}, {2, 3, 0, -1, 2}));
    std::vector<std::uint16_t> px(2u * 1536, 500);
    ImageView img{px.data(), 2, 1536};
    img.at(0, 31) = 100;  // a
    img.at(0, 34) = 400;  // b
    img.at(1, 31) = 401;
    img.at(1, 34) = 100;
    ASSERT_EQ(proc::correct_injection_lines(img, path.c_str(), true), 0);
    EXPECT_EQ(img.at(0, 32), 200);  // 400 + 2/3 (100 - 400)
    EXPECT_EQ(img.at(0, 33), 300);  // 400 + 1/3 (100 - 400)
    EXPECT_EQ(img.at(1, 32), 300);  // trunc(100 + 2/3 x 301) = trunc(300.67)
    EXPECT_EQ(img.at(1, 33), 200);  // trunc(100 + 1/3 x 301) = trunc(200.33)
    for (std::uint32_t y = 0; y < 1536; ++y) {
        if (y >= 31 && y <= 34) continue;
        ASSERT_EQ(img.at(0, y), 500) << y;
    }
}

TEST_F(CorrectionTest, CephalometricPositionsAreUsedAsStoredAndEdgeBandsSkipped) {
    tvxtest::TempDir dir;
    const std::string path = dir.file("lines.dat");
    // Row 0 has no row above and a band at the last row none below: both are skipped.
    tvxtest::write_file(path, line_table({0, 2, 6}, {1, 1, 1}));
    std::uint16_t px[7] = {10, 20, 99, 40, 50, 60, 77};
    ImageView img{px, 1, 7};
    ASSERT_EQ(proc::correct_injection_lines(img, path.c_str(), false), 0);
    const std::uint16_t want[7] = {10, 20, 30, 40, 50, 60, 77};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(px[i], want[i]) << i;
    tvxtest::write_file(path, line_table({3}, {2}));
    px[5] = 90;
    ASSERT_EQ(proc::correct_injection_lines(img, path.c_str(), false), 0);
    EXPECT_EQ(px[3], 50);  // 90 + 2/3 (30 - 90)
    EXPECT_EQ(px[4], 70);  // 90 + 1/3 (30 - 90)
}

TEST_F(CorrectionTest, LineTableErrors) {
    tvxtest::TempDir dir;
    std::uint16_t px[4] = {1, 2, 3, 4};
    ImageView img{px, 1, 4};
    const auto run = [&](const std::string& bytes) {
        tvxtest::write_file(dir.file("t.dat"), bytes);
        return proc::correct_injection_lines(img, dir.file("t.dat").c_str(), false);
    };
    EXPECT_EQ(run(std::string("\0\0", 2)), 0);
    EXPECT_EQ(run(std::string("\0\0\0", 3)), TAVIREX_E_DATA_CONTENT);
    EXPECT_EQ(run(""), TAVIREX_E_DATA_CONTENT);
    EXPECT_EQ(run(std::string("\x01", 1)), TAVIREX_E_DATA_CONTENT);
    EXPECT_EQ(run(line_table({2}, {1}).substr(0, 5)), TAVIREX_E_DATA_CONTENT);
    EXPECT_EQ(run(line_table({2}, {1}) + "x"), TAVIREX_E_DATA_CONTENT);
    EXPECT_EQ(proc::correct_injection_lines(img, dir.file("missing.dat").c_str(), false), TAVIREX_E_DATA_FILE);
    {
        tvxtest::FailAllocation fail(2);
        EXPECT_EQ(run(line_table({2}, {1})), TAVIREX_E_NO_MEMORY);
    }
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(px[i], i + 1);
}

TEST_F(CorrectionTest, LineTableMessagesUnderTheDebugSwitches) {
    tvxtest::TempDir dir;
    std::uint16_t px[4] = {1, 2, 3, 4};
    ImageView img{px, 1, 4};
    tvx::DebugFlags.DebugProcess = 1;
    tvx::DebugFlags.DebugParam = 1;
    tvxtest::write_file(dir.file("t.dat"), line_table({2, 3}, {1, -4}));
    std::string text;
    {
        tvxtest::CaptureStderr capture;
        EXPECT_EQ(proc::correct_injection_lines(img, dir.file("t.dat").c_str(), false), 0);
        tvxtest::write_file(dir.file("s.dat"), std::string("\x01\x00\x02", 3));
        EXPECT_EQ(proc::correct_injection_lines(img, dir.file("s.dat").c_str(), false), TAVIREX_E_DATA_CONTENT);
        text = capture.text();
    }
    EXPECT_NE(text.find("ch1  Num;  2  Pos;   2   3\n              Hei;   1  -4\n"), std::string::npos) << text;
    // "Reading the settings file failed." in code page 932, after the band fields.
    EXPECT_NE(text.find("setup.dat[NoiseLine]\x90\xDD\x92\xE8"), std::string::npos);
    EXPECT_NE(text.find("\x82\xBD\x81" "B4\n"), std::string::npos);
}

}  // namespace
