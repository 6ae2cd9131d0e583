// `tavirex process` on a raw readout file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/support.h"

namespace {

TEST(ProcessCommandTest, ProcessesAReadoutFileIntoARawImage) {
    tvxtest::TempDir dir;
    // Every step off except the separators: two passes, 4-column bands.
    std::string cfg = "[PROCESS]\n";
    for (const char* key : {"DELDC", "DELSHADW", "CORRINJLINE", "PXIMG", "FILLOPENING", "CORRIMGSIZE", "DELNOISE",
                            "BRISMOOTH_PANO", "CORRBRISCALE", "EMPHASISCONTRAST", "2ndCORRBRISCALE"})
        cfg += std::string(key) + "=0\n";
    tvxtest::write_file(dir.file("cfg.ini"), cfg + "[ExOption]\nPictLineNum=1\n");
    const auto process = [&](const std::string& raw, const std::string& args) {
        const std::string cmd = std::string(TVX_CLI_PATH) + " process --config " + dir.file("cfg.ini") + " --raw " +
                                dir.file(raw) + args + " > " + dir.file("log.txt") + " 2>&1";
        return std::system(cmd.c_str());
    };
    // A 4096 x 1536 readout.
    tvxtest::write_file(dir.file("in.raw"), std::string(4096u * 1536 * 2, '\0'));
    ASSERT_EQ(process("in.raw", " --passes 2 --out " + dir.file("out.raw")), 0)
        << tvxtest::read_file(dir.file("log.txt"));
    EXPECT_EQ(tvxtest::read_file(dir.file("out.raw")).size(), (2u * 2048 + 4) * 1536 * 2);
    EXPECT_NE(tvxtest::read_file(dir.file("log.txt")).find("4100 x 1536"), std::string::npos);

    // A readout file that is too short is reported, and nothing is written.
    tvxtest::write_file(dir.file("short.raw"), std::string(100, '\0'));
    EXPECT_NE(process("short.raw", " --out " + dir.file("none.raw")), 0);
    EXPECT_FALSE(tvxtest::file_exists(dir.file("none.raw")));
}

}  // namespace
