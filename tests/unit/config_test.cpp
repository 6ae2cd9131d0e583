#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/context.h"
#include "config/device_config.h"
#include "support/support.h"
#include "tavirex.h"

using tvx::Device;

namespace {

class InitTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
    tvxtest::TempDir dir;
};

TEST_F(InitTest, MissingFileGivesEveryDefault) {
    const std::string path = dir.file("missing.ini");
    std::memset(&Device, 0xA5, sizeof Device);  // stale values must not survive
    ASSERT_EQ(Tavirex_Init(path.c_str(), 0), 0);

    EXPECT_EQ(Device.DebugProcess + Device.DebugParam + Device.DebugCheckState + Device.DebugDebug4 +
                  Device.DebugOutput, 0);
    EXPECT_STREQ(Device.LinkLibraryPath, "");
    EXPECT_STREQ(Device.BootPath, "");
    EXPECT_STREQ(Device.FpgaPath, "");
    EXPECT_STREQ(Device.CalibDataPath, "");
    EXPECT_STREQ(Device.CorrLineDataPath, "");
    EXPECT_STREQ(Device.IpAddress, "");
    EXPECT_EQ(Device.BootLoad, 1);
    EXPECT_EQ(Device.FpgaLoad, 0);
    EXPECT_EQ(Device.LanTimeout, 5000u);
    EXPECT_EQ(Device.LanRetry, 5);
    EXPECT_EQ(Device.InitValue, 1);
    EXPECT_EQ(Device.StartSignal, 1);
    EXPECT_EQ(Device.PictPattern, 0);
    for (std::size_t i = 0; i < tvx::kProcessFlagCount; ++i)
        EXPECT_EQ(Device.ProcessFlags[i], i == tvx::kGammaCorrForCephalo ? 0 : 1) << i;
    EXPECT_EQ(Device.DefaultOffset, 0);
    EXPECT_EQ(Device.SideCutWidth, 0);
    for (const auto& g : Device.AdSet) {
        for (auto a : g.Action) EXPECT_EQ(a, 0);
        EXPECT_EQ(g.ClampLevel, 0);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(g.Control[i], i == 3 ? 1 : 0);
        EXPECT_EQ(g.PxgaGain, 32);
        EXPECT_EQ(g.VgaGain, 0);  // set only by a sensor initialisation
    }
    const std::uint16_t xy[] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};
    for (std::size_t i = 0; i < tvx::kXyCorrCount; ++i) EXPECT_EQ(Device.XyCorr[i], xy[i]) << i;
    EXPECT_EQ(Device.AveRange, 80);
    EXPECT_EQ(Device.AveRangeLow, 80);
    EXPECT_EQ(Device.ChgSumRange, 30);
    EXPECT_DOUBLE_EQ(Device.SimaRange, 1.5);
    EXPECT_EQ(Device.SmoothRange, 200);
    EXPECT_EQ(Device.ManySideCutRatio, 0.0);
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
                        "[PICTCNTL]\r\nLANRETRY=300\r\nINITVALUE=256\r\nLANTIMEOUT=-1\r\nIPADDRESS=10.0.0.1\r\n"
                        "[EMPHASISCONTRAST]\r\nSIMARANGE=12\r\n"
                        "[ad2set]\r\naction_d5=257\r\nCONTROL_D3=0\r\nPxGAGain=70000\r\n"
                        "[XYCORR]\r\nCCDGAP2=9\r\n"
                        "[PROCESS]\r\nDELNOISE=0\r\nGammaCorrForCephalo=1\r\n"
                        "[INIT_WINDOW]\r\nWINDOW_CENTER=1000\r\nWINDOW_WIDTH=201\r\n");
    ASSERT_EQ(Tavirex_Init(path.c_str(), 1), 0);
    EXPECT_EQ(Device.LanRetry, 44);      // 300 keeps its low 8 bits
    EXPECT_EQ(Device.InitValue, 256);    // fits 16 bits; refused later by FPGA loading
    EXPECT_EQ(Device.LanTimeout, 0xFFFFFFFFu);
    EXPECT_STREQ(Device.IpAddress, "10.0.0.1");
    EXPECT_DOUBLE_EQ(Device.SimaRange, 1.2);
    EXPECT_EQ(Device.AdSet[1].Action[5], 1);
    EXPECT_EQ(Device.AdSet[1].Control[3], 0);
    EXPECT_EQ(Device.AdSet[0].Control[3], 1);
    EXPECT_EQ(Device.AdSet[1].PxgaGain, 70000 & 0xFFFF);
    EXPECT_EQ(Device.XyCorr[tvx::kCcdGap2], 9);
    EXPECT_EQ(Device.ProcessFlags[tvx::kDelNoise], 0);
    EXPECT_EQ(Device.ProcessFlags[tvx::kGammaCorrForCephalo], 1);
    EXPECT_EQ(Tavirex_GetWindowCenter(), 1000);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 201);
}

TEST_F(InitTest, TextValuesAreCutToTheirBuffer) {
    const std::string path = dir.file("cfg.ini");
    const std::string ip(40, '7');
    tvxtest::write_file(path, "[PICTCNTL]\nIPADDRESS=" + ip + "\n[DLL]\nFILENAME=\"" + std::string(600, 'd') + "\"\n");
    ASSERT_EQ(Tavirex_Init(path.c_str(), 1), 0);
    EXPECT_EQ(std::string(Device.IpAddress), ip.substr(0, 31));
    EXPECT_EQ(std::string(Device.LinkLibraryPath), std::string(511, 'd'));
}

TEST_F(InitTest, ReInitDropsTheSetUpFieldsButKeepsTheBlocks) {
    Device.CephMode = 1;
    Device.ImageWidth = 4096;
    ASSERT_EQ(Tavirex_Init(dir.file("none.ini").c_str(), 1), 0);
    EXPECT_EQ(Device.CephMode, 0);
    EXPECT_EQ(Device.ImageWidth, 0);
}

TEST_F(InitTest, OverlongOrMissingPathIsRefusedAndChangesNothing) {
    ASSERT_EQ(Tavirex_Init(dir.file("a.ini").c_str(), 1), 0);
    const std::string before = tvx::ConfigPath;
    const std::string longpath(tvx::kConfigPathSize, 'x');
    EXPECT_EQ(Tavirex_Init(longpath.c_str(), 0), TAVIREX_E_RANGE);
    EXPECT_EQ(Tavirex_Init(nullptr, 0), TAVIREX_E_RANGE);
    EXPECT_EQ(before, tvx::ConfigPath);
    EXPECT_EQ(tvx::SerialPassThrough, 1u);
    // A path longer than the 260 characters of a classic Windows path is kept whole.
    const std::string deep = dir.path() + "/" + std::string(300, 'p') + ".ini";
    EXPECT_EQ(Tavirex_Init(deep.c_str(), 1), 0);
    EXPECT_EQ(deep, tvx::ConfigPath);
}

TEST_F(InitTest, SensorKeysComeFromTheirOwnFile) {
    const std::string first = dir.file("first.ini");
    const std::string second = dir.file("second.ini");
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
    EXPECT_EQ(Device.SecondBriScaleSelect, 7);
    EXPECT_EQ(Device.AdSet[0].VgaGain, 150);
    EXPECT_EQ(Device.AdSet[2].VgaGain, 300);

    tvx::config::read_ceph_keys(Device, second.c_str(), true);
    EXPECT_STREQ(Device.FpgaPath, "ceph.hex");
    EXPECT_DOUBLE_EQ(Device.ManySideCutRatio, 0.04);  // one key serves both ratios
    EXPECT_DOUBLE_EQ(Device.FewSideCutRatio, 0.04);
    EXPECT_EQ(Device.SecondBriScaleSelect, 6);
    EXPECT_EQ(Device.AdSet[0].VgaGain, 485);

    tvx::config::read_ceph_keys(Device, dir.file("absent.ini").c_str(), true);
    EXPECT_DOUBLE_EQ(Device.ManySideCutRatio, 0.0);
    EXPECT_DOUBLE_EQ(Device.FewSideCutRatio, 0.005);
}

}  // namespace
