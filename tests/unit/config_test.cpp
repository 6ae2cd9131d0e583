#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "api/context.h"
#include "config/device_config.h"
#include "support/support.h"
#include "tavirex.h"

using tvx::Device;

namespace {

class InitTest : public tvxtest::LibraryTest {
protected:
};

using Values = std::vector<double>;
template <typename... T>
Values vals(T... v) {
    return {static_cast<double>(v)...};
}

TEST_F(InitTest, MissingFileGivesEveryDefault) {
    const std::string path = dir.file("missing.ini");
    std::memset(&Device, 0xA5, sizeof Device);  // stale values must not survive
    ASSERT_EQ(Tavirex_Init(path.c_str(), 0), 0);

    for (const char* text : {Device.LinkLibraryPath, Device.BootPath, Device.FpgaPath, Device.CalibDataPath,
                             Device.CorrLineDataPath, Device.IpAddress})
        EXPECT_STREQ(text, "");
    // Debug flags; link and module; set-up fields dropped by every Init.
    EXPECT_EQ(vals(Device.DebugProcess, Device.DebugParam, Device.DebugCheckState, Device.DebugDebug4, Device.DebugOutput),
              Values(5, 0));
    EXPECT_EQ(vals(Device.BootLoad, Device.FpgaLoad, Device.LanTimeout, Device.LanRetry,
                      Device.InitValue, Device.StartSignal, Device.PictPattern, Device.CephMode, Device.ImageWidth),
              Values({1, 0, 5000, 5, 1, 1, 0, 0, 0}));
    EXPECT_EQ(vals(Device.DefaultOffset, Device.SideCutWidth, Device.AveRange, Device.AveRangeLow, Device.ChgSumRange,
                      Device.SimaRange, Device.SmoothRange, Device.ManySideCutRatio),
              Values({0, 0, 80, 80, 30, 1.5, 200, 0}));
    for (std::size_t i = 0; i < tvx::kProcessFlagCount; ++i)
        EXPECT_EQ(Device.ProcessFlags[i], i == tvx::kGammaCorrForCephalo ? 0 : 1) << i;
    for (const auto& g : Device.AdSet) {
        for (auto a : g.Action) EXPECT_EQ(a, 0);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(g.Control[i], i == 3 ? 1 : 0);
        EXPECT_EQ(vals(g.ClampLevel, g.PxgaGain, g.VgaGain), Values({0, 32, 0}));  // VGA set by a sensor init
    }
    EXPECT_EQ(std::vector<uint16_t>(Device.XyCorr, Device.XyCorr + tvx::kXyCorrCount),
              std::vector<uint16_t>({0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1}));
    EXPECT_EQ(Device.ImageBuffer, nullptr);
    EXPECT_EQ(Device.ClockTable, nullptr);
    EXPECT_EQ(tvx::SerialPassThrough, 0u);
    EXPECT_STREQ(tvx::ConfigPath, path.c_str());
    EXPECT_EQ(Tavirex_GetWindowCenter(), 2048);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 4096);
}

TEST_F(InitTest, ValuesAreCutToTheirFieldWidthAndScaled) {
    const std::string path = dir.file("cfg.ini");
    tvxtest::write_file(path,
                        "[PICTCNTL]\r\nLANRETRY=300\r\nINITVALUE=256\r\nLANTIMEOUT=-1\r\nIPADDRESS=" + std::string(40, '7') +
                            "\r\n[EMPHASISCONTRAST]\r\nSIMARANGE=12\r\n"
                            "[ad2set]\r\naction_d5=257\r\nCONTROL_D3=0\r\nPxGAGain=70000\r\n[XYCORR]\r\nCCDGAP2=9\r\n"
                            "[PROCESS]\r\nDELNOISE=0\r\nGammaCorrForCephalo=1\r\n"
                            "[INIT_WINDOW]\r\nWINDOW_CENTER=1000\r\nWINDOW_WIDTH=201\r\n"
                            "[DLL]\r\nFILENAME=\"" + std::string(600, 'd') + "\"\r\n");
    ASSERT_EQ(Tavirex_Init(path.c_str(), 1), 0);
    EXPECT_EQ(Device.LanRetry, 44);    // 300 keeps its low 8 bits
    EXPECT_EQ(Device.InitValue, 256);  // fits 16 bits; refused later by FPGA loading
    EXPECT_EQ(Device.LanTimeout, 0xFFFFFFFFu);
    EXPECT_DOUBLE_EQ(Device.SimaRange, 1.2);
    EXPECT_EQ(vals(Device.AdSet[1].Action[5], Device.AdSet[1].Control[3], Device.AdSet[0].Control[3],
                      Device.AdSet[1].PxgaGain),
              Values({1, 0, 1, 4464}));  // 70000 keeps its low 16 bits
    EXPECT_EQ(Device.XyCorr[tvx::kCcdGap2], 9);
    EXPECT_EQ(Device.ProcessFlags[tvx::kDelNoise], 0);
    EXPECT_EQ(Device.ProcessFlags[tvx::kGammaCorrForCephalo], 1);
    EXPECT_EQ(Tavirex_GetWindowCenter(), 1000);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 201);
    // Text cut to its buffer, terminating zero included.
    EXPECT_EQ(std::string(Device.IpAddress), std::string(31, '7'));
    EXPECT_EQ(std::string(Device.LinkLibraryPath), std::string(511, 'd'));
}

TEST_F(InitTest, OverlongOrMissingPathIsRefusedAndChangesNothing) {
    ASSERT_EQ(Tavirex_Init(dir.file("a.ini").c_str(), 1), 0);
    const std::string before = tvx::ConfigPath;
    EXPECT_EQ(Tavirex_Init(std::string(tvx::kConfigPathSize, 'x').c_str(), 0), TAVIREX_E_RANGE);
    EXPECT_EQ(Tavirex_Init(nullptr, 0), TAVIREX_E_RANGE);
    EXPECT_EQ(before, tvx::ConfigPath);
    EXPECT_EQ(tvx::SerialPassThrough, 1u);
    // A path longer than the 260 characters of a classic Windows path is kept whole.
    const std::string deep = dir.path() + "/" + std::string(300, 'p') + ".ini";
    EXPECT_EQ(Tavirex_Init(deep.c_str(), 1), 0);
    EXPECT_EQ(deep, tvx::ConfigPath);
}

TEST_F(InitTest, SensorKeysComeFromTheirOwnFile) {
    const std::string first = dir.file("first.ini"), second = dir.file("second.ini");
    tvxtest::write_file(first, "[PICTCNTL]\nLANRETRY=7\n[LOADPROG]\nFPGA=first.hex\n");
    tvxtest::write_file(second,
                        "[PICTCNTL]\nLANRETRY=9\n[LOADPROG]\nFPGA=second.hex\nFPGA_CEPH=ceph.hex\n"
                        "[XMANYSIDECUTPERCENTAGE]\nPANO=25\n[XMANYSIDECUTPERCENTAGE_SOKU]\nCEPH=40\n"
                        "[AD3SET]\nVGAGain=300\n");
    ASSERT_EQ(Tavirex_Init(first.c_str(), 1), 0);
    tvx::config::read_pano_keys(Device, second.c_str());
    EXPECT_EQ(Device.LanRetry, 7);
    EXPECT_STREQ(Device.FpgaPath, "second.hex");
    EXPECT_DOUBLE_EQ(Device.ManySideCutRatio, 0.025);
    EXPECT_DOUBLE_EQ(Device.FewSideCutRatio, 0.001);
    EXPECT_EQ(Device.AdSet[2].VgaGain, 300);
    tvx::config::read_ceph_keys(Device, second.c_str(), true);
    EXPECT_STREQ(Device.FpgaPath, "ceph.hex");
    EXPECT_DOUBLE_EQ(Device.ManySideCutRatio, 0.04);  // one key serves both ratios
    EXPECT_DOUBLE_EQ(Device.FewSideCutRatio, 0.04);
}

}  // namespace
