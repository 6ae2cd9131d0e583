// The three processing exports: validation, the block stage, display order,
// separator bands, the raw file, failure codes and allocation failures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "api/context.h"
#include "core/alloc.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

using Pixels = std::vector<std::uint16_t>;

using tvxtest::bytes_of;
using tvxtest::read_words;

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
        d.ImageBuffer = image.data();
        d.ImageWidth = static_cast<std::uint16_t>(width);
        d.ImageHeight = static_cast<std::uint16_t>(height);
        d.CephMode = ceph;
        d.ClockMode = static_cast<std::uint8_t>(ceph ? 4 : passes - 1);
        d.SegmentCount = static_cast<std::uint8_t>(segments);
        d.ClockTable = clock.data();
        d.ClockTableLength = width;
        const std::uint16_t xy[tvx::kXyCorrCount] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};
        std::memcpy(d.XyCorr, xy, sizeof xy);
        d.AveRange = d.AveRangeLow = 80;
        d.ChgSumRange = 30;
        d.ManySideCutRatio = d.FewSideCutRatio = 0.001;
        d.SecondBriScaleSelect = 7;
        d.SimaRange = 1.5;
        d.SmoothRange = 200;
        for (auto& w : d.SegmentWidth) w = static_cast<std::uint16_t>(4096 / passes - 72);
        tvx::PassCount = passes;
        tvx::ReadSegments = segments;
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
    EXPECT_EQ(tvx::SeparatorLineList.Count, 0u);
    EXPECT_EQ(tvx::SeparatorLineList.Width, 8u);

    // Four passes: segments 3, 1, 0, 2 with 8-column bands of 0x0F0F at B, 2B + 8, 3B + 16.
    picture(4, 4);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint16_t>(i % 4096 / 1024 * 1000 + i % 1024 / 4);
    config("[ExOption]\nPictLineNum=2\nPictLineColor=1\n");
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(4u * 1024 + 3 * 8, 2u));
    Pixels row;
    for (int k : {3, 1, 0, 2}) {
        if (!row.empty()) row.insert(row.end(), 8, 0x0F0F);
        for (int x = 0; x < 1024; ++x) row.push_back(static_cast<std::uint16_t>(1000 * k + x / 4));
    }
    Pixels both_rows = row;
    both_rows.insert(both_rows.end(), row.begin(), row.end());
    EXPECT_EQ(read_words(out), both_rows);
    const auto& list = tvx::SeparatorLineList;
    EXPECT_EQ(std::vector<std::uint32_t>(list.Position, list.Position + list.Count),
              (std::vector<std::uint32_t>{1024, 2056, 3088}));
    // The record keeps the reordered image without bands.
    EXPECT_EQ(tvx::Device.ImageWidth, 4096);
    EXPECT_EQ(image[0], 3000);

    // Two passes, 4-column bands; a colour other than 0 and 1 counts as 0.
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
    d.SegmentStart[0] = 10;
    d.SegmentStart[1] = 20;
    d.SegmentWidth[0] = 1000;
    d.SegmentWidth[1] = 1003;
    d.SideCutWidth = 1;
    d.DefaultOffset = 2;
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(w, 2008u);
    Pixels px = read_words(out);
    EXPECT_EQ(Pixels({px[0], px[1003], px[1004], px[2007]}), Pixels({3074, 2071, 1016, 13}));

    // Only the first pass read: its width alone sets the block, and the kept width is one block.
    picture(2, 1);
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentStart[0] = 10;
    d.SegmentWidth[0] = 1000;
    d.SegmentWidth[1] = 3000;
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(w, 1000u);
    EXPECT_EQ(read_words(out)[0], 1012);  // columns 13 .. 1012, mirrored

    // The second block's cut runs 2040 columns past the row end: row 0 runs on into row 1,
    // and past the image every pixel is 0.
    picture(2, 2);
    std::fill(image.begin(), image.begin() + 4096, 1);
    std::fill(image.begin() + 4096, image.end(), 2);
    d.ProcessFlags[tvx::kCorrImgSize] = 1;
    d.SegmentWidth[0] = d.SegmentWidth[1] = 2048;
    d.SegmentStart[1] = 2040;
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
        d.ProcessFlags[tvx::kCorrBriScale] = 1;
        d.ProcessFlags[tvx::kEmphasisContrast] = contrast;
        if (contrast) {
            ASSERT_EQ(Tavirex_ImageProcessingEx2(out.c_str(), &w, &h), 0);
            EXPECT_EQ(w, 4096u);  // no bands: the ExOption keys were not read
            EXPECT_EQ(read_words(out)[0], 2048);  // pass 1 first, unscaled
        } else {
            d.ProcessFlags[tvx::kDelShadw] = 1;  // and then a failure
            std::strcpy(d.CalibDataPath, dir.file("missing.bin").c_str());
            EXPECT_EQ(Tavirex_ImageProcessingEx2(out.c_str(), &w, &h), TAVIREX_E_DATA_FILE);
        }
        EXPECT_EQ(d.ProcessFlags[tvx::kCorrBriScale], 1);
        EXPECT_EQ(d.ProcessFlags[tvx::kEmphasisContrast], contrast);
    }
}

TEST_F(PipelineTest, StepAndWriteFailuresEndTheRunWithoutAFile) {
    tvx::DeviceContext& d = tvx::Device;
    tvxtest::write_file(dir.file("calib.bin"), std::string(2 * 4096 * 2 + 2, '\0'));
    tvxtest::write_file(dir.file("lines.dat"), std::string("\x01\x00\x05", 3));
    std::strcpy(d.CorrLineDataPath, dir.file("lines.dat").c_str());
    const struct {
        std::size_t flag;
        const char* calib;
        const char* output;
        int code;
    } rows[] = {{tvx::kDelShadw, "missing.bin", "out.raw", TAVIREX_E_DATA_FILE},
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

TEST_F(PipelineTest, BannersUnderTheProcessSwitch) {
    picture(1, 1);
    tvx::DeviceContext& d = tvx::Device;
    d.DebugProcess = 1;
    d.ProcessFlags[tvx::kCorrImgSize] = d.ProcessFlags[tvx::kDelNoise] = d.ProcessFlags[tvx::kSecondCorrBriScale] = 1;
    d.SegmentWidth[0] = 4000;
    tvxtest::CaptureStderr capture;
    ASSERT_EQ(ex(), 0);
    const std::string text = capture.text();
    std::size_t at = 0;
    for (const char* b : {"ImageProcessing  START[", "  6.CORRIMGSIZE[", "  7.DELNOISE[", " 11.2ndCORRBRISCALE[",
                          "ImageProcessing  END  ["}) {
        at = text.find(b, at);
        ASSERT_NE(at, std::string::npos) << b << "\n" << text;
    }
    EXPECT_EQ(text.find("  1.DELDC"), std::string::npos);
    EXPECT_EQ(tvx::DebugFlags.DebugProcess, 1);
}

TEST_F(PipelineTest, DummyInsertsBandsIntoARawFile) {
    const std::string in = dir.file("in.raw"), bad = dir.file("no/such/out.raw");
    Pixels px(11 * 2);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i + 1);
    tvxtest::write_file(in, bytes_of(px));
    tvx::ReadSegments = 2;
    tvx::SeparatorLineList.Width = 4;
    tvx::SeparatorLineList.Color = 1;
    tvx::TomoImageActive = 1;
    w = 11, h = 2;
    ASSERT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), 0);
    EXPECT_EQ(w, 11u);  // only read
    EXPECT_EQ(tvx::TomoImageActive, 0u);
    const Pixels got = read_words(out);
    ASSERT_EQ(got.size(), 30u);
    const Pixels first_row = {1, 2, 3, 4, 5, 0x0F0F, 0x0F0F, 0x0F0F, 0x0F0F, 6, 7, 8, 9, 10, 11};
    EXPECT_EQ(Pixels(got.begin(), got.begin() + 15), first_row);
    EXPECT_EQ(got[15], 12);
    EXPECT_EQ(tvx::SeparatorLineList.Count, 1u);
    EXPECT_EQ(tvx::SeparatorLineList.Position[0], 5u);

    h = 3;  // the file holds two rows only
    EXPECT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), TAVIREX_E_DATA_FILE);
    h = 2;
    EXPECT_EQ(Tavirex_ImageProcessingExDummy(dir.file("none.raw").c_str(), out.c_str(), &w, &h), TAVIREX_E_DATA_FILE);
    {
        tvxtest::FailAllocation fail(1);
        EXPECT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), TAVIREX_E_NO_MEMORY);
    }
    EXPECT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), bad.c_str(), &w, &h), TAVIREX_E_PROCESS_OUTPUT);
    EXPECT_FALSE(tvxtest::file_exists(bad));
    w = 0;
    EXPECT_EQ(Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h), TAVIREX_E_RANGE);
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

// Every step on, with calibration and line table files.
class PipelineSweepTest : public PipelineTest {
protected:
    // Identity-like shading tables for `rows` rows; one injection band.
    void every_step(std::uint32_t rows, std::uint16_t line, std::uint16_t height) {
        Pixels table(rows * 4096u);
        for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint16_t>(i % 4096);
        tvxtest::write_file(dir.file("calib.bin"), bytes_of(table));
        tvxtest::write_file(dir.file("lines.dat"), bytes_of({1, line, height}));
        config("[ExOption]\nPictLineNum=1\n");
        tvx::DeviceContext& d = tvx::Device;
        for (auto& f : d.ProcessFlags) f = 1;
        std::strcpy(d.CalibDataPath, dir.file("calib.bin").c_str());
        std::strcpy(d.CorrLineDataPath, dir.file("lines.dat").c_str());
    }
};

TEST_F(PipelineSweepTest, CephalometricPictureThroughEveryStep) {
    picture(1, 1, 3500, 2304, true);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint16_t>(200 + (i * 7919 % 3001));
    every_step(2304, 1000, 3);
    tvx::DeviceContext& d = tvx::Device;
    d.SegmentStart[0] = 6;
    d.SegmentWidth[0] = 3300;
    d.SideCutWidth = 10;
    d.ManySideCutRatio = 0.0;
    d.FewSideCutRatio = 0.005;
    d.SecondBriScaleSelect = 6;
    ASSERT_EQ(ex(), 0);
    EXPECT_EQ(w, 3280u);  // 3300 - 2 x 10, a multiple of 4
    EXPECT_EQ(h, 2303u);  // the third chip overlaps the second by one row
    EXPECT_EQ(tvxtest::read_file(out).size(), 3280u * 2303 * 2);
    for (std::size_t i = 0; i < std::size_t{3280} * 2303; ++i) ASSERT_LE(image[i], 4095) << i;
}

TEST_F(PipelineSweepTest, EveryAllocationFailureOfTheExports) {
    const std::string in = dir.file("in.raw");
    tvxtest::write_file(in, bytes_of(Pixels(64 * 4, 9)));
    const std::function<std::int32_t()> exports[] = {
        [&] { return Tavirex_ImageProcessingEx(out.c_str(), &w, &h); },
        [&] { return Tavirex_ImageProcessingEx2(out.c_str(), &w, &h); },
        [&] { return Tavirex_ImageProcessingExDummy(in.c_str(), out.c_str(), &w, &h); }};
    for (int which = 0; which < 3; ++which) {
        bool step_memory = false, output_memory = false;
        std::uint64_t n = 1;
        for (; n < 200; ++n) {
            picture(2, 2, 4096, 768);
            for (std::size_t i = 0; i < image.size(); ++i)
                image[i] = static_cast<std::uint16_t>((i * 2654435761u >> 7) & 0xFFF);
            every_step(768, 900, 2);
            tvx::Device.ProcessFlags[tvx::kCorrImgSize] = 0;
            const std::int64_t held = tvx::core::test_blocks_held();
            std::int32_t rc;
            w = 64, h = 4;
            {
                tvxtest::FailAllocation fail(n);
                rc = exports[which]();
            }
            EXPECT_EQ(tvx::core::test_blocks_held(), held) << which << " " << n;
            if (rc == 0) break;
            EXPECT_TRUE(rc == TAVIREX_E_NO_MEMORY || rc == TAVIREX_E_PROCESS_OUTPUT) << which << " " << n << " " << rc;
            step_memory |= rc == TAVIREX_E_NO_MEMORY;
            output_memory |= rc == TAVIREX_E_PROCESS_OUTPUT;
            EXPECT_FALSE(tvxtest::file_exists(out)) << which << " " << n;
        }
        // The steps report 5; the crop and separator buffers -96 (the dummy's input buffer 5).
        EXPECT_TRUE(step_memory && output_memory) << which;
        EXPECT_GT(n, which == 2 ? 2u : 10u) << which;
        EXPECT_LT(n, 200u);
        EXPECT_TRUE(tvxtest::file_exists(out));
        std::remove(out.c_str());
    }
}

}  // namespace
