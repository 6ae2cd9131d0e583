// The tomographic processing export around its steps: arguments and frame state,
// frames joined at the smaller height, the dump names, the banners.
#include "state/context.h"
#include "support/support.h"
#include "tomo_processing/join_frames.h"

namespace {

using tvx::Tomo;
using tvxtest::Words;

class TomoPipelineTest : public tvxtest::LibraryTest {
protected:
    // `n` frames of 18 blocks, every sample `value`, as a readout leaves them; no tables needed.
    void frames(std::uint16_t n, std::uint16_t value = 1000, const std::string& more = "") {
        tvxtest::write_file(dir.file("t.ini"), "[PROCESS]\nCORRSENS=0\nCORRINJLINE=0\nPUTIMAGES=0\n[DEBUG]\nPROCESS=1\n" + more);
        ASSERT_EQ(Tavirex_Init_Tomo(dir.file("t.ini").c_str(), 1), 0);
        Tomo.FrameCount = n, Tomo.FrameStrips = 8, Tomo.BitDepth = 13, Tomo.MaxPixelValue = 8191;
        for (std::uint16_t k = 0; k < n && k < 56; ++k) {
            Tomo.FrameList[k] = static_cast<std::uint16_t*>(tvx::core::allocate(18u * 128 * 2304 * 2));
            std::fill(Tomo.FrameList[k], Tomo.FrameList[k] + 18u * 128 * 2304, value);
        }
    }
};

TEST_F(TomoPipelineTest, RefusalsReleaseTheFramesAndWriteNothing) {
    std::int32_t w = 5, h = 5;
    const std::string out = dir.file("o.raw");
    const auto run = [&](const char* path, std::int32_t* pw) { return Tavirex_ImageProcessingEx_Tomo(path, pw, &h, 0); };
    Codes got;
    for (int c = 0; c < 4; ++c) {
        frames(c == 3 ? 4 : 1);
        if (c == 2) tvx::core::release(Tomo.FrameList[0]), Tomo.FrameList[0] = nullptr;  // never read out
        got.push_back(run(c == 0 ? nullptr : out.c_str(), c == 1 ? nullptr : &w));
        EXPECT_EQ(tvx::core::test_blocks_held(), 0) << c;
    }
    EXPECT_EQ(got, Codes(4, TAVIREX_E_RANGE));
    // No frame: nothing written, a 0 x 0 image.
    Tomo.FrameCount = 0;
    const std::int32_t rc = run(out.c_str(), &w);
    EXPECT_EQ(tvxtest::vals(rc, w, h, tvxtest::file_exists(out)), tvxtest::vals(0, 0, 0, 0));
}

// Every frame reaches the picture or the run fails: three frames cropped to one row or one column
// (frame 2, x 0.985, would scale to nothing), one frame cropped away whole.
TEST_F(TomoPipelineTest, AFrameThatWouldJoinAsNothingFailsTheRun) {
    std::int32_t w = 0, h = 0;
    const std::string out = dir.file("c.raw");
    Codes got;
    const std::pair<const char*, std::uint16_t> cases[] = {
        {"TOPOFFSET=1151\nBOTTOMOFFSET=1152\n", 3}, {"LEFTOFFSET=511\n", 3}, {"TOPOFFSET=2304\n", 1}};
    for (const auto& [crop, n] : cases) {
        frames(n, 1000, std::string("[CORRIMGSIZE]\n") + crop);
        got.push_back(Tavirex_ImageProcessingEx_Tomo(out.c_str(), &w, &h, 0));
        got.push_back(tvxtest::file_exists(out));
    }
    EXPECT_EQ(got, Codes({3, 0, 3, 0, 3, 0}));
}

TEST_F(TomoPipelineTest, OneFrameBannersAndTheDumpBesideAPathWithoutFolder) {
    frames(1);
    std::int32_t w = 0, h = 0;
    std::string err;
    {
        tvxtest::InDirectory in(dir.path());
        tvxtest::CaptureStderr capture;
        ASSERT_EQ(Tavirex_ImageProcessingEx_Tomo("plain.raw", &w, &h, 0), 0);
        err = capture.text();
    }
    // Strips edge to edge: 8 x 64 binned columns; an even image keeps its level everywhere.
    EXPECT_EQ(tvxtest::vals(w, h), tvxtest::vals(512, 2304));
    EXPECT_EQ(tvxtest::read_file(dir.file("plain.rawSegTomo00.dat")), tvxtest::read_file(dir.file("plain.raw")));
    std::size_t at = 0;
    for (const char* banner : {"ImageProcessing4TomoC START[", "..1.DelDC_method2[", "  5.FILLINOPENING[", "..4.PUTIMAGES[",
                               "  -.CORRIMGSIZE[", "  3.DELNOISE1[", "  4.DELNOISE2[", "  5.CORRBRISCALE[",
                               "ImageProcessing4IntraO  END  ["})
        EXPECT_NE(at = err.find(banner, at), std::string::npos) << banner;
}

TEST_F(TomoPipelineTest, ScaledFramesHaveTheirSizesTruncated) {
    // Frames cropped to 496 x 2280 become 502.944 x 2311.92, 496 x 2280 and 488.56 x 2245.8: 502 + 496 + 488
    // columns joined at 2245 rows.
    frames(3, 1000, "[CORRIMGSIZE]\nTOPOFFSET=12\nBOTTOMOFFSET=12\nLEFTOFFSET=8\nRIGHTOFFSET=8\n");
    std::int32_t w = 0, h = 0;
    ASSERT_EQ(Tavirex_ImageProcessingEx_Tomo(dir.file("s.raw").c_str(), &w, &h, 0), 0);
    EXPECT_EQ(tvxtest::vals(w, h), tvxtest::vals(1486, 2245));
}

TEST_F(TomoPipelineTest, FramesJoinAtTheSmallerHeightCutEvenly) {
    // 1 x 5 then 2 x 2: the first loses 1 row at the top and 2 at the bottom; a 1 x 4 after
    // that cuts itself 1 and 1; an empty image changes nothing. Cuts add up join by join:
    // 6 rows, then 5 (0 cut at the top), then 4 (0 again) keep rows 0-3 of the first.
    const std::string out = dir.file("j.raw");
    Words a{1, 2, 3, 4, 5, 6}, b{6, 7, 8, 9, 10}, c{10, 11, 12, 13};
    tvx::SeparatorLines bands{};
    const struct { std::vector<tvx::core::ImageView> images; Words expected; } rows[] = {
        {{{a.data(), 1, 5}, {b.data(), 2, 2}, {c.data(), 1, 4}, {c.data(), 0, 4}}, {2, 6, 7, 11, 3, 8, 9, 12}},
        {{{a.data(), 1, 6}, {b.data(), 1, 5}, {}, {c.data(), 1, 4}}, {1, 6, 99, 10, 2, 7, 99, 11, 3, 8, 99, 12, 4, 9, 99, 13}},
    };
    for (const auto& r : rows) {
        tvx::tomo::JoinedImage joined;
        for (const auto& image : r.images)
            EXPECT_EQ(image.data ? tvx::tomo::add_image_columns(joined, image) : tvx::tomo::add_separator_band(joined, 1, 99, bands), 0);
        EXPECT_EQ(tvx::tomo::write_joined_image(out.c_str(), joined), 0);
        EXPECT_EQ(tvxtest::read_words(out), r.expected);
    }
    EXPECT_EQ(tvxtest::vals(bands.Count, bands.Position[0]), tvxtest::vals(1, 2));
}

}  // namespace
