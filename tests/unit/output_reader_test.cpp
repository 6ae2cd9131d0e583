// The bitmaps the library writes and stamps open in an independent reader
// (Python's imaging library) with the expected size, mode, palette and pixels.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/support.h"
#include "tavirex.h"
#include "unit/output_test_util.h"

namespace {

class OutputReaderTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
};

bool reader_available() {
#if defined(_WIN32)
    return false;
#else
    return std::system("/usr/bin/python3 -c \"import PIL\" >/dev/null 2>&1") == 0;
#endif
}

TEST_F(OutputReaderTest, WrittenAndStampedBitmapsOpenInPil) {
#if defined(_WIN32)
    GTEST_SKIP() << "the reader is the host's Python with PIL, which a Windows program under Wine cannot start";
#endif
    if (!reader_available()) GTEST_SKIP() << "/usr/bin/python3 with PIL is not available";
    tvxtest::TempDir dir;
    const std::string raw = dir.file("in.raw"), pano = dir.file("pano.bmp"), tomo = dir.file("tomo.bmp"),
                      small = dir.file("small.bmp");
    std::vector<std::uint16_t> px(1001 * 130);
    for (std::size_t y = 0; y < 130; ++y)
        for (std::size_t x = 0; x < 1001; ++x) px[y * 1001 + x] = static_cast<std::uint16_t>(x * 4 + y);
    tvxtest::write_raw(raw, px);
    Tavirex_SetWindowPos(2048, 4096);
    ASSERT_EQ(Tavirex_SaveBitmapWindow(raw.c_str(), 1001, 130, 2, 100, pano.c_str()), 0);
    ASSERT_EQ(Tavirex_MarkingInBitmap(pano.c_str(), 1), 0);
    ASSERT_EQ(Tavirex_BitmapChange(pano.c_str(), 1.2, 1.0, 5.0), 0);
    tvxtest::write_raw(raw, std::vector<std::uint16_t>(640 * 120, 1000));
    ASSERT_EQ(Tavirex_SaveBitmap2(raw.c_str(), 640, 120, 0, 0, 1.0, 0.0, 1.0, tomo.c_str()), 0);
    ASSERT_EQ(Tavirex_MarkingInBitmap_Tomo(tomo.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SaveBitmap3(raw.c_str(), 5, 3, 1, 50, 1.0, 0.0, 1.0, small.c_str()), 0);

    // Image rows count from the top; stored row s of a bitmap h high is image row h - 1 - s.
    const std::string script = dir.file("check.py");
    tvxtest::write_file(script,
                        std::string("import sys\n"
                                    "from PIL import Image\n"
                        "def check(path, size, probes):\n"
                        "    im = Image.open(path)\n"
                        "    im.load()\n"
                        "    assert im.format == 'BMP', im.format\n"
                        "    assert im.size == size, (path, im.size)\n"
                        "    assert im.mode in ('L', 'P'), im.mode\n"
                        "    if im.mode == 'P':\n"
                        "        pal = im.getpalette()[:768]\n"
                        "        assert pal == [i // 3 for i in range(768)], 'palette is not grey'\n"
                        "    for (x, y), v in probes.items():\n"
                        "        assert im.getpixel((x, y)) == v, (path, x, y, im.getpixel((x, y)), v)\n"
                        "check(sys.argv[1], (1001, 130), {(133, 129 - 44): 255})\n"
                        "check(sys.argv[2], (640, 120), {(62, 119 - 100): 255, (40, 119 - 100): 0,"
                        " (30, 119 - 101): 62, (29, 0): 62})\n"
                        "check(sys.argv[3], (5, 3), {})\n"
                        "print('ok')\n"));
    const std::string cmd = "/usr/bin/python3 " + script + " " + pano + " " + tomo + " " + small;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

}  // namespace
