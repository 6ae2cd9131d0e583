#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "api/context.h"
#include "core/alloc.h"
#include "output/window.h"
#include "support/support.h"
#include "tavirex.h"
#include "unit/output_test_util.h"

using tvxtest::le16;
using tvxtest::le32;
using tvxtest::pixel;

namespace {

class OutputBitmapTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }

    // Writes `px` as a width x height raw file, runs `save` on it and returns the bitmap file.
    template <typename Save>
    std::string run(const std::vector<std::uint16_t>& px, std::int32_t width, std::int32_t height, Save save,
                    std::int32_t expect = 0) {
        tvxtest::write_raw(raw_, px);
        EXPECT_EQ(save(raw_.c_str(), width, height, bmp_.c_str()), expect);
        return tvxtest::read_file(bmp_);
    }

    tvxtest::TempDir dir_;
    std::string raw_ = dir_.file("in.raw");
    std::string bmp_ = dir_.file("out.bmp");
};

auto plain(std::int32_t distance = 0, std::int32_t gain = 0) {
    return [=](const char* raw, std::int32_t w, std::int32_t h, const char* bmp) {
        return Tavirex_SaveBitmap(raw, w, h, distance, gain, bmp);
    };
}
auto gamma2(double gamma, double offset, double slope, std::int32_t distance = 0, std::int32_t gain = 0) {
    return [=](const char* raw, std::int32_t w, std::int32_t h, const char* bmp) {
        return Tavirex_SaveBitmap2(raw, w, h, distance, gain, gamma, offset, slope, bmp);
    };
}
auto gamma3(double gamma, double offset, double slope, std::int32_t distance = 0, std::int32_t gain = 0) {
    return [=](const char* raw, std::int32_t w, std::int32_t h, const char* bmp) {
        return Tavirex_SaveBitmap3(raw, w, h, distance, gain, gamma, offset, slope, bmp);
    };
}
auto windowed(std::int32_t distance = 0, std::int32_t gain = 0) {
    return [=](const char* raw, std::int32_t w, std::int32_t h, const char* bmp) {
        return Tavirex_SaveBitmapWindow(raw, w, h, distance, gain, bmp);
    };
}

TEST_F(OutputBitmapTest, HeaderPaletteAndPaddedRows) {
    const std::int32_t w = 1001, h = 2;
    std::vector<std::uint16_t> px(w * h, 2048);
    const std::string f = run(px, w, h, gamma2(1.0, 0.0, 1.0));
    ASSERT_EQ(f.size(), 1078u + 1004u * 2u);
    EXPECT_EQ(f.substr(0, 2), "BM");
    EXPECT_EQ(le32(f, 2), 1078u + 2008u);
    EXPECT_EQ(le32(f, 6), 0u);
    EXPECT_EQ(le32(f, 10), 1078u);
    EXPECT_EQ(le32(f, 14), 40u);
    EXPECT_EQ(le32(f, 18), 1001u);
    EXPECT_EQ(le32(f, 22), 2u);
    EXPECT_EQ(le16(f, 26), 1u);
    EXPECT_EQ(le16(f, 28), 8u);
    EXPECT_EQ(le32(f, 30), 0u);
    EXPECT_EQ(le32(f, 34), 2008u);
    EXPECT_EQ(le32(f, 38), 10416u);
    EXPECT_EQ(le32(f, 42), 10416u);
    EXPECT_EQ(le32(f, 46), 256u);
    EXPECT_EQ(le32(f, 50), 0u);
    for (std::uint32_t i : {0u, 1u, 128u, 255u}) EXPECT_EQ(le32(f, 54 + 4 * i), i | i << 8 | i << 16) << i;
    for (int row = 0; row < h; ++row) {
        EXPECT_EQ(pixel(f, w, row, 1000), 128);
        for (int pad = 1001; pad < 1004; ++pad) EXPECT_EQ(pixel(f, w, row, pad), 0) << row << " " << pad;
    }
    // Tavirex_SaveBitmap3 states 10000 pixels per metre.
    const std::string f3 = run(px, w, h, gamma3(1.0, 0.0, 1.0));
    EXPECT_EQ(le32(f3, 38), 10000u);
    EXPECT_EQ(le32(f3, 42), 10000u);
}

TEST_F(OutputBitmapTest, RawRowZeroIsTheFirstStoredRow) {
    // Gamma 1, offset 0, slope 1 on 12-bit data: grey = round-half-up(255 i / 4095).
    const std::string f = run({0, 2048, 4095, 5000, 1, 16}, 3, 2, gamma2(1.0, 0.0, 1.0));
    EXPECT_EQ(pixel(f, 3, 0, 0), 0);
    EXPECT_EQ(pixel(f, 3, 0, 1), 128);  // 127.53
    EXPECT_EQ(pixel(f, 3, 0, 2), 255);
    EXPECT_EQ(pixel(f, 3, 1, 0), 255);  // above the data range: looked up as 4095
    EXPECT_EQ(pixel(f, 3, 1, 1), 0);    // 0.062
    EXPECT_EQ(pixel(f, 3, 1, 2), 1);    // 0.996
}

TEST_F(OutputBitmapTest, GammaOffsetAndSlope) {
    // Offset 51 grey levels = 819 data units; slope 0.5: t = i / 2 + 819.
    // i = 0: 819 -> 51; i = 4095: 2866.5 -> 178.5 -> 179 (half rounds up).
    // Gamma 2 on i = 2048 without offset: (2048 / 4095)^2 x 255 = 63.78 -> 64.
    std::string f = run({0, 4095}, 2, 1, gamma2(1.0, 51.0, 0.5));
    EXPECT_EQ(pixel(f, 2, 0, 0), 51);
    EXPECT_EQ(pixel(f, 2, 0, 1), 179);
    f = run({2048, 4095}, 2, 1, gamma2(2.0, 0.0, 1.0));
    EXPECT_EQ(pixel(f, 2, 0, 0), 64);
    EXPECT_EQ(pixel(f, 2, 0, 1), 255);
    // Negative slope: t below 0 is limited to 0.
    f = run({100}, 1, 1, gamma2(1.0, 0.0, -1.0));
    EXPECT_EQ(pixel(f, 1, 0, 0), 0);
}

TEST_F(OutputBitmapTest, PlainMappingInvertsAndLimitsTo12Bits) {
    // (4095 - v) >> 4; values above 4095 count as 4095.
    const std::string f = run({0, 4095, 5000, 16, 15, 65535}, 6, 1, plain());
    EXPECT_EQ(pixel(f, 6, 0, 0), 255);
    EXPECT_EQ(pixel(f, 6, 0, 1), 0);
    EXPECT_EQ(pixel(f, 6, 0, 2), 0);
    EXPECT_EQ(pixel(f, 6, 0, 3), 254);
    EXPECT_EQ(pixel(f, 6, 0, 4), 255);
    EXPECT_EQ(pixel(f, 6, 0, 5), 0);
    // Gain 0 or distance 0 alone do not switch the filter on.
    EXPECT_EQ(run({0, 4095}, 2, 1, plain(3, 0)), run({0, 4095}, 2, 1, plain(0, 50)));
}

TEST_F(OutputBitmapTest, WindowMappingOfRawDataIsInverted) {
    // Centre 1000, width 201: 900 -> 0, 1000 -> 127, 1100 -> 255, applied to 4095 - raw.
    ASSERT_EQ(Tavirex_SetWindowPos(1000, 201), 0);
    const std::vector<std::uint16_t> px{4095 - 900, 4095 - 1000, 4095 - 1100, 4095, 0, 9000};
    std::string f = run(px, 6, 1, windowed());
    EXPECT_EQ(pixel(f, 6, 0, 0), 0);
    EXPECT_EQ(pixel(f, 6, 0, 1), 127);
    EXPECT_EQ(pixel(f, 6, 0, 2), 255);
    EXPECT_EQ(pixel(f, 6, 0, 3), 0);
    EXPECT_EQ(pixel(f, 6, 0, 4), 255);
    EXPECT_EQ(pixel(f, 6, 0, 5), 0);  // looked up as 4095
    // Distance 256 passes the switch but filters at distance 0: it only inverts, so the bitmap is the same.
    EXPECT_EQ(run(px, 6, 1, windowed(256, 80)), f);
}

TEST_F(OutputBitmapTest, SaveBitmap3AddsAnOffsetAndDoesNotInvert) {
    // Distance 0: variant B leaves every value; raw + 1024 limited to 4095, then the gamma table.
    // 0 -> 1024 -> 63.77 -> 64; 2048 -> 3072 -> 191.3 -> 191; 3071 -> 4095 -> 255; 60000 -> 4095 -> 255.
    const std::string f = run({0, 2048, 3071, 60000}, 4, 1, gamma3(1.0, 0.0, 1.0));
    EXPECT_EQ(pixel(f, 4, 0, 0), 64);
    EXPECT_EQ(pixel(f, 4, 0, 1), 191);
    EXPECT_EQ(pixel(f, 4, 0, 2), 255);
    EXPECT_EQ(pixel(f, 4, 0, 3), 255);
}

TEST_F(OutputBitmapTest, TomographicDataUseTheirOwnRange) {
    tvx::TomoImageActive = 1;  // 13-bit data: maximum 8191
    std::string f = run({8191, 4095, 9000}, 3, 1, gamma2(1.0, 0.0, 1.0));
    EXPECT_EQ(pixel(f, 3, 0, 0), 255);
    EXPECT_EQ(pixel(f, 3, 0, 1), 127);  // 127.48
    EXPECT_EQ(pixel(f, 3, 0, 2), 255);
    // The unfiltered plain mapping stays 12-bit.
    f = run({8191, 0}, 2, 1, plain());
    EXPECT_EQ(pixel(f, 2, 0, 0), 0);
    EXPECT_EQ(pixel(f, 2, 0, 1), 255);
    // Filtered at distance 0 (256): 8191 - v, then >> 4 limited to 255 instead of wrapping.
    f = run({0, 4095, 5000, 8191}, 4, 1, plain(256, 100));
    EXPECT_EQ(pixel(f, 4, 0, 0), 255);  // 511
    EXPECT_EQ(pixel(f, 4, 0, 1), 255);  // 256
    EXPECT_EQ(pixel(f, 4, 0, 2), 199);  // 3191 >> 4
    EXPECT_EQ(pixel(f, 4, 0, 3), 0);
}

TEST_F(OutputBitmapTest, SeparatorBandsArePaintedInEveryRowAndClipped) {
    tvx::SeparatorLineList.Width = 2;
    tvx::SeparatorLineList.Color = 1;
    tvx::SeparatorLineList.Count = 3;
    tvx::SeparatorLineList.Position[0] = 1;
    tvx::SeparatorLineList.Position[1] = 6;   // only column 6 lies in the image
    tvx::SeparatorLineList.Position[2] = 40;  // outside: ignored
    // Filtered and inverted, raw 0 becomes white around the black bands.
    const std::vector<std::uint16_t> px(7 * 2, 0);
    std::string f = run(px, 7, 2, gamma2(1.0, 0.0, 1.0, 2, 100));
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 7; ++col)
            EXPECT_EQ(pixel(f, 7, row, col), (col == 1 || col == 2 || col == 6) ? 0 : 255) << row << " " << col;
    EXPECT_EQ(pixel(f, 7, 0, 7), 0);  // padding untouched
    tvx::SeparatorLineList.Color = 0;
    Tavirex_SetWindowPos(2048, 4096);
    f = run(std::vector<std::uint16_t>(7 * 2, 4095), 7, 2, windowed());
    EXPECT_EQ(pixel(f, 7, 1, 1), 255);
    EXPECT_EQ(pixel(f, 7, 1, 3), 0);
    // Tavirex_SaveBitmap leaves the bands alone.
    tvx::SeparatorLineList.Color = 1;
    f = run(std::vector<std::uint16_t>(7 * 2, 0), 7, 2, plain());
    EXPECT_EQ(pixel(f, 7, 1, 1), 255);
    // More than ten positions listed: only the ten slots count.
    tvx::SeparatorLineList.Count = 1000;
    f = run(std::vector<std::uint16_t>(7 * 2, 4095), 7, 2, gamma2(1.0, 0.0, 1.0));
    EXPECT_EQ(pixel(f, 7, 0, 1), 0);
}

TEST_F(OutputBitmapTest, ZeroHeightWritesTheHeaderAlone) {
    const std::string f = run({}, 5, 0, gamma2(1.0, 0.0, 1.0));
    ASSERT_EQ(f.size(), 1078u);
    EXPECT_EQ(le32(f, 2), 1078u);
    EXPECT_EQ(le32(f, 34), 0u);
}

TEST_F(OutputBitmapTest, InputAndOutputFailures) {
    tvxtest::write_file(bmp_, "previous");
    // One byte short: -94, the existing bitmap untouched.
    tvxtest::write_file(raw_, std::string(2 * 3 * 2 - 1, '\0'));
    EXPECT_EQ(Tavirex_SaveBitmap2(raw_.c_str(), 3, 2, 0, 0, 1.0, 0.0, 1.0, bmp_.c_str()), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SaveBitmapWindow(dir_.file("none.raw").c_str(), 3, 2, 0, 0, bmp_.c_str()),
              TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(tvxtest::read_file(bmp_), "previous");
    // Bitmap not creatable: -93, no file.
    tvxtest::write_raw(raw_, std::vector<std::uint16_t>(6, 1));
    const std::string nowhere = dir_.file("no/such/dir/x.bmp");
    EXPECT_EQ(Tavirex_SaveBitmap(raw_.c_str(), 3, 2, 0, 0, nowhere.c_str()), TAVIREX_E_MARKER);
    EXPECT_FALSE(tvxtest::file_exists(nowhere));
    EXPECT_EQ(Tavirex_SaveBitmap(raw_.c_str(), 3, 2, 0, 0, nullptr), TAVIREX_E_MARKER);
}

#if !defined(_WIN32)
// A file size limit makes the writes fail part way: the partial files are deleted again.
TEST_F(OutputBitmapTest, ShortWriteLeavesNoFile) {
    tvxtest::write_raw(raw_, std::vector<std::uint16_t>(100 * 100, 7));
    const std::string rawOut = dir_.file("out.raw");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::int32_t bitmap = Tavirex_SaveBitmapWindow(raw_.c_str(), 100, 100, 0, 0, bmp_.c_str());
    const std::int32_t raw = Tavirex_RawDatafile(raw_.c_str(), 100, 100, 0, 0, rawOut.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(bitmap, TAVIREX_E_MARKER);
    EXPECT_EQ(raw, TAVIREX_E_MARKER);
    EXPECT_FALSE(tvxtest::file_exists(bmp_));
    EXPECT_FALSE(tvxtest::file_exists(rawOut));
}
#else
TEST_F(OutputBitmapTest, ShortWriteLeavesNoFile) {
    GTEST_SKIP() << "forces a short write with a POSIX file size limit (setrlimit)";
}
#endif

TEST_F(OutputBitmapTest, BadSizesAreRefusedBeforeAnyFileIsTouched) {
    tvxtest::write_file(bmp_, "previous");
    const std::string missing = dir_.file("missing.raw");  // would give -94 if it were opened
    const std::int32_t sizes[][2] = {{-1, 1}, {1, -1}, {INT32_MIN, 2}, {70000, 70000}, {INT32_MAX, 2}};
    for (const auto& s : sizes) {
        EXPECT_EQ(Tavirex_SaveBitmap(missing.c_str(), s[0], s[1], 0, 0, bmp_.c_str()), TAVIREX_E_OUTPUT_MEMORY);
        EXPECT_EQ(Tavirex_SaveBitmap2(missing.c_str(), s[0], s[1], 0, 0, 1, 0, 1, bmp_.c_str()),
                  TAVIREX_E_OUTPUT_MEMORY);
        EXPECT_EQ(Tavirex_SaveBitmap3(missing.c_str(), s[0], s[1], 0, 0, 1, 0, 1, bmp_.c_str()),
                  TAVIREX_E_OUTPUT_MEMORY);
        EXPECT_EQ(Tavirex_SaveBitmapWindow(missing.c_str(), s[0], s[1], 0, 0, bmp_.c_str()),
                  TAVIREX_E_OUTPUT_MEMORY);
    }
    EXPECT_EQ(tvxtest::read_file(bmp_), "previous");
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

TEST_F(OutputBitmapTest, AutoWindowSpansTheData) {
    tvxtest::write_raw(raw_, {100, 3100, 2000, 150});
    ASSERT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 2, 2), 0);
    EXPECT_EQ(Tavirex_GetWindowCenter(), 1600);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 3000);
    // Data reaching 9000: width 8500 is above 2 x 4095 + 1, so 4095; centre 4750 limited to 4095.
    tvxtest::write_raw(raw_, {500, 9000});
    ASSERT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 2, 1), 0);
    EXPECT_EQ(Tavirex_GetWindowCenter(), 4095);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 4095);
    // Tomographic data: maximum 8191, so the same data keep their span.
    tvx::TomoImageActive = 1;
    ASSERT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 2, 1), 0);
    EXPECT_EQ(Tavirex_GetWindowCenter(), 4750);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 8500);
    // No pixels: no span, centre limited to the maximum.
    ASSERT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 0, 5), 0);
    EXPECT_EQ(Tavirex_GetWindowCenter(), 8191);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 0);
}

TEST_F(OutputBitmapTest, AutoWindowFailuresKeepTheWindow) {
    Tavirex_SetWindowPos(2048, 4096);
    tvxtest::write_raw(raw_, {1, 2, 3});
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 2, 2), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(dir_.file("none.raw").c_str(), 1, 1), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), -2, 2), TAVIREX_E_OUTPUT_MEMORY);
    {
        tvxtest::FailAllocation fail(1);
        EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 3, 1), TAVIREX_E_OUTPUT_MEMORY);
    }
    EXPECT_EQ(Tavirex_GetWindowCenter(), 2048);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 4096);
}

}  // namespace
