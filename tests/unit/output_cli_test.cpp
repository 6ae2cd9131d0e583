// The image file commands of the command-line host, end to end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/support.h"
#include "unit/output_test_util.h"

namespace {

#if !defined(_WIN32)
int run_cli(const std::string& arguments) {
    const std::string cmd = std::string(TVX_CLI_PATH) + " " + arguments + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(OutputCliTest, ImageFileCommands) {
    tvxtest::TempDir dir;
    const std::string raw = dir.file("in.raw"), inv = dir.file("inv.raw"), bmp = dir.file("out.bmp");
    std::vector<std::uint16_t> px(300 * 200);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i % 4096);
    tvxtest::write_raw(raw, px);
    const std::string size = " --width 300 --height 200";
    for (const char* c : {"bitmap", "window", "rawfile", "mirror", "adjust", "mark"})
        EXPECT_EQ(run_cli(std::string(c) + " --help"), 0) << c;
    EXPECT_EQ(run_cli("window " + raw + size), 0);
    EXPECT_EQ(run_cli("rawfile " + raw + " " + inv + size + " --distance 2 --gain 50"), 0);
    EXPECT_EQ(run_cli("mirror " + inv + " " + inv + size), 0);
    for (const char* mapping : {"window", "plain", "gamma", "gamma3"})
        EXPECT_EQ(run_cli("bitmap " + raw + " " + bmp + size + " --mapping " + mapping + " --distance 2 --gain 50"), 0)
            << mapping;
    EXPECT_EQ(run_cli("bitmap " + raw + " " + bmp + size + " --auto-window"), 0);
    EXPECT_EQ(run_cli("adjust " + bmp + " --gamma 0.8 --contrast 1.1 --brightness 5"), 0);
    EXPECT_EQ(run_cli("mark " + bmp + " --side 0"), 0);
    EXPECT_EQ(run_cli("mark " + bmp + " --kind tomo --side 1"), 0);
    EXPECT_EQ(tvxtest::read_file(bmp).size(), 1078u + 300u * 200u);
    // Failures: the library's code gives exit status 1, a usage error 2.
    EXPECT_EQ(run_cli("adjust " + bmp + " --gamma 9"), 1);
    EXPECT_EQ(run_cli("window " + dir.file("none.raw") + size), 1);
    EXPECT_EQ(run_cli("bitmap " + raw + " " + bmp + " --width x --height 2"), 2);
    EXPECT_EQ(run_cli("mark " + bmp + " --kind ceph"), 2);
}
#else
TEST(OutputCliTest, ImageFileCommands) {
    GTEST_SKIP() << "uses POSIX shell redirection and exit-status macros";
}
#endif

}  // namespace
