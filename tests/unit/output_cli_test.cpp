// End to end through outside programs: the image file commands of the command-line host, and the written and
// stamped bitmaps opened in an independent reader (Python's imaging library) with the expected size, mode,
// palette and pixels.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tavirex.h"
#include "unit/output_test_util.h"

namespace {

#if !defined(_WIN32)
TEST(OutputCliTest, ImageFileCommands) {
    tvxtest::TempDir dir;
    const std::string raw = dir.file("in.raw"), inv = dir.file("inv.raw"), bmp = dir.file("out.bmp");
    tvxtest::Raw px(300 * 200);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i % 4096);
    tvxtest::write_raw(raw, px);
    const std::string size = " --width 300 --height 200", filter = " --distance 2 --gain 50";
    // (arguments, exit status): a failure the library reports gives 1, a usage error 2.
    std::vector<std::pair<std::string, int>> runs;
    for (const char* c : {"bitmap", "window", "rawfile", "mirror", "adjust", "mark"})
        runs.emplace_back(std::string(c) + " --help", 0);
    for (const char* mapping : {"window", "plain", "gamma", "gamma3"})
        runs.emplace_back("bitmap " + raw + " " + bmp + size + " --mapping " + mapping + filter, 0);
    runs.insert(runs.end(), {{"window " + raw + size, 0},
                             {"rawfile " + raw + " " + inv + size + filter, 0},
                             {"mirror " + inv + " " + inv + size, 0},
                             {"bitmap " + raw + " " + bmp + size + " --auto-window", 0},
                             {"adjust " + bmp + " --gamma 0.8 --contrast 1.1 --brightness 5", 0},
                             {"mark " + bmp + " --side 0", 0},
                             {"mark " + bmp + " --kind tomo --side 1", 0},
                             {"adjust " + bmp + " --gamma 9", 1},
                             {"window " + dir.file("none.raw") + size, 1},
                             {"bitmap " + raw + " " + bmp + " --width x --height 2", 2},
                             {"mark " + bmp + " --kind ceph", 2}});
    for (const auto& [arguments, status] : runs) {
        const int s = std::system((std::string(TVX_CLI_PATH) + " " + arguments + " >/dev/null 2>&1").c_str());
        EXPECT_EQ(WIFEXITED(s) ? WEXITSTATUS(s) : -1, status) << arguments;
    }
    EXPECT_EQ(tvxtest::read_file(bmp).size(), 1078u + 300u * 200u);
}
#else
TEST(OutputCliTest, ImageFileCommands) {
    GTEST_SKIP() << "uses POSIX shell redirection and exit-status macros";
}
#endif

TEST(OutputReaderTest, WrittenAndStampedBitmapsOpenInPil) {
#if defined(_WIN32)
    GTEST_SKIP() << "the reader is the host's Python with PIL, which a Windows program under Wine cannot start";
#else
    if (std::system("/usr/bin/python3 -c \"import PIL\" >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "/usr/bin/python3 with PIL is not available";
#endif
    tvxtest::reset_library();
    tvxtest::TempDir dir;
    const std::string raw = dir.file("in.raw"), pano = dir.file("pano.bmp"), tomo = dir.file("tomo.bmp"),
                      small = dir.file("small.bmp"), script = dir.file("check.py");
    tvxtest::Raw px(1001 * 130);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i % 1001 * 4 + i / 1001);
    tvxtest::write_raw(raw, px);
    Tavirex_SetWindowPos(2048, 4096);
    ASSERT_EQ(Tavirex_SaveBitmapWindow(raw.c_str(), 1001, 130, 2, 100, pano.c_str()), 0);
    ASSERT_EQ(Tavirex_MarkingInBitmap(pano.c_str(), 1), 0);
    ASSERT_EQ(Tavirex_BitmapChange(pano.c_str(), 1.2, 1.0, 5.0), 0);
    tvxtest::write_raw(raw, tvxtest::Raw(640 * 120, 1000));
    ASSERT_EQ(Tavirex_SaveBitmap2(raw.c_str(), 640, 120, 0, 0, 1.0, 0.0, 1.0, tomo.c_str()), 0);
    ASSERT_EQ(Tavirex_MarkingInBitmap_Tomo(tomo.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SaveBitmap3(raw.c_str(), 5, 3, 1, 50, 1.0, 0.0, 1.0, small.c_str()), 0);
    // Image rows count from the top; stored row s of a bitmap h high is image row h - 1 - s.
    tvxtest::write_file(script, "import sys\n"
                                "from PIL import Image\n"
                                "def check(path, size, probes):\n"
                                "    im = Image.open(path)\n"
                                "    im.load()\n"
                                "    assert im.format == 'BMP', im.format\n"
                                "    assert im.size == size, (path, im.size)\n"
                                "    assert im.mode in ('L', 'P'), im.mode\n"
                                "    if im.mode == 'P':\n"
                                "        assert im.getpalette()[:768] == [i // 3 for i in range(768)], 'not grey'\n"
                                "    for (x, y), v in probes.items():\n"
                                "        assert im.getpixel((x, y)) == v, (path, x, y, im.getpixel((x, y)), v)\n"
                                "check(sys.argv[1], (1001, 130), {(133, 129 - 44): 255})\n"
                                "check(sys.argv[2], (640, 120), {(62, 119 - 100): 255, (40, 119 - 100): 0,"
                                " (30, 119 - 101): 62, (29, 0): 62})\n"
                                "check(sys.argv[3], (5, 3), {})\n");
    const std::string cmd = "/usr/bin/python3 " + script + " " + pano + " " + tomo + " " + small;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

}  // namespace
