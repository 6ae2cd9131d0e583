// Raw data file exports and the in-place bitmap edits: adjustment and side markers.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "api/context.h"
#include "support/support.h"
#include "tavirex.h"

using tvxtest::make_bitmap;
using tvxtest::pixel;
using Raw = tvxtest::Words;

namespace {

// Every byte that differs between two files of equal size, as (offset, new value).
std::vector<std::pair<std::size_t, int>> changes(const std::string& a, const std::string& b) {
    std::vector<std::pair<std::size_t, int>> out;
    EXPECT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) out.emplace_back(i, static_cast<std::uint8_t>(b[i]));
    return out;
}

class OutputFilesTest : public tvxtest::LibraryTest {
protected:
    // Writes `before` to the bitmap path, runs `edit` on it and returns the file.
    std::string stamp(const std::string& before, const std::function<std::int32_t(const char*)>& edit) {
        tvxtest::write_file(bmp_, before);
        EXPECT_EQ(edit(bmp_.c_str()), 0);
        return tvxtest::read_file(bmp_);
    }

    std::string in_ = dir.file("in.raw"), out_ = dir.file("out.raw"), bmp_ = dir.file("image.bmp");
};

TEST_F(OutputFilesTest, MirroredAndDisplayRawFilesByHand) {
    tvxtest::write_words(in_, {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(Tavirex_RawFileHorizontalMirror(in_.c_str(), 3, 2, out_.c_str()), 0);
    EXPECT_EQ(tvxtest::read_words(out_), (Raw{3, 2, 1, 6, 5, 4}));
    ASSERT_EQ(Tavirex_RawFileHorizontalMirror(out_.c_str(), 3, 2, out_.c_str()), 0);  // in place
    EXPECT_EQ(tvxtest::read_words(out_), (Raw{1, 2, 3, 4, 5, 6}));
    // 3 x 3 of 4095 with 4123 above the centre: at distance 1 the centre's neighbour mean is 4102 and the
    // gain at 4095 is 1.8, so r = trunc(-7 x 1.8) + 4095 = 4083, inverted 12.
    const Raw spike{4095, 4123, 4095, 4095, 4095, 4095, 4095, 4095, 4095}, centre{0, 0, 0, 0, 12, 0, 0, 0, 0};
    const struct { std::uint32_t tomo; std::int32_t w, h, distance, gain; Raw in, out; } rows[] = {
        {0, 2, 2, 0, 0, {0, 4095, 5000, 1000}, {4095, 0, 0, 3095}},
        {0, 3, 3, 1, 100, spike, centre},
        {0, 3, 3, 257, 65536 + 100, spike, centre},  // the filter sees the low 8 and 16 bits
        {0, 3, 3, 256, 100, spike, Raw(9, 0)},       // distance 0 only inverts
        {1, 3, 1, 0, 0, {0, 5000, 9000}, {8191, 3191, 0}},
    };
    for (const auto& r : rows) {
        tvx::TomoImageActive = r.tomo;
        tvxtest::write_words(in_, r.in);
        ASSERT_EQ(Tavirex_RawDatafile(in_.c_str(), r.w, r.h, r.distance, r.gain, out_.c_str()), 0);
        EXPECT_EQ(tvxtest::read_words(out_), r.out) << "distance " << r.distance << " tomo " << r.tomo;
    }
}

// y = (i / 255)^gamma x contrast x 255 + brightness, limited to 0..255 and truncated, over every byte of the
// pixel data (padding included); the headers stay.
TEST_F(OutputFilesTest, AdjustmentByHandAndParametersCheckedFirst) {
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

using OutputMarkerTest = OutputFilesTest;

// The L is drawn at three times its 32 x 32 pattern in the band of stored rows 32..127 and 96 columns
// from x. Its stem (pattern rows 6..27, columns 7..9) and foot (rows 25..27, columns 7..21) land, with band
// row i showing pattern row (95 - i) / 3, on stored rows 44..109 (stem) and 44..52 (foot, lowest on
// screen), columns x + 21..29 (stem) and x + 21..65 (foot). Nothing else changes, padding included.
TEST_F(OutputMarkerTest, LetterLOnTheRightOrLeftSide) {
    const struct { std::int32_t width, height, side, x; std::uint8_t pad; } rows[] = {{3000, 1536, 1, 112, 0}, {3000, 1536, 0, 2888, 0}, {3000, 1536, -7, 112, 0},  // not 0: as 1
                {1001, 200, 0, 889, 0x5A}};  // rows padded to 1004 bytes
    for (const auto& r : rows) {
        const std::string before = make_bitmap(r.width, r.height, 100, r.pad);
        const std::string after = stamp(before, [&](const char* p) { return Tavirex_MarkingInBitmap(p, r.side); });
        std::size_t count = 0;
        for (const auto& [at, value] : changes(before, after)) {
            ASSERT_GE(at, 1078u);
            const auto row = static_cast<std::int32_t>((at - 1078) / tvxtest::stride(r.width));
            const auto col = static_cast<std::int32_t>((at - 1078) % tvxtest::stride(r.width)) - r.x;
            const bool stem = row >= 44 && row <= 109 && col >= 21 && col <= 29;
            const bool foot = row >= 44 && row <= 52 && col >= 21 && col <= 65;
            EXPECT_TRUE(stem || foot) << "side " << r.side << " row " << row << " column " << col + r.x;
            EXPECT_EQ(value, 255);
            ++count;
        }
        EXPECT_EQ(count, 66u * 9u + 9u * 36u) << "side " << r.side << " width " << r.width;
    }
}

TEST_F(OutputMarkerTest, TomographicLettersOnRoundedSquares) {
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
        // Top (pattern row 0) and bottom (69): 9 corner columns each side show the image.
        {101, 30, {{8, 100}, {60, 0}, {69, 100}}}, {101, 540, {{8, 100}, {60, 0}, {69, 100}}},
        {32, 30, {{8, 100}, {60, 0}, {69, 100}}},
        // Pattern row 1: corners 5 left, 6 right; A's apex at 32..37; P's top bar 13..45.
        {100, 30, {{4, 100}, {31, 0}, {37, 255}, {63, 0}, {69, 100}}},
        {100, 540, {{4, 100}, {12, 0}, {45, 255}, {63, 0}, {69, 100}}},
        // Pattern row 34: A's legs 21..27 and 42..48; P's lower bar 13..55.
        {67, 30, {{20, 0}, {27, 255}, {41, 0}, {48, 255}, {69, 0}}},
        {67, 540, {{12, 0}, {55, 255}, {69, 0}}},
        // Pattern row 44: A's crossbar over 18..51; P's stem 13..19. Row 20: P's bowl stroke 51..57.
        {57, 30, {{17, 0}, {51, 255}, {69, 0}}}, {57, 540, {{12, 0}, {19, 255}, {69, 0}}},
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

TEST_F(OutputMarkerTest, TooSmallBitmapsAreRefusedUnchanged) {
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
            EXPECT_EQ(rc, smaller ? TAVIREX_E_MARKER : 0) << w << "x" << h;
            const std::string after = tvxtest::read_file(bmp_);
            EXPECT_TRUE(smaller ? after == before : after.size() == before.size()) << w << "x" << h;
        }
}

// Files that are not 8-bit bitmaps as the writer makes them: refused with -93, unchanged, never grown.
TEST_F(OutputMarkerTest, InPlaceEditsRefuseOtherFiles) {
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
        with(34, std::string("\xFF\xFF\x00\x10", 4)),  // image size beyond the end
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
        EXPECT_EQ(edits[e](missing.c_str()), TAVIREX_E_MARKER) << "edit " << e;
        EXPECT_EQ(edits[e](nullptr), TAVIREX_E_MARKER) << "edit " << e;
    }
    EXPECT_FALSE(tvxtest::file_exists(missing));
}

// The written, enhanced, adjusted and stamped bitmaps open in an independent reader with the expected
// size, mode, grey palette and pixels. Image rows count from the top: stored row s is image row h - 1 - s.
TEST_F(OutputFilesTest, WrittenAndStampedBitmapsOpenInAnIndependentReader) {
    if (const char* why = tvxtest::pil_missing()) GTEST_SKIP() << why;
    const std::string pano = dir.file("pano.bmp"), tomo = dir.file("tomo.bmp"), small = dir.file("small.bmp");
    Raw px(1001 * 130);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i % 1001 * 4 + i / 1001);
    tvxtest::write_words(in_, px);
    Tavirex_SetWindowPos(2048, 4096);
    ASSERT_EQ(Tavirex_SaveBitmapWindow(in_.c_str(), 1001, 130, 2, 100, pano.c_str()), 0);
    ASSERT_EQ(Tavirex_MarkingInBitmap(pano.c_str(), 1), 0);
    ASSERT_EQ(Tavirex_BitmapChange(pano.c_str(), 1.2, 1.0, 5.0), 0);
    tvxtest::write_words(in_, Raw(640 * 120, 1000));
    ASSERT_EQ(Tavirex_SaveBitmap2(in_.c_str(), 640, 120, 0, 0, 1.0, 0.0, 1.0, tomo.c_str()), 0);
    ASSERT_EQ(Tavirex_MarkingInBitmap_Tomo(tomo.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SaveBitmap3(in_.c_str(), 5, 3, 1, 50, 1.0, 0.0, 1.0, small.c_str()), 0);
    EXPECT_EQ(tvxtest::python("def check(path, size, probes):\n"
                              "    im = Image.open(path)\n"
                              "    im.load()\n"
                              "    assert im.format == 'BMP' and im.size == size, (path, im.format, im.size)\n"
                              "    assert im.mode in ('L', 'P'), im.mode\n"
                              "    if im.mode == 'P':\n"
                              "        assert im.getpalette()[:768] == [i // 3 for i in range(768)], 'not grey'\n"
                              "    for (x, y), v in probes.items():\n"
                              "        assert im.getpixel((x, y)) == v, (path, x, y, im.getpixel((x, y)), v)\n"
                              "check(r'" + pano + "', (1001, 130), {(133, 129 - 44): 255})\n"
                              "check(r'" + tomo + "', (640, 120), {(62, 119 - 100): 255, (40, 119 - 100): 0,"
                              " (30, 119 - 101): 62, (29, 0): 62})\n"
                              "check(r'" + small + "', (5, 3), {})\n", dir), "");
}

}  // namespace
