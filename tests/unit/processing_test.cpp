// The processing steps on hand-made images and blocks, and the three
// processing exports: validation, display order, separator bands, the raw
// file, failure codes and allocation failures.
#include <cmath>

#include "state/context.h"
#include "processing/steps.h"
#include "support/support.h"

namespace {

using tvx::core::ImageView;
using tvxtest::bytes_of;
using tvxtest::read_words;
using Pixels = tvxtest::Words;
namespace proc = tvx::processing;

// Line table: count, positions, heights, little-endian 16-bit.
std::string line_table(const std::vector<int>& pos, const std::vector<int>& hei) {
    std::vector<std::uint16_t> w{static_cast<std::uint16_t>(pos.size())};
    for (const auto* list : {&pos, &hei})
        for (int v : *list) w.push_back(static_cast<std::uint16_t>(v));
    return bytes_of(w);
}

class CorrectionTest : public tvxtest::LibraryTest {
protected:
    // A panoramic single pass: 4096 columns, the picture ends 4 columns before the
    // block end, so columns 4092..4095 are the dark samples.
    proc::DarkOffsetParams dark() { return {clock.data(), 4096, 0, 1, start, width}; }
    std::vector<std::uint16_t> clock = std::vector<std::uint16_t>(4096, 12);
    std::uint16_t start[4] = {0, 0, 0, 0};
    std::uint16_t width[4] = {4028, 0, 0, 0};
};

TEST_F(CorrectionTest, DarkLevelIsFittedAgainstTheClockSumAndSubtracted) {
    // {period of the columns 4091..4094, cells {x, y, before, after}}; other pixels 1000.
    const struct Row { std::uint16_t sample_clock; std::vector<std::array<int, 4>> cells; } rows[] = {
        // Constant clock: row 0 samples 10, 20, 30, 40 (mean 25), row 1 samples 0. Results below
        // 0 are 0, not wrapped; results above the range 4095.
        {12, {{0, 0, 100, 75},    {1, 0, 10, 0},       {2, 0, 5000, 4095}, {3, 0, 1000, 975}, {4092, 0, 10, 0},
              {4093, 0, 20, 0},   {4094, 0, 30, 5},    {4095, 0, 40, 15},  {0, 1, 4095, 4095}, {1, 1, 6000, 4095},
              {3, 1, 1000, 1000}, {4092, 1, 0, 0},     {4093, 1, 0, 0},    {4094, 1, 0, 0},   {4095, 1, 0, 0}}},
        // Clock sums 778, 788, 798, 808 at the samples, 768 elsewhere. Row 0 lies on x = 0.5 y - 300
        // (84 at 768); row 1 on x = 2 y - 1550, negative at 768, where it counts as 0.
        {22, {{0, 0, 1000, 916}, {4091, 0, 1000, 916}, {4092, 0, 89, 0}, {4093, 0, 94, 0}, {4094, 0, 99, 0},
              {4095, 0, 104, 0}, {0, 1, 1000, 1000},   {4092, 1, 6, 0},  {4093, 1, 26, 0}, {4094, 1, 46, 0},
              {4095, 1, 66, 0}}},
    };
    for (const Row& r : rows) {
        for (int c = 4091; c <= 4094; ++c) clock[c] = r.sample_clock;
        std::vector<std::uint16_t> px(2 * 4096, 1000);
        for (const auto& c : r.cells) px[c[1] * 4096 + c[0]] = static_cast<std::uint16_t>(c[2]);
        ASSERT_EQ(proc::remove_dark_offset(ImageView{px.data(), 4096, 2}, dark()), 0);
        for (const auto& c : r.cells)
            EXPECT_EQ(px[c[1] * 4096 + c[0]], c[3]) << r.sample_clock << ": " << c[0] << "," << c[1];
    }
    // Without samples or tables nothing changes.
    clock.assign(4096, 12);
    Pixels px(4096, 1000);
    px[4092] = 500;
    const auto before = px;
    const auto run = [&](const proc::DarkOffsetParams& p, std::uint32_t w = 4096) {
        return proc::remove_dark_offset(ImageView{px.data(), w, 1}, p);
    };
    // A picture wider than the block (the sample count would be negative and counts as 0); a table shorter
    // than the block; no table; an image narrower than the table.
    const std::uint16_t wide[4] = {4096, 0, 0, 0};
    EXPECT_EQ(Codes({run({clock.data(), 4096, 0, 1, start, wide}), run({clock.data(), 4000, 0, 1, start, width}),
                                         run({nullptr, 4096, 0, 1, start, width}), run(dark(), 4000)}),
              Codes({0, TAVIREX_E_RANGE, TAVIREX_E_RANGE, TAVIREX_E_RANGE}));
    EXPECT_EQ(px, before);
}

TEST_F(CorrectionTest, ShadingLooksUpEachRowsTableOrRefusesTheFile) {
    Pixels tables(2 * 4096);
    for (std::uint16_t v = 0; v < 4096; ++v) tables[v] = v / 2, tables[4096 + v] = 4095 - v;  // row 0 halves, row 1 inverts
    tvxtest::write_file(dir.file("calib.bin"), bytes_of(tables));
    Pixels px = {100, 4095, 5000, 0, 7, 60000};  // above the range: the last entry
    ASSERT_EQ(proc::correct_shading(ImageView{px.data(), 3, 2}, dir.file("calib.bin").c_str()), 0);
    EXPECT_EQ(px, (Pixels{50, 2047, 2047, 4095, 4088, 0}));
    // Files one byte too long or short, or missing: refused, the image unchanged.
    const std::string exact(2 * 4096 * 2, '\x01');
    tvxtest::write_file(dir.file("long.bin"), exact + "x");
    tvxtest::write_file(dir.file("short.bin"), exact.substr(1));
    tvxtest::write_file(dir.file("ok.bin"), exact);
    std::uint16_t two[2] = {10, 20};
    const auto shade = [&two, this](const char* file) { return proc::correct_shading(ImageView{two, 1, 2}, dir.file(file).c_str()); };
    EXPECT_EQ(Codes({shade("long.bin"), shade("short.bin"), shade("none.bin"), two[0], two[1]}),
              Codes({TAVIREX_E_DATA_SIZE, TAVIREX_E_DATA_SIZE, TAVIREX_E_DATA_FILE, 10, 20}));
    EXPECT_EQ(shade("ok.bin"), 0);
    EXPECT_EQ(two[0], 0x0101);
}

TEST_F(CorrectionTest, InjectionBandsAreInterpolatedBetweenTheirNeighbours) {
    // Band at 800 (row 32 after removing half the height), height 2; band at 700 is skipped;
    // bands of height 0 and -1 change nothing; a band touching the last row is skipped.
    tvxtest::write_file(dir.file("lines.dat"), line_table({800, 700, 900, 901, 2302}, {2, 3, 0, -1, 2}));
    Pixels px(2u * 1536, 500);
    px[2 * 31] = 100, px[2 * 34] = 400;      // column 0: rows 31 and 34 around the band
    px[2 * 31 + 1] = 401, px[2 * 34 + 1] = 100;  // column 1
    ASSERT_EQ(proc::correct_injection_lines(ImageView{px.data(), 2, 1536}, dir.file("lines.dat").c_str(), true), 0);
    // 400 + 2/3 (100 - 400), 400 + 1/3 (100 - 400); trunc(100 + 2/3 x 301), trunc(100 + 1/3 x 301).
    const int want[][3] = {{0, 32, 200}, {0, 33, 300}, {1, 32, 300}, {1, 33, 200}};
    for (const auto& c : want) EXPECT_EQ(px[2 * c[1] + c[0]], c[2]) << c[0] << "," << c[1];
    for (std::uint32_t y = 0; y < 1536; ++y) EXPECT_TRUE(px[2 * y] == 500 || (y >= 31 && y <= 34)) << y;

    // Cephalometric positions are used as stored. Row 0 has no row above and a band at the last row none below: both are skipped.
    tvxtest::write_file(dir.file("lines.dat"), line_table({0, 2, 6}, {1, 1, 1}));
    px = {10, 20, 99, 40, 50, 60, 77};
    ASSERT_EQ(proc::correct_injection_lines(ImageView{px.data(), 1, 7}, dir.file("lines.dat").c_str(), false), 0);
    EXPECT_EQ(px, (Pixels{10, 20, 30, 40, 50, 60, 77}));
    // 90 + 2/3 (30 - 90), 90 + 1/3 (30 - 90).
    tvxtest::write_file(dir.file("lines.dat"), line_table({3}, {2}));
    px[5] = 90;
    ASSERT_EQ(proc::correct_injection_lines(ImageView{px.data(), 1, 7}, dir.file("lines.dat").c_str(), false), 0);
    EXPECT_EQ(px, (Pixels{10, 20, 30, 50, 70, 90, 77}));
}

TEST_F(CorrectionTest, LineTableErrors) {
    std::uint16_t px[4] = {1, 2, 3, 4};
    const auto run = [&](const std::string& bytes) {
        tvxtest::write_file(dir.file("t.dat"), bytes);
        return proc::correct_injection_lines(ImageView{px, 1, 4}, dir.file("t.dat").c_str(), false);
    };
    EXPECT_EQ(run(std::string("\0\0", 2)), 0);
    for (const std::string& bad : {std::string("\0\0\0", 3), std::string(), std::string("\x01", 1),
                                   line_table({2}, {1}).substr(0, 5), line_table({2}, {1}) + "x"})
        EXPECT_EQ(run(bad), TAVIREX_E_DATA_CONTENT) << bad.size();
    EXPECT_EQ(proc::correct_injection_lines(ImageView{px, 1, 4}, dir.file("none.dat").c_str(), false), TAVIREX_E_DATA_FILE);
    EXPECT_EQ(Pixels(px, px + 4), (Pixels{1, 2, 3, 4}));
}

struct Xy { std::uint16_t v[tvx::kXyCorrCount]; };
const Xy kXy = {{0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1}};

using GeometryTest = tvxtest::LibraryTest;

// Pixel (x, y) = 16 y + x, so every output pixel names its source.
int src(int x, int y) { return 16 * y + x; }

TEST_F(GeometryTest, JoiningTurnsTheImageUpsideDownShiftsTheThirdChipOrRefuses) {
    // {w, h, XPOS2, YPOS2, UPPER_YPOS2, result, joined w, h, cells {x, y, value}}
    const struct Row {
        std::uint32_t w, h; std::uint16_t xpos2, ypos2, upper; int code; std::uint32_t out_w, out_h; std::vector<std::array<int, 3>> at;
    } rows[] = {
        // Panoramic: upside down, width trimmed to a multiple of 4.
        {7, 1536, 0, 767, 0, 0, 4, 1536, {{0, 0, src(0, 1535)}, {3, 0, src(3, 1535)}, {3, 1535, src(3, 0)}}},
        // Cephalometric: the third chip starts one row early.
        {12, 2304, 0, 767, 0, 0, 12, 2303, {{0, 1534, src(0, 769)}, {0, 1535, src(0, 767)}, {5, 2302, src(5, 0)}}},
        // Only the third chip moves right; the columns it leaves are 0.
        {12, 2304, 5, 767, 0, 0, 12, 2303,
         {{0, 1535, 0}, {4, 1535, 0}, {5, 1535, src(0, 767)}, {11, 1535, src(6, 767)}, {0, 1534, src(0, 769)}}},
        // A column offset configured as -3, and two more rows skipped at the top of the third chip.
        {12, 2304, 0xFFFD, 767, 2, 0, 12, 2301, {{0, 1535, src(3, 765)}, {8, 1535, src(11, 765)}, {9, 1535, 0}}},
        // Refused, image unchanged: not whole chips, 2336 rows, shift past the row.
        {8, 1535, 0, 767, 0, TAVIREX_E_RANGE, 0, 0, {}}, {8, 2304, 0, 800, 0, TAVIREX_E_RANGE, 0, 0, {}},
        {8, 2304, 9, 767, 0, TAVIREX_E_RANGE, 0, 0, {}},
    };
    for (const Row& r : rows) {
        Pixels px(r.w * r.h);
        for (std::uint32_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(src(i % r.w, i / r.w));
        const auto before = px;
        std::uint32_t w = 0, h = 0;
        ASSERT_EQ(proc::join_ccd_chips(ImageView{px.data(), r.w, r.h}, r.xpos2, r.ypos2, r.upper, &w, &h), r.code) << r.h << " " << r.xpos2;
        EXPECT_TRUE(r.code ? px == before : std::make_pair(w, h) == std::make_pair(r.out_w, r.out_h)) << r.h << " " << r.xpos2;
        for (const auto& a : r.at) EXPECT_EQ(px[a[1] * w + a[0]], a[2]) << r.xpos2 << " " << a[0] << "," << a[1];
    }
}

TEST_F(GeometryTest, OpeningsAreInterpolatedOverTheCutRowsOrRefused) {
    // Panoramic: row 0 moves out at the top, the cut rows 767 and 768 are replaced,
    // row 1535 moves down by one; row 766 is 4/5 of row 765 and 1/5 of row 770,
    // 80 + 120.6 truncated to 200; row 768 is 40 + 361.8, 401.
    Pixels pano(1536);
    for (std::uint32_t y = 0; y < 1536; ++y) pano[y] = y < 768 ? 100 : 603;
    pano[0] = 7, pano[767] = pano[768] = 4000, pano[1535] = 9;
    ASSERT_EQ(proc::fill_opening_pano(ImageView{pano.data(), 1, 1536}, kXy.v), 0);
    for (const auto& r : {std::array<int, 2>{0, 100}, {765, 100}, {766, 200}, {767, 301}, {768, 401}, {769, 502},
                          {770, 603}, {1534, 603}, {1535, 603}})
        EXPECT_EQ(pano[r[0]], r[1]) << r[0];
    // Cephalometric on a ramp of 10 per row.
    Pixels ceph(2303);
    for (std::uint32_t y = 0; y < 2303; ++y) ceph[y] = static_cast<std::uint16_t>(10 * y);
    ASSERT_EQ(proc::fill_opening_ceph(ImageView{ceph.data(), 1, 2303}, kXy.v), 0);
    for (const auto& r : {std::array<int, 2>{0, 20}, {764, 7660}, {765, 7666}, {766, 7672}, {767, 7678}, {768, 7684},
                          {769, 7690}, {1534, 15340}, {1535, 15344}, {1536, 15348}, {1537, 15352}, {1538, 15356},
                          {1539, 15360}, {2302, 22990}})
        EXPECT_EQ(ceph[r[0]], r[1]) << r[0];
    // An odd panoramic opening of 3 on 12 rows: the upper chip moves up 2 rows, the lower chip down 1, and
    // rows 3..7 run from row 2 (40) to row 8 (77) with D = 6. Cephalometric on 20 rows of y^3, joints at 4
    // and 4 + 8 - 2: row 0 is row 2, rows 14.. move down 3, rows 1..4 run from 8 to 125, rows 10..13 from 729 to 1331.
    Xy odd = kXy, near = kXy;
    odd.v[tvx::kCcdGap] = 3, near.v[tvx::kYPos] = 4, near.v[tvx::kYPos2] = 8, near.v[tvx::kUpperYPos] = 2;
    Pixels twelve = {0, 10, 20, 30, 40, 50, 60, 77, 80, 90, 100, 110}, cubes(20);
    for (std::uint32_t y = 0; y < 20; ++y) cubes[y] = static_cast<std::uint16_t>(y * y * y);
    EXPECT_EQ(Codes({proc::fill_opening_pano(ImageView{twelve.data(), 1, 12}, odd.v),
                     proc::fill_opening_ceph(ImageView{cubes.data(), 1, 20}, near.v)}), Codes({0, 0}));
    EXPECT_EQ(twelve, (Pixels{20, 30, 40, 46, 52, 58, 64, 70, 77, 80, 90, 100}));
    EXPECT_EQ(cubes, (Pixels{8, 31, 54, 78, 101, 125, 216, 343, 512, 729, 849, 969, 1090, 1210, 1331, 1728, 2197,
                             2744, 3375, 4096}));

    // Openings reaching the image edge, or a second joint past the image, are refused and change nothing.
    Xy gap = kXy, cuts = kXy, joint = kXy;
    gap.v[tvx::kCcdGap] = 4, joint.v[tvx::kYPos2] = 2000;
    cuts.v[tvx::kCcdGap] = cuts.v[tvx::kLowerCut01] = 0, cuts.v[tvx::kUpperCut01] = 3;
    Pixels tiny = {1, 2, 3, 4, 5, 6};
    const auto ceph_before = ceph;
    EXPECT_EQ(Codes({proc::fill_opening_pano(ImageView{tiny.data(), 1, 6}, gap.v),
                                         proc::fill_opening_pano(ImageView{tiny.data(), 1, 6}, cuts.v),
                                         proc::fill_opening_ceph(ImageView{ceph.data(), 1, 2303}, joint.v)}),
              Codes(3, TAVIREX_E_RANGE));
    EXPECT_TRUE(tiny == (Pixels{1, 2, 3, 4, 5, 6}) && ceph == ceph_before);
}

using BlockTest = tvxtest::LibraryTest;

ImageView view(Pixels& px, int w) {
    return ImageView{px.data(), static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(px.size() / w)};
}

// ---- step 7 -------------------------------------------------------------

TEST_F(BlockTest, NoiseRemovalTakesTheValueNearestTheWindowMean) {
    Pixels spike(25, 100);
    spike[12] = 4095;  // mean (8 x 100 + 4095) / 9 = 543: nearest value 100
    // Mean 10, values 7 and 13 equally near: the first in window order wins; the border is kept.
    Pixels tie = {7, 13, 13, 13, 13, 7, 7, 7, 13}, thin = {1, 900, 3, 4, 5, 6};  // thin: no inner pixel
    ASSERT_EQ(proc::remove_noise(view(spike, 5)) + proc::remove_noise(view(tie, 3)) + proc::remove_noise(view(thin, 2)), 0);
    EXPECT_EQ(spike, Pixels(25, 100));
    EXPECT_EQ(tie, (Pixels{7, 13, 13, 13, 7, 7, 7, 7, 13}));
    EXPECT_EQ(thin, (Pixels{1, 900, 3, 4, 5, 6}));
}

// ---- step 8 -------------------------------------------------------------

TEST_F(BlockTest, JointRowsTakeTheVerticallySmoothedAmbientBrightness) {
    // Weight {row, lower bound, upper bound} around the joint at 768; 6.28318 is just short of 2 pi.
    const double weights[][3] = {{768, 0, 0}, {688, 0.9999999, 1}, {847, 0.99, 1}, {767, 0, 1e-6}, {769, 0, 1e-6}};
    for (const auto& r : weights) {
        const double wt = proc::joint_weight(static_cast<std::int32_t>(r[0]), 768, 80, 80);
        EXPECT_TRUE(r[1] <= wt && wt <= r[2] && wt < 1.0) << r[0] << " " << wt;
    }
    // Panoramic: upper chip a horizontal ramp (pixel = column), lower chip black. Row 768
    // (weight 0) = chgsum: 30 rows of the upper ambient value, 31 rows of 0, over 61.
    Pixels px(100 * 1536, 0);
    for (int i = 0; i < 100 * 768; ++i) px[i] = static_cast<std::uint16_t>(i % 100);
    const Pixels before = px;
    ASSERT_EQ(proc::smooth_joint_brightness(view(px, 100), proc::JointSmoothingParams{}), 0);
    // Ambient of column 0: columns 0..30, 465 / 31 = 15; of 5: columns 0..35, 630 / 36 = 17; of 50: 50.
    EXPECT_EQ((Pixels{px[768 * 100 + 0], px[768 * 100 + 5], px[768 * 100 + 50]}), (Pixels{7, 8, 24}));
    for (int y : {0, 687, 848, 1535})
        for (int x = 0; x < 100; ++x) ASSERT_EQ(px[y * 100 + x], before[y * 100 + x]) << y;

    // Cephalometric: joints at 767 (YPOS less half the gap) and 1536 between chips of 1000, 1100 and
    // 1200; row 727 bright. There the weight is 1/4: (60 x 1000 + 2000) / 61 = 1016 x 3/4 + 2000 / 4.
    Pixels ceph(64 * 2304);
    for (int i = 0; i < 64 * 2304; ++i) ceph[i] = i < 64 * 767 ? (i / 64 == 727 ? 2000 : 1000) : (i < 64 * 1536 ? 1100 : 1200);
    proc::JointSmoothingParams p{.ceph_mode = 1};
    ASSERT_EQ(proc::smooth_joint_brightness(view(ceph, 64), p), 0);
    // (30 x 1000 + 31 x 1100) / 61 and (30 x 1100 + 31 x 1200) / 61 at the joints.
    EXPECT_EQ((Pixels{ceph[767 * 64 + 3], ceph[1536 * 64 + 3], ceph[727 * 64 + 3]}), (Pixels{1050, 1150, 1261}));

    // A sensor flag neither 0 nor 1 is refused.
    p.ceph_mode = 2;
    const Pixels kept = ceph;
    EXPECT_EQ(proc::smooth_joint_brightness(view(ceph, 64), p), TAVIREX_E_RANGE);
    EXPECT_EQ(ceph, kept);
}

// ---- steps 9 and 11 -------------------------------------------------------

TEST_F(BlockTest, ScaleOperationsOnHandMadeBlocks) {
    // {selector, width, many-side and few-side fractions, block before, after}
    const struct { std::uint8_t selector; int w; double many, few; Pixels px, out; } rows[] = {
        // Tone curve at median 0, limited to 552: K = 12272064 / 2991.
        {proc::kScaleToneCurve, 4, 0, 0, {0, 0, 0, 0, 1, 552, 4094, 4095}, {0, 0, 0, 0, 82, 2047, 4094, 4095}},
        // Uniform block: the clip keeps, the stretch zeroes, the curve maps 0 to 0.
        {7, 4, 0.001, 0.001, Pixels(12, 1234), Pixels(12, 0)},
        // Selector 0 changes nothing. Zero fractions: the clip changes nothing; the stretch maps 100..300
        // to 0..4095 (409500 / 200 + 0.5 = 2048, 204750 / 200 + 0.5 = 1024.25).
        {0, 2, 0, 0, {100, 200, 300, 150}, {100, 200, 300, 150}},
        {proc::kScaleClip | proc::kScaleStretch, 2, 0, 0, {100, 200, 300, 150}, {0, 2048, 4095, 1024}},
        // The median is the value that half the pixels reach: 600, which the curve maps to the middle.
        {proc::kScaleToneCurve, 2, 0, 0, {600, 1000, 600, 1000}, {2047, 2605, 2047, 2605}},
    };
    for (auto r : rows) {
        proc::correct_brightness_scale(r.selector, view(r.px, r.w), r.many, r.few);
        EXPECT_EQ(r.px, r.out) << int{r.selector};
    }
}

TEST_F(BlockTest, HistogramClipStopsAtTheFirstSparseValueAndLimitsOutliers) {
    // 100 pixels: 5 at 5, 50 at 10, 40 at 20, 5 at 30. tMany = tFew = trunc(100 x 10 x 0.01) = 10.
    // Median 10 (cumulative 55 >= 50). Down from 10: 9 has 0 < 10, so the low limit is 9; up: 11.
    Pixels px(100, 30);
    for (const auto& [end, v] : {std::pair{95, 20}, {55, 10}, {5, 5}}) std::fill(px.begin(), px.begin() + end, v);
    proc::clip_histogram(view(px, 10), 10, 10);
    for (const auto& [i, v] : {std::pair{0, 9}, {5, 10}, {60, 11}, {99, 11}}) EXPECT_EQ(px[i], v) << i;
    // Values outside the data range count at its ends and are limited by the clip and the
    // curve (60000 is -5536 as a signed pixel).
    Pixels wild = {60000, 5000, 3, 3}, curve = {60000, 5000};
    proc::clip_histogram(view(wild, 2), 0, 0);
    proc::apply_tone_curve(view(curve, 2));
    EXPECT_EQ(Pixels(wild.begin(), wild.begin() + 2), (Pixels{0, 4095}));
    EXPECT_EQ(curve, (Pixels{0, 4095}));
}

// ---- step 10 ------------------------------------------------------------

TEST_F(BlockTest, ContrastEmphasisOnHandMadeBlocks) {
    // Only 0 and 4095: no background; 4095 + 2048 is limited, never wrapped.
    Pixels px(30 * 20, 1000), ends = {0, 4095, 4095, 0};
    ASSERT_EQ(proc::emphasise_contrast(view(px, 30), 1.5, 200) + proc::emphasise_contrast(view(ends, 2), 1.5, 200), 0);
    EXPECT_EQ(px, Pixels(30 * 20, 2048));
    EXPECT_EQ(ends, (Pixels{2048, 4095, 4095, 2048}));

    // Informative values 100, 100, 100, 1000: mean 325, variance 151875, s = 1.5 x 389.7.
    const std::uint16_t row[5] = {100, 100, 0, 100, 1000};
    double var = -1;
    EXPECT_EQ((std::vector<double>{proc::clipped_mean(row, 5, 1, 1.5, &var), var}), (std::vector<double>{100, 151875}));
    std::vector<double> a = {0, 3, 6};
    ASSERT_EQ(proc::smooth_average(a.data(), 3, 1), 0);  // half 0: unchanged
    ASSERT_EQ(proc::smooth_average(a.data(), 3, 3), 0);
    EXPECT_EQ(a, (std::vector<double>{1.5, 3, 4.5}));
}

// ---- fast paths ------------------------------------------------------------

// Each step with a fast path against its plain reference on random and edge-case
// images, widths not a multiple of eight included: the same pixels, the same result.
TEST_F(BlockTest, FastStepsGiveThePlainPixels) {
    using Step = std::function<int(Pixels&, std::uint32_t, std::uint32_t)>;
    using Sizes = std::vector<std::array<std::uint32_t, 2>>;
    const auto on = [](auto step) -> Step {
        return [step](Pixels& px, std::uint32_t w, std::uint32_t h) { return step(ImageView{px.data(), w, h}); };
    };
    const auto joint = [&](proc::JointSmoothingParams p) { return on([p](ImageView v) { return proc::smooth_joint_brightness(v, p); }); };
    const auto scale = [&](std::uint8_t sel, double many, double few) {
        return on([=](ImageView v) { return proc::correct_brightness_scale(sel, v, many, few), 0; });
    };
    const auto join = [](std::uint16_t x, std::uint16_t y, std::uint16_t u) -> Step {
        return [=](Pixels& px, std::uint32_t w, std::uint32_t h) {  // compared over the joined image
            std::uint32_t jw = 0, jh = 0;
            const int rc = proc::join_ccd_chips(ImageView{px.data(), w, h}, x, y, u, &jw, &jh);
            if (rc == 0) px.resize(static_cast<std::size_t>(jw) * jh);
            return rc;
        };
    };
    Pixels clock(4096);
    for (std::uint32_t i = 0; i < 4096; ++i) clock[i] = static_cast<std::uint16_t>(40 + i * 37 % 200);
    const std::uint16_t start[4] = {4, 100, 0, 0}, width[4] = {1900, 1700, 0, 0}, none[4] = {}, ceph[4] = {3300};
    const Sizes small = {{1, 1}, {1, 9}, {9, 1}, {3, 3}, {10, 4}, {17, 5}, {37, 40}, {203, 70}}, chips = {{7, 1536}, {12, 2304}};
    const struct { const char* what; Sizes sizes; Step step; } steps[] = {
        {"dark, two passes", {{4096, 3}, {4101, 2}}, on([&](ImageView v) { return proc::remove_dark_offset(v, {clock.data(), 4096, 1, 2, start, width}); })},
        {"dark, cephalometric", {{3509, 3}}, on([&](ImageView v) { return proc::remove_dark_offset(v, {clock.data(), 3500, 4, 1, none, ceph}); })},
        {"shading", small, [this](Pixels& px, std::uint32_t w, std::uint32_t h) {
             tvxtest::write_words(dir.file("calib.bin"), tvxtest::test_image(tvxtest::Fill::Random16, 4096, h, h));
             return proc::correct_shading(ImageView{px.data(), w, h}, dir.file("calib.bin").c_str());
         }},
        {"join", chips, join(0, 767, 0)}, {"join, shifted in place", chips, join(5, 768, 0)},
        {"join, shifted back", chips, join(0xFFFD, 767, 2)}, {"join, rows moved down", chips, join(0, 770, 0)},
        {"noise", small, on([](ImageView v) { return proc::remove_noise(v); })},
        {"noise, 12-bit kernel", small, on([](ImageView v) {
             if (!tvx::core::fast_paths() || !tvx::core::twelve_bit(v)) return proc::remove_noise(v);
             std::vector<std::uint8_t> work(proc::noise_work(v.width));
             return proc::remove_noise(v, work.data());
         })},
        {"joint", {{203, 70}}, joint({.ave_range = 7, .ave_range_low = 5, .chg_sum_range = 3, .ypos = 35})},
        {"joint at the top", {{203, 70}}, joint({.ave_range = 9, .ave_range_low = 4, .chg_sum_range = 6, .ypos = 2})},
        {"joint, wide window", {{33, 1200}}, joint({.ave_range = 20, .ave_range_low = 30, .chg_sum_range = 600, .ypos = 600})},
        {"joints", {{203, 70}}, joint({.ave_range = 4, .ave_range_low = 3, .chg_sum_range = 2, .ypos = 17, .ypos2 = 17, .ceph_mode = 1})},
        {"joints close", {{203, 70}}, joint({.ave_range = 8, .ave_range_low = 8, .chg_sum_range = 5, .ypos = 10, .ypos2 = 3, .ceph_mode = 1})},
        {"scale", small, scale(7, 0.001, 0.001)}, {"clip", small, scale(4, 5, 10)}, {"stretch and curve", small, scale(3, 0, 0)},
        {"contrast", small, on([](ImageView v) { return proc::emphasise_contrast(v, 1.5, 200); })},
        {"contrast, narrow", small, on([](ImageView v) { return proc::emphasise_contrast(v, 0.3, 3); })},
    };
    for (const auto& st : steps)
        for (const tvxtest::Fill fill : tvxtest::kFills)
            for (const auto& [w, h] : st.sizes) {
                const Pixels px = tvxtest::test_image(fill, w, h, w * h);
                const auto [plain, fast] = tvxtest::on_both_paths<std::pair<int, Pixels>>([&] {
                    Pixels p = px;
                    const int rc = st.step(p, w, h);
                    return std::make_pair(rc, p);
                });
                ASSERT_TRUE(plain == fast) << st.what << ", fill " << static_cast<int>(fill) << ", " << w << " x " << h;
            }
}

class PipelineTest : public tvxtest::LibraryTest {
protected:
    // A picture as a readout leaves it (pixel = column & 0xFFF), with every step switched off.
    void picture(std::uint32_t passes, std::uint32_t segments, std::uint32_t width = 4096, std::uint32_t height = 2,
                 bool ceph = false) {
        tvx::DeviceContext& d = tvx::Device;
        image.resize(static_cast<std::size_t>(width) * height);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint16_t>(i % width & 0xFFF);
        clock.assign(width, 12);
        for (auto& f : d.ProcessFlags) f = 0;
        d.ImageBuffer = image.data(), d.ClockTable = clock.data();
        d.ImageWidth = d.ClockTableLength = static_cast<std::uint16_t>(width);
        d.ImageHeight = static_cast<std::uint16_t>(height);
        d.CephMode = ceph;
        d.ClockMode = static_cast<std::uint8_t>(ceph ? 4 : passes - 1);
        d.SegmentCount = static_cast<std::uint8_t>(segments);
        const std::uint16_t xy[tvx::kXyCorrCount] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};
        std::memcpy(d.XyCorr, xy, sizeof xy);
        d.AveRange = d.AveRangeLow = 80;
        d.ChgSumRange = 30;
        d.ManySideCutRatio = d.FewSideCutRatio = 0.001, d.SimaRange = 1.5;
        d.SecondBriScaleSelect = 7, d.SmoothRange = 200;
        for (auto& w : d.SegmentWidth) w = static_cast<std::uint16_t>(4096 / passes - 72);
        tvx::PassCount = passes, tvx::ReadSegments = segments;
        tvx::PictureStage = tvx::kPictureReadOut;  // as a readout after a set-up leaves it
    }
    void config(const std::string& text) {
        tvxtest::write_file(dir.file("tavirex.ini"), text);
        std::strcpy(tvx::ConfigPath, dir.file("tavirex.ini").c_str());
    }
    std::int32_t ex() { return Tavirex_ImageProcessingEx(out.c_str(), &w, &h); }
    std::string out = dir.file("out.raw");
    Pixels image, clock;
    std::uint32_t w = 0, h = 0;
};

TEST_F(PipelineTest, NothingToProcessOrInconsistentModesAreRefusedBeforeAnyStep) {
    w = h = 7;
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);  // no image read
    EXPECT_EQ(Tavirex_ImageProcessingEx2(out.c_str(), &w, &h), TAVIREX_E_RANGE);
    EXPECT_EQ(w, 7u);
    tvx::DeviceContext& d = tvx::Device;
    const std::function<void()> cases[] = {
        [&] { picture(2, 2); tvx::ReadSegments = 3; },  // bookkeeping that does not describe the image
        [&] { picture(2, 2); tvx::PassCount = 0; },
        [&] { picture(1, 1); d.ProcessFlags[tvx::kDelNoise] = 1; d.ClockMode = 4; },  // cephalometric clock
        [&] { picture(1, 1); d.SegmentCount = 2; },  // two segments of a one-pass picture
        [&] { picture(1, 1); d.CephMode = 2; },
        [&] { picture(2, 1); d.CephMode = 1; },
        [&] { picture(1, 1); d.ProcessFlags[tvx::kPxImg] = 1; },  // 2 rows are not a whole chip
        // Trimmed blocks wider than the image.
        [&] { picture(2, 2); d.ProcessFlags[tvx::kCorrImgSize] = 1; d.SegmentWidth[0] = 2100; },
    };
    int n = 0;
    for (const auto& set_up : cases) {
        set_up();
        ++n;
        EXPECT_EQ(ex(), TAVIREX_E_RANGE) << n;
        EXPECT_EQ(d.ImageWidth, 4096) << n;
        EXPECT_EQ(image[5], 5) << n;
    }
    EXPECT_EQ(Tavirex_ImageProcessingEx(out.c_str(), nullptr, &h), TAVIREX_E_RANGE);
    EXPECT_FALSE(tvxtest::file_exists(out));
}

TEST_F(PipelineTest, DisplayOrderAndSeparatorBands) {
    // One pass is written as it is, with no bands.
    picture(1, 1);
    config("[ExOption]\nPictLineNum=2\n");
    const Pixels single = image;
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(4096u, 2u));
    EXPECT_EQ(read_words(out), single);
    EXPECT_EQ(std::make_pair(tvx::SeparatorLineList.Count, tvx::SeparatorLineList.Width), std::make_pair(0u, 8u));

    // Four passes: segments 3, 1, 0, 2; three: 1, 0, 2; 8-column bands of 0x0F0F at B, 2B + 8, 3B + 16.
    const auto& list = tvx::SeparatorLineList;
    for (const std::vector<int>& order : {std::vector<int>{3, 1, 0, 2}, std::vector<int>{1, 0, 2}}) {
        const auto n = static_cast<std::uint32_t>(order.size()), b = n == 4 ? 1024u : 1364u;
        picture(n, n);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint16_t>(i % 4096 / b * 1000 + i % 4096 % b / 4);
        config("[ExOption]\nPictLineNum=2\nPictLineColor=1\n");
        ASSERT_EQ(ex(), 0);
        EXPECT_EQ(std::make_pair(w, h), std::make_pair(n * b + (n - 1) * 8, 2u));
        Pixels row;
        for (int k : order) {
            if (!row.empty()) row.insert(row.end(), 8, 0x0F0F);
            for (std::uint32_t x = 0; x < b; ++x) row.push_back(static_cast<std::uint16_t>(1000 * k + x / 4));
        }
        row.insert(row.end(), row.begin(), row.end());
        EXPECT_EQ(read_words(out), row) << n;
        EXPECT_EQ(std::vector<std::uint32_t>(list.Position, list.Position + list.Count),
                  (n == 4 ? std::vector<std::uint32_t>{1024, 2056, 3088} : std::vector<std::uint32_t>{1364, 2736}));
        // The record keeps the reordered image without bands.
        EXPECT_EQ(std::make_pair(int{tvx::Device.ImageWidth}, int{image[0]}), std::make_pair(static_cast<int>(n * b), 1000 * order[0]));
    }

    // Cephalometric: the second brightness scale takes the configured selector; 0 changes nothing.
    picture(1, 1, 3500, 2, true);
    tvx::Device.ProcessFlags[tvx::kSecondCorrBriScale] = 1, tvx::Device.SecondBriScaleSelect = 0;
    const Pixels ceph = image;
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(read_words(out), ceph);

    // Two passes, 4-column bands; a color other than 0 and 1 counts as 0.
    picture(2, 2);
    config("[ExOption]\nPictLineNum=1\nPictLineColor=5\n");
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(w, 2u * 2048 + 4);
    EXPECT_EQ(tvx::SeparatorLineList.Color, 0u);
    EXPECT_EQ(read_words(out)[2048], 0);
}

TEST_F(PipelineTest, ImageSizeCorrectionMirrorsTheTrimmedSegmentsInsideTheImage) {
    tvx::DeviceContext& d = tvx::Device;
    // Widths 1000 and 1003 lose a column each side, rounded up to 1000 and 1004 (the block
    // width). Display order puts pass 1 first; it starts at 2048 + 20 + 1 + 2 = 2071, mirrored.
    picture(2, 2);
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentStart[0] = 10, d.SegmentStart[1] = 20, d.SegmentWidth[0] = 1000, d.SegmentWidth[1] = 1003;
    d.SideCutWidth = 1, d.DefaultOffset = 2;
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(w, 2008u);
    Pixels px = read_words(out);
    EXPECT_EQ(Pixels({px[0], px[1003], px[1004], px[2007]}), Pixels({3074, 2071, 1016, 13}));

    // Only the first pass read: its width alone sets the block, and the kept width is one block.
    picture(2, 1);
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentStart[0] = 10, d.SegmentWidth[0] = 1000, d.SegmentWidth[1] = 3000;
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(w, 1000u);
    EXPECT_EQ(read_words(out)[0], 1012);  // columns 13 .. 1012, mirrored

    // The second block's cut runs 2040 columns past the row end: row 0 runs on into row 1,
    // and past the image every pixel is 0.
    picture(2, 2);
    std::fill(image.begin(), image.begin() + 4096, 1);
    std::fill(image.begin() + 4096, image.end(), 2);
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentWidth[0] = d.SegmentWidth[1] = 2048, d.SegmentStart[1] = 2040;
    ASSERT_EQ(ex(), 0);
    ASSERT_EQ(w, 4096u);
    px = read_words(out);
    EXPECT_EQ(Pixels({px[2047], px[2039], px[4096 + 2047], px[4096 + 2039]}), Pixels({1, 2, 2, 0}));
}

TEST_F(PipelineTest, Ex2RestoresItsFlagsAndKeepsTheSeparatorSettings) {
    tvx::DeviceContext& d = tvx::Device;
    config("[ExOption]\nPictLineNum=3\n");
    for (const std::uint8_t contrast : {1, 0}) {
        picture(2, 2);
        d.ProcessFlags[tvx::kCorrBriScale] = 1, d.ProcessFlags[tvx::kEmphasisContrast] = contrast;
        // Then a failure: the shading table is missing.
        d.ProcessFlags[tvx::kDelShadw] = !contrast;
        std::strcpy(d.CalibDataPath, dir.file("missing.bin").c_str());
        EXPECT_EQ(Tavirex_ImageProcessingEx2(out.c_str(), &w, &h), contrast ? 0 : TAVIREX_E_DATA_FILE);
        // No bands (the ExOption keys are not read); pass 1 first, unscaled.
        EXPECT_TRUE(!contrast || (w == 4096 && read_words(out)[0] == 2048)) << w;
        EXPECT_EQ(std::make_pair(d.ProcessFlags[tvx::kCorrBriScale], d.ProcessFlags[tvx::kEmphasisContrast]),
                  std::make_pair(std::uint8_t{1}, contrast));
    }
}

TEST_F(PipelineTest, StepAndWriteFailuresEndTheRunWithoutAFile) {
    tvx::DeviceContext& d = tvx::Device;
    tvxtest::write_file(dir.file("calib.bin"), std::string(2 * 4096 * 2 + 2, '\0'));
    tvxtest::write_file(dir.file("lines.dat"), std::string("\x01\x00\x05", 3));
    std::strcpy(d.CorrLineDataPath, dir.file("lines.dat").c_str());
    const struct { std::size_t flag; const char *calib, *output; int code; } rows[] = {
                {tvx::kDelShadw, "missing.bin", "out.raw", TAVIREX_E_DATA_FILE},
                {tvx::kDelShadw, "calib.bin", "out.raw", TAVIREX_E_DATA_SIZE},
                {tvx::kCorrInjLine, "", "out.raw", TAVIREX_E_DATA_CONTENT},
                {tvx::kDelDc, "", "no/such/folder/out.raw", TAVIREX_E_PROCESS_OUTPUT}};  // after a step that ran
    for (const auto& r : rows) {
        picture(1, 1);
        d.ProcessFlags[r.flag] = 1;
        std::strcpy(d.CalibDataPath, dir.file(r.calib).c_str());
        EXPECT_EQ(Tavirex_ImageProcessingEx(dir.file(r.output).c_str(), &w, &h), r.code) << r.code;
        EXPECT_FALSE(tvxtest::file_exists(dir.file(r.output))) << r.code;
    }
}

TEST_F(PipelineTest, DummyInsertsBandsIntoARawFile) {
    const std::string in = dir.file("in.raw"), bad = dir.file("no/such/out.raw");
    Pixels px(11 * 2);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i + 1);
    tvxtest::write_file(in, bytes_of(px));
    tvx::ReadSegments = 2, tvx::TomoImageActive = 1;
    tvx::SeparatorLineList.Width = 4, tvx::SeparatorLineList.Color = 1;
    w = 11, h = 2;
    ASSERT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), 0);
    EXPECT_EQ(std::make_pair(w, tvx::TomoImageActive), std::make_pair(11u, 0u));  // the width only read
    Pixels two_rows = {1, 2, 3, 4, 5, 0x0F0F, 0x0F0F, 0x0F0F, 0x0F0F, 6, 7, 8, 9, 10, 11};
    for (int i = 0; i < 15; ++i) two_rows.push_back(two_rows[i] > 11 ? two_rows[i] : two_rows[i] + 11);
    EXPECT_EQ(read_words(out), two_rows);
    EXPECT_EQ(std::make_pair(tvx::SeparatorLineList.Count, tvx::SeparatorLineList.Position[0]), std::make_pair(1u, 5u));
    // Three rows from a file of two; no input; the output not creatable (and not left); width 0.
    const auto dummy = [&](const std::string& from, const std::string& to, std::uint32_t width, std::uint32_t height) {
        w = width, h = height;
        return Tavirex_ImageProcessingExDummy(from.c_str(), to.c_str(), &w, &h);
    };
    EXPECT_EQ(Codes({dummy(in, out, 11, 3), dummy(dir.file("none.raw"), out, 11, 2), dummy(in, bad, 11, 2), dummy(in, out, 0, 2)}),
              Codes({TAVIREX_E_DATA_FILE, TAVIREX_E_DATA_FILE, TAVIREX_E_PROCESS_OUTPUT, TAVIREX_E_RANGE}));
    EXPECT_FALSE(tvxtest::file_exists(bad));
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

// The exports on the fast paths against the plain ones, every step on: the raw file,
// the sizes, the bands and the image the record keeps. Shading tables reaching 16
// bits make the blocks too wide for the in-place block stage, which then declines.
TEST_F(PipelineTest, FastExportsGiveThePlainFiles) {
    using Fill = tvxtest::Fill;
    tvx::DeviceContext& d = tvx::Device;
    tvxtest::write_words(dir.file("lines.dat"), {1, 900, 2});
    config("[ExOption]\nPictLineNum=2\nPictLineColor=1\n");
    const struct { const char* what; std::uint32_t passes, width, height; bool ceph, corr, ex2; Fill tables; } runs[] = {
        {"two passes, trimmed and mirrored", 2, 4096, 768, false, true, false, Fill::Ramp},
        {"four passes", 4, 4096, 768, false, false, false, Fill::Ramp},
        {"cephalometric", 1, 3500, 300, true, false, false, Fill::Ramp},
        {"16-bit tables", 2, 4096, 768, false, true, false, Fill::Random16},
        {"Ex2", 3, 4096, 768, false, false, true, Fill::Ramp},
    };
    for (const auto& r : runs) {
        tvxtest::write_words(dir.file("calib.bin"), tvxtest::test_image(r.tables, 4096, r.height, 7));
        const auto [plain, fast] = tvxtest::on_both_paths<std::vector<Pixels>>([&] {
            picture(r.passes, r.passes, r.width, r.height, r.ceph);
            const Pixels scene = tvxtest::test_image(Fill::Random12, r.width, r.height, 5);
            std::copy(scene.begin(), scene.end(), image.begin());
            for (auto& f : d.ProcessFlags) f = 1;
            d.ProcessFlags[tvx::kPxImg] = d.ProcessFlags[tvx::kFillOpening] = r.height % 768 == 0;
            d.ProcessFlags[tvx::kCorrImgSize] = r.corr;
            d.SegmentStart[0] = 3, d.SegmentStart[1] = 9, d.SideCutWidth = 2, d.DefaultOffset = 1;
            std::strcpy(d.CalibDataPath, dir.file("calib.bin").c_str());
            std::strcpy(d.CorrLineDataPath, dir.file("lines.dat").c_str());
            const int rc = r.ex2 ? Tavirex_ImageProcessingEx2(out.c_str(), &w, &h) : ex();
            const auto& list = tvx::SeparatorLineList;
            return std::vector<Pixels>{Pixels{static_cast<std::uint16_t>(rc), static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)},
                                       read_words(out), Pixels(image.begin(), image.begin() + d.ImageWidth * d.ImageHeight),
                                       Pixels(list.Position, list.Position + list.Count)};
        });
        EXPECT_EQ(plain[0], (Pixels{0, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)})) << r.what;
        EXPECT_TRUE(plain == fast) << r.what;
    }
}

// Every step on, with identity-like shading tables and one injection band.
TEST_F(PipelineTest, EveryAllocationFailureOfTheExports) {
    const std::string in = dir.file("in.raw");
    tvxtest::write_file(in, bytes_of(Pixels(64 * 4, 9)));
    Pixels table(768 * 4096u);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint16_t>(i % 4096);
    tvxtest::write_words(dir.file("calib.bin"), table);
    tvxtest::write_words(dir.file("lines.dat"), {1, 900, 2});
    config("[ExOption]\nPictLineNum=1\n");
    const std::function<std::int32_t()> exports[] = {
        [&] { return Tavirex_ImageProcessingEx(out.c_str(), &w, &h); },
        [&] { return Tavirex_ImageProcessingEx2(out.c_str(), &w, &h); },
        [&] { return Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h); }};
    for (int run = 0; run < 6; ++run) {  // each export with one worker, then with three
        const int which = run % 3;
        tvx::platform::test_set_worker_count(run < 3 ? 1 : 3);
        bool step_memory = false, output_memory = false;
        std::uint64_t n = 1;
        for (; n < 200; ++n) {
            picture(2, 2, 4096, 768);
            for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint16_t>((i * 2654435761u >> 7) & 0xFFF);
            for (auto& f : tvx::Device.ProcessFlags) f = 1;
            tvx::Device.ProcessFlags[tvx::kCorrImgSize] = 0;
            std::strcpy(tvx::Device.CalibDataPath, dir.file("calib.bin").c_str());
            std::strcpy(tvx::Device.CorrLineDataPath, dir.file("lines.dat").c_str());
            const std::int64_t held = tvx::core::test_blocks_held();
            w = 64, h = 4;
            const std::int32_t rc = tvxtest::with_failed_allocation(n, exports[which]);
            EXPECT_EQ(tvx::core::test_blocks_held(), held) << which << " " << n;
            if (rc == 0) break;
            EXPECT_TRUE(rc == TAVIREX_E_NO_MEMORY || rc == TAVIREX_E_PROCESS_OUTPUT) << which << " " << n << " " << rc;
            step_memory |= rc == TAVIREX_E_NO_MEMORY;
            output_memory |= rc == TAVIREX_E_PROCESS_OUTPUT;
            EXPECT_FALSE(tvxtest::file_exists(out)) << which << " " << n;
        }
        // The steps report 5; the crop and separator buffers -96 (the dummy's input buffer 5).
        EXPECT_TRUE(step_memory && output_memory && n > (which == 2 ? 2u : 10u) && n < 200) << which << " " << n;
        EXPECT_TRUE(tvxtest::file_exists(out));
        std::remove(out.c_str());
    }
}

}  // namespace
