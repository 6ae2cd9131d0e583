// The three processing exports: validation, the block stage, display order,
// separator bands, the raw file, failure codes and allocation failures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/context.h"
#include "core/alloc.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

std::string words(const std::vector<std::uint16_t>& v) {
    std::string s;
    for (std::uint16_t w : v) {
        s.push_back(static_cast<char>(w & 0xFF));
        s.push_back(static_cast<char>(w >> 8));
    }
    return s;
}

std::vector<std::uint16_t> read_words(const std::string& path) {
    const std::string bytes = tvxtest::read_file(path);
    std::vector<std::uint16_t> v(bytes.size() / 2);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                          (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    return v;
}

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }

    // A panoramic picture as a readout leaves it, with every step switched off.
    void picture(std::uint32_t passes, std::uint32_t segments, std::uint32_t width = 4096, std::uint32_t height = 2) {
        tvx::DeviceContext& d = tvx::Device;
        image.assign(static_cast<std::size_t>(width) * height, 0);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x) image[y * width + x] = static_cast<std::uint16_t>(x & 0xFFF);
        clock.assign(4096, 12);
        d.ImageBuffer = image.data();
        d.ImageWidth = static_cast<std::uint16_t>(width);
        d.ImageHeight = static_cast<std::uint16_t>(height);
        d.CephMode = 0;
        d.ClockMode = static_cast<std::uint8_t>(passes - 1);
        d.SegmentCount = static_cast<std::uint8_t>(segments);
        d.ClockTable = clock.data();
        d.ClockTableLength = 4096;
        const std::uint16_t xy[tvx::kXyCorrCount] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};
        std::memcpy(d.XyCorr, xy, sizeof xy);
        d.AveRange = d.AveRangeLow = 80;
        d.ChgSumRange = 30;
        d.ManySideCutRatio = d.FewSideCutRatio = 0.001;
        d.SecondBriScaleSelect = 7;
        d.SimaRange = 1.5;
        d.SmoothRange = 200;
        for (std::uint32_t k = 0; k < 4; ++k) d.SegmentWidth[k] = static_cast<std::uint16_t>(4096 / passes - 72);
        tvx::PassCount = passes;
        tvx::ReadSegments = segments;
    }

    void config(const std::string& text) {
        const std::string path = dir.file("tavirex.ini");
        tvxtest::write_file(path, text);
        std::strcpy(tvx::ConfigPath, path.c_str());
    }

    std::int32_t ex(std::uint32_t* w = nullptr, std::uint32_t* h = nullptr) {
        std::uint32_t a = 0, b = 0;
        return Tavirex_ImageProcessingEx(out.c_str(), w ? w : &a, h ? h : &b);
    }

    tvxtest::TempDir dir;
    std::string out = dir.file("out.raw");
    std::vector<std::uint16_t> image;
    std::vector<std::uint16_t> clock;
};

TEST_F(PipelineTest, NoImageMeansNothingToProcess) {
    std::uint32_t w = 7, h = 7;
    EXPECT_EQ(Tavirex_ImageProcessingEx(out.c_str(), &w, &h), TAVIREX_E_RANGE);
    EXPECT_EQ(Tavirex_ImageProcessingEx2(out.c_str(), &w, &h), TAVIREX_E_RANGE);
    EXPECT_EQ(w, 7u);
    EXPECT_FALSE(tvxtest::file_exists(out));
    // Bookkeeping that does not describe the image is refused the same way.
    picture(2, 2);
    tvx::ReadSegments = 3;
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);
    tvx::PassCount = 0;
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);
    EXPECT_EQ(Tavirex_ImageProcessingEx(out.c_str(), nullptr, &h), TAVIREX_E_RANGE);
    EXPECT_FALSE(tvxtest::file_exists(out));
}

TEST_F(PipelineTest, InconsistentModesAreRefusedBeforeAnyStep) {
    picture(1, 1);
    tvx::Device.ProcessFlags[tvx::kDelNoise] = 1;
    tvx::Device.ClockMode = 4;  // cephalometric clock on the panoramic sensor
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);
    picture(1, 1);
    tvx::Device.SegmentCount = 2;  // two segments of a one-pass picture
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);
    picture(1, 1);
    tvx::Device.CephMode = 2;
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);
    picture(2, 1);
    tvx::Device.CephMode = 1;
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);
    EXPECT_EQ(tvx::Device.ImageWidth, 4096);
    EXPECT_EQ(image[5], 5);
    EXPECT_FALSE(tvxtest::file_exists(out));
}

TEST_F(PipelineTest, SinglePassIsWrittenAsItIs) {
    picture(1, 1);
    config("[ExOption]\nPictLineNum=2\n");
    const std::vector<std::uint16_t> before = image;
    std::uint32_t w = 0, h = 0;
    ASSERT_EQ(ex(&w, &h), 0);
    EXPECT_EQ(w, 4096u);
    EXPECT_EQ(h, 2u);
    EXPECT_EQ(read_words(out), before);
    EXPECT_EQ(tvx::SeparatorLineList.Count, 0u);
    EXPECT_EQ(tvx::SeparatorLineList.Width, 8u);
}

TEST_F(PipelineTest, FourPassesInDisplayOrderWithSeparatorBands) {
    picture(4, 4);
    for (std::uint32_t y = 0; y < 2; ++y)
        for (std::uint32_t x = 0; x < 4096; ++x) image[y * 4096 + x] = static_cast<std::uint16_t>(1000 * (x / 1024) + x % 1024 / 4);
    config("[ExOption]\nPictLineNum=2\nPictLineColor=1\n");
    std::uint32_t w = 0, h = 0;
    ASSERT_EQ(ex(&w, &h), 0);
    EXPECT_EQ(w, 4u * 1024 + 3 * 8);
    EXPECT_EQ(h, 2u);
    const std::vector<std::uint16_t> px = read_words(out);
    ASSERT_EQ(px.size(), 2u * w);
    // Segments 3, 1, 0, 2 with 8-column bands of 0x0F0F at B, 2B + 8, 3B + 16.
    const std::uint32_t seg_at[4] = {0, 1032, 2064, 3096};
    const std::uint32_t source[4] = {3, 1, 0, 2};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(px[w + seg_at[k]], 1000 * source[k]) << k;
        EXPECT_EQ(px[w + seg_at[k] + 1023], 1000 * source[k] + 255) << k;
    }
    const auto& list = tvx::SeparatorLineList;
    EXPECT_EQ(list.Count, 3u);
    EXPECT_EQ(list.Position[0], 1024u);
    EXPECT_EQ(list.Position[1], 2056u);
    EXPECT_EQ(list.Position[2], 3088u);
    for (std::uint32_t b : {1024u, 2056u, 3088u})
        for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(px[b + i], 0x0F0F);
    // The record keeps the reordered image without bands.
    EXPECT_EQ(tvx::Device.ImageWidth, 4096);
    EXPECT_EQ(image[0], 3000);

    picture(2, 2);
    config("[ExOption]\nPictLineNum=1\nPictLineColor=5\n");
    ASSERT_EQ(ex(&w, &h), 0);
    EXPECT_EQ(w, 2u * 2048 + 4);
    EXPECT_EQ(tvx::SeparatorLineList.Color, 0u);
    EXPECT_EQ(read_words(out)[2048], 0);
}

TEST_F(PipelineTest, ImageSizeCorrectionMirrorsTheTrimmedSegments) {
    picture(2, 2);
    tvx::DeviceContext& d = tvx::Device;
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentStart[0] = 10;
    d.SegmentStart[1] = 20;
    d.SegmentWidth[0] = 1000;  // 998 after the side cuts, rounded up to 1000
    d.SegmentWidth[1] = 1003;  // 1001, rounded up to 1004: the block width
    d.SideCutWidth = 1;
    d.DefaultOffset = 2;
    std::uint32_t w = 0, h = 0;
    ASSERT_EQ(ex(&w, &h), 0);
    EXPECT_EQ(w, 2008u);
    const std::vector<std::uint16_t> px = read_words(out);
    // Display order puts pass 1 first; pass 1 starts at 2048 + 20 + 1 + 2 = 2071, mirrored.
    EXPECT_EQ(px[0], 3074);
    EXPECT_EQ(px[1003], 2071);
    EXPECT_EQ(px[1004], 1016);
    EXPECT_EQ(px[2007], 13);

    // Only the first pass read: its width alone sets the block, and the kept width is one block.
    picture(2, 1);
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentStart[0] = 10;
    d.SegmentWidth[0] = 1000;
    d.SegmentWidth[1] = 3000;
    ASSERT_EQ(ex(&w, &h), 0);
    EXPECT_EQ(w, 1000u);
    EXPECT_EQ(read_words(out)[0], 1012);  // columns 13 .. 1012, mirrored

    // Trimmed blocks wider than the image are refused.
    std::remove(out.c_str());
    picture(2, 2);
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentWidth[0] = 2100;
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);
    EXPECT_FALSE(tvxtest::file_exists(out));
}

TEST_F(PipelineTest, BlockCutPastANarrowSegmentStaysInsideTheImage) {
    picture(2, 2);
    for (std::uint32_t x = 0; x < 4096; ++x) image[x] = 1, image[4096 + x] = 2;
    tvx::DeviceContext& d = tvx::Device;
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentWidth[0] = d.SegmentWidth[1] = 2048;
    d.SegmentStart[1] = 2040;  // the second block's cut runs 2040 columns past the row end
    std::uint32_t w = 0, h = 0;
    ASSERT_EQ(ex(&w, &h), 0);
    const std::vector<std::uint16_t> px = read_words(out);
    ASSERT_EQ(w, 4096u);
    EXPECT_EQ(px[2047], 1);        // row 0, column 4088
    EXPECT_EQ(px[2039], 2);        // row 0 runs on into row 1
    EXPECT_EQ(px[4096 + 2047], 2);  // row 1, column 4088
    EXPECT_EQ(px[4096 + 2039], 0);  // past the image: 0
}

TEST_F(PipelineTest, Ex2RestoresItsFlagsAndKeepsTheSeparatorSettings) {
    picture(2, 2);
    tvx::DeviceContext& d = tvx::Device;
    d.ProcessFlags[tvx::kCorrBriScale] = 1;
    d.ProcessFlags[tvx::kEmphasisContrast] = 1;
    config("[ExOption]\nPictLineNum=3\n");
    std::uint32_t w = 0, h = 0;
    ASSERT_EQ(Tavirex_ImageProcessingEx2(out.c_str(), &w, &h), 0);
    EXPECT_EQ(w, 4096u);  // no bands: the ExOption keys were not read
    EXPECT_EQ(read_words(out)[0], 2048);  // pass 1 first, unscaled
    EXPECT_EQ(d.ProcessFlags[tvx::kCorrBriScale], 1);
    EXPECT_EQ(d.ProcessFlags[tvx::kEmphasisContrast], 1);

    picture(2, 2);
    d.ProcessFlags[tvx::kCorrBriScale] = 1;
    d.ProcessFlags[tvx::kEmphasisContrast] = 0;
    d.ProcessFlags[tvx::kDelShadw] = 1;
    std::strcpy(d.CalibDataPath, dir.file("missing.bin").c_str());
    EXPECT_EQ(Tavirex_ImageProcessingEx2(out.c_str(), &w, &h), TAVIREX_E_DATA_FILE);
    EXPECT_EQ(d.ProcessFlags[tvx::kCorrBriScale], 1);
    EXPECT_EQ(d.ProcessFlags[tvx::kEmphasisContrast], 0);
}

TEST_F(PipelineTest, StepFailuresEndTheRunWithoutAFile) {
    picture(1, 1);
    tvx::DeviceContext& d = tvx::Device;
    d.ProcessFlags[tvx::kDelShadw] = 1;
    std::strcpy(d.CalibDataPath, dir.file("missing.bin").c_str());
    EXPECT_EQ(ex(), TAVIREX_E_DATA_FILE);
    tvxtest::write_file(dir.file("calib.bin"), std::string(2 * 4096 * 2 + 2, '\0'));
    std::strcpy(d.CalibDataPath, dir.file("calib.bin").c_str());
    EXPECT_EQ(ex(), TAVIREX_E_DATA_SIZE);
    d.ProcessFlags[tvx::kDelShadw] = 0;
    d.ProcessFlags[tvx::kCorrInjLine] = 1;
    tvxtest::write_file(dir.file("lines.dat"), std::string("\x01\x00\x05", 3));
    std::strcpy(d.CorrLineDataPath, dir.file("lines.dat").c_str());
    EXPECT_EQ(ex(), TAVIREX_E_DATA_CONTENT);
    d.ProcessFlags[tvx::kCorrInjLine] = 0;
    d.ProcessFlags[tvx::kPxImg] = 1;  // 2 rows are not a whole chip
    EXPECT_EQ(ex(), TAVIREX_E_RANGE);
    EXPECT_FALSE(tvxtest::file_exists(out));
}

TEST_F(PipelineTest, FailedWriteLeavesNoFile) {
    picture(1, 1);
    const std::string bad = dir.file("no/such/folder/out.raw");
    std::uint32_t w = 0, h = 0;
    EXPECT_EQ(Tavirex_ImageProcessingEx(bad.c_str(), &w, &h), TAVIREX_E_PROCESS_OUTPUT);
    EXPECT_FALSE(tvxtest::file_exists(bad));
}

TEST_F(PipelineTest, BannersUnderTheProcessSwitch) {
    picture(1, 1);
    tvx::Device.DebugProcess = 1;
    tvx::Device.ProcessFlags[tvx::kCorrImgSize] = 1;
    tvx::Device.ProcessFlags[tvx::kDelNoise] = 1;
    tvx::Device.ProcessFlags[tvx::kSecondCorrBriScale] = 1;
    tvx::Device.SegmentWidth[0] = 4000;
    tvxtest::CaptureStderr capture;
    ASSERT_EQ(ex(), 0);
    const std::string text = capture.text();
    const char* order[] = {"ImageProcessing  START[", "  6.CORRIMGSIZE[", "  7.DELNOISE[", " 11.2ndCORRBRISCALE[",
                           "ImageProcessing  END  ["};
    std::size_t at = 0;
    for (const char* b : order) {
        const std::size_t found = text.find(b, at);
        ASSERT_NE(found, std::string::npos) << b << "\n" << text;
        at = found;
    }
    EXPECT_EQ(text.find("  1.DELDC"), std::string::npos);
    EXPECT_EQ(tvx::DebugFlags.DebugProcess, 1);
}

TEST_F(PipelineTest, DummyInsertsBandsIntoARawFile) {
    const std::string in = dir.file("in.raw");
    std::vector<std::uint16_t> px(11 * 2);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i + 1);
    tvxtest::write_file(in, words(px));
    tvx::ReadSegments = 2;
    tvx::SeparatorLineList.Width = 4;
    tvx::SeparatorLineList.Color = 1;
    tvx::TomoImageActive = 1;
    std::uint32_t w = 11, h = 2;
    ASSERT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), 0);
    EXPECT_EQ(w, 11u);  // only read
    EXPECT_EQ(tvx::TomoImageActive, 0u);
    const std::vector<std::uint16_t> got = read_words(out);
    const std::vector<std::uint16_t> row0 = {1, 2, 3, 4, 5, 0x0F0F, 0x0F0F, 0x0F0F, 0x0F0F, 6, 7, 8, 9, 10, 11};
    ASSERT_EQ(got.size(), 30u);
    EXPECT_EQ(std::vector<std::uint16_t>(got.begin(), got.begin() + 15), row0);
    EXPECT_EQ(got[15], 12);
    EXPECT_EQ(tvx::SeparatorLineList.Count, 1u);
    EXPECT_EQ(tvx::SeparatorLineList.Position[0], 5u);

    h = 3;  // the file holds two rows only
    EXPECT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), TAVIREX_E_DATA_FILE);
    h = 2;
    EXPECT_EQ(Tavirex_ImageProcessingExDummy(dir.file("none.raw").c_str(), out.c_str(), &w, &h),
              TAVIREX_E_DATA_FILE);
    {
        tvxtest::FailAllocation fail(1);
        EXPECT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), TAVIREX_E_NO_MEMORY);
    }
    const std::string bad = dir.file("no/such/out.raw");
    EXPECT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), bad.c_str(), &w, &h), TAVIREX_E_PROCESS_OUTPUT);
    EXPECT_FALSE(tvxtest::file_exists(bad));
    w = 0;
    EXPECT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), TAVIREX_E_RANGE);
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

// Every step on, with calibration and line table files: fail each allocation in turn.
class PipelineSweepTest : public PipelineTest {
protected:
    void full_picture() {
        picture(2, 2, 4096, 768);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint16_t>((i * 2654435761u >> 7) & 0xFFF);
        tvx::DeviceContext& d = tvx::Device;
        for (auto& f : d.ProcessFlags) f = 1;
        d.ProcessFlags[tvx::kCorrImgSize] = 0;
        std::strcpy(d.CalibDataPath, calib.c_str());
        std::strcpy(d.CorrLineDataPath, lines.c_str());
    }
    void SetUp() override {
        PipelineTest::SetUp();
        std::vector<std::uint16_t> table(768u * 4096);
        for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint16_t>(i % 4096);
        tvxtest::write_file(calib, words(table));
        tvxtest::write_file(lines, words({1, 900, 2}));
        config("[ExOption]\nPictLineNum=1\n");
    }
    std::string calib = dir.file("calib.bin");
    std::string lines = dir.file("lines.dat");
};

TEST_F(PipelineSweepTest, CephalometricPictureThroughEveryStep) {
    tvx::DeviceContext& d = tvx::Device;
    image.assign(3500u * 2304, 0);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint16_t>(200 + (i * 7919 % 3001));
    clock.assign(3500, 30);
    d = tvx::DeviceContext{};
    d.ImageBuffer = image.data();
    d.ImageWidth = 3500;
    d.ImageHeight = 2304;
    d.CephMode = 1;
    d.ClockMode = 4;
    d.SegmentCount = 1;
    d.ClockTable = clock.data();
    d.ClockTableLength = 3500;
    for (auto& f : d.ProcessFlags) f = 1;
    const std::uint16_t xy[tvx::kXyCorrCount] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};
    std::memcpy(d.XyCorr, xy, sizeof xy);
    d.SegmentStart[0] = 6;
    d.SegmentWidth[0] = 3300;
    d.SideCutWidth = 10;
    d.AveRange = d.AveRangeLow = 80;
    d.ChgSumRange = 30;
    d.ManySideCutRatio = 0.0;
    d.FewSideCutRatio = 0.005;
    d.SecondBriScaleSelect = 6;
    d.SimaRange = 1.5;
    d.SmoothRange = 200;
    std::vector<std::uint16_t> table(2304u * 4096);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint16_t>(i % 4096);
    tvxtest::write_file(calib, words(table));
    tvxtest::write_file(lines, words({1, 1000, 3}));
    std::strcpy(d.CalibDataPath, calib.c_str());
    std::strcpy(d.CorrLineDataPath, lines.c_str());
    tvx::PassCount = 1;
    tvx::ReadSegments = 1;
    std::uint32_t w = 0, h = 0;
    ASSERT_EQ(ex(&w, &h), 0);
    EXPECT_EQ(w, 3280u);  // 3300 - 2 x 10, a multiple of 4
    EXPECT_EQ(h, 2303u);  // the third chip overlaps the second by one row
    EXPECT_EQ(tvxtest::read_file(out).size(), 3280u * 2303 * 2);
    for (std::size_t i = 0; i < std::size_t{3280} * 2303; ++i) ASSERT_LE(image[i], 4095) << i;
}

TEST_F(PipelineSweepTest, EveryAllocationFailureOfTheExports) {
    const std::string in = dir.file("in.raw");
    tvxtest::write_file(in, words(std::vector<std::uint16_t>(64 * 4, 9)));
    for (int which = 0; which < 3; ++which) {
        bool step_memory = false, output_memory = false;
        std::uint64_t n = 1;
        for (; n < 200; ++n) {
            full_picture();
            const std::int64_t held = tvx::core::test_blocks_held();
            std::int32_t rc;
            std::uint32_t w = 64, h = 4;
            {
                tvxtest::FailAllocation fail(n);
                if (which == 0)
                    rc = Tavirex_ImageProcessingEx(out.c_str(), &w, &h);
                else if (which == 1)
                    rc = Tavirex_ImageProcessingEx2(out.c_str(), &w, &h);
                else
                    rc = Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h);
            }
            EXPECT_EQ(tvx::core::test_blocks_held(), held) << which << " " << n;
            if (rc == 0) break;
            EXPECT_TRUE(rc == TAVIREX_E_NO_MEMORY || rc == TAVIREX_E_PROCESS_OUTPUT) << which << " " << n << " " << rc;
            step_memory |= rc == TAVIREX_E_NO_MEMORY;
            output_memory |= rc == TAVIREX_E_PROCESS_OUTPUT;
            EXPECT_FALSE(tvxtest::file_exists(out)) << which << " " << n;
        }
        // The steps report 5; the crop and separator buffers -96 (the dummy's input buffer 5).
        EXPECT_TRUE(step_memory) << which;
        EXPECT_TRUE(output_memory) << which;
        EXPECT_GT(n, which == 2 ? 2u : 10u) << which;
        EXPECT_LT(n, 200u);
        EXPECT_TRUE(tvxtest::file_exists(out));
        std::remove(out.c_str());
    }
}

}  // namespace
