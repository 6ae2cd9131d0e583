// Whole cycles as the host runs them, through the C interface against the
// simulated module: acquisition, readout, processing with the calibration the
// command-line host made from the sensor model, and a marked bitmap that must
// open in an independent reader. Every pass count, segment counts below and
// equal to it, and both cephalometric views.
#include <gtest/gtest.h>

#include <string>

#include "api/context.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

struct Picture {
    bool ceph, lateral;
    uint32_t passes, segments;
    const char* profile;
    int mode;  // flat field: each pass's picture columns must be exposed and no others
};

// The shading calibration files and line tables are large: made once for the suite.
const tvxtest::TempDir& calibration() {
    static tvxtest::TempDir files;
    static bool made = false;
    for (const std::string mode : {"pano", "ceph"}) {
        if (made) break;
        EXPECT_EQ(tvxtest::run_cli("calibrate " + mode + " --model --sim \"" TVX_SIM_PATH "\" --shading \"" +
                                       files.file("shading_" + mode + ".bin") + "\" --lines \"" +
                                       files.file("lines_" + mode + ".bin") + "\"",
                                   files.file("calibrate.log")),
                  0)
            << tvxtest::read_file(files.file("calibrate.log"));
    }
    made = true;
    return files;
}

TEST(CalibrationTest, SensorModelGivesFullTablesAndTheSampleLineTables) {
    const tvxtest::TempDir& files = calibration();
    for (const std::string mode : {"pano", "ceph"}) {
        EXPECT_EQ(tvxtest::read_file(files.file("shading_" + mode + ".bin")).size(), mode == "ceph" ? 18874368u : 12582912u);
        const std::string lines = tvxtest::read_file(files.file("lines_" + mode + ".bin"));
        EXPECT_EQ(tvxtest::words_of(lines), mode == "ceph" ? tvxtest::Words({3, 600, 1402, 2050, 1, 3, 2})
                                                           : tvxtest::Words({2, 1180, 1958, 2, 1}));
        EXPECT_EQ(lines, tvxtest::read_file(TVX_SOURCE_DIR "/data/lines_" + mode + ".bin"));
    }
}

class CycleTest : public tvxtest::LibraryTest, public ::testing::WithParamInterface<Picture> {};

double column_mean(const uint16_t* image, int width, int column) {
    double sum = 0;
    for (int r = 100; r < 700; ++r) sum += image[static_cast<std::size_t>(r) * width + column];
    return sum / 600;
}

TEST_P(CycleTest, AcquireProcessAndWriteTheMarkedBitmap) {
    const Picture p = GetParam();
    const tvxtest::TempDir& files = calibration();
    const std::string mode = p.ceph ? "ceph" : "pano", config = dir.file("tavirex.ini");
    tvxtest::write_file(config, "[DLL]\r\nFILENAME=" TVX_SIM_PATH "\r\n[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" TVX_SOURCE_DIR
                                "/data/boot.bin\r\nFPGA=" TVX_SOURCE_DIR "/data/fpga_pano.hex\r\nFPGA_CEPH=" TVX_SOURCE_DIR
                                "/data/fpga_ceph.hex\r\n[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANRETRY=5\r\n"
                                "INITVALUE=1\r\nSTARTSIGNAL=1\r\nPICTPATTERN=0\r\n[DELSHADW]\r\nCALIBDATA=" +
                                    files.file("shading_pano.bin") + "\r\nCALIBDATA_CEPH=" +
                                    files.file("shading_ceph.bin") + "\r\n[CORRINJLINE]\r\nCORRLINEDATA=" +
                                    files.file("lines_" + mode + ".bin") +
                                    "\r\n[ExOption]\r\nPictLineNum=2\r\nPictLineColor=0\r\n");
    const std::string profile = std::string(TVX_SOURCE_DIR "/data/") + p.profile;
    ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    ASSERT_EQ(p.ceph ? Tavirex_SetSensMduInit_Ceph(config.c_str(), p.lateral ? 1 : 0, 1)
                     : Tavirex_SetSensMduInit_Pano(config.c_str(), 1),
              0);
    EXPECT_EQ(tvxtest::sim_stats().fpga_loads, 1u);
    ASSERT_EQ(p.ceph ? Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 100)
                     : Tavirex_SetParamforPictEx(profile.c_str(), p.passes, 10, 100),
              0);
    ASSERT_EQ(TvxSim_SetMode(p.mode, nullptr), 0);
    ASSERT_EQ(Tavirex_SetWaitXExpose(), 0);
    uint8_t picture = 0;
    for (int polls = 0; picture == 0 && polls < 50; ++polls) ASSERT_EQ(Tavirex_CheckPictStatus(&picture), 0);
    ASSERT_EQ(picture, 1);
    ASSERT_EQ(Tavirex_GetImageDataEx(p.segments), 0);

    const tvx::DeviceContext& d = tvx::Device;
    const int iw = d.ImageWidth, ih = d.ImageHeight;
    ASSERT_EQ(std::make_pair(iw, ih), p.ceph ? std::make_pair(3500, 2304) : std::make_pair(4096, 1536));
    for (std::size_t i = 0; i < static_cast<std::size_t>(iw) * ih; ++i) ASSERT_LE(d.ImageBuffer[i], 4095) << i;
    const int block = p.ceph ? 3500 : (p.passes == 3 ? 1364 : 4096 / static_cast<int>(p.passes));
    for (uint32_t k = 0; k < p.passes && p.mode == TVXSIM_MODE_FLAT; ++k) {
        const int first = static_cast<int>(k) * block + d.SegmentStart[k], end = first + d.SegmentWidth[k];
        ASSERT_GT(d.SegmentWidth[k], 100);
        EXPECT_GT(column_mean(d.ImageBuffer, iw, first), 1500) << "pass " << k;
        EXPECT_GT(column_mean(d.ImageBuffer, iw, end - 1), 1500) << "pass " << k;
        EXPECT_LT(column_mean(d.ImageBuffer, iw, first - 1), 1000) << "pass " << k;
        EXPECT_LT(column_mean(d.ImageBuffer, iw, end), 1000) << "pass " << k;
    }
    ASSERT_EQ(Tavirex_ResetAll(), 0);
    ASSERT_EQ(Tavirex_SetDeviceFree(), 0);

    const std::string raw = dir.file("processed.raw");
    uint32_t width = 0, height = 0;
    ASSERT_EQ(Tavirex_ImageProcessingEx(raw.c_str(), &width, &height), 0);
    ASSERT_GT(width, 0u);
    EXPECT_EQ(height, p.ceph ? 2303u : 1536u);
    const tvxtest::Words pixels = tvxtest::read_words(raw);
    ASSERT_EQ(pixels.size(), std::size_t{width} * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) ASSERT_LE(pixels[i], 4095) << i;
    // Separator bands of 8 columns between the segments, at B, 2B + 8, 3B + 16.
    const tvx::SeparatorLines& bands = tvx::SeparatorLineList;
    ASSERT_EQ(bands.Count, p.segments - 1);
    const uint32_t segment = (width - 8 * (p.segments - 1)) / p.segments;
    for (uint32_t i = 0; i < bands.Count; ++i) EXPECT_EQ(bands.Position[i], (i + 1) * segment + 8 * i) << i;

    const std::string bmp = dir.file("picture.bmp");
    const auto w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    ASSERT_EQ(Tavirex_SetWindowPosAuto(raw.c_str(), w, h), 0);
    ASSERT_EQ(Tavirex_SaveBitmapWindow(raw.c_str(), w, h, 8, 60, bmp.c_str()), 0);
    ASSERT_EQ(Tavirex_MarkingInBitmap(bmp.c_str(), 1), 0);
    ASSERT_EQ(tvxtest::read_file(bmp).size(), 1078u + tvxtest::stride(w) * height);
    if (const char* why = tvxtest::pil_missing()) GTEST_SKIP() << why;
    // Size, grey palette, white separator columns and the white L at stored rows 32..127.
    EXPECT_EQ(tvxtest::python(
                  "im = Image.open(r'" + bmp + "')\n"
                  "assert im.size == (" + std::to_string(width) + ", " + std::to_string(height) + "), im.size\n"
                  "assert im.mode in ('L', 'P'), im.mode\n"
                  "if im.mode == 'P':\n"
                  "    pal = im.getpalette()[:768]\n"
                  "    assert all(pal[3*i:3*i+3] == [i, i, i] for i in range(256))\n"
                  "g = im.convert('L')\n"
                  "b = " + (bands.Count > 0 ? std::to_string(bands.Position[0]) : "-1") + "\n"
                  "if b >= 0:\n"
                  "    assert all(g.getpixel((x, y)) == 255 for x in range(b, b + 8) for y in range(0, g.size[1], 37))\n"
                  "assert sum(g.getpixel((x, g.size[1] - 1 - y)) == 255 for x in range(112, 208) for y in range(32, 128)) > 500\n",
                  dir),
              "");
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, CycleTest,
    ::testing::Values(Picture{false, false, 1, 1, "speed_pano.txt", TVXSIM_MODE_FLAT},
                      Picture{false, false, 2, 1, "speed_pano.txt", TVXSIM_MODE_PHANTOM},
                      Picture{false, false, 2, 2, "speed_pano.txt", TVXSIM_MODE_FLAT},
                      Picture{false, false, 3, 2, "speed_pano_4pass.txt", TVXSIM_MODE_PHANTOM},
                      Picture{false, false, 3, 3, "speed_pano_4pass.txt", TVXSIM_MODE_FLAT},
                      Picture{false, false, 4, 4, "speed_pano_4pass.txt", TVXSIM_MODE_FLAT},
                      Picture{true, false, 1, 1, "speed_ceph.txt", TVXSIM_MODE_FLAT},
                      Picture{true, true, 1, 1, "speed_ceph.txt", TVXSIM_MODE_PHANTOM}),
    [](const ::testing::TestParamInfo<Picture>& info) {
        const Picture& p = info.param;
        return p.ceph ? std::string(p.lateral ? "CephLateral" : "CephFrontal")
                      : "Pano" + std::to_string(p.passes) + "Passes" + std::to_string(p.segments) + "Segments";
    });

}  // namespace
