#include <gtest/gtest.h>

#include <cmath>

#include "api/context.h"
#include "core/alloc.h"
#include "support/support.h"
#include "tavirex.h"
#include "unit/output_test_util.h"

using tvxtest::pixel;

namespace {

class OutputFilesTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }

    tvxtest::TempDir dir_;
    std::string in_ = dir_.file("in.raw");
    std::string out_ = dir_.file("out.raw");
    std::string bmp_ = dir_.file("image.bmp");
};

TEST_F(OutputFilesTest, MirrorReversesEveryRow) {
    tvxtest::write_raw(in_, {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(Tavirex_RawFileHorizontalMirror(in_.c_str(), 3, 2, out_.c_str()), 0);
    EXPECT_EQ(tvxtest::read_raw(out_), (std::vector<std::uint16_t>{3, 2, 1, 6, 5, 4}));
    // In place, through the same path.
    ASSERT_EQ(Tavirex_RawFileHorizontalMirror(out_.c_str(), 3, 2, out_.c_str()), 0);
    EXPECT_EQ(tvxtest::read_raw(out_), (std::vector<std::uint16_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(OutputFilesTest, DisplayRawIsInvertedAndLimited) {
    tvxtest::write_raw(in_, {0, 4095, 5000, 1000});
    ASSERT_EQ(Tavirex_RawDatafile(in_.c_str(), 2, 2, 0, 0, out_.c_str()), 0);
    EXPECT_EQ(tvxtest::read_raw(out_), (std::vector<std::uint16_t>{4095, 0, 0, 3095}));
    // Distance 256 filters at distance 0, which only inverts.
    ASSERT_EQ(Tavirex_RawDatafile(in_.c_str(), 2, 2, 256, 100, out_.c_str()), 0);
    EXPECT_EQ(tvxtest::read_raw(out_), (std::vector<std::uint16_t>{4095, 0, 0, 3095}));
    // The filter takes the low 8 bits of the distance and the low 16 bits of the gain.
    std::vector<std::uint16_t> ramp(8 * 8);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::uint16_t>((i * 733) % 4096);
    tvxtest::write_raw(in_, ramp);
    ASSERT_EQ(Tavirex_RawDatafile(in_.c_str(), 8, 8, 2, 100, out_.c_str()), 0);
    const auto expected = tvxtest::read_raw(out_);
    ASSERT_EQ(Tavirex_RawDatafile(in_.c_str(), 8, 8, 258, 65536 + 100, out_.c_str()), 0);
    EXPECT_EQ(tvxtest::read_raw(out_), expected);
    tvx::TomoImageActive = 1;
    tvxtest::write_raw(in_, {0, 5000, 9000});
    ASSERT_EQ(Tavirex_RawDatafile(in_.c_str(), 3, 1, 0, 0, out_.c_str()), 0);
    EXPECT_EQ(tvxtest::read_raw(out_), (std::vector<std::uint16_t>{8191, 3191, 0}));
}

TEST_F(OutputFilesTest, RawExportFailures) {
    // Missing input, or one word short: -94 and no output file.
    EXPECT_EQ(Tavirex_RawDatafile(in_.c_str(), 2, 2, 0, 0, out_.c_str()), TAVIREX_E_INPUT_FILE);
    tvxtest::write_raw(in_, {1, 2, 3});
    EXPECT_EQ(Tavirex_RawDatafile(in_.c_str(), 2, 2, 0, 0, out_.c_str()), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_RawFileHorizontalMirror(in_.c_str(), 2, 2, out_.c_str()), TAVIREX_E_INPUT_FILE);
    EXPECT_FALSE(tvxtest::file_exists(out_));
    // Output not creatable: -93, nothing left.
    const std::string nowhere = dir_.file("none/out.raw");
    EXPECT_EQ(Tavirex_RawDatafile(in_.c_str(), 3, 1, 0, 0, nowhere.c_str()), TAVIREX_E_MARKER);
    EXPECT_EQ(Tavirex_RawFileHorizontalMirror(in_.c_str(), 3, 1, nowhere.c_str()), TAVIREX_E_MARKER);
    EXPECT_FALSE(tvxtest::file_exists(nowhere));
    // Bad sizes: -95 before the output is deleted or the input opened.
    tvxtest::write_file(out_, "keep");
    const std::string missing = dir_.file("missing.raw");
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{-3, 1}, {3, -1}, {INT32_MIN, INT32_MIN}}) {
        EXPECT_EQ(Tavirex_RawDatafile(missing.c_str(), w, h, 0, 0, out_.c_str()), TAVIREX_E_OUTPUT_MEMORY);
        EXPECT_EQ(Tavirex_RawFileHorizontalMirror(missing.c_str(), w, h, out_.c_str()), TAVIREX_E_OUTPUT_MEMORY);
    }
    EXPECT_EQ(tvxtest::read_file(out_), "keep");
}

TEST_F(OutputFilesTest, AdjustmentIdentityBrightnessAndGamma) {
    std::string file = tvxtest::make_bitmap(5, 2, 200, 0);
    tvxtest::write_file(bmp_, file);
    ASSERT_EQ(Tavirex_BitmapChange(bmp_.c_str(), 1.0, 1.0, 0.0), 0);
    EXPECT_EQ(tvxtest::read_file(bmp_), file);
    // Brightness 100: 200 -> 255; padding bytes 0 -> 100 (every byte of the pixel data is mapped).
    ASSERT_EQ(Tavirex_BitmapChange(bmp_.c_str(), 1.0, 1.0, 100.0), 0);
    std::string after = tvxtest::read_file(bmp_);
    ASSERT_EQ(after.size(), file.size());
    EXPECT_EQ(after.substr(0, 1078), file.substr(0, 1078));
    EXPECT_EQ(pixel(after, 5, 0, 0), 255);
    EXPECT_EQ(pixel(after, 5, 1, 7), 100);
    // Gamma 2: (128 / 255)^2 x 255 = 64.25 -> 64; contrast 0.5: 255 -> 127.5 -> 127; brightness -100: 64 -> 0.
    tvxtest::write_file(bmp_, tvxtest::make_bitmap(1, 1, 128, 255));
    ASSERT_EQ(Tavirex_BitmapChange(bmp_.c_str(), 2.0, 1.0, 0.0), 0);
    after = tvxtest::read_file(bmp_);
    EXPECT_EQ(pixel(after, 1, 0, 0), 64);
    EXPECT_EQ(pixel(after, 1, 0, 1), 255);
    ASSERT_EQ(Tavirex_BitmapChange(bmp_.c_str(), 1.0, 0.5, 0.0), 0);
    after = tvxtest::read_file(bmp_);
    EXPECT_EQ(pixel(after, 1, 0, 0), 32);
    EXPECT_EQ(pixel(after, 1, 0, 1), 127);
    ASSERT_EQ(Tavirex_BitmapChange(bmp_.c_str(), 1.0, 1.0, -100.0), 0);
    EXPECT_EQ(pixel(tvxtest::read_file(bmp_), 1, 0, 0), 0);
}

TEST_F(OutputFilesTest, AdjustmentParametersAreCheckedFirst) {
    const std::string file = tvxtest::make_bitmap(5, 2, 200);
    tvxtest::write_file(bmp_, file);
    const double bad[][3] = {{0.005, 1, 0}, {5.5, 1, 0},  {1, -0.1, 0},       {1, 2.5, 0},
                             {1, 1, -101},  {1, 1, 100.5}, {std::nan(""), 1, 0}, {1, 1, std::nan("")}};
    for (const auto& p : bad) EXPECT_EQ(Tavirex_BitmapChange(bmp_.c_str(), p[0], p[1], p[2]), TAVIREX_E_PASS_COUNT);
    EXPECT_EQ(tvxtest::read_file(bmp_), file);
    // Limits themselves are allowed.
    EXPECT_EQ(Tavirex_BitmapChange(bmp_.c_str(), 0.01, 0.0, -100.0), 0);
    EXPECT_EQ(Tavirex_BitmapChange(bmp_.c_str(), 5.0, 2.0, 100.0), 0);
    // Parameters are checked before the path.
    EXPECT_EQ(Tavirex_BitmapChange(dir_.file("none.bmp").c_str(), 9.0, 1, 0), TAVIREX_E_PASS_COUNT);
}

// Files that are not 8-bit bitmaps as the writer makes them: refused, unchanged, never grown.
TEST_F(OutputFilesTest, AdjustmentRefusesOtherFiles) {
    const std::string good = tvxtest::make_bitmap(4, 3, 90);
    auto with = [&](std::size_t at, std::string bytes) {
        std::string f = good;
        f.replace(at, bytes.size(), bytes);
        return f;
    };
    const std::vector<std::string> others = {
        "plain text, not a bitmap",
        good.substr(0, 40),                              // headers cut short
        good.substr(0, good.size() - 1),                 // pixel data one byte short
        with(0, "BA"),                                   // signature
        with(28, std::string("\x18\x00", 2)),            // 24 bits per pixel
        with(30, std::string("\x01\x00\x00\x00", 4)),    // run-length compressed
        with(22, std::string("\xFD\xFF\xFF\xFF", 4)),    // height -3: stored top row first
        with(18, std::string("\x00\x00\x00\x00", 4)),    // width 0
        with(10, std::string("\xFF\xFF\x00\x00", 4)),    // pixel data beyond the end
        with(34, std::string("\xFF\xFF\x00\x10", 4)),    // image size beyond the end
        with(34, std::string("\x04\x00\x00\x00", 4)),    // image size smaller than the rows
    };
    for (std::size_t i = 0; i < others.size(); ++i) {
        tvxtest::write_file(bmp_, others[i]);
        EXPECT_EQ(Tavirex_BitmapChange(bmp_.c_str(), 1.0, 1.0, 50.0), TAVIREX_E_MARKER) << i;
        EXPECT_EQ(tvxtest::read_file(bmp_), others[i]) << i;
    }
    const std::string missing = dir_.file("missing.bmp");
    EXPECT_EQ(Tavirex_BitmapChange(missing.c_str(), 1.0, 1.0, 0.0), TAVIREX_E_MARKER);
    EXPECT_FALSE(tvxtest::file_exists(missing));
    EXPECT_EQ(Tavirex_BitmapChange(nullptr, 1.0, 1.0, 0.0), TAVIREX_E_MARKER);
}

}  // namespace
