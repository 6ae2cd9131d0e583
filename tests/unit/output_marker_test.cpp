#include <gtest/gtest.h>

#include "support/support.h"
#include "tavirex.h"
#include "unit/output_test_util.h"

using tvxtest::make_bitmap;
using tvxtest::pixel;

namespace {

// Every byte that differs between two files of equal size, as (offset, new value).
std::vector<std::pair<std::size_t, std::uint8_t>> changes(const std::string& a, const std::string& b) {
    std::vector<std::pair<std::size_t, std::uint8_t>> out;
    EXPECT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i] != b[i]) out.emplace_back(i, static_cast<std::uint8_t>(b[i]));
    return out;
}

class OutputMarkerTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }

    tvxtest::TempDir dir_;
    std::string bmp_ = dir_.file("image.bmp");
};

// The L is drawn at three times its 32 x 32 pattern. Its stem (pattern rows 6..27,
// columns 7..9) and foot (rows 25..27, columns 7..21) land, with band row i showing
// pattern row (95 - i) / 3, on stored rows 32 + 12..77 = 44..109 (stem) and 44..52
// (foot, lowest on screen), columns x + 21..29 (stem) and x + 21..65 (foot).
void expect_letter_l(const std::string& before, const std::string& after, std::int32_t width, std::int32_t x) {
    const std::size_t stride = (static_cast<std::size_t>(width) + 3) / 4 * 4;
    std::size_t count = 0;
    for (const auto& [at, value] : changes(before, after)) {
        ASSERT_GE(at, 1078u);
        const std::int32_t row = static_cast<std::int32_t>((at - 1078) / stride);
        const std::int32_t col = static_cast<std::int32_t>((at - 1078) % stride) - x;
        const bool stem = row >= 44 && row <= 109 && col >= 21 && col <= 29;
        const bool foot = row >= 44 && row <= 52 && col >= 21 && col <= 65;
        EXPECT_TRUE(stem || foot) << "row " << row << " column " << col + x;
        EXPECT_EQ(value, 255);
        ++count;
    }
    EXPECT_EQ(count, 66u * 9u + 9u * 36u);
}

TEST_F(OutputMarkerTest, LetterLOnTheRightOrLeftSide) {
    const std::string before = make_bitmap(3000, 1536, 100);
    tvxtest::write_file(bmp_, before);
    ASSERT_EQ(Tavirex_MarkingInBitmap(bmp_.c_str(), 1), 0);
    std::string after = tvxtest::read_file(bmp_);
    expect_letter_l(before, after, 3000, 112);
    EXPECT_EQ(pixel(after, 3000, 44, 133), 255);  // corner of stem and foot
    EXPECT_EQ(pixel(after, 3000, 53, 140), 255);  // stem just above the foot
    EXPECT_EQ(pixel(after, 3000, 53, 142), 100);

    tvxtest::write_file(bmp_, before);
    ASSERT_EQ(Tavirex_MarkingInBitmap(bmp_.c_str(), 0), 0);
    after = tvxtest::read_file(bmp_);
    expect_letter_l(before, after, 3000, 2888);
    EXPECT_EQ(pixel(after, 3000, 109, 2909), 255);
    EXPECT_EQ(pixel(after, 3000, 110, 2909), 100);
    // Any side other than 0 is the same as 1.
    tvxtest::write_file(bmp_, before);
    ASSERT_EQ(Tavirex_MarkingInBitmap(bmp_.c_str(), -7), 0);
    expect_letter_l(before, tvxtest::read_file(bmp_), 3000, 112);
}

TEST_F(OutputMarkerTest, PaddingBytesOfTheBandAreKept) {
    const std::string before = make_bitmap(1001, 200, 10, 0x5A);
    tvxtest::write_file(bmp_, before);
    ASSERT_EQ(Tavirex_MarkingInBitmap(bmp_.c_str(), 0), 0);
    const std::string after = tvxtest::read_file(bmp_);
    expect_letter_l(before, after, 1001, 889);
    for (int row = 32; row < 128; ++row)
        for (int col = 1001; col < 1004; ++col) EXPECT_EQ(pixel(after, 1001, row, col), 0x5A);
}

TEST_F(OutputMarkerTest, TomographicLettersOnRoundedSquares) {
    const std::int32_t w = 640;
    const std::string before = make_bitmap(w, 120, 100);
    tvxtest::write_file(bmp_, before);
    ASSERT_EQ(Tavirex_MarkingInBitmap_Tomo(bmp_.c_str(), 0), 0);
    const std::string after = tvxtest::read_file(bmp_);
    // Only stored rows 32..101, columns 30..99 (A) and 540..609 (P) change.
    for (const auto& [at, value] : changes(before, after)) {
        const std::size_t row = (at - 1078) / 640, col = (at - 1078) % 640;
        EXPECT_TRUE(row >= 32 && row <= 101 && ((col >= 30 && col <= 99) || (col >= 540 && col <= 609)))
            << row << " " << col;
    }
    auto expect_row = [&](int row, int x0, const std::vector<std::pair<int, int>>& spans) {
        // spans: (last column offset, value) runs from offset 0 on.
        int k = 0;
        for (const auto& [last, value] : spans)
            for (; k <= last; ++k) EXPECT_EQ(pixel(after, w, row, x0 + k), value) << "row " << row << " k " << k;
        EXPECT_EQ(k, 70);
    };
    // Top row of the square (stored row 101, pattern row 0): 9 corner columns each side show the image.
    expect_row(101, 30, {{8, 100}, {60, 0}, {69, 100}});
    expect_row(101, 540, {{8, 100}, {60, 0}, {69, 100}});
    // Pattern row 1: corners 5 left, 6 right; A's apex at 32..37; P's top bar 13..45.
    expect_row(100, 30, {{4, 100}, {31, 0}, {37, 255}, {63, 0}, {69, 100}});
    expect_row(100, 540, {{4, 100}, {12, 0}, {45, 255}, {63, 0}, {69, 100}});
    // Pattern row 34 (stored row 67): A's legs 21..27 and 42..48; P's lower bar 13..55.
    expect_row(67, 30, {{20, 0}, {27, 255}, {41, 0}, {48, 255}, {69, 0}});
    expect_row(67, 540, {{12, 0}, {55, 255}, {69, 0}});
    // Pattern row 44 (stored row 57): A's crossbar over 18..51 (q = 14); P's stem 13..19.
    expect_row(57, 30, {{17, 0}, {51, 255}, {69, 0}});
    expect_row(57, 540, {{12, 0}, {19, 255}, {69, 0}});
    // Pattern row 20 (stored row 81): P's bowl stroke 51..57 beside the stem.
    expect_row(81, 540, {{12, 0}, {19, 255}, {50, 0}, {57, 255}, {69, 0}});
    // Bottom row (stored row 32, pattern row 69): corners 9 and 9.
    expect_row(32, 30, {{8, 100}, {60, 0}, {69, 100}});

    // Side 1 swaps the letters.
    tvxtest::write_file(bmp_, before);
    ASSERT_EQ(Tavirex_MarkingInBitmap_Tomo(bmp_.c_str(), 1), 0);
    const std::string swapped = tvxtest::read_file(bmp_);
    EXPECT_EQ(pixel(swapped, w, 100, 30 + 13), 255);   // P's top bar
    EXPECT_EQ(pixel(swapped, w, 100, 540 + 13), 0);    // beside A's apex
    EXPECT_EQ(pixel(swapped, w, 100, 540 + 32), 255);  // A's apex
}

TEST_F(OutputMarkerTest, TooSmallBitmapsAreRefusedUnchanged) {
    struct Case {
        std::int32_t width, height, side;
        bool tomo, fits;
    };
    const Case cases[] = {
        {3000, 127, 1, false, false}, {3000, 128, 1, false, true}, {207, 200, 1, false, false},
        {208, 200, 1, false, true},   {111, 200, 0, false, false}, {112, 200, 0, false, true},
        {640, 101, 0, true, false},   {640, 102, 0, true, true},   {99, 200, 1, true, false},
        {100, 200, 1, true, true},
    };
    for (const Case& c : cases) {
        const std::string before = make_bitmap(c.width, c.height, 77, 3);
        tvxtest::write_file(bmp_, before);
        const std::int32_t rc = c.tomo ? Tavirex_MarkingInBitmap_Tomo(bmp_.c_str(), c.side)
                                       : Tavirex_MarkingInBitmap(bmp_.c_str(), c.side);
        EXPECT_EQ(rc, c.fits ? 0 : TAVIREX_E_MARKER) << c.width << "x" << c.height;
        const std::string after = tvxtest::read_file(bmp_);
        EXPECT_EQ(after.size(), before.size());
        if (!c.fits) {
            EXPECT_EQ(after, before) << c.width << "x" << c.height;
        }
    }
}

TEST_F(OutputMarkerTest, OtherFilesAndMissingPaths) {
    const std::string good = make_bitmap(300, 200, 50);
    std::string truncated = good.substr(0, 1078 + 300 * 100);  // header promises 200 rows
    std::string deep = good;
    deep[28] = 24;
    std::string topDown = good;
    topDown.replace(22, 4, std::string("\x38\xFF\xFF\xFF", 4));  // height -200
    for (const std::string& f : {std::string("not a bitmap at all"), truncated, deep, topDown}) {
        tvxtest::write_file(bmp_, f);
        EXPECT_EQ(Tavirex_MarkingInBitmap(bmp_.c_str(), 1), TAVIREX_E_MARKER);
        EXPECT_EQ(Tavirex_MarkingInBitmap_Tomo(bmp_.c_str(), 1), TAVIREX_E_MARKER);
        EXPECT_EQ(tvxtest::read_file(bmp_), f);
    }
    const std::string missing = dir_.file("missing.bmp");
    EXPECT_EQ(Tavirex_MarkingInBitmap(missing.c_str(), 0), TAVIREX_E_MARKER);
    EXPECT_EQ(Tavirex_MarkingInBitmap_Tomo(missing.c_str(), 0), TAVIREX_E_MARKER);
    EXPECT_FALSE(tvxtest::file_exists(missing));
    EXPECT_EQ(Tavirex_MarkingInBitmap(nullptr, 0), TAVIREX_E_MARKER);
}

}  // namespace
