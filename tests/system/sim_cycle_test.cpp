// Whole panoramic and cephalometric acquisitions through the C interface
// against the simulated module, and the CLI's calibration and acquisition.
#include <gtest/gtest.h>

#include <cstdlib>

#include "state/context.h"
#include "support/sim_control.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

const char kConfig[] = "[DLL]\r\nFILENAME=" TVX_SIM_PATH "\r\n"
                       "[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" TVX_SOURCE_DIR "/data/boot.bin\r\n"
                       "FPGA=" TVX_SOURCE_DIR "/data/fpga_pano.hex\r\nFPGA_CEPH=" TVX_SOURCE_DIR "/data/fpga_ceph.hex\r\n"
                       "[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANRETRY=5\r\nINITVALUE=1\r\nSTARTSIGNAL=1\r\nPICTPATTERN=0\r\n";

struct Cycle {
    bool ceph;
    bool lateral;
    uint32_t passes;
    const char* profile;
};

class SimCycleTest : public ::testing::TestWithParam<Cycle> {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
    tvxtest::TempDir dir;
    tvxtest::Sim sim;
};

double column_mean(const uint16_t* image, int width, int column) {
    double sum = 0;
    for (int r = 100; r < 700; ++r) sum += image[static_cast<std::size_t>(r) * width + column];
    return sum / 600;
}

// A flat-field exposure: the module must expose exactly the picture lines of every pass.
TEST_P(SimCycleTest, WholeCycle) {
    const Cycle c = GetParam();
    const std::string config = dir.file("tavirex.ini"), profile = std::string(TVX_SOURCE_DIR "/data/") + c.profile;
    tvxtest::write_file(config, kConfig);
    ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    ASSERT_EQ(c.ceph ? Tavirex_SetSensMduInit_Ceph(config.c_str(), c.lateral ? 1 : 0, 1)
                     : Tavirex_SetSensMduInit_Pano(config.c_str(), 1),
              0);
    EXPECT_EQ(sim.stats().fpga_loads, 1u);
    ASSERT_EQ(c.ceph ? Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 100)
                     : Tavirex_SetParamforPictEx(profile.c_str(), c.passes, 10, 100),
              0);
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_FLAT), 0);
    ASSERT_EQ(Tavirex_SetWaitXExpose(), 0);
    unsigned char picture = 0;
    for (int polls = 0; picture == 0 && polls < 50; ++polls) ASSERT_EQ(Tavirex_CheckPictStatus(&picture), 0);
    ASSERT_EQ(picture, 1);
    ASSERT_EQ(Tavirex_GetImageDataEx(c.passes), 0);
    const tvx::DeviceContext& d = tvx::Device;
    const int width = d.ImageWidth, height = d.ImageHeight;
    ASSERT_EQ(width, c.ceph ? 3500 : 4096);
    ASSERT_EQ(height, c.ceph ? 2304 : 1536);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) ASSERT_LE(d.ImageBuffer[i], 4095) << i;
    const int block = c.ceph ? 3500 : (c.passes == 3 ? 1364 : 4096 / static_cast<int>(c.passes));
    for (uint32_t p = 0; p < c.passes; ++p) {
        const int first = static_cast<int>(p) * block + d.SegmentStart[p], end = first + d.SegmentWidth[p];
        ASSERT_GT(d.SegmentWidth[p], 100);
        EXPECT_GT(column_mean(d.ImageBuffer, width, first), 1500) << "pass " << p;
        EXPECT_GT(column_mean(d.ImageBuffer, width, end - 1), 1500) << "pass " << p;
        EXPECT_LT(column_mean(d.ImageBuffer, width, first - 1), 1000) << "pass " << p;
        EXPECT_LT(column_mean(d.ImageBuffer, width, end), 1000) << "pass " << p;
    }
    ASSERT_EQ(Tavirex_ResetAll(), 0);
    EXPECT_EQ(Tavirex_SetDeviceFree(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cycles, SimCycleTest,
                         ::testing::Values(Cycle{false, false, 1, "speed_pano.txt"}, Cycle{false, false, 2, "speed_pano.txt"},
                                           Cycle{false, false, 3, "speed_pano_4pass.txt"},
                                           Cycle{false, false, 4, "speed_pano_4pass.txt"},
                                           Cycle{true, false, 1, "speed_ceph.txt"}, Cycle{true, true, 1, "speed_ceph.txt"}));

class CliSimTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
    // Runs the CLI with `args`; its output goes to log().
    int cli(const std::string& args) {
        return std::system((std::string(TVX_CLI_PATH) + args + " > " + dir.file("log.txt") + " 2>&1").c_str());
    }
    std::string log() { return tvxtest::read_file(dir.file("log.txt")); }
    std::string at(const char* name) { return " " + dir.file(name); }
    tvxtest::TempDir dir;
};

std::vector<int> words(const std::string& bytes) {
    std::vector<int> out(bytes.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(static_cast<unsigned char>(bytes[2 * i]) | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return out;
}

TEST_F(CliSimTest, CalibrateFromDarkAndFlatReadouts) {
    const int w = 4096, h = 1536;
    std::vector<uint16_t> dark(static_cast<std::size_t>(w) * h, 100), flat = dark;
    // Exposed columns 100..999: level 2000; row 500 half as sensitive, rows 1000 and 1535 nearly dead.
    for (int r = 0; r < h; ++r)
        for (int c = 100; c < 1000; ++c) flat[static_cast<std::size_t>(r) * w + c] += r == 500 ? 1000 : (r == 1000 || r == 1535) ? 400 : 2000;
    tvxtest::write_file(dir.file("dark.raw"), std::string(reinterpret_cast<const char*>(dark.data()), dark.size() * 2));
    tvxtest::write_file(dir.file("flat.raw"), std::string(reinterpret_cast<const char*>(flat.data()), flat.size() * 2));
    ASSERT_EQ(cli(" calibrate pano --dark" + at("dark.raw") + " --flat" + at("flat.raw") + " --shading" + at("shading.bin") +
                  " --lines" + at("lines.bin")), 0) << log();
    const std::vector<int> table = words(tvxtest::read_file(dir.file("shading.bin")));
    ASSERT_EQ(table.size(), static_cast<std::size_t>(w) * h);
    EXPECT_EQ(table[1234], 1234) << "row 0 at the median level keeps its values";
    EXPECT_EQ(table[500 * w + 100], 200) << "half-sensitive row doubled";
    EXPECT_EQ(table[500 * w + 3000], 4095) << "limited to 12 bits";
    EXPECT_EQ(table[1000 * w + 700], 700) << "a defective row is left to the line table";
    // One band listed at 1000 + 768; the band on the last row has no row below it.
    EXPECT_EQ(words(tvxtest::read_file(dir.file("lines.bin"))), std::vector<int>({1, 1768, 1}));
    // No exposed columns: refused, nothing written.
    EXPECT_NE(cli(" calibrate pano --dark" + at("dark.raw") + " --flat" + at("dark.raw") + " --shading" + at("s2.bin") +
                  " --lines" + at("l2.bin")), 0);
    EXPECT_FALSE(tvxtest::file_exists(dir.file("s2.bin")));
    EXPECT_FALSE(tvxtest::file_exists(dir.file("l2.bin")));
}

TEST_F(CliSimTest, CalibrateFromTheSensorModelAndSampleLineTables) {
    for (const std::string mode : {"pano", "ceph"}) {
        ASSERT_EQ(cli(" calibrate " + mode + " --model --sim " TVX_SIM_PATH " --shading" + at("s.bin") + " --lines" + at("l.bin")), 0)
            << log();
        EXPECT_EQ(tvxtest::read_file(dir.file("s.bin")).size(), mode == "ceph" ? 18874368u : 12582912u);
        const std::string lines = tvxtest::read_file(dir.file("l.bin"));
        EXPECT_EQ(words(lines), mode == "ceph" ? std::vector<int>({3, 600, 1402, 2050, 1, 3, 2}) : std::vector<int>({2, 1180, 1958, 2, 1}));
        EXPECT_EQ(lines, tvxtest::read_file(TVX_SOURCE_DIR "/data/lines_" + mode + ".bin"));
    }
}

TEST_F(CliSimTest, AcquireWritesAndReplaysTheRawReadout) {
    tvxtest::write_file(dir.file("tavirex.ini"), kConfig);
    const std::string acquire = " acquire pano --quiet --passes 2 --config" + at("tavirex.ini") + " --profile ";
    ASSERT_EQ(cli(acquire + TVX_SOURCE_DIR "/data/speed_pano.txt --out" + at("pano.raw")), 0) << log();
    EXPECT_EQ(tvxtest::read_file(dir.file("pano.raw")).size(), 12582912u);
    EXPECT_NE(log().find("Tavirex_GetImageDataEx"), std::string::npos);
    // The recorded readout played back by the module comes out unchanged.
    ASSERT_EQ(cli(acquire + TVX_SOURCE_DIR "/data/speed_pano.txt --replay" + at("pano.raw") + " --out" + at("again.raw")), 0) << log();
    EXPECT_EQ(tvxtest::read_file(dir.file("again.raw")), tvxtest::read_file(dir.file("pano.raw")));
    // A profile that does not exist: the failing code explained, no file.
    EXPECT_NE(cli(acquire + dir.file("none.txt") + " --out" + at("bad.raw")), 0);
    EXPECT_NE(log().find("-99 (the speed profile is missing"), std::string::npos) << log();
    EXPECT_FALSE(tvxtest::file_exists(dir.file("bad.raw")));
}

TEST_F(CliSimTest, AcquireAndCalibrateRefuseBadArguments) {
    EXPECT_EQ(cli(" acquire --help"), 0);
    for (const char* args : {" acquire tomo --config a --profile b", " acquire pano --profile b",
                             " acquire pano --config a --profile b --lateral", " acquire pano --config a --profile b --passes two",
                             " acquire ceph --config a --profile b --poll-limit 0",
                             " acquire pano --config a --profile b --replay r --sim-mode flat", " calibrate pano --model",
                             " calibrate pano --dark d --shading s --lines l"})
        EXPECT_NE(cli(args), 0) << args;
}

}  // namespace
