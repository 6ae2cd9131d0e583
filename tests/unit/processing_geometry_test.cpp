// Steps 4 and 5: chip joining and opening fill.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "processing/steps.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

using tvx::core::ImageView;
namespace proc = tvx::processing;
struct Xy {
    std::uint16_t v[tvx::kXyCorrCount];
};
const Xy kXy = {{0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1}};

using GeometryTest = tvxtest::LibraryTest;

// Pixel (x, y) = 16 y + x, so every output pixel names its source.
int src(int x, int y) { return 16 * y + x; }

TEST_F(GeometryTest, JoiningTurnsTheImageUpsideDownShiftsTheThirdChipOrRefuses) {
    struct Row {
        std::uint32_t w, h;
        std::uint16_t xpos2, ypos2, upper;
        int fail, code;
        std::uint32_t out_w, out_h;
        std::vector<std::array<int, 3>> at;  // {x, y, value} in the joined image
    };
    const Row rows[] = {
        // Panoramic: upside down, width trimmed to a multiple of 4.
        {7, 1536, 0, 767, 0, 0, 0, 4, 1536, {{0, 0, src(0, 1535)}, {3, 0, src(3, 1535)}, {3, 1535, src(3, 0)}}},
        // Cephalometric: the third chip starts one row early.
        {12, 2304, 0, 767, 0, 0, 0, 12, 2303, {{0, 1534, src(0, 769)}, {0, 1535, src(0, 767)}, {5, 2302, src(5, 0)}}},
        // Only the third chip moves right; the columns it leaves are 0.
        {12, 2304, 5, 767, 0, 0, 0, 12, 2303,
         {{0, 1535, 0}, {4, 1535, 0}, {5, 1535, src(0, 767)}, {11, 1535, src(6, 767)}, {0, 1534, src(0, 769)}}},
        // A column offset configured as -3, and two more rows skipped at the top of the third chip.
        {12, 2304, 0xFFFD, 767, 2, 0, 0, 12, 2301, {{0, 1535, src(3, 765)}, {8, 1535, src(11, 765)}, {9, 1535, 0}}},
        // Refused, image unchanged: not whole chips, 2336 rows, shift past the row, no memory.
        {8, 1535, 0, 767, 0, 0, TAVIREX_E_RANGE, 0, 0, {}},
        {8, 2304, 0, 800, 0, 0, TAVIREX_E_RANGE, 0, 0, {}},
        {8, 2304, 9, 767, 0, 0, TAVIREX_E_RANGE, 0, 0, {}},
        {8, 2304, 0, 767, 0, 1, TAVIREX_E_NO_MEMORY, 0, 0, {}},
    };
    for (const Row& r : rows) {
        std::vector<std::uint16_t> px(r.w * r.h);
        for (std::uint32_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(src(i % r.w, i / r.w));
        const auto before = px;
        std::uint32_t w = 0, h = 0;
        std::optional<tvxtest::FailAllocation> fail;
        if (r.fail) fail.emplace(r.fail);
        ASSERT_EQ(proc::join_ccd_chips(ImageView{px.data(), r.w, r.h}, r.xpos2, r.ypos2, r.upper, &w, &h), r.code)
            << r.h << " " << r.xpos2 << " " << r.ypos2;
        if (r.code) {
            EXPECT_EQ(px, before) << r.h << " " << r.xpos2 << " " << r.ypos2;
            continue;
        }
        EXPECT_EQ(std::make_pair(w, h), std::make_pair(r.out_w, r.out_h)) << r.xpos2;
        for (const auto& a : r.at) EXPECT_EQ(px[a[1] * w + a[0]], a[2]) << r.xpos2 << " " << a[0] << "," << a[1];
    }
}

TEST_F(GeometryTest, OpeningsAreInterpolatedOverTheCutRowsOrRefused) {
    // Panoramic: row 0 moves out at the top, the cut rows 767 and 768 are replaced,
    // row 1535 moves down by one; row 766 is 4/5 of row 765 and 1/5 of row 770.
    std::vector<std::uint16_t> pano(1536);
    for (std::uint32_t y = 0; y < 1536; ++y) pano[y] = y < 768 ? 100 : 600;
    pano[0] = 7;
    pano[767] = pano[768] = 4000;
    pano[1535] = 9;
    ASSERT_EQ(proc::fill_opening_pano(ImageView{pano.data(), 1, 1536}, kXy.v), 0);
    for (const auto& r : {std::array<int, 2>{0, 100}, {765, 100}, {766, 200}, {767, 300}, {768, 400}, {769, 500},
                          {770, 600}, {1534, 600}, {1535, 600}})
        EXPECT_EQ(pano[r[0]], r[1]) << r[0];
    // Cephalometric on a ramp of 10 per row.
    std::vector<std::uint16_t> ceph(2303);
    for (std::uint32_t y = 0; y < 2303; ++y) ceph[y] = static_cast<std::uint16_t>(10 * y);
    ASSERT_EQ(proc::fill_opening_ceph(ImageView{ceph.data(), 1, 2303}, kXy.v), 0);
    for (const auto& r : {std::array<int, 2>{0, 20}, {764, 7660}, {765, 7666}, {766, 7672}, {767, 7678}, {768, 7684},
                          {769, 7690}, {1534, 15340}, {1535, 15344}, {1536, 15348}, {1537, 15352}, {1538, 15356},
                          {1539, 15360}, {2302, 22990}})
        EXPECT_EQ(ceph[r[0]], r[1]) << r[0];

    // Openings reaching the image edge, or a second joint past the image, are refused and change nothing.
    Xy gap = kXy, cuts = kXy, joint = kXy;
    gap.v[tvx::kCcdGap] = 4;
    cuts.v[tvx::kCcdGap] = cuts.v[tvx::kLowerCut01] = 0;
    cuts.v[tvx::kUpperCut01] = 3;
    joint.v[tvx::kYPos2] = 2000;
    std::vector<std::uint16_t> tiny = {1, 2, 3, 4, 5, 6};
    const auto ceph_before = ceph;
    EXPECT_EQ(proc::fill_opening_pano(ImageView{tiny.data(), 1, 6}, gap.v), TAVIREX_E_RANGE);
    EXPECT_EQ(proc::fill_opening_pano(ImageView{tiny.data(), 1, 6}, cuts.v), TAVIREX_E_RANGE);
    EXPECT_EQ(proc::fill_opening_ceph(ImageView{ceph.data(), 1, 2303}, joint.v), TAVIREX_E_RANGE);
    EXPECT_EQ(tiny, (std::vector<std::uint16_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ceph, ceph_before);
}

}  // namespace
