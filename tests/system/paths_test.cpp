// Path forms a Windows host uses: backslashes, drive letters, relative names,
// and configuration files written by Windows editors.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "api/context.h"
#include "link/link.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

using PathsTest = tvxtest::LibraryTest;

#if defined(_WIN32)
// "Z:\work\...\tvxsim.dll" for "/work/.../tvxsim.dll": Wine maps Z: to the root.
std::string drive_letter_form(const std::string& unix_path) {
    std::string p = "Z:" + unix_path;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}
#endif

TEST_F(PathsTest, LinkLibraryByDriveLetterAndBackslashes) {
#if !defined(_WIN32)
    GTEST_SKIP() << "drive letters and backslash separators exist on Windows only";
#else
    const std::string cfg = dir.file("drive.ini");
    tvxtest::write_file(cfg, "[DLL]\r\nFILENAME=" + drive_letter_form(TVX_SIM_PATH) + "\r\n[LOADPROG]\r\nFLG_BOOT=0\r\n");
    ASSERT_EQ(Tavirex_Init(cfg.c_str(), 1), 0);
    EXPECT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_TRUE(tvx::link::loaded());
#endif
}

TEST_F(PathsTest, LinkLibraryByRelativePath) {
    const std::filesystem::path sim(TVX_SIM_PATH);
    tvxtest::InDirectory in(sim.parent_path().string());
#if defined(_WIN32)
    const std::string relative = ".\\" + sim.filename().string();
#else
    const std::string relative = "./" + sim.filename().string();
#endif
    const std::string cfg = dir.file("relative.ini");
    tvxtest::write_file(cfg, "[DLL]\r\nFILENAME=" + relative + "\r\n[LOADPROG]\r\nFLG_BOOT=0\r\n");
    ASSERT_EQ(Tavirex_Init(cfg.c_str(), 1), 0);
    EXPECT_STREQ(tvx::Device.LinkLibraryPath, relative.c_str());
    EXPECT_EQ(Tavirex_SetCommInit(), 0);
}

TEST_F(PathsTest, ConfigurationWrittenByAWindowsEditor) {
    // CRLF line ends, blanks around "=", a quoted path with backslashes, a trailing line without end.
    const std::string cfg = dir.file("editor.ini");
    tvxtest::write_file(cfg,
                        "\xEF\xBB\xBF; made on Windows\r\n[LoadProg]\r\nBOOT = \"C:\\Unit Files\\boot.bin\"\r\n"
                        "FLG_BOOT = 0\r\n\r\n[PictCntl]\r\nIPADDRESS = 192.168.0.5 \r\nLANRETRY=3");
    ASSERT_EQ(Tavirex_Init(cfg.c_str(), 1), 0);
    EXPECT_STREQ(tvx::Device.BootPath, "C:\\Unit Files\\boot.bin");
    EXPECT_EQ(tvx::Device.BootLoad, 0);
    EXPECT_STREQ(tvx::Device.IpAddress, "192.168.0.5");
    EXPECT_EQ(tvx::Device.LanRetry, 3);
}

std::string with_line_ends(const std::string& text, const char* ending) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') out += ending;
        else out.push_back(c);
    }
    return out;
}

// FPGA configuration and speed profile read in text mode: CR LF and LF line ends
// must give the same program bytes and the same line clock table on every platform.
TEST_F(PathsTest, FpgaAndSpeedProfileWithCrLfOrLf) {
    const std::string hex = tvxtest::read_file(TVX_SOURCE_DIR "/data/fpga_pano.hex");
    const std::string speed = tvxtest::read_file(TVX_SOURCE_DIR "/data/speed_pano.txt");
    ASSERT_FALSE(hex.empty());
    ASSERT_FALSE(speed.empty());
    std::vector<std::uint8_t> programs[2];
    std::vector<std::uint16_t> tables[2];
    const char* endings[2] = {"\n", "\r\n"};
    for (int v = 0; v < 2; ++v) {
        tvxtest::reset_library();
        tvxtest::Sim sim;
        const std::string fpga = dir.file("fpga" + std::to_string(v) + ".hex");
        const std::string profile = dir.file("speed" + std::to_string(v) + ".txt");
        const std::string cfg = dir.file("cfg" + std::to_string(v) + ".ini");
        tvxtest::write_file(fpga, with_line_ends(hex, endings[v]));
        tvxtest::write_file(profile, with_line_ends(speed, endings[v]));
        tvxtest::write_file(cfg, with_line_ends("[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" TVX_SOURCE_DIR
                                                "/data/boot.bin\nFPGA=" + fpga + "\n", endings[v]));
        ASSERT_EQ(Tavirex_Init(cfg.c_str(), 1), 0);
        ASSERT_EQ(Tavirex_SetCommInit(), 0);
        ASSERT_EQ(Tavirex_SetSensMduInit_Pano(cfg.c_str(), 1), 0);
        programs[v] = sim.program(1);
        ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 2, 10, 100), 0);
        tables[v].assign(tvx::Device.ClockTable, tvx::Device.ClockTable + tvx::Device.ClockTableLength);
        Tavirex_SetDeviceFree();
    }
    EXPECT_EQ(programs[0].size(), 2048u);
    EXPECT_EQ(programs[0], programs[1]);
    EXPECT_EQ(tables[0], tables[1]);
}

}  // namespace
