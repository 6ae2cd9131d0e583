// The image file exports and edits: bitmap bytes, grey mappings, the display
// and automatic windows, the enhancement filter, raw files, adjustment and side
// markers, and every export under failed writes and allocations.

#include <cmath>
#include <filesystem>
#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "state/context.h"
#include "output/enhance.h"
#include "output/window.h"
#include "platform/system.h"
#include "support/support.h"

using tvxtest::le;
using tvxtest::make_bitmap;
using tvxtest::pixel;
using tvxtest::pixels;
using tvxtest::Words;

namespace {

using Save = std::function<std::int32_t(const char* raw, std::int32_t w, std::int32_t h, const char* bmp)>;
Save plain(int d = 0, int g = 0) { return [=](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmap(r, w, h, d, g, b); }; }
Save gamma2(double gamma = 1, double offset = 0, double slope = 1, int d = 0, int g = 0) {
    return [=](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmap2(r, w, h, d, g, gamma, offset, slope, b); };
}
Save gamma3() { return [](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmap3(r, w, h, 0, 0, 1, 0, 1, b); }; }
Save windowed(int d = 0, int g = 0) { return [=](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmapWindow(r, w, h, d, g, b); }; }

class OutputTest : public tvxtest::LibraryTest {
protected:
    // Writes `px` as a w x h raw file, runs `save` on it and returns the bitmap file.
    std::string run(const Words& px, std::int32_t w, std::int32_t h, const Save& save) {
        tvxtest::write_words(raw_, px);
        EXPECT_EQ(save(raw_.c_str(), w, h, bmp_.c_str()), 0);
        return tvxtest::read_file(bmp_);
    }
    // Writes `before` to the bitmap path, runs `edit` on it and returns the file.
    std::string stamp(const std::string& before, const std::function<std::int32_t(const char*)>& edit) {
        tvxtest::write_file(bmp_, before);
        EXPECT_EQ(edit(bmp_.c_str()), 0);
        return tvxtest::read_file(bmp_);
    }
    std::string raw_ = dir.file("in.raw"), out_ = dir.file("out.raw"), bmp_ = dir.file("out.bmp");
};

TEST_F(OutputTest, HeaderPaletteAndPaddedRows) {
    std::string f = run(Words(1001 * 2, 2048), 1001, 2, gamma2());
    ASSERT_EQ(f.size(), 1078u + 2 * 1004u);  // rows of 1001 pixels padded to 1004 bytes
    EXPECT_EQ(f.substr(0, 2), "BM");
    // (offset, bytes, value): file size, reserved, pixel offset, info size, width, height, planes, bits,
    // compression, image size, pixels per metre x and y, colors used and important.
    const std::uint32_t fields[][3] = {{2, 4, 3086}, {6, 4, 0},  {10, 4, 1078},  {14, 4, 40},    {18, 4, 1001},
                                       {22, 4, 2},   {26, 2, 1}, {28, 2, 8},     {30, 4, 0},     {34, 4, 2008},
                                       {38, 4, 10416}, {42, 4, 10416}, {46, 4, 256}, {50, 4, 0}};
    for (const auto& x : fields) EXPECT_EQ(le(f, x[0], static_cast<int>(x[1])), x[2]) << "offset " << x[0];
    for (std::uint32_t i = 0; i < 256; ++i) EXPECT_EQ(le(f, 54 + 4 * i, 4), i * 0x010101u) << "palette " << i;
    for (std::size_t row : {0u, 1u}) EXPECT_EQ(f.substr(1078 + row * 1004 + 1000, 4), std::string("\x80\0\0\0", 4));
    f = run(Words(1001 * 2, 2048), 1001, 2, gamma3());  // Tavirex_SaveBitmap3 states 10000 pixels per metre
    EXPECT_EQ(std::vector<std::uint32_t>({le(f, 38, 4), le(f, 42, 4)}), std::vector<std::uint32_t>(2, 10000));
}

// Grey levels worked out by hand; raw row 0 becomes the first (lowest) stored row.
TEST_F(OutputTest, MappingsByHand) {
    const Words windowRaw{4095 - 900, 4095 - 1000, 4095 - 1100, 4095, 0, 9000};
    const struct Row { const char* what; Save save; std::uint32_t tomo; std::int32_t w, h; Words raw; std::vector<int> grey; } rows[] = {
        // round-half-up(255 i / 4095): 2048 -> 127.53, 1 -> 0.062, 16 -> 0.996; above 4095 read as 4095.
        {"gamma 1", gamma2(), 0, 3, 2, {0, 2048, 4095, 5000, 1, 16}, {0, 128, 255, 255, 0, 1}},
        // Offset 51 grey = 819 units, slope 0.5: 0 -> 819 -> 51; 4095 -> 2866.5 -> 178.5 -> 179.
        {"offset and slope", gamma2(1, 51, 0.5), 0, 2, 1, {0, 4095}, {51, 179}},
        {"gamma 2", gamma2(2), 0, 2, 1, {2048, 4095}, {64, 255}},  // 63.78
        {"negative slope limited to 0", gamma2(1, 0, -1), 0, 1, 1, {100}, {0}},
        // Words + 1024 limited to 4095, not inverted: 1024 -> 63.77, 3072 -> 191.3.
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
        // Filtered (distance 256 = 0): 8191 - v, then >> 4 limited to 255: 511, 256, 3191 >> 4 = 199.
        {"tomo plain filtered", plain(256, 100), 1, 4, 1, {0, 4095, 5000, 8191}, {255, 255, 199, 0}},
    };
    for (const Row& r : rows) {
        tvx::TomoImageActive = r.tomo;
        Tavirex_SetWindowPos(1000, 201);
        EXPECT_EQ(pixels(run(r.raw, r.w, r.h, r.save), r.w, r.h), r.grey) << r.what;
    }
}

TEST_F(OutputTest, SeparatorBandsArePaintedInEveryRowAndClipped) {
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

TEST_F(OutputTest, WindowMappingAndAutoWindowByHand) {
    // (center, width, value, grey): the full range; odd width 201 spreads over 200; widths 0 and 1 are a step.
    const std::int32_t rows[][4] = {
        {2048, 4096, 0, 0}, {2048, 4096, 4095, 254}, {2048, 4096, 4096, 255}, {2048, 4096, 65535, 255},
        {1000, 201, 899, 0}, {1000, 201, 900, 0},    {1000, 201, 1000, 127},  {1000, 201, 1100, 255},
        {500, 0, 499, 0},    {500, 0, 500, 255},     {500, 1, 499, 0},        {500, 1, 500, 255}};
    for (const auto& r : rows) {
        ASSERT_EQ(Tavirex_SetWindowPos(r[0], r[1]), 0);
        EXPECT_EQ(tvx::output::window_map(static_cast<std::uint32_t>(r[2])), r[3]) << r[0] << "/" << r[1] << " " << r[2];
    }
    const struct { std::uint32_t tomo; Words raw; std::int32_t w, h, center, width; } spans[] = {
        {0, {100, 3100, 2000, 150}, 2, 2, 1600, 3000},
        {0, {500, 9000}, 2, 1, 4095, 4095},  // width 8500 above 2 x 4095 + 1: 4095; center limited to 4095
        {1, {500, 9000}, 2, 1, 4750, 8500},  // tomographic data reach 8191: the span is kept
    };
    for (const auto& r : spans) {
        tvx::TomoImageActive = r.tomo;
        tvxtest::write_words(raw_, r.raw);
        ASSERT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), r.w, r.h), 0);
        EXPECT_EQ(std::make_pair(Tavirex_GetWindowCenter(), Tavirex_GetWindowWidth()), std::make_pair(r.center, r.width))
            << r.raw[1] << " tomo " << r.tomo;
    }
}

// Every image file export: short or missing input -94 before any buffer is taken, bad sizes (zero included)
// -95 before the input is opened, an output that cannot be created or names a folder -93; the previous
// output, the folder and the window stay.
TEST_F(OutputTest, FailuresLeaveFilesAndWindowAlone) {
    const Save all[] = {plain(), gamma2(), gamma3(), windowed(),
                        [](auto r, auto w, auto h, auto o) { return Tavirex_RawDatafile(r, w, h, 0, 0, o); },
                        [](auto r, auto w, auto h, auto o) { return Tavirex_RawFileHorizontalMirror(r, w, h, o); }};
    const std::string missing = dir.file("missing.raw"), nowhere = dir.file("no/such/dir/x.bmp");
    // Sizes too large for a bitmap's work buffers: the raw exports (the last two) open the input, unless
    // the image's words cannot be addressed at all (a 32-bit process).
    const std::int32_t badSizes[][3] = {{-1, 1, 6},         {1, -1, 6},       {INT32_MIN, 2, 6}, {0, 5, 6},
                                        {5, 0, 6},          {70000, 70000, 4}, {INT32_MAX, 2, 4}};
    Tavirex_SetWindowPos(2048, 4096);
    tvxtest::write_file(bmp_, "previous");
    tvxtest::write_file(raw_, std::string(2 * 3 * 2 - 1, '\0'));  // one byte short of 3 x 2
    for (std::size_t e = 0; e < std::size(all); ++e) {
        const Save& save = all[e];
        EXPECT_EQ(save(raw_.c_str(), 3, 2, bmp_.c_str()), TAVIREX_E_INPUT_FILE);
        EXPECT_EQ(save(missing.c_str(), 3, 2, bmp_.c_str()), TAVIREX_E_INPUT_FILE);
        for (const auto& s : badSizes) {
            const bool addressable = std::uint64_t(std::uint32_t(s[0])) * std::uint32_t(s[1]) <= SIZE_MAX / 2;
            EXPECT_EQ(save(missing.c_str(), s[0], s[1], bmp_.c_str()),
                      e < std::size_t(s[2]) || !addressable ? TAVIREX_E_OUTPUT_MEMORY : TAVIREX_E_INPUT_FILE)
                << e << ": " << s[0] << "x" << s[1];
        }
    }
    EXPECT_EQ(tvxtest::read_file(bmp_), "previous");
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 3, 2), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(missing.c_str(), 1, 1), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), -2, 2), TAVIREX_E_OUTPUT_MEMORY);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 0, 2), TAVIREX_E_OUTPUT_MEMORY);
    // A short file claiming a huge image is refused before its buffer is taken.
    tvx::core::test_fail_allocation(1, true);
    EXPECT_EQ(Tavirex_SetWindowPosAuto(raw_.c_str(), 65535, 30000), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(all[0](raw_.c_str(), 65535, 30000, bmp_.c_str()), TAVIREX_E_INPUT_FILE);
    EXPECT_EQ(all[5](raw_.c_str(), 65535, 30000, out_.c_str()), TAVIREX_E_INPUT_FILE);
    tvx::core::test_fail_allocation(0);
    EXPECT_EQ(std::make_pair(Tavirex_GetWindowCenter(), Tavirex_GetWindowWidth()), std::make_pair(2048, 4096));
    tvxtest::write_words(raw_, Words(6, 1));
    const std::string folder = dir.file("folder");  // an empty folder: the writers must not remove it
    std::filesystem::create_directory(folder);
    std::vector<std::string> outputs = {nowhere, folder};
#if defined(_WIN32)
    outputs.push_back(dir.path() + "\\missing\\out.bmp");  // on Linux a backslash is part of the name
#endif
    for (const std::string& out : outputs)
        for (const Save& save : all) {
            EXPECT_EQ(save(raw_.c_str(), 3, 2, out.c_str()), TAVIREX_E_MARKER) << out;
            EXPECT_EQ(save(raw_.c_str(), 3, 2, nullptr), TAVIREX_E_MARKER);
            EXPECT_TRUE(out == folder ? std::filesystem::is_directory(out) : !tvxtest::file_exists(out)) << out;
        }
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

// A file size limit makes the writes fail part way: the partial files are deleted again.
TEST_F(OutputTest, ShortWriteLeavesNoFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "forces a short write with a POSIX file size limit (setrlimit)";
#else
    tvxtest::write_words(raw_, Words(100 * 100, 7));
    rlimit old{}, small{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    small = {4096, old.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::int32_t bitmap = Tavirex_SaveBitmapWindow(raw_.c_str(), 100, 100, 0, 0, bmp_.c_str());
    const std::int32_t raw = Tavirex_RawDatafile(raw_.c_str(), 100, 100, 0, 0, out_.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(bitmap == TAVIREX_E_MARKER && raw == TAVIREX_E_MARKER) << bitmap << " " << raw;
    EXPECT_FALSE(tvxtest::file_exists(bmp_) || tvxtest::file_exists(out_));
#endif
}

// Fail the Nth allocation for N = 1, 2, ... until the export succeeds: every failure returns its
// code, leaks nothing, leaves no partial or changed file and keeps the display window.
TEST_F(OutputTest, EveryExportUnderAllocationFailure) {
    const std::string outPath = dir.file("out.file");
    const char *raw = raw_.c_str(), *out = outPath.c_str();
    Words px(20 * 12);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i * 17);
    tvxtest::write_words(raw_, px);
    tvx::SeparatorLineList = {2, 1, 1, {5}};  // one black band 2 wide at column 5
    const std::string bitmap = tvxtest::make_bitmap(640, 200, 90, 1);
    constexpr std::int32_t M = TAVIREX_E_OUTPUT_MEMORY, N = TAVIREX_E_NO_MEMORY, W = TAVIREX_E_MARKER;
    // {what, edits the bitmap at `out` instead of writing a new file, call, the failure codes in turn}
    const struct { const char* what; bool inPlace; std::function<std::int32_t()> call; Codes codes; } rows[] = {
        // Work buffers (raw, enhanced, image, table), then the gain table: -95; then the separator band: 5.
        {"SaveBitmap filtered", false, [&] { return Tavirex_SaveBitmap(raw, 20, 12, 2, 100, out); }, {M, M, M, M, M}},
        {"SaveBitmap", false, [&] { return Tavirex_SaveBitmap(raw, 20, 12, 0, 0, out); }, {M, M, M}},
        {"SaveBitmap2", false, [&] { return Tavirex_SaveBitmap2(raw, 20, 12, 2, 100, 1, 0, 1, out); }, {M, M, M, M, M, N}},
        {"SaveBitmap3", false, [&] { return Tavirex_SaveBitmap3(raw, 20, 12, 2, 100, 1, 0, 1, out); }, {M, M, M, M, M, N}},
        // The window export reports its enhanced image and gain table as -93.
        {"SaveBitmapWindow filtered", false, [&] { return Tavirex_SaveBitmapWindow(raw, 20, 12, 2, 100, out); }, {M, M, M, W, W, N}},
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
        Codes codes;
        Tavirex_SetWindowPos(2048, 4096);
        for (std::uint64_t n = 1;; ++n) {
            ASSERT_LT(n, 50u) << r.what << " never succeeded";
            if (r.inPlace) tvxtest::write_file(outPath, bitmap);
            else std::remove(out);
            const std::int64_t held = tvx::core::test_blocks_held();
            const std::int32_t rc = tvxtest::with_failed_allocation(n, r.call);
            EXPECT_EQ(tvx::core::test_blocks_held(), held) << r.what << " allocation " << n;
            if (rc == 0) break;
            codes.push_back(rc);
            EXPECT_TRUE(r.inPlace ? tvxtest::read_file(outPath) == bitmap : !tvxtest::file_exists(outPath)) << r.what << " " << n;
            EXPECT_EQ(std::make_pair(Tavirex_GetWindowCenter(), Tavirex_GetWindowWidth()), std::make_pair(2048, 4096)) << r.what;
        }
        EXPECT_EQ(codes, r.codes) << r.what;
    }
}

// Every bitmap export on the fast paths (streamed, SSE2 rows) against the plain
// path: the same file, for 12-bit data and for tomographic depths up to 16 bits;
// also the whole-image path (a bitmap written over its raw file).
TEST_F(OutputTest, FastBitmapsMatchThePlainPath) {
    tvx::SeparatorLineList = {3, 1, 2, {4, 30}};
    Tavirex_SetWindowPos(1900, 3000);
    const auto over = [](Save save) -> Save {  // the whole-image path: the bitmap replaces its raw file
        return [save](auto r, auto w, auto h, auto b) { return tvxtest::write_file(b, tvxtest::read_file(r)), save(b, w, h, b); };
    };
    const std::pair<const char*, Save> saves[] = {
        {"plain", plain()},        {"plain, filtered", plain(3, 80)}, {"gamma", gamma2(0.8, 3, 1.2)},
        {"gamma, filtered", gamma2(0.8, 3, 1.2, 2, 150)},              {"SaveBitmap3", [](auto r, auto w, auto h, auto b) {
             return Tavirex_SaveBitmap3(r, w, h, 3, 90, 1.1, 2, 0.9, b); }},
        {"window", windowed()},    {"window, filtered", windowed(3, 80)}, {"window, far", windowed(255, 65535)},
        {"gamma, filtered, over", over(gamma2(0.8, 3, 1.2, 2, 150))}, {"window, over", over(windowed())},
        {"SaveBitmap3, over", over([](auto r, auto w, auto h, auto b) { return Tavirex_SaveBitmap3(r, w, h, 3, 90, 1.1, 2, 0.9, b); })}};
    // The last size spans several of the streamed blocks (on 12-bit random data only).
    const std::array<std::int32_t, 2> sizes[] = {{1, 1}, {1, 7}, {9, 1}, {7, 3}, {17, 9}, {67, 20}, {4001, 150}};
    for (const std::uint32_t depth : {0u, 13u, 14u, 16u}) {  // 0: 12-bit data
        tvx::TomoImageActive = depth != 0;
        tvx::Tomo.BitDepth = static_cast<std::uint16_t>(depth);
        for (const auto& [what, save] : saves)
            for (const tvxtest::Fill fill : tvxtest::kFills)
                for (const auto& [w, h] : sizes) {
                    if (w > 100 && (depth != 0 || fill != tvxtest::Fill::Random12)) continue;
                    tvxtest::write_words(raw_, tvxtest::test_image(fill, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), 9));
                    const auto [reference, fast] = tvxtest::on_both_paths<std::string>([&] {
                        std::remove(bmp_.c_str());
                        const std::int32_t rc = save(raw_.c_str(), w, h, bmp_.c_str());
                        return std::to_string(rc) + tvxtest::read_file(bmp_);
                    });
                    ASSERT_TRUE(reference == fast) << what << ", depth " << depth << ", fill " << static_cast<int>(fill) << ", " << w << " x " << h;
                }
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
    std::vector<float> a(4096), b(4096);
    tvx::output::build_gain_table_a(a.data(), 4095, 100);
    tvx::output::build_gain_table_b(b.data(), 50);
    const double got[] = {a[0], a[2048], a[4095], b[0], b[4095]}, want[] = {0.2, 1.0, 1.8, 0.1, 0.9};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(got[i], want[i], 1e-3) << i;
    Words in5(25, 4095), in3(9, 4095), expected(25, 0);
    in5[2] = in3[1] = 4123;
    expected[7] = expected[12] = 12;  // (1,2) on ring 1 reads the spike at distance 1, (2,2) at distance 2
    EXPECT_EQ(run_a(in5, 5, 5, 2, 100), expected);
    EXPECT_EQ(run_a(in3, 3, 3, 5, 100), (Words{0, 0, 0, 0, 12, 0, 0, 0, 0}));  // center: one pixel away at most
    // B: not inverted, ring kept; without interior pixels a copy; values read as signed 16-bit, so 40000 is
    // negative and counts as 0, as does its neighbours' mean.
    Words neg(9, 0), ring(9), copy(9), zero(9);
    neg[4] = 40000;
    ASSERT_TRUE(enhance_b(in3.data(), ring.data(), 3, 3, 1, 100) && enhance_b(in3.data(), copy.data(), 3, 3, 2, 100) &&
                enhance_b(neg.data(), zero.data(), 3, 3, 1, 100));
    EXPECT_EQ(ring, (Words{4095, 4123, 4095, 4095, 4083, 4095, 4095, 4095, 4095}));
    EXPECT_EQ(copy, in3);
    EXPECT_EQ(zero[4], 0);
}

// Every byte that differs between two files of equal size, as (offset, new value).
std::vector<std::pair<std::size_t, int>> changes(const std::string& a, const std::string& b) {
    std::vector<std::pair<std::size_t, int>> out;
    EXPECT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) out.emplace_back(i, static_cast<std::uint8_t>(b[i]));
    return out;
}

TEST_F(OutputTest, MirroredAndDisplayRawFilesByHand) {
    tvxtest::write_words(raw_, {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(Tavirex_RawFileHorizontalMirror(raw_.c_str(), 3, 2, out_.c_str()), 0);
    EXPECT_EQ(tvxtest::read_words(out_), (Words{3, 2, 1, 6, 5, 4}));
    ASSERT_EQ(Tavirex_RawFileHorizontalMirror(out_.c_str(), 3, 2, out_.c_str()), 0);  // in place
    EXPECT_EQ(tvxtest::read_words(out_), (Words{1, 2, 3, 4, 5, 6}));
    // 3 x 3 of 4095 with 4123 above the center: at distance 1 the center's neighbour mean is 4102 and the
    // gain at 4095 is 1.8, so r = trunc(-7 x 1.8) + 4095 = 4083, inverted 12.
    const Words spike{4095, 4123, 4095, 4095, 4095, 4095, 4095, 4095, 4095}, center{0, 0, 0, 0, 12, 0, 0, 0, 0};
    const struct { std::uint32_t tomo; std::int32_t w, h, distance, gain; Words in, out; } rows[] = {
        {0, 2, 2, 0, 0, {0, 4095, 5000, 1000}, {4095, 0, 0, 3095}},
        {0, 3, 3, 1, 100, spike, center},
        {0, 3, 3, 257, 65536 + 100, spike, center},  // the filter sees the low 8 and 16 bits
        {0, 3, 3, 256, 100, spike, Words(9, 0)},       // distance 0 only inverts
        {1, 3, 1, 0, 0, {0, 5000, 9000}, {8191, 3191, 0}},
    };
    for (const auto& r : rows) {
        tvx::TomoImageActive = r.tomo;
        tvxtest::write_words(raw_, r.in);
        ASSERT_EQ(Tavirex_RawDatafile(raw_.c_str(), r.w, r.h, r.distance, r.gain, out_.c_str()), 0);
        EXPECT_EQ(tvxtest::read_words(out_), r.out) << "distance " << r.distance << " tomo " << r.tomo;
    }
}

// y = (i / 255)^gamma x contrast x 255 + brightness, limited to 0..255 and truncated, over every byte of the
// pixel data (padding included); the headers stay.
TEST_F(OutputTest, AdjustmentByHandAndParametersCheckedFirst) {
    const struct { double gamma, contrast, brightness; std::uint8_t grey, pad, newGrey, newPad; } rows[] = {
        {1, 1, 0, 200, 0, 200, 0},       {1, 1, 100, 200, 0, 255, 100}, {2, 1, 0, 128, 255, 64, 255},  // 64.25
        {1, 0.5, 0, 64, 255, 32, 127},   {1, 1, -100, 64, 255, 0, 155},
        {0.01, 0, -100, 200, 9, 0, 0},   {5, 2, 100, 200, 0, 251, 100},  // the limits; 0.29679 x 510 + 100
    };
    for (const auto& r : rows) {
        auto adjust = [&](const char* p) { return Tavirex_BitmapChange(p, r.gamma, r.contrast, r.brightness); };
        EXPECT_EQ(stamp(make_bitmap(5, 2, r.grey, r.pad), adjust), make_bitmap(5, 2, r.newGrey, r.newPad))
            << r.gamma << " " << r.contrast << " " << r.brightness << " on " << int{r.grey};
    }
    const std::string file = make_bitmap(5, 2, 200);
    tvxtest::write_file(bmp_, file);
    const double bad[][3] = {{0.005, 1, 0}, {5.5, 1, 0},  {1, -0.1, 0},       {1, 2.5, 0},
                             {1, 1, -101},  {1, 1, 100.5}, {std::nan(""), 1, 0}, {1, 1, std::nan("")}};
    for (const auto& p : bad)
        EXPECT_EQ(Tavirex_BitmapChange(bmp_.c_str(), p[0], p[1], p[2]), TAVIREX_E_PASS_COUNT) << p[0] << " " << p[1];
    EXPECT_EQ(tvxtest::read_file(bmp_), file);
    // Before the path.
    EXPECT_EQ(Tavirex_BitmapChange(dir.file("none.bmp").c_str(), 9.0, 1, 0), TAVIREX_E_PASS_COUNT);
}

// The L is drawn at three times its 32 x 32 pattern in the band of stored rows 32..127 and 96 columns
// from x. Its stem (pattern rows 6..27, columns 7..9) and foot (rows 25..27, columns 7..21) land, with band
// row i showing pattern row (95 - i) / 3, on stored rows 44..109 (stem) and 44..52 (foot, lowest on
// screen), columns x + 21..29 (stem) and x + 21..65 (foot). Nothing else changes, padding included.
TEST_F(OutputTest, LetterLOnTheRightOrLeftSide) {
    // {width, height, side (not 0: as 1), x, padding byte}; rows of 1001 pixels are padded to 1004 bytes.
    const struct { std::int32_t width, height, side, x; std::uint8_t pad; } rows[] = {
        {3000, 1536, 1, 112, 0}, {3000, 1536, 0, 2888, 0}, {3000, 1536, -7, 112, 0}, {1001, 200, 0, 889, 0x5A}};
    for (const auto& r : rows) {
        const std::string before = make_bitmap(r.width, r.height, 100, r.pad);
        const std::string after = stamp(before, [&](const char* p) { return Tavirex_MarkingInBitmap(p, r.side); });
        std::size_t count = 0;
        for (const auto& [at, value] : changes(before, after)) {
            const auto row = static_cast<std::int32_t>((at - 1078) / tvxtest::stride(r.width));
            const auto col = static_cast<std::int32_t>((at - 1078) % tvxtest::stride(r.width)) - r.x;
            const bool stem = row >= 44 && row <= 109 && col >= 21 && col <= 29;
            const bool foot = row >= 44 && row <= 52 && col >= 21 && col <= 65;
            EXPECT_TRUE((stem || foot) && value == 255) << "side " << r.side << " row " << row << " column " << col + r.x;
            ++count;
        }
        EXPECT_EQ(count, 66u * 9u + 9u * 36u) << "side " << r.side << " width " << r.width;
    }
}

TEST_F(OutputTest, TomographicLettersOnRoundedSquares) {
    const std::string before = make_bitmap(640, 120, 100);
    const std::string after = stamp(before, [](const char* p) { return Tavirex_MarkingInBitmap_Tomo(p, 0); });
    // Only stored rows 32..101, columns 30..99 (A) and 540..609 (P) change.
    for (const auto& [at, value] : changes(before, after)) {
        const std::size_t row = (at - 1078) / 640, col = (at - 1078) % 640;
        EXPECT_TRUE(row >= 32 && row <= 101 && ((col >= 30 && col <= 99) || (col >= 540 && col <= 609)))
            << row << " " << col;
    }
    // {stored row, first column, (last column offset, value) runs over the 70 columns}
    const struct { int row, x0; std::vector<std::pair<int, int>> spans; } rows[] = {
        // Top (pattern row 0): 9 corner columns each side show the image. Pattern row 1: corners 5 left, 6 right;
        // A's apex at 32..37; P's top bar 13..45. Pattern row 34: A's legs 21..27 and 42..48. Row 20: P's bowl
        // stroke 51..57.
        {101, 540, {{8, 100}, {60, 0}, {69, 100}}}, {100, 30, {{4, 100}, {31, 0}, {37, 255}, {63, 0}, {69, 100}}},
        {100, 540, {{4, 100}, {12, 0}, {45, 255}, {63, 0}, {69, 100}}}, {67, 30, {{20, 0}, {27, 255}, {41, 0}, {48, 255}, {69, 0}}},
        {81, 540, {{12, 0}, {19, 255}, {50, 0}, {57, 255}, {69, 0}}},
    };
    for (const auto& r : rows) {
        int k = 0;
        for (const auto& [last, value] : r.spans)
            for (; k <= last; ++k) EXPECT_EQ(pixel(after, 640, r.row, r.x0 + k), value) << r.row << " " << r.x0 + k;
    }
    // Side 1 swaps the letters.
    const std::string swapped = stamp(before, [](const char* p) { return Tavirex_MarkingInBitmap_Tomo(p, 1); });
    // P's top bar, beside A's apex, A's apex.
    EXPECT_EQ((std::vector<int>{pixel(swapped, 640, 100, 43), pixel(swapped, 640, 100, 553), pixel(swapped, 640, 100, 572)}),
              (std::vector<int>{255, 0, 255}));
}

TEST_F(OutputTest, TooSmallBitmapsAreRefusedUnchanged) {
    // {width, height, side, tomo}: each the smallest that fits, then one column or row less.
    const std::int32_t fitting[][4] = {{3000, 128, 1, 0}, {208, 200, 1, 0}, {112, 200, 0, 0}, {640, 102, 0, 1},
                                       {100, 200, 1, 1}};
    for (const auto& c : fitting)
        for (const bool smaller : {false, true}) {
            const std::int32_t w = c[0] - (smaller && c[1] == 200), h = c[1] - (smaller && c[1] != 200);
            const std::string before = make_bitmap(w, h, 77, 3);
            tvxtest::write_file(bmp_, before);
            const std::int32_t rc = c[3] ? Tavirex_MarkingInBitmap_Tomo(bmp_.c_str(), c[2])
                                         : Tavirex_MarkingInBitmap(bmp_.c_str(), c[2]);
            const std::string after = tvxtest::read_file(bmp_);
            EXPECT_TRUE(rc == (smaller ? TAVIREX_E_MARKER : 0) && (smaller ? after == before : after.size() == before.size()))
                << w << "x" << h << ": " << rc;
        }
}

// Files that are not 8-bit bitmaps as the writer makes them: refused with -93, unchanged, never grown.
TEST_F(OutputTest, InPlaceEditsRefuseOtherFiles) {
    const std::string good = make_bitmap(300, 200, 90);  // large enough for every marker
    auto with = [&](std::size_t at, std::string bytes) { return std::string(good).replace(at, bytes.size(), bytes); };
    const std::string others[] = {
        "plain text, not a bitmap",
        good.substr(0, 40),                            // headers cut short
        good.substr(0, good.size() - 1),               // pixel data one byte short
        with(0, "BA"),                                 // signature
        with(28, std::string("\x18\x00", 2)),          // 24 bits per pixel
        with(30, std::string("\x01\x00\x00\x00", 4)),  // run-length compressed
        with(22, std::string("\x38\xFF\xFF\xFF", 4)),  // height -200: stored top row first
        with(18, std::string("\x00\x00\x00\x00", 4)),  // width 0
        with(10, std::string("\xFF\xFF\x00\x00", 4)),  // pixel data beyond the end
        with(34, std::string("\x04\x00\x00\x00", 4)),  // image size smaller than the rows
    };
    const std::function<std::int32_t(const char*)> edits[] = {
        [](const char* p) { return Tavirex_BitmapChange(p, 1.0, 1.0, 50.0); },
        [](const char* p) { return Tavirex_MarkingInBitmap(p, 1); },
        [](const char* p) { return Tavirex_MarkingInBitmap_Tomo(p, 1); },
    };
    const std::string missing = dir.file("missing.bmp");
    for (std::size_t e = 0; e < 3; ++e) {
        for (std::size_t i = 0; i < std::size(others); ++i) {
            tvxtest::write_file(bmp_, others[i]);
            EXPECT_EQ(edits[e](bmp_.c_str()), TAVIREX_E_MARKER) << "edit " << e << " file " << i;
            EXPECT_EQ(tvxtest::read_file(bmp_), others[i]) << "edit " << e << " file " << i;
        }
        EXPECT_TRUE(edits[e](missing.c_str()) == TAVIREX_E_MARKER && edits[e](nullptr) == TAVIREX_E_MARKER) << "edit " << e;
    }
    EXPECT_FALSE(tvxtest::file_exists(missing));
}

}  // namespace

// Files past 2 GiB and 4 GiB (sparse): their sizes and offsets are exact in every build, a 32-bit one too.
TEST_F(OutputTest, LargeFileSizesAndOffsetsAreExact) {
    const std::string big = dir.file("big.raw");
    for (const std::uint64_t size : {(std::uint64_t{1} << 31) + 2, (std::uint64_t{1} << 32) + 6}) {
        std::error_code ec;
        std::filesystem::resize_file(big, 0, ec);
        tvxtest::write_file(big, "");
        std::filesystem::resize_file(big, size, ec);
        if (ec) GTEST_SKIP() << "no sparse file of " << size << " bytes here: " << ec.message();
        std::FILE* f = std::fopen(big.c_str(), "rb");
        ASSERT_NE(f, nullptr) << size;
        std::uint64_t end = 0;
        char tail[4] = {1, 1, 1, 1};
        EXPECT_TRUE(tvx::platform::file_end_size(f, &end) && end == size) << end;
        EXPECT_TRUE(tvx::platform::seek_to(f, size - 2)) << size;
        EXPECT_EQ(std::fread(tail, 1, sizeof tail, f), 2u) << size;
        EXPECT_EQ(tail[0] | tail[1], 0);
        std::fclose(f);
    }
}
