// The command-line host run as a separate program: each command once against
// the simulated module or on image files, the usage errors, and the shading
// calibration it computes from dark and flat readouts.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

namespace {

class CliTest : public tvxtest::LibraryTest {
protected:
    int cli(const std::string& args) { return tvxtest::run_cli(args, dir.file("log.txt")); }
    std::string log() { return tvxtest::read_file(dir.file("log.txt")); }
    std::string at(const char* name) { return " " + dir.file(name); }
};

// (arguments, exit status, text the output holds, a file and its size, 0: the file must not exist).
// A failure the library reports gives 1, a usage error 2.
TEST_F(CliTest, EveryCommandOnce) {
    tvxtest::Words px(300 * 200);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i % 4096);
    tvxtest::write_words(dir.file("in.raw"), px);
    tvxtest::write_file(dir.file("zero.raw"), std::string(4096u * 1536 * 2, '\0'));
    tvxtest::write_file(dir.file("tavirex.ini"),
                        "[DLL]\r\nFILENAME=" TVX_SIM_PATH "\r\n[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" TVX_SOURCE_DIR
                        "/data/boot.bin\r\nFPGA=" TVX_SOURCE_DIR "/data/fpga_pano.hex\r\n");
    // Every processing step off except the separators: two passes, 4-column bands.
    std::string off = "[PROCESS]\n";
    for (const char* key : {"DELDC", "DELSHADW", "CORRINJLINE", "PXIMG", "FILLOPENING", "CORRIMGSIZE", "DELNOISE",
                            "BRISMOOTH_PANO", "CORRBRISCALE", "EMPHASISCONTRAST", "2ndCORRBRISCALE"})
        off += std::string(key) + "=0\n";
    tvxtest::write_file(dir.file("off.ini"), off + "[ExOption]\nPictLineNum=1\n");
    const std::string raw = at("in.raw"), bmp = at("out.bmp"), inv = at("inv.raw"), size = " --width 300 --height 200";
    const std::string acquire = "acquire pano --quiet --passes 2 --config" + at("tavirex.ini") + " --profile ";
    const std::string pano = TVX_SOURCE_DIR "/data/speed_pano.txt";
    const struct {
        std::string args;
        int status;
        const char* says;
        const char* file;
        std::size_t bytes;
    } rows[] = {
        {"demo --out" + at("demo"), 0, "Tavirex_SetCommInit", "demo/ceph.raw", 16128000},
        {acquire + pano + " --out" + at("pano.raw"), 0, "Tavirex_GetImageDataEx", "pano.raw", 12582912},
        // The recorded readout played back by the module comes out unchanged (compared below).
        {acquire + pano + " --replay" + at("pano.raw") + " --out" + at("again.raw"), 0, "", "again.raw", 12582912},
        {acquire + dir.file("none.txt") + " --out" + at("bad.raw"), 1, "-99 (the speed profile is missing", "bad.raw", 0},
        {"process --config" + at("off.ini") + " --raw" + at("zero.raw") + " --passes 2 --out" + at("p.raw"), 0,
         "4100 x 1536", "p.raw", (2u * 2048 + 4) * 1536 * 2},
        {"bitmap" + raw + bmp + size + " --mapping window --distance 2 --gain 50", 0, "", "out.bmp", 1078 + 300 * 200},
        {"bitmap" + raw + bmp + size + " --mapping plain --distance 2 --gain 50", 0, "", nullptr, 0},
        {"bitmap" + raw + bmp + size + " --mapping gamma --distance 2 --gain 50", 0, "", nullptr, 0},
        {"bitmap" + raw + bmp + size + " --mapping gamma3 --distance 2 --gain 50", 0, "", nullptr, 0},
        {"bitmap" + raw + bmp + size + " --auto-window", 0, "", nullptr, 0},
        {"window" + raw + size, 0, "", nullptr, 0},
        {"rawfile" + raw + inv + size + " --distance 2 --gain 50", 0, "", "inv.raw", 300 * 200 * 2},
        {"mirror" + inv + inv + size, 0, "", nullptr, 0},
        {"adjust" + bmp + " --gamma 0.8 --contrast 1.1 --brightness 5", 0, "", nullptr, 0},
        {"mark" + bmp + " --side 0", 0, "", nullptr, 0},
        {"mark" + bmp + " --kind tomo --side 1", 0, "", "out.bmp", 1078 + 300 * 200},
        {"adjust" + bmp + " --gamma 9", 1, "", nullptr, 0},
        {"window" + at("none.raw") + size, 1, "", nullptr, 0},
        {"bitmap" + raw + bmp + " --width x --height 2", 2, "", nullptr, 0},
        {"mark" + bmp + " --kind ceph", 2, "", nullptr, 0},
        {"acquire tomo --config a --profile b", 2, "", nullptr, 0},
        {"acquire pano --profile b", 2, "", nullptr, 0},
        {"acquire pano --config a --profile b --lateral", 2, "", nullptr, 0},
        {"acquire pano --config a --profile b --passes two", 2, "", nullptr, 0},
        {"acquire ceph --config a --profile b --poll-limit 0", 2, "", nullptr, 0},
        {"acquire pano --config a --profile b --replay r --sim-mode flat", 2, "", nullptr, 0},
        {"calibrate pano --model", 2, "", nullptr, 0},
        {"calibrate pano --dark d --shading s --lines l", 2, "", nullptr, 0},
    };
    for (const char* c : {"acquire", "bitmap", "window", "rawfile", "mirror", "adjust", "mark", "process"})
        EXPECT_EQ(cli(std::string(c) + " --help"), 0) << c;
    for (const auto& r : rows) {
        EXPECT_EQ(cli(r.args), r.status) << r.args << "\n" << log();
        EXPECT_NE(log().find(r.says), std::string::npos) << r.args << "\n" << log();
        if (r.file) {
            EXPECT_EQ(tvxtest::read_file(dir.file(r.file)).size(), r.bytes) << r.args;
            EXPECT_EQ(tvxtest::file_exists(dir.file(r.file)), r.bytes > 0) << r.args;
        }
    }
    EXPECT_EQ(tvxtest::read_file(dir.file("again.raw")), tvxtest::read_file(dir.file("pano.raw")));
}

TEST_F(CliTest, CalibrateFromDarkAndFlatReadouts) {
    const int w = 4096, h = 1536;
    tvxtest::Words dark(static_cast<std::size_t>(w) * h, 100), flat = dark;
    // Exposed columns 100..999: level 2000; row 500 half as sensitive, rows 1000 and 1535 nearly dead.
    for (int r = 0; r < h; ++r)
        for (int c = 100; c < 1000; ++c) flat[static_cast<std::size_t>(r) * w + c] += r == 500 ? 1000 : (r == 1000 || r == 1535) ? 400 : 2000;
    tvxtest::write_words(dir.file("dark.raw"), dark);
    tvxtest::write_words(dir.file("flat.raw"), flat);
    ASSERT_EQ(cli("calibrate pano --dark" + at("dark.raw") + " --flat" + at("flat.raw") + " --shading" + at("shading.bin") +
                  " --lines" + at("lines.bin")), 0) << log();
    const tvxtest::Words table = tvxtest::read_words(dir.file("shading.bin"));
    ASSERT_EQ(table.size(), static_cast<std::size_t>(w) * h);
    EXPECT_EQ(table[1234], 1234) << "row 0 at the median level keeps its values";
    EXPECT_EQ(table[500 * w + 100], 200) << "half-sensitive row doubled";
    EXPECT_EQ(table[500 * w + 3000], 4095) << "limited to 12 bits";
    EXPECT_EQ(table[1000 * w + 700], 700) << "a defective row is left to the line table";
    // One band listed at 1000 + 768; the band on the last row has no row below it.
    EXPECT_EQ(tvxtest::read_words(dir.file("lines.bin")), tvxtest::Words({1, 1768, 1}));
    // No exposed columns: refused, nothing written.
    EXPECT_NE(cli("calibrate pano --dark" + at("dark.raw") + " --flat" + at("dark.raw") + " --shading" + at("s2.bin") +
                  " --lines" + at("l2.bin")), 0);
    EXPECT_FALSE(tvxtest::file_exists(dir.file("s2.bin")) || tvxtest::file_exists(dir.file("l2.bin")));
}

}  // namespace
