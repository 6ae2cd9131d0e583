// Whole panoramic and cephalometric acquisitions through the C interface
// against the simulated module, and the CLI's calibration and acquisition.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "api/context.h"
#include "support/sim_control.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

std::string config_text() {
    return "[DLL]\r\nFILENAME=" TVX_SIM_PATH "\r\n"
           "[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" TVX_SOURCE_DIR "/data/boot.bin\r\n"
           "FPGA=" TVX_SOURCE_DIR "/data/fpga_pano.hex\r\nFPGA_CEPH=" TVX_SOURCE_DIR "/data/fpga_ceph.hex\r\n"
           "[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANRETRY=5\r\nINITVALUE=1\r\nSTARTSIGNAL=1\r\nPICTPATTERN=0\r\n";
}

int run(const std::string& command) { return std::system(command.c_str()); }

struct Cycle {
    bool ceph;
    bool lateral;
    uint32_t passes;
    const char* profile;
};

class SimCycleTest : public ::testing::TestWithParam<Cycle> {
protected:
    void SetUp() override {
        tvxtest::reset_library();
        config = dir.file("tavirex.ini");
        tvxtest::write_file(config, config_text());
    }
    void TearDown() override { tvxtest::reset_library(); }

    tvxtest::TempDir dir;
    tvxtest::Sim sim;
    std::string config;
};

double column_mean(const uint16_t* image, int width, int column, int row0, int row1) {
    double sum = 0;
    for (int r = row0; r < row1; ++r) sum += image[static_cast<std::size_t>(r) * width + column];
    return sum / (row1 - row0);
}

TEST_P(SimCycleTest, WholeCycle) {
    const Cycle c = GetParam();
    const std::string profile = std::string(TVX_SOURCE_DIR "/data/") + c.profile;
    ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    int32_t rc = c.ceph ? Tavirex_SetSensMduInit_Ceph(config.c_str(), c.lateral ? 1 : 0, 1)
                        : Tavirex_SetSensMduInit_Pano(config.c_str(), 1);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(sim.stats().fpga_loads, 1u);
    rc = c.ceph ? Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 100)
                : Tavirex_SetParamforPictEx(profile.c_str(), c.passes, 10, 100);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(sim.stats().converter_words, c.ceph ? 15u : 10u);
    EXPECT_EQ(sim.stats().ccd_bytes, c.ceph ? 7000u : 8192u);

    // Flat field: the module must expose exactly the picture lines of every pass.
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_FLAT), 0);
    ASSERT_EQ(Tavirex_SetWaitXExpose(), 0);
    unsigned char picture = 0;
    int polls = 0;
    while (picture == 0 && polls < 50) {
        ASSERT_EQ(Tavirex_CheckPictStatus(&picture), 0);
        ++polls;
    }
    ASSERT_EQ(picture, 1) << "no exposure after " << polls << " polls";
    ASSERT_EQ(Tavirex_GetImageDataEx(c.passes), 0);
    const tvx::DeviceContext& d = tvx::Device;
    const int width = d.ImageWidth, height = d.ImageHeight;
    ASSERT_EQ(width, c.ceph ? 3500 : 4096);
    ASSERT_EQ(height, c.ceph ? 2304 : 1536);
    EXPECT_EQ(sim.stats().picture_bytes, static_cast<uint64_t>(height) * 8192);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) ASSERT_LE(d.ImageBuffer[i], 4095) << i;
    const int block = c.ceph ? 3500 : (c.passes == 3 ? 1364 : 4096 / static_cast<int>(c.passes));
    for (uint32_t p = 0; p < c.passes; ++p) {
        const int first = static_cast<int>(p) * block + d.SegmentStart[p];
        const int end = first + d.SegmentWidth[p];
        ASSERT_GT(d.SegmentWidth[p], 100);
        EXPECT_GT(column_mean(d.ImageBuffer, width, first, 100, 700), 1500) << "pass " << p;
        EXPECT_GT(column_mean(d.ImageBuffer, width, end - 1, 100, 700), 1500) << "pass " << p;
        EXPECT_LT(column_mean(d.ImageBuffer, width, first - 1, 100, 700), 1000) << "pass " << p;
        EXPECT_LT(column_mean(d.ImageBuffer, width, end, 100, 700), 1000) << "pass " << p;
    }
    ASSERT_EQ(Tavirex_ResetAll(), 0);

    // Phantom picture of the same set-up.
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_PHANTOM), 0);
    ASSERT_EQ(Tavirex_SetWaitXExpose(), 0);
    picture = 0;
    for (polls = 0; picture == 0 && polls < 50; ++polls) ASSERT_EQ(Tavirex_CheckPictStatus(&picture), 0);
    ASSERT_EQ(Tavirex_GetImageDataEx(c.passes), 0);
    EXPECT_EQ(sim.stats().exposures, 2u);
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
    tvxtest::TempDir dir;
};

std::vector<int> words(const std::string& bytes) {
    std::vector<int> out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<int16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return out;
}

TEST_F(CliSimTest, CalibrateFromDarkAndFlatReadouts) {
    const int w = 4096, h = 1536;
    std::string dark(static_cast<std::size_t>(w) * h * 2, '\0'), flat = dark;
    auto put = [](std::string& s, std::size_t i, int v) {
        s[2 * i] = static_cast<char>(v & 0xFF);
        s[2 * i + 1] = static_cast<char>(v >> 8);
    };
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * w + c;
            put(dark, i, 100);
            // Exposed columns 100..999: level 2000; row 500 half as sensitive, rows 1000 and 1535 nearly dead.
            const int level = r == 500 ? 1000 : (r == 1000 || r == 1535) ? 400 : 2000;
            put(flat, i, c >= 100 && c < 1000 ? 100 + level : 100);
        }
    tvxtest::write_file(dir.file("dark.raw"), dark);
    tvxtest::write_file(dir.file("flat.raw"), flat);
    const std::string cmd = std::string(TVX_CLI_PATH) + " calibrate pano --dark " + dir.file("dark.raw") + " --flat " +
                            dir.file("flat.raw") + " --shading " + dir.file("shading.bin") + " --lines " +
                            dir.file("lines.bin") + " > " + dir.file("log.txt") + " 2>&1";
    ASSERT_EQ(run(cmd), 0) << tvxtest::read_file(dir.file("log.txt"));
    const std::vector<int> table = words(tvxtest::read_file(dir.file("shading.bin")));
    ASSERT_EQ(table.size(), static_cast<std::size_t>(4096) * 1536);
    EXPECT_EQ(table[1234], 1234) << "row 0 at the median level keeps its values";
    EXPECT_EQ(table[500 * 4096 + 100], 200) << "half-sensitive row doubled";
    EXPECT_EQ(table[500 * 4096 + 3000], 4095) << "limited to 12 bits";
    EXPECT_EQ(table[1000 * 4096 + 700], 700) << "a defective row is left to the line table";
    // One band listed at 1000 + 768; the band on the last row has no row below it.
    EXPECT_EQ(words(tvxtest::read_file(dir.file("lines.bin"))), std::vector<int>({1, 1768, 1}));

    // No exposed columns: refused, nothing written.
    const std::string bad = std::string(TVX_CLI_PATH) + " calibrate pano --dark " + dir.file("dark.raw") + " --flat " +
                            dir.file("dark.raw") + " --shading " + dir.file("s2.bin") + " --lines " + dir.file("l2.bin") +
                            " > " + dir.file("log2.txt") + " 2>&1";
    EXPECT_NE(run(bad), 0);
    EXPECT_FALSE(tvxtest::file_exists(dir.file("s2.bin")));
    EXPECT_FALSE(tvxtest::file_exists(dir.file("l2.bin")));
}

TEST_F(CliSimTest, CalibrateFromTheSensorModelAndSampleLineTables) {
    for (const char* mode : {"pano", "ceph"}) {
        const std::string cmd = std::string(TVX_CLI_PATH) + " calibrate " + mode + " --model --sim " TVX_SIM_PATH +
                                " --shading " + dir.file("s.bin") + " --lines " + dir.file("l.bin") + " > " +
                                dir.file("log.txt") + " 2>&1";
        ASSERT_EQ(run(cmd), 0) << tvxtest::read_file(dir.file("log.txt"));
        const bool ceph = std::string(mode) == "ceph";
        EXPECT_EQ(tvxtest::read_file(dir.file("s.bin")).size(), ceph ? 18874368u : 12582912u);
        const std::string lines = tvxtest::read_file(dir.file("l.bin"));
        EXPECT_EQ(words(lines), ceph ? std::vector<int>({3, 600, 1402, 2050, 1, 3, 2}) : std::vector<int>({2, 1180, 1958, 2, 1}));
        EXPECT_EQ(lines, tvxtest::read_file(std::string(TVX_SOURCE_DIR "/data/lines_") + mode + ".bin"));
    }
}

TEST_F(CliSimTest, AcquireWritesTheRawReadout) {
    const std::string config = dir.file("tavirex.ini");
    tvxtest::write_file(config, config_text());
    const std::string cmd = std::string(TVX_CLI_PATH) + " acquire pano --quiet --passes 2 --config " + config +
                            " --profile " TVX_SOURCE_DIR "/data/speed_pano.txt --out " + dir.file("pano.raw") + " > " +
                            dir.file("log.txt") + " 2>&1";
    ASSERT_EQ(run(cmd), 0) << tvxtest::read_file(dir.file("log.txt"));
    EXPECT_EQ(tvxtest::read_file(dir.file("pano.raw")).size(), 12582912u);
    const std::string log = tvxtest::read_file(dir.file("log.txt"));
    EXPECT_NE(log.find("Tavirex_GetImageDataEx"), std::string::npos);
    // The recorded readout played back by the module comes out unchanged.
    const std::string replay = std::string(TVX_CLI_PATH) + " acquire pano --quiet --passes 2 --config " + config +
                               " --profile " TVX_SOURCE_DIR "/data/speed_pano.txt --replay " + dir.file("pano.raw") +
                               " --out " + dir.file("again.raw") + " > " + dir.file("log3.txt") + " 2>&1";
    ASSERT_EQ(run(replay), 0) << tvxtest::read_file(dir.file("log3.txt"));
    EXPECT_EQ(tvxtest::read_file(dir.file("again.raw")), tvxtest::read_file(dir.file("pano.raw")));
    // A profile that does not exist: the failing code explained, no file.
    const std::string bad = std::string(TVX_CLI_PATH) + " acquire pano --quiet --config " + config + " --profile " +
                            dir.file("none.txt") + " --out " + dir.file("bad.raw") + " > " + dir.file("log2.txt") + " 2>&1";
    EXPECT_NE(run(bad), 0);
    EXPECT_NE(tvxtest::read_file(dir.file("log2.txt")).find("-99 (the speed profile is missing"), std::string::npos);
    EXPECT_FALSE(tvxtest::file_exists(dir.file("bad.raw")));
}

TEST_F(CliSimTest, AcquireRefusesBadArguments) {
    const std::string cli = TVX_CLI_PATH;
    const std::string quiet = " > " + dir.file("log.txt") + " 2>&1";
    EXPECT_EQ(run(cli + " acquire --help" + quiet), 0);
    for (const std::string& args : {std::string(" acquire tomo --config a --profile b"), std::string(" acquire pano --profile b"),
                                    std::string(" acquire pano --config a --profile b --lateral"),
                                    std::string(" acquire pano --config a --profile b --passes two"),
                                    std::string(" acquire ceph --config a --profile b --poll-limit 0"),
                                    std::string(" acquire pano --config a --profile b --replay r --sim-mode flat"),
                                    std::string(" calibrate pano --model"), std::string(" calibrate pano --dark d --shading s --lines l")}) {
        const int status = run(cli + args + quiet);
        EXPECT_NE(status, 0) << args;
    }
}

}  // namespace
