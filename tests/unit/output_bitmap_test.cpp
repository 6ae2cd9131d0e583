// Bitmap exports, the display window and the automatic window.
#include <gtest/gtest.h>

#include <functional>
#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "state/context.h"
#include "core/alloc.h"
#include "output/window.h"
#include "tavirex.h"
#include "unit/output_test_util.h"

using tvxtest::le;
using tvxtest::pixels;
using tvxtest::Raw;

namespace {

using Save = std::function<std::int32_t(const char* raw, std::int32_t w, std::int32_t h, const char* bmp)>;
Save plain(int d = 0, int g = 0) {
    return [=](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmap(r, w, h, d, g, b); };
}
Save gamma2(double gamma = 1, double offset = 0, double slope = 1, int d = 0, int g = 0) {
    return [=](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmap2(r, w, h, d, g, gamma, offset, slope, b); };
}
Save gamma3() { return [](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmap3(r, w, h, 0, 0, 1, 0, 1, b); }; }
Save windowed(int d = 0, int g = 0) {
    return [=](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmapWindow(r, w, h, d, g, b); };
}

class OutputBitmapTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }

    // Writes `px` as a w x h raw file, runs `save` on it and returns the bitmap file.
    std::string run(const Raw& px, std::int32_t w, std::int32_t h, const Save& save) {
        tvxtest::write_raw(raw_, px);
        EXPECT_EQ(save(raw_.c_str(), w, h, bmp_.c_str()), 0);
        return tvxtest::read_file(bmp_);
    }

    tvxtest::TempDir dir_;
    std::string raw_ = dir_.file("in.raw"), bmp_ = dir_.file("out.bmp");
};

TEST_F(OutputBitmapTest, HeaderPaletteAndPaddedRows) {
    std::string f = run(Raw(1001 * 2, 2048), 1001, 2, gamma2());
    ASSERT_EQ(f.size(), 1078u + 2 * 1004u);  // rows of 1001 pixels padded to 1004 bytes
    EXPECT_EQ(f.substr(0, 2), "BM");
    // (offset, bytes, value): file size, reserved, pixel offset, info size, width, height, planes, bits,
    // compression, image size, pixels per metre x and y, colours used and important.
    const std::uint32_t fields[][3] = {{2, 4, 3086}, {6, 4, 0},  {10, 4, 1078},  {14, 4, 40},    {18, 4, 1001},
                                       {22, 4, 2},   {26, 2, 1}, {28, 2, 8},     {30, 4, 0},     {34, 4, 2008},
                                       {38, 4, 10416}, {42, 4, 10416}, {46, 4, 256}, {50, 4, 0}};
    for (const auto& x : fields) EXPECT_EQ(le(f, x[0], static_cast<int>(x[1])), x[2]) << "offset " << x[0];
    for (std::uint32_t i = 0; i < 256; ++i) EXPECT_EQ(le(f, 54 + 4 * i, 4), i * 0x010101u) << "palette " << i;
    for (std::size_t row : {0u, 1u}) EXPECT_EQ(f.substr(1078 + row * 1004 + 1000, 4), std::string("\x80\0\0\0", 4));
    f = run(Raw(1001 * 2, 2048), 1001, 2, gamma3());  // Tavirex_SaveBitmap3 states 10000 pixels per metre
    EXPECT_EQ(le(f, 38, 4), 10000u);
    EXPECT_EQ(le(f, 42, 4), 10000u);
    f = run({}, 5, 0, gamma2());  // zero height: the header alone
    EXPECT_EQ(f.size(), 1078u);
    EXPECT_EQ(le(f, 2, 4), 1078u);
    EXPECT_EQ(le(f, 34, 4), 0u);
}

// Grey levels worked out by hand; raw row 0 becomes the first (lowest) stored row.
TEST_F(OutputBitmapTest, MappingsByHand) {
    const Raw windowRaw{4095 - 900, 4095 - 1000, 4095 - 1100, 4095, 0, 9000};
    const struct Row {
        const char* what;
        Save save;
        std::uint32_t tomo;
        std::int32_t w, h;
        Raw raw;
        std::vector<int> grey;
    } rows[] = {
        // round-half-up(255 i / 4095): 2048 -> 127.53, 1 -> 0.062, 16 -> 0.996; above 4095 read as 4095.
        {"gamma 1", gamma2(), 0, 3, 2, {0, 2048, 4095, 5000, 1, 16}, {0, 128, 255, 255, 0, 1}},
        // Offset 51 grey = 819 units, slope 0.5: 0 -> 819 -> 51; 4095 -> 2866.5 -> 178.5 -> 179.
        {"offset and slope", gamma2(1, 51, 0.5), 0, 2, 1, {0, 4095}, {51, 179}},
        {"gamma 2", gamma2(2), 0, 2, 1, {2048, 4095}, {64, 255}},  // 63.78
        {"negative slope limited to 0", gamma2(1, 0, -1), 0, 1, 1, {100}, {0}},
        // Raw + 1024 limited to 4095, not inverted: 1024 -> 63.77, 3072 -> 191.3.
        {"SaveBitmap3", gamma3(), 0, 4, 1, {0, 2048, 3071, 60000}, {64, 191, 255, 255}},
        // (4095 - v) >> 4, values above 4095 as 4095.
        {"plain", plain(), 0, 6, 1, {0, 4095, 5000, 16, 15, 65535}, {255, 0, 0, 254, 255, 0}},
        // Window 1000/201 over 4095 - raw: 900 -> 0, 1000 -> 127, 1100 -> 255; above 4095 as 4095.
        {"window", windowed(), 0, 6, 1, windowRaw, {0, 127, 255, 0, 255, 0}},
        // Distance 256 passes the switch but filters at distance 0, which only inverts.
        {"window, distance 256", windowed(256, 80), 0, 6, 1, windowRaw, {0, 127, 255, 0, 255, 0}},
        // Tomographic data reach 8191: 4095 -> 127.48.
        {"tomo gamma 1", gamma2(), 1, 3, 1, {8191, 4095, 9000}, {255, 127, 255}},
        // Unfiltered plain mapping stays 12-bit; gain 0 or distance 0 alone do not switch the filter on.
        {"tomo plain", plain(), 1, 3, 1, {8191, 0, 4095}, {0, 255, 0}},
        {"tomo plain, gain 0", plain(3, 0), 1, 1, 1, {4095}, {0}},
        {"tomo plain, distance 0", plain(0, 50), 1, 1, 1, {4095}, {0}},
        // Filtered (distance 256 = 0): 8191 - v, then >> 4 limited to 255: 511, 256, 3191 >> 4 = 199.
        {"tomo plain filtered", plain(256, 100), 1, 4, 1, {0, 4095, 5000, 8191}, {255, 255, 199, 0}},
    };
    for (const Row& r : rows) {
        tvx::TomoImageActive = r.tomo;
        Tavirex_SetWindowPos(1000, 201);
        EXPECT_EQ(pixels(run(r.raw, r.w, r.h, r.save), r.w, r.h), r.grey) << r.what;
    }
}

TEST_F(OutputBitmapTest, SeparatorBandsArePaintedInEveryRowAndClipped) {
    // Bands 2 wide at 1, 6 (only column 6 lies in the image) and 40 (outside: ignored).
    tvx::SeparatorLineList = {2, 1, 3, {1, 6, 40}};
    const Raw black(7 * 2, 0), white(7 * 2, 4095);
    const std::vector<int> banded{255, 0, 0, 255, 255, 255, 0, 255, 0, 0, 255, 255, 255, 0};
    // Filtered and inverted, raw 0 becomes white around the black bands; the padding stays 0.
    const std::string f = run(black, 7, 2, gamma2(1, 0, 1, 2, 100));
    EXPECT_EQ(pixels(f, 7, 2), banded);
    EXPECT_EQ(f[1078 + 7], 0);
    EXPECT_EQ(pixels(run(black, 7, 2, plain()), 7, 2), std::vector<int>(14, 255));  // Tavirex_SaveBitmap: no bands
    tvx::SeparatorLineList.Color = 0;  // white bands on a black window export
    Tavirex_SetWindowPos(2048, 4096);
    std::vector<int> inverse;
    for (int v : banded) inverse.push_back(255 - v);
    EXPECT_EQ(pixels(run(white, 7, 2, windowed()), 7, 2), inverse);
    // More than ten positions listed: only the ten slots count, the unused ones at column 0.
    tvx::SeparatorLineList = {2, 1, 1000, {1, 6, 40}};
    EXPECT_EQ(pixels(run(white, 7, 2, gamma2()), 7, 1), (std::vector<int>{0, 0, 0, 255, 255, 255, 0}));
}

TEST_F(OutputBitmapTest, WindowMappingByHand) {
    // (centre, width, value, grey): the full range; odd width 201 spreads over 200; widths 0 and 1 are a step.
    const std::int32_t rows[][4] = {
        {2048, 4096, 0, 0}, {2048, 4096, 4095, 254}, {2048, 4096, 4096, 255}, {2048, 4096, 65535, 255},
        {1000, 201, 899, 0}, {1000, 201, 900, 0},    {1000, 201, 1000, 127},  {1000, 201, 1100, 255},
        {500, 0, 0, 0},      {500, 0, 499, 0},       {500, 0, 500, 255},      {500, 0, 4095, 255},
        {500, 1, 0, 0},      {500, 1, 499, 0},       {500, 1, 500, 255},      {500, 1, 4095, 255}};
    for (const auto& r : rows) {
        ASSERT_EQ(Tavirex_SetWindowPos(r[0], r[1]), 0);
        EXPECT_EQ(tvx::output::window_map(static_cast<std::uint32_t>(r[2])), r[3])
            << r[0] << "/" << r[1] << " " << r[2];
    }
}

TEST_F(OutputBitmapTest, AutoWindowSpansTheData) {
    const struct Row {
        std::uint32_t tomo;
        Raw raw;
        std::int32_t w, h, centre, width;
    } rows[] = {
        {0, {100, 3100, 2000, 150}, 2, 2, 1600, 3000},
        {0, {500, 9000}, 2, 1, 4095, 4095},  // width 8500 above 2 x 4095 + 1: 4095; centre limited to 4095
        {1, {500, 9000}, 2, 1, 4750, 8500},  // tomographic data reach 8191: the span is kept
        {1, {500, 9000}, 0, 5, 8191, 0},     // no pixels: no span, centre limited to the maximum
    };
    for (const Row& r : rows) {
        tvx::TomoImageActive = r.tomo;
        tvxtest::write_raw(raw_, r.raw);
        ASSERT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), r.w, r.h), 0);
        EXPECT_EQ(Tavirex_GetWindowCenter(), r.centre) << r.raw[1] << " tomo " << r.tomo;
        EXPECT_EQ(Tavirex_GetWindowWidth(), r.width) << r.raw[1] << " tomo " << r.tomo;
    }
}

TEST_F(OutputBitmapTest, FailuresLeaveFilesAndWindowAlone) {
    const Save all[] = {plain(), gamma2(), gamma3(), windowed()};
    const std::string missing = dir_.file("missing.raw"), nowhere = dir_.file("no/such/dir/x.bmp");
    const std::int32_t badSizes[][2] = {{-1, 1}, {1, -1}, {INT32_MIN, 2}, {70000, 70000}, {INT32_MAX, 2}};
    Tavirex_SetWindowPos(2048, 4096);
    tvxtest::write_file(bmp_, "previous");
    tvxtest::write_file(raw_, std::string(2 * 3 * 2 - 1, '\0'));  // one byte short of 3 x 2
    for (const Save& save : all) {
        EXPECT_EQ(save(raw_.c_str(), 3, 2, bmp_.c_str()), TAVIREX_E_INPUT_FILE);
        EXPECT_EQ(save(missing.c_str(), 3, 2, bmp_.c_str()), TAVIREX_E_INPUT_FILE);
        // Bad sizes are refused before the (missing) input is opened.
        for (const auto& s : badSizes)
            EXPECT_EQ(save(missing.c_str(), s[0], s[1], bmp_.c_str()), TAVIREX_E_OUTPUT_MEMORY) << s[0] << "x" << s[1];
    }
    EXPECT_EQ(tvxtest::read_file(bmp_), "previous");
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 3, 2), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(missing.c_str(), 1, 1), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), -2, 2), TAVIREX_E_OUTPUT_MEMORY);
    EXPECT_EQ(Tavirex_GetWindowCenter(), 2048);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 4096);
    // Bitmap not creatable: -93 and no file.
    tvxtest::write_raw(raw_, Raw(6, 1));
    for (const Save& save : all) {
        EXPECT_EQ(save(raw_.c_str(), 3, 2, nowhere.c_str()), TAVIREX_E_MARKER);
        EXPECT_EQ(save(raw_.c_str(), 3, 2, nullptr), TAVIREX_E_MARKER);
    }
    EXPECT_FALSE(tvxtest::file_exists(nowhere));
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

// A file size limit makes the writes fail part way: the partial files are deleted again.
TEST_F(OutputBitmapTest, ShortWriteLeavesNoFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "forces a short write with a POSIX file size limit (setrlimit)";
#else
    tvxtest::write_raw(raw_, Raw(100 * 100, 7));
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
#endif
}

}  // namespace
