// From the simulated module through processing to a marked bitmap, as the host
// does it: every pass count with segment counts below and equal to it, and both
// cephalometric views. The bitmaps must open in an independent reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "state/context.h"
#include "support/sim_control.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

struct Picture {
    bool ceph;
    bool lateral;
    uint32_t passes;
    uint32_t segments;
    const char* profile;
};

std::string quoted_command(const std::string& cmd) {
#if defined(_WIN32)
    return "\"" + cmd + "\"";  // cmd.exe drops the outermost quotes of a /c line
#else
    return cmd;
#endif
}

class FullCycleTest : public ::testing::TestWithParam<Picture> {
protected:
    // The shading calibration files are large; make them once for the suite.
    static void SetUpTestSuite() {
        files_ = new tvxtest::TempDir;
        for (const char* mode : {"pano", "ceph"}) {
            const std::string cmd = std::string("\"") + TVX_CLI_PATH + "\" calibrate " + mode + " --model --sim \"" +
                                    TVX_SIM_PATH + "\" --shading \"" + files_->file(std::string("shading_") + mode + ".bin") +
                                    "\" --lines \"" + files_->file(std::string("lines_") + mode + ".bin") + "\" > \"" +
                                    files_->file("calibrate.log") + "\" 2>&1";
            calibrated_ = calibrated_ && std::system(quoted_command(cmd).c_str()) == 0;
        }
    }
    static void TearDownTestSuite() {
        delete files_;
        files_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(calibrated_) << tvxtest::read_file(files_->file("calibrate.log"));
        tvxtest::reset_library();
        const Picture p = GetParam();
        const std::string mode = p.ceph ? "ceph" : "pano";
        config_ = dir_.file("tavirex.ini");
        tvxtest::write_file(
            config_, "[DLL]\r\nFILENAME=" TVX_SIM_PATH "\r\n"
                     "[LOADPROG]\r\nBOOT=" TVX_SOURCE_DIR "/data/boot.bin\r\nFPGA=" TVX_SOURCE_DIR
                     "/data/fpga_pano.hex\r\nFPGA_CEPH=" TVX_SOURCE_DIR "/data/fpga_ceph.hex\r\n"
                     "[DELSHADW]\r\nCALIBDATA=" + files_->file("shading_pano.bin") + "\r\nCALIBDATA_CEPH=" +
                         files_->file("shading_ceph.bin") + "\r\n"
                     "[CORRINJLINE]\r\nCORRLINEDATA=" + files_->file("lines_" + mode + ".bin") + "\r\n"
                     "[ExOption]\r\nPictLineNum=2\r\nPictLineColor=0\r\n");
    }
    void TearDown() override { tvxtest::reset_library(); }

    static tvxtest::TempDir* files_;
    static bool calibrated_;
    tvxtest::TempDir dir_;
    tvxtest::Sim sim_;
    std::string config_;
};

tvxtest::TempDir* FullCycleTest::files_ = nullptr;
bool FullCycleTest::calibrated_ = true;

TEST_P(FullCycleTest, AcquireProcessAndWriteTheMarkedBitmap) {
    const Picture p = GetParam();
    const std::string profile = std::string(TVX_SOURCE_DIR "/data/") + p.profile;
    ASSERT_EQ(Tavirex_Init(config_.c_str(), 1), 0);
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    ASSERT_EQ(p.ceph ? Tavirex_SetSensMduInit_Ceph(config_.c_str(), p.lateral ? 1 : 0, 1)
                     : Tavirex_SetSensMduInit_Pano(config_.c_str(), 1),
              0);
    ASSERT_EQ(p.ceph ? Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 100)
                     : Tavirex_SetParamforPictEx(profile.c_str(), p.passes, 10, 100),
              0);
    ASSERT_EQ(Tavirex_SetWaitXExpose(), 0);
    uint8_t picture = 0;
    for (int polls = 0; picture == 0 && polls < 50; ++polls) ASSERT_EQ(Tavirex_CheckPictStatus(&picture), 0);
    ASSERT_EQ(picture, 1);
    ASSERT_EQ(Tavirex_GetImageDataEx(p.segments), 0);
    ASSERT_EQ(Tavirex_ResetAll(), 0);
    ASSERT_EQ(Tavirex_SetDeviceFree(), 0);

    const std::string raw = dir_.file("processed.raw");
    uint32_t width = 0, height = 0;
    ASSERT_EQ(Tavirex_ImageProcessingEx(raw.c_str(), &width, &height), 0);
    ASSERT_GT(width, 0u);
    EXPECT_EQ(height, p.ceph ? 2303u : 1536u);
    const std::string pixels = tvxtest::read_file(raw);
    ASSERT_EQ(pixels.size(), 2u * width * height);
    for (std::size_t i = 0; i < pixels.size(); i += 2)
        ASSERT_LE(static_cast<uint8_t>(pixels[i]) | (static_cast<uint8_t>(pixels[i + 1]) << 8), 4095) << i / 2;

    // Separator bands of 8 columns between the segments, at B, 2B + 8, 3B + 16.
    const tvx::SeparatorLines& bands = tvx::SeparatorLineList;
    ASSERT_EQ(bands.Count, p.segments - 1);
    const uint32_t block = (width - 8 * (p.segments - 1)) / p.segments;
    for (uint32_t i = 0; i < bands.Count; ++i) EXPECT_EQ(bands.Position[i], (i + 1) * block + 8 * i) << i;

    const std::string bmp = dir_.file("picture.bmp");
    ASSERT_EQ(Tavirex_SetWindowPosAuto(raw.c_str(), static_cast<int32_t>(width), static_cast<int32_t>(height)), 0);
    ASSERT_EQ(Tavirex_SaveBitmapWindow(raw.c_str(), static_cast<int32_t>(width), static_cast<int32_t>(height), 8, 60,
                                       bmp.c_str()),
              0);
    ASSERT_EQ(Tavirex_MarkingInBitmap(bmp.c_str(), 1), 0);
    const std::string file = tvxtest::read_file(bmp);
    const uint32_t stride = (width + 3) / 4 * 4;
    ASSERT_EQ(file.size(), 1078u + stride * height);

#if defined(_WIN32)
    GTEST_SKIP() << "the independent reader is the host's Python with PIL, which a Windows program cannot start";
#else
    if (std::system("/usr/bin/python3 -c \"import PIL\" > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "/usr/bin/python3 with PIL is not available";
    // Size, grey palette, white separator columns and the white L at stored rows 32..127.
    const std::string band = bands.Count > 0 ? std::to_string(bands.Position[0]) : "-1";
    const std::string script =
        "from PIL import Image\n"
        "im = Image.open(r'" + bmp + "')\n"
        "assert im.size == (" + std::to_string(width) + ", " + std::to_string(height) + "), im.size\n"
        "assert im.mode in ('L', 'P'), im.mode\n"
        "if im.mode == 'P':\n"
        "    pal = im.getpalette()[:768]\n"
        "    assert all(pal[3*i:3*i+3] == [i, i, i] for i in range(256))\n"
        "g = im.convert('L')\n"
        "b = " + band + "\n"
        "if b >= 0:\n"
        "    assert all(g.getpixel((x, y)) == 255 for x in range(b, b + 8) for y in range(0, g.size[1], 37))\n"
        "assert sum(g.getpixel((x, g.size[1] - 1 - y)) == 255 for x in range(112, 208) for y in range(32, 128)) > 500\n";
    const std::string script_path = dir_.file("check.py");
    tvxtest::write_file(script_path, script);
    EXPECT_EQ(std::system(("/usr/bin/python3 " + script_path + " > " + dir_.file("py.log") + " 2>&1").c_str()), 0)
        << tvxtest::read_file(dir_.file("py.log"));
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, FullCycleTest,
    ::testing::Values(Picture{false, false, 1, 1, "speed_pano.txt"}, Picture{false, false, 2, 1, "speed_pano.txt"},
                      Picture{false, false, 2, 2, "speed_pano.txt"}, Picture{false, false, 3, 2, "speed_pano_4pass.txt"},
                      Picture{false, false, 3, 3, "speed_pano_4pass.txt"},
                      Picture{false, false, 4, 4, "speed_pano_4pass.txt"}, Picture{true, false, 1, 1, "speed_ceph.txt"},
                      Picture{true, true, 1, 1, "speed_ceph.txt"}),
    [](const ::testing::TestParamInfo<Picture>& info) {
        const Picture& p = info.param;
        return p.ceph ? std::string(p.lateral ? "CephLateral" : "CephFrontal")
                      : "Pano" + std::to_string(p.passes) + "Passes" + std::to_string(p.segments) + "Segments";
    });

}  // namespace
