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

class PathsTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
    tvxtest::TempDir dir;
};

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

}  // namespace
