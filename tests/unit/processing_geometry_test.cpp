// Steps 4 and 5: chip joining and opening fill.
#include <gtest/gtest.h>

#include <vector>

#include "api/context.h"
#include "core/alloc.h"
#include "processing/steps.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

using tvx::core::ImageView;
namespace proc = tvx::processing;

class GeometryTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }

    // Pixel (x, y) = 16 y + x, so every output pixel names its source.
    ImageView make(std::uint32_t w, std::uint32_t h) {
        px.resize(static_cast<std::size_t>(w) * h);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) px[y * w + x] = static_cast<std::uint16_t>(16 * y + x);
        return ImageView{px.data(), w, h};
    }
    static std::uint16_t src(std::uint32_t x, std::uint32_t y) { return static_cast<std::uint16_t>(16 * y + x); }

    std::vector<std::uint16_t> px;
    std::uint32_t w = 0, h = 0;
};

TEST_F(GeometryTest, PanoramicJoiningTurnsTheImageUpsideDown) {
    ImageView img = make(7, 1536);
    ASSERT_EQ(proc::join_ccd_chips(img, 0, 767, 0, &w, &h), 0);
    EXPECT_EQ(w, 4u);  // 7 trimmed to a multiple of 4
    EXPECT_EQ(h, 1536u);
    const ImageView out{px.data(), w, h};
    EXPECT_EQ(out.at(0, 0), src(0, 1535));
    EXPECT_EQ(out.at(3, 0), src(3, 1535));
    EXPECT_EQ(out.at(3, 1535), src(3, 0));
}

TEST_F(GeometryTest, CephalometricThirdChipOverlapsAndShifts) {
    ImageView img = make(12, 2304);
    ASSERT_EQ(proc::join_ccd_chips(img, 0, 767, 0, &w, &h), 0);
    EXPECT_EQ(w, 12u);
    EXPECT_EQ(h, 2303u);
    ImageView out{px.data(), w, h};
    EXPECT_EQ(out.at(0, 1534), src(0, 769));
    EXPECT_EQ(out.at(0, 1535), src(0, 767));  // the third chip starts one row early
    EXPECT_EQ(out.at(5, 2302), src(5, 0));

    img = make(12, 2304);
    ASSERT_EQ(proc::join_ccd_chips(img, 5, 767, 0, &w, &h), 0);
    out = ImageView{px.data(), w, h};
    for (std::uint32_t x = 0; x < 5; ++x) EXPECT_EQ(out.at(x, 1535), 0);
    EXPECT_EQ(out.at(5, 1535), src(0, 767));
    EXPECT_EQ(out.at(11, 1535), src(6, 767));
    EXPECT_EQ(out.at(0, 1534), src(0, 769));  // the second chip is not shifted

    img = make(12, 2304);  // a column offset configured as -3
    ASSERT_EQ(proc::join_ccd_chips(img, static_cast<std::uint16_t>(-3), 767, 2, &w, &h), 0);
    out = ImageView{px.data(), w, h};
    EXPECT_EQ(h, 2301u);  // two more rows skipped at the top of the third chip
    EXPECT_EQ(out.at(0, 1535), src(3, 765));
    EXPECT_EQ(out.at(8, 1535), src(11, 765));
    EXPECT_EQ(out.at(9, 1535), 0);
}

TEST_F(GeometryTest, JoiningRefusesWhatDoesNotFit) {
    ImageView img = make(8, 1535);
    EXPECT_EQ(proc::join_ccd_chips(img, 0, 767, 0, &w, &h), TAVIREX_E_RANGE);
    EXPECT_EQ(img.at(1, 0), src(1, 0));

    img = make(8, 2304);
    EXPECT_EQ(proc::join_ccd_chips(img, 0, 800, 0, &w, &h), TAVIREX_E_RANGE);  // 2336 rows
    EXPECT_EQ(proc::join_ccd_chips(img, 9, 767, 0, &w, &h), TAVIREX_E_RANGE);  // shift past the row
    EXPECT_EQ(img.at(1, 0), src(1, 0));
    EXPECT_EQ(img.at(7, 2303), src(7, 2303));

    tvxtest::FailAllocation fail(1);
    EXPECT_EQ(proc::join_ccd_chips(img, 0, 767, 0, &w, &h), TAVIREX_E_NO_MEMORY);
    EXPECT_EQ(img.at(1, 0), src(1, 0));
}

TEST_F(GeometryTest, PanoramicOpeningIsInterpolatedOverTheCutRows) {
    std::vector<std::uint16_t> col(1536);
    for (std::uint32_t y = 0; y < 1536; ++y) col[y] = y < 768 ? 100 : 600;
    col[0] = 7;        // moves out at the top
    col[767] = 4000;   // lower cut row of the upper chip
    col[768] = 4000;   // upper cut row of the lower chip
    col[1535] = 9;     // stays, moved down by one
    ImageView img{col.data(), 1, 1536};
    std::uint16_t xy[tvx::kXyCorrCount] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};
    ASSERT_EQ(proc::fill_opening_pano(img, xy), 0);
    EXPECT_EQ(col[0], 100);
    EXPECT_EQ(col[765], 100);
    EXPECT_EQ(col[766], 200);  // 4/5 of row 765 and 1/5 of row 770
    EXPECT_EQ(col[767], 300);
    EXPECT_EQ(col[768], 400);
    EXPECT_EQ(col[769], 500);
    EXPECT_EQ(col[770], 600);
    EXPECT_EQ(col[1534], 600);
    EXPECT_EQ(col[1535], 600);

    // Openings reaching the image edge are refused and change nothing.
    std::uint16_t small[6] = {1, 2, 3, 4, 5, 6};
    ImageView tiny{small, 1, 6};
    xy[tvx::kCcdGap] = 4;
    EXPECT_EQ(proc::fill_opening_pano(tiny, xy), TAVIREX_E_RANGE);
    xy[tvx::kCcdGap] = 0;
    xy[tvx::kLowerCut01] = 0;
    xy[tvx::kUpperCut01] = 3;
    EXPECT_EQ(proc::fill_opening_pano(tiny, xy), TAVIREX_E_RANGE);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(small[i], i + 1);
}

TEST_F(GeometryTest, CephalometricOpeningsWithDefaults) {
    std::vector<std::uint16_t> col(2303);
    for (std::uint32_t y = 0; y < 2303; ++y) col[y] = static_cast<std::uint16_t>(10 * y);
    ImageView img{col.data(), 1, 2303};
    std::uint16_t xy[tvx::kXyCorrCount] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};
    ASSERT_EQ(proc::fill_opening_ceph(img, xy), 0);
    EXPECT_EQ(col[0], 20);
    EXPECT_EQ(col[764], 7660);
    const std::uint16_t first[4] = {7666, 7672, 7678, 7684};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(col[765 + i], first[i]);
    EXPECT_EQ(col[769], 7690);
    EXPECT_EQ(col[1534], 15340);
    const std::uint16_t second[4] = {15344, 15348, 15352, 15356};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(col[1535 + i], second[i]);
    EXPECT_EQ(col[1539], 15360);
    EXPECT_EQ(col[2302], 22990);

    xy[tvx::kYPos2] = 2000;  // second joint past the image
    std::vector<std::uint16_t> before = col;
    EXPECT_EQ(proc::fill_opening_ceph(img, xy), TAVIREX_E_RANGE);
    EXPECT_EQ(col, before);
}

}  // namespace
