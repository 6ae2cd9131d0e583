// Bitmap exports, the display window, the automatic window, the enhancement
// filter, and every image file export under allocation failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "api/context.h"
#include "core/alloc.h"
#include "output/enhance.h"
#include "output/window.h"
#include "support/support.h"
#include "tavirex.h"

using tvxtest::le;
using tvxtest::pixels;
using tvxtest::Words;

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

class OutputBitmapTest : public tvxtest::LibraryTest {
protected:
    // Writes `px` as a w x h raw file, runs `save` on it and returns the bitmap file.
    std::string run(const Words& px, std::int32_t w, std::int32_t h, const Save& save) {
        tvxtest::write_words(raw_, px);
        EXPECT_EQ(save(raw_.c_str(), w, h, bmp_.c_str()), 0);
        return tvxtest::read_file(bmp_);
    }
    std::string raw_ = dir.file("in.raw"), bmp_ = dir.file("out.bmp");
};

TEST_F(OutputBitmapTest, HeaderPaletteAndPaddedRows) {
    std::string f = run(Words(1001 * 2, 2048), 1001, 2, gamma2());
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
    f = run(Words(1001 * 2, 2048), 1001, 2, gamma3());  // Tavirex_SaveBitmap3 states 10000 pixels per metre
    EXPECT_EQ(le(f, 38, 4) + le(f, 42, 4), 20000u);
    f = run({}, 5, 0, gamma2());  // zero height: the header alone
    EXPECT_EQ(std::vector<std::uint32_t>({static_cast<std::uint32_t>(f.size()), le(f, 2, 4), le(f, 34, 4)}),
              std::vector<std::uint32_t>({1078, 1078, 0}));
}

// Grey levels worked out by hand; raw row 0 becomes the first (lowest) stored row.
TEST_F(OutputBitmapTest, MappingsByHand) {
    const Words windowRaw{4095 - 900, 4095 - 1000, 4095 - 1100, 4095, 0, 9000};
    const struct Row { const char* what; Save save; std::uint32_t tomo; std::int32_t w, h; Words raw; std::vector<int> grey; } rows[] = {
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
    const Words black(7 * 2, 0), white(7 * 2, 4095);
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

TEST_F(OutputBitmapTest, WindowMappingAndAutoWindowByHand) {
    // (centre, width, value, grey): the full range; odd width 201 spreads over 200; widths 0 and 1 are a step.
    const std::int32_t rows[][4] = {
        {2048, 4096, 0, 0}, {2048, 4096, 4095, 254}, {2048, 4096, 4096, 255}, {2048, 4096, 65535, 255},
        {1000, 201, 899, 0}, {1000, 201, 900, 0},    {1000, 201, 1000, 127},  {1000, 201, 1100, 255},
        {500, 0, 499, 0},    {500, 0, 500, 255},     {500, 1, 499, 0},        {500, 1, 500, 255}};
    for (const auto& r : rows) {
        ASSERT_EQ(Tavirex_SetWindowPos(r[0], r[1]), 0);
        EXPECT_EQ(tvx::output::window_map(static_cast<std::uint32_t>(r[2])), r[3]) << r[0] << "/" << r[1] << " " << r[2];
    }
    const struct { std::uint32_t tomo; Words raw; std::int32_t w, h, centre, width; } spans[] = {
        {0, {100, 3100, 2000, 150}, 2, 2, 1600, 3000},
        {0, {500, 9000}, 2, 1, 4095, 4095},  // width 8500 above 2 x 4095 + 1: 4095; centre limited to 4095
        {1, {500, 9000}, 2, 1, 4750, 8500},  // tomographic data reach 8191: the span is kept
        {1, {500, 9000}, 0, 5, 8191, 0},     // no pixels: no span, centre limited to the maximum
    };
    for (const auto& r : spans) {
        tvx::TomoImageActive = r.tomo;
        tvxtest::write_words(raw_, r.raw);
        ASSERT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), r.w, r.h), 0);
        EXPECT_EQ(std::make_pair(Tavirex_GetWindowCenter(), Tavirex_GetWindowWidth()), std::make_pair(r.centre, r.width))
            << r.raw[1] << " tomo " << r.tomo;
    }
}

// Every image file export: short or missing input -94, bad sizes -95 before the input is opened, an output
// that cannot be created -93; the previous output and the window stay.
TEST_F(OutputBitmapTest, FailuresLeaveFilesAndWindowAlone) {
    const Save all[] = {plain(), gamma2(), gamma3(), windowed(),
                        [](auto r, auto w, auto h, auto o) { return Tavirex_RawDatafile(r, w, h, 0, 0, o); },
                        [](auto r, auto w, auto h, auto o) { return Tavirex_RawFileHorizontalMirror(r, w, h, o); }};
    const std::string missing = dir.file("missing.raw"), nowhere = dir.file("no/such/dir/x.bmp");
    // Sizes too large for a bitmap's work buffers: the raw exports (the last two) stream and open the input.
    const std::int32_t badSizes[][3] = {{-1, 1, 6}, {1, -1, 6}, {INT32_MIN, 2, 6}, {70000, 70000, 4}, {INT32_MAX, 2, 4}};
    Tavirex_SetWindowPos(2048, 4096);
    tvxtest::write_file(bmp_, "previous");
    tvxtest::write_file(raw_, std::string(2 * 3 * 2 - 1, '\0'));  // one byte short of 3 x 2
    for (std::size_t e = 0; e < std::size(all); ++e) {
        const Save& save = all[e];
        EXPECT_EQ(save(raw_.c_str(), 3, 2, bmp_.c_str()), TAVIREX_E_INPUT_FILE);
        EXPECT_EQ(save(missing.c_str(), 3, 2, bmp_.c_str()), TAVIREX_E_INPUT_FILE);
        for (const auto& s : badSizes)
            EXPECT_EQ(save(missing.c_str(), s[0], s[1], bmp_.c_str()), e < std::size_t(s[2]) ? TAVIREX_E_OUTPUT_MEMORY : TAVIREX_E_INPUT_FILE)
                << e << ": " << s[0] << "x" << s[1];
    }
    EXPECT_EQ(tvxtest::read_file(bmp_), "previous");
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 3, 2), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(missing.c_str(), 1, 1), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), -2, 2), TAVIREX_E_OUTPUT_MEMORY);
    EXPECT_EQ(std::make_pair(Tavirex_GetWindowCenter(), Tavirex_GetWindowWidth()), std::make_pair(2048, 4096));
    tvxtest::write_words(raw_, Words(6, 1));
    std::vector<std::string> outputs = {nowhere};
#if defined(_WIN32)
    outputs.push_back(dir.path() + "\\missing\\out.bmp");  // on Linux a backslash is part of the name
#endif
    for (const std::string& out : outputs)
        for (std::size_t e = 0; e < std::size(all); ++e) {
        const Save& save = all[e];
            EXPECT_EQ(save(raw_.c_str(), 3, 2, out.c_str()), TAVIREX_E_MARKER) << out;
            EXPECT_EQ(save(raw_.c_str(), 3, 2, nullptr), TAVIREX_E_MARKER);
            EXPECT_FALSE(tvxtest::file_exists(out));
        }
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

// A file size limit makes the writes fail part way: the partial files are deleted again.
TEST_F(OutputBitmapTest, ShortWriteLeavesNoFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "forces a short write with a POSIX file size limit (setrlimit)";
#else
    tvxtest::write_words(raw_, Words(100 * 100, 7));
    const std::string rawOut = dir.file("out.raw");
    rlimit old{}, small{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    small = {4096, old.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::int32_t bitmap = Tavirex_SaveBitmapWindow(raw_.c_str(), 100, 100, 0, 0, bmp_.c_str());
    const std::int32_t raw = Tavirex_RawDatafile(raw_.c_str(), 100, 100, 0, 0, rawOut.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(bitmap == TAVIREX_E_MARKER && raw == TAVIREX_E_MARKER) << bitmap << " " << raw;
    EXPECT_FALSE(tvxtest::file_exists(bmp_) || tvxtest::file_exists(rawOut));
#endif
}

// Fail the Nth allocation for N = 1, 2, ... until the export succeeds: every failure returns its
// code, leaks nothing, leaves no partial or changed file and keeps the display window.
TEST_F(OutputBitmapTest, EveryExportUnderAllocationFailure) {
    const std::string outPath = dir.file("out.file");
    const char* raw = raw_.c_str();
    const char* out = outPath.c_str();
    Words px(20 * 12);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i * 17);
    tvxtest::write_words(raw_, px);
    tvx::SeparatorLineList = {2, 1, 1, {5}};  // one black band 2 wide at column 5
    const std::string bitmap = tvxtest::make_bitmap(640, 200, 90, 1);
    constexpr std::int32_t M = TAVIREX_E_OUTPUT_MEMORY, N = TAVIREX_E_NO_MEMORY, W = TAVIREX_E_MARKER;
    // {what, edits the bitmap at `out` instead of writing a new file, call, the failure codes in turn}
    const struct { const char* what; bool inPlace; std::function<std::int32_t()> call; std::vector<std::int32_t> codes; } rows[] = {
        // Work buffers (raw, enhanced, image, table), then the gain table: -95; then the separator band: 5.
        {"SaveBitmap filtered", false, [&] { return Tavirex_SaveBitmap(raw, 20, 12, 2, 100, out); }, {M, M, M, M, M}},
        {"SaveBitmap", false, [&] { return Tavirex_SaveBitmap(raw, 20, 12, 0, 0, out); }, {M, M, M}},
        {"SaveBitmap2", false, [&] { return Tavirex_SaveBitmap2(raw, 20, 12, 2, 100, 1, 0, 1, out); },
         {M, M, M, M, M, N}},
        {"SaveBitmap3", false, [&] { return Tavirex_SaveBitmap3(raw, 20, 12, 2, 100, 1, 0, 1, out); },
         {M, M, M, M, M, N}},
        // The window export reports its enhanced image and gain table as -93.
        {"SaveBitmapWindow filtered", false, [&] { return Tavirex_SaveBitmapWindow(raw, 20, 12, 2, 100, out); },
         {M, M, M, W, W, N}},
        {"SaveBitmapWindow", false, [&] { return Tavirex_SaveBitmapWindow(raw, 20, 12, 0, 0, out); }, {M, M, M, N}},
        {"SetWindowPosAuto", false, [&] { return Tavirex_SetWindowPosAuto(raw, 20, 12); }, {M}},
        {"RawDatafile filtered", false, [&] { return Tavirex_RawDatafile(raw, 20, 12, 1, 100, out); }, {M, M, M}},
        {"RawDatafile", false, [&] { return Tavirex_RawDatafile(raw, 20, 12, 0, 0, out); }, {M, M}},
        {"RawFileHorizontalMirror", false, [&] { return Tavirex_RawFileHorizontalMirror(raw, 20, 12, out); }, {M, M}},
        {"BitmapChange", true, [&] { return Tavirex_BitmapChange(out, 1.5, 1.0, 3.0); }, {M}},
        {"MarkingInBitmap", true, [&] { return Tavirex_MarkingInBitmap(out, 1); }, {M}},
        {"MarkingInBitmap_Tomo", true, [&] { return Tavirex_MarkingInBitmap_Tomo(out, 0); }, {M}},
    };
    for (const auto& r : rows) {
        std::vector<std::int32_t> codes;
        Tavirex_SetWindowPos(2048, 4096);
        for (std::uint64_t n = 1;; ++n) {
            ASSERT_LT(n, 50u) << r.what << " never succeeded";
            if (r.inPlace) tvxtest::write_file(outPath, bitmap);
            else std::remove(out);
            const std::int64_t held = tvx::core::test_blocks_held();
            std::int32_t rc;
            {
                tvxtest::FailAllocation fail(n);
                rc = r.call();
            }
            EXPECT_EQ(tvx::core::test_blocks_held(), held) << r.what << " allocation " << n;
            if (rc == 0) break;
            codes.push_back(rc);
            if (r.inPlace) EXPECT_EQ(tvxtest::read_file(outPath), bitmap) << r.what << " allocation " << n;
            else EXPECT_FALSE(tvxtest::file_exists(outPath)) << r.what << " allocation " << n;
            EXPECT_EQ(std::make_pair(Tavirex_GetWindowCenter(), Tavirex_GetWindowWidth()), std::make_pair(2048, 4096))
                << r.what;
        }
        EXPECT_EQ(codes, r.codes) << r.what;
    }
}

// ---- the enhancement filter ------------------------------------------------

Words run_a(const Words& in, std::uint32_t w, std::uint32_t h, std::uint8_t k, std::uint16_t gain,
            std::uint32_t maximum = 4095) {
    Words out(in.size(), 0xBEEF);
    EXPECT_TRUE(tvx::output::enhance_a(in.data(), out.data(), w, h, k, gain, maximum));
    return out;
}

// Images of 4095 with one brighter pixel (4123). The gain runs from a fifth to nine fifths of the
// percentage; at 4095 it is 1.8, so a pixel whose neighbour mean is (3 x 4095 + 4123) / 4 = 4102
// gets r = trunc(-7 x 1.8) + 4095 = 4083, which variant A inverts to 12.
TEST(OutputEnhanceTest, GainTablesAndSpikeByHand) {
    using tvx::output::enhance_b;
    std::vector<float> t(4096);
    tvx::output::build_gain_table_a(t.data(), 4095, 100);
    EXPECT_NEAR(t[0], 0.2, 1e-6);
    EXPECT_NEAR(t[2048], 1.0, 1e-3);
    EXPECT_NEAR(t[4095], 1.8, 1e-6);
    tvx::output::build_gain_table_b(t.data(), 50);
    EXPECT_NEAR(t[0], 0.1, 1e-6);
    EXPECT_NEAR(t[4095], 0.9, 1e-6);
    Words in5(25, 4095), in3(9, 4095), out(9), expected(25, 0);
    in5[2] = in3[1] = 4123;
    expected[7] = expected[12] = 12;  // (1,2) on ring 1 reads the spike at distance 1, (2,2) at distance 2
    EXPECT_EQ(run_a(in5, 5, 5, 2, 100), expected);
    EXPECT_EQ(run_a(in3, 3, 3, 5, 100), (Words{0, 0, 0, 0, 12, 0, 0, 0, 0}));  // centre: one pixel away at most
    ASSERT_TRUE(enhance_b(in3.data(), out.data(), 3, 3, 1, 100));              // B: not inverted, ring kept
    EXPECT_EQ(out, (Words{4095, 4123, 4095, 4095, 4083, 4095, 4095, 4095, 4095}));
    ASSERT_TRUE(enhance_b(in3.data(), out.data(), 3, 3, 2, 100));  // B without interior pixels: a copy
    EXPECT_EQ(out, in3);
    // B reads values as signed 16-bit: 40000 is negative and counts as 0, as does its neighbours' mean.
    Words neg(9, 0);
    neg[4] = 40000;
    ASSERT_TRUE(enhance_b(neg.data(), out.data(), 3, 3, 1, 100));
    EXPECT_EQ(out[4], 0);
}

}  // namespace
