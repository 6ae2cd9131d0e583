// The command-line host run as a separate program: every command once, the
// mistakes it refuses before calling the library, the demo's files, and a
// calibration from readout files.

#include <filesystem>
#include <map>
#include <sstream>

#include "support/support.h"

namespace {

class CliTest : public tvxtest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        tvxtest::Words px(300 * 200);
        for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i % 4096);
        tvxtest::write_words(dir.file("in.raw"), px);
        tvxtest::write_file(dir.file("zero.raw"), std::string(4096u * 1536 * 2, '\0'));
        tvxtest::write_file(dir.file("tavirex.ini"), module);
        std::string cuts = "[PUTIMAGES]\n";
        for (int s = 0; s < 8; ++s) cuts += "LEFTCUT" + std::to_string(s) + "=4\nRIGHTCUT" + std::to_string(s) + "=4\n";
        tvxtest::write_file(dir.file("tomo.ini"), "[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" TVX_SOURCE_DIR
                                                  "/data/boot.bin\nFPGA=" TVX_SOURCE_DIR "/data/fpga_tomo.hex\n"
                                                  "[PICTCNTL]\nINITVALUE=34\n[WAITTIME]\nEXPOS2DC=0\nDC2EXPOS=0\n"
                                                  "[SENSOR_ID]\nSENSOR_ID=S1\n[REFFILE]\nFOLDER=" + dir.path() + "\n" + cuts);
    }
    int cli(const std::string& args, const std::string& first = "") {
        return tvxtest::run_cli(args, dir.file("log.txt"), first);
    }
    std::string log() { return tvxtest::read_text_file(dir.file("log.txt")); }
    std::string at(const char* name) { return " " + dir.file(name); }

    const std::string module = "[DLL]\r\nFILENAME=" TVX_SIM_PATH "\r\n[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" TVX_SOURCE_DIR
                               "/data/boot.bin\r\nFPGA=" TVX_SOURCE_DIR "/data/fpga_pano.hex\r\n";
    const std::string pano = " --profile " TVX_SOURCE_DIR "/data/speed_pano.txt", size = " --width 300 --height 200";
};

// (arguments, exit status, text the output holds, a file and its size, 0: the file must not exist).
TEST_F(CliTest, EveryCommandOnce) {
    // Every processing step off except the separators: two passes, 4-column bands.
    std::string off = "[PROCESS]\n";
    for (const char* key : {"DELDC", "DELSHADW", "CORRINJLINE", "PXIMG", "FILLOPENING", "CORRIMGSIZE", "DELNOISE",
                            "BRISMOOTH_PANO", "CORRBRISCALE", "EMPHASISCONTRAST", "2ndCORRBRISCALE"})
        off += std::string(key) + "=0\n";
    tvxtest::write_file(dir.file("off.ini"), module + off + "[ExOption]\nPictLineNum=1\n");
    const std::string raw = at("in.raw"), bmp = at("out.bmp"), inv = at("inv.raw");
    const std::string acquire = "acquire pano --quiet --passes 2 --config" + at("tavirex.ini") + pano;
    const tvxtest::InDirectory here(dir.path());
    const struct { std::string args; int status; std::string says; const char* file; std::size_t bytes; } rows[] = {
        {acquire + " --sim " TVX_SIM_PATH " --out" + at("pano.raw"), 0, "--raw", "pano.raw", 12582912},
        // The recorded readout played back by the module comes out unchanged (compared below).
        {acquire + " --replay" + at("pano.raw") + " --out" + at("again.raw"), 0, "", "again.raw", 12582912},
        // A recorded readout replayed by the module: its blocks of 2048 columns joined with a band of 4.
        {"process --quiet --config" + at("off.ini") + pano + " --raw" + at("zero.raw") + " --passes 2 --out" + at("p.raw"),
         0, "4100 x 1536", "p.raw", (2u * 2048 + 4) * 1536 * 2},
        // A call name longer than the column keeps the results aligned on the line below it.
        {"acquire tomo --frames 2 --config" + at("tomo.ini") + " --out" + at("frame"), 0, "(front end)\n" + std::string(41, ' ') + "ok",
         "frame1.raw", 2304u * 2304 * 2},
        {"calibrate tomo --model --sim " TVX_SIM_PATH " --config" + at("tomo.ini"), 0, "S1.dat", "S1a.tbl",
         3 + 128u * 2304 * 4},
        // Run in the test's folder: a path without one keeps the dumps SegTomo00.dat beside it (checked below).
        {"process tomo --config" + at("tomo.ini") + " --out tomo.raw --bitmap t.bmp", 0, "SegTomo00.dat", "tomo.raw", 456u * 2304 * 2},
        // Recorded frames replayed by the module: frame 0 is the scan just processed, frame 1 another picture.
        {"process tomo --quiet --config" + at("tomo.ini") + " --raw" + at("frame0.raw") + " --out" + at("r0.raw"), 0, "", "r0.raw", 456u * 2304 * 2},
        {"process tomo --quiet --config" + at("tomo.ini") + " --raw" + at("frame1.raw") + " --out" + at("r1.raw"), 0, "", "r1.raw", 456u * 2304 * 2},
        // Outside the processing run the library would take the 14-bit image as 12-bit data.
        {"window" + at("tomo.raw") + " --width 456 --height 2304", 2, "process tomo --config FILE --out FILE --bitmap BMP", nullptr, 0},
        {"bitmap" + at("tomo.raw") + bmp + " --width 456 --height 2304 --auto-window", 2, "--bitmap", "out.bmp", 0},
        {"bitmap" + raw + bmp + size + " --mapping window --distance 2 --gain 50", 0, "", "out.bmp", 1078 + 300 * 200},
        {"bitmap" + raw + bmp + size + " --mapping gamma3 --distance 2 --gain 50", 0, "", nullptr, 0},
        {"window" + raw + size, 0, "", nullptr, 0},
        {"rawfile" + raw + inv + size + " --distance 2 --gain 50", 0, "", "inv.raw", 300 * 200 * 2},
        {"mirror" + inv + inv + size, 0, "", nullptr, 0},
        {"adjust" + bmp + " --gamma 0.8 --contrast 1.1 --brightness 5", 0, "", nullptr, 0},
        {"mark" + bmp + " --kind tomo --side 1", 0, "", "out.bmp", 1078 + 300 * 200},
        {"adjust" + raw, 1, "in.raw", nullptr, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(cli(r.args), r.status) << r.args << "\n" << log();
        EXPECT_NE(log().find(r.says), std::string::npos) << r.args << "\n" << log();
        EXPECT_EQ(log().find('\r'), std::string::npos) << r.args << ": progress redrawn in a log";
        EXPECT_TRUE(!r.file || (tvxtest::read_file(dir.file(r.file)).size() == r.bytes &&
                                tvxtest::file_exists(dir.file(r.file)) == (r.bytes > 0))) << r.args;
    }
    EXPECT_TRUE(tvxtest::read_file(dir.file("again.raw")) == tvxtest::read_file(dir.file("pano.raw"))) << "replay differs";
    EXPECT_TRUE(tvxtest::file_exists(dir.file("SegTomo00.dat"))) << "the frame dump is named other than said";
    EXPECT_TRUE(tvxtest::read_file(dir.file("r0.raw")) == tvxtest::read_file(dir.file("tomo.raw"))) << "replay differs";
    EXPECT_FALSE(tvxtest::read_file(dir.file("r1.raw")) == tvxtest::read_file(dir.file("tomo.raw"))) << "frame 1 not replayed";
    const std::vector<int> grey = tvxtest::pixels(tvxtest::read_file(dir.file("t.bmp")), 456, 2304);
    EXPECT_GT(*std::max_element(grey.begin(), grey.end()), 200) << "a tomographic bitmap darkened as 12-bit data";
}

// Each mistake: refused with status 2 before any library call (1 where the library
// found it), a message naming the option or file, and no output left behind.
TEST_F(CliTest, MistakesAreRefusedInWords) {
    tvxtest::write_file(dir.file("out.bmp"), tvxtest::make_bitmap(30, 20, 9));
    tvxtest::write_file(dir.file("text.txt"), "8.5\r\nfast\r\n");
    tvxtest::write_file(dir.file("empty.txt"), "");
    tvxtest::write_file(dir.file("noboot.ini"), "[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" + dir.file("gone.bin"));
    tvxtest::write_file(dir.file("noshade.ini"), module + "[DELSHADW]\nCALIBDATA=" + dir.file("gone.bin"));
    tvxtest::write_file(dir.file("copy.so"), tvxtest::read_file(TVX_SIM_PATH));  // the module, loaded as another one
    const std::string cfg = " --config" + at("tavirex.ini"), raw = at("in.raw"), out = at("o.raw"), bmp = at("n.bmp");
    const std::string none = at("none/x"), tomo = " --config" + at("tomo.ini"), model = "calibrate pano --model";
    const std::string two = " --shading" + at("s.bin") + " --lines" + at("l.bin");
    const bool dicom = TVX_WITH_DICOM;  // without it, tavirex dicom refuses every call the same way
    const std::string id = " --patient-id P-1", dcm = "dicom" + raw + at("o.dcm") + size + " --kind pano --center 9 --window-width 9";
    const struct { std::string args; int status; const char* says; const char* absent; } rows[] = {
        {"info --config" + at("missing.ini"), 2, "missing.ini", ""},
        {"info --config " + dir.path(), 2, "configuration", ""},
        {"info" + cfg + " more", 2, "expected", ""},
        {"info --config" + at("noboot.ini"), 1, "gone.bin (missing)", ""},
        {"acquire pano --config" + at("missing.ini") + pano + " --out" + out, 2, "missing.ini", "o.raw"},
        {"acquire pano" + cfg + " --profile" + at("text.txt") + " --out" + out, 2, "line 2: 'fast'", "o.raw"},
        {"acquire pano" + cfg + " --profile" + at("empty.txt") + " --out" + out, 2, "empty.txt holds no speed", "o.raw"},
        {"acquire pano" + cfg + pano + " --passes 9 --out" + out, 2, "--passes", "o.raw"},
        {"acquire ceph" + cfg + pano + " --passes 2 --out" + out, 2, "--passes", "o.raw"},
        {"acquire pano" + cfg + pano + " --lateral --out" + out, 2, "--lateral", "o.raw"},
        {"acquire pano" + cfg + pano + " --interval 0 --out" + out, 2, "--interval", "o.raw"},
        {"acquire pano" + cfg + pano + " --lag 70000 --out" + out, 2, "--lag", "o.raw"},
        {"acquire pano" + cfg + pano + " --sim-mode replay --out" + out, 2, "--replay", "o.raw"},
        {"acquire pano" + cfg + pano + " --replay" + raw + " --out" + out, 2, "in.raw", "o.raw"},
        {"acquire pano" + cfg + pano + " --replay r --sim-mode flat", 2, "--replay", ""},
        {"acquire pano" + cfg + pano + " --sim " TVX_INCOMPLETE_LINK_PATH " --out" + out, 2, "--sim", "o.raw"},
        {"acquire pano" + cfg + pano + " --sim" + at("copy.so") + " --out" + out, 2, "FILENAME", "o.raw"},
        {"acquire pano" + cfg + pano + " --out" + none, 2, "none", ""},
        {"acquire pano" + cfg + pano + " --frames 2 --out" + out, 2, "--frames", "o.raw"},
        {"acquire tomo --frames 4 --out" + at("frame") + tomo, 2, "--frames", "frame0.raw"},
        {"acquire tomo --out" + at("frame") + tomo + pano, 2, "--profile", "frame0.raw"},
        // The files the configuration names for the sensor, before any exposure.
        {"process --config" + at("noshade.ini") + pano + " --out" + out, 2, "calibration ([DELSHADW] CALIBDATA)", "o.raw"},
        {"acquire ceph" + cfg + pano + " --out" + out, 2, "does not name the FPGA file ([LOADPROG] FPGA_CEPH)", "o.raw"},
        {"process" + cfg + pano + " --raw" + at("zero.raw") + " --out" + out, 2, "--passes", "o.raw"},
        {"process" + cfg + " --raw" + at("zero.raw") + " --passes 2 --out" + out, 2, "--profile", "o.raw"},
        {"process" + cfg + pano + " --raw" + raw + " --passes 2 --out" + out, 2, "panoramic readout", "o.raw"},
        {"process" + cfg + pano + " --passes 2 --segments 3 --out" + out, 2, "--segments", "o.raw"},
        {"process" + cfg + pano + " --interval x --out" + out, 2, "--interval", "o.raw"},
        {"process" + cfg + pano + " --mode ceph --segments 1 --out" + out, 2, "--segments", "o.raw"},
        {"process tomo" + tomo + " --out" + none, 2, "none", ""},
        {"process tomo" + tomo + " --reverse --out" + out, 2, "--reverse", "o.raw"},
        {"process tomo" + tomo + " --out" + out + " --raw" + raw, 2, "not a tomographic frame file", "o.raw"},
        {"process tomo" + cfg + " --out" + out, 2, "[SENSOR_ID] SENSOR_ID): is it a tomographic", "o.raw"},
        {"bitmap" + raw + bmp + " --width 0 --height 0", 2, "--width", "n.bmp"},
        {"bitmap" + raw + bmp + " --width x --height 2", 2, "--width", "n.bmp"},
        {"bitmap" + raw + bmp + " --width 300 --height 100", 2, "--height", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --width 30", 2, "twice", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --window-width -5", 2, "--window-width", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --mapping gamma --gamma -2", 2, "--gamma", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --gamma 2", 2, "--gamma", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --mapping plain --center 9", 2, "--center", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --auto-window --window-width 9", 2, "--window-width", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --distance 3", 2, "--gain", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --distance 300 --gain 50", 2, "--distance", "n.bmp"},
        {"bitmap" + raw + bmp + size + " --mapping sepia", 2, "--mapping", "n.bmp"},
        {"bitmap" + raw + none + size, 2, "none", ""},
        {"bitmap" + raw + " " + dir.path() + size, 2, "folder", ""},
        {"rawfile" + raw + none + size, 2, "none", ""},
        {"rawfile" + at("missing.raw") + out + size, 2, "missing.raw", "o.raw"},
        {"rawfile" + raw + out + size + " --gain 50", 2, "--distance", "o.raw"},
        {"mirror" + raw + none + size, 2, "none", ""},
        {"window" + raw + " --width 300 --height 201", 2, "--height", ""},
        {"adjust" + at("out.bmp") + " --gamma 9", 2, "--gamma", ""},
        {"adjust" + at("out.bmp") + " --brightness 101", 2, "--brightness", ""},
        {"mark" + at("missing.bmp"), 2, "missing.bmp", ""},
        {"mark" + at("out.bmp") + " --kind ceph", 2, "--kind", ""},
        {model + " --sim " TVX_SIM_PATH " --shading" + none + " --lines" + at("l.bin"), 2, "none", "l.bin"},
        {model + " --sim" + at("missing.so") + two, 2, "missing.so", "s.bin"},
        {model + " --shading" + at("s.bin") + " --lines" + at("s.bin"), 2, "two outputs", "s.bin"},
        {model + " --profile p" + two, 2, "--profile", "s.bin"},
        {"calibrate pano --dark" + raw + " --flat" + raw + two, 2, "in.raw", "s.bin"},
        {"calibrate pano --dark d" + two, 2, "--flat", "s.bin"},
        {"calibrate pano" + cfg + two, 2, "--profile", "s.bin"},
        {"calibrate tomo" + tomo + " --shading x", 2, "--shading", "S1a.tbl"},
        {"calibrate tomo --config" + at("missing.ini"), 2, "missing.ini", ""},
        {"demo --sim" + at("missing.so") + " --out" + at("d"), 2, "missing.so", "d"},
        {"demo --out" + raw, 2, "names a file, not a folder", ""},
        {"bitmpa", 2, "did you mean 'bitmap'", ""},
        {"dicom" + at("missing.raw") + at("o.dcm") + size + id + " --kind pano", 2, dicom ? "missing.raw" : "not in", "o.dcm"},
        {"dicom" + raw + at("o.dcm") + id + " --width 300 --height 201 --kind pano", 2, dicom ? "--height" : "not in", "o.dcm"},
        {"dicom" + raw + none + size + id + " --kind ceph", 2, dicom ? "none" : "not in", ""},
        {"dicom" + raw + at("o.dcm") + size + id + " --kind bw", 2, dicom ? "--kind" : "not in", "o.dcm"},
        {"dicom" + raw + at("o.dcm") + size + id, 2, dicom ? "--kind pano|ceph|tomo is required" : "not in", "o.dcm"},
        {"dicom" + raw + at("o.dcm") + size + id + " --kind ceph --bits-stored 11", 2, dicom ? "--bits-stored" : "not in", "o.dcm"},
        {"dicom" + raw + at("o.dcm") + size + id + " --kind tomo --center 9", 2, dicom ? "--window-width" : "not in", "o.dcm"},
        // Every value is checked against its value representation before anything is written.
        {dcm, 2, dicom ? "--patient-id is needed" : "not in", "o.dcm"},
        {dcm + id + " --patient-name 'Doe\\Jane'", 2, dicom ? "--patient-name must be one value" : "not in", "o.dcm"},
        {dcm + id + " --patient-name " + std::string(100, 'N'), 2, dicom ? "--patient-name must be a person name (PN)" : "not in", "o.dcm"},
        {dcm + id + " --accession " + std::string(17, '7'), 2, dicom ? "--accession must be a short string (SH)" : "not in", "o.dcm"},
        {dcm + id + " --study-description " + std::string(65, 'D'), 2, dicom ? "--study-description must be a long" : "not in", "o.dcm"},
        {dcm + " --patient-id '\xC3\x28'", 2, dicom ? "--patient-id must be valid UTF-8" : "not in", "o.dcm"},
        {dcm + id + " --birth-date 20230229", 2, dicom ? "--birth-date must be a date (DA)" : "not in", "o.dcm"},
        {dcm + id + " --sex male", 2, dicom ? "--sex must be a code string (CS)" : "not in", "o.dcm"},
        {dcm + id + " --study-uid 1.2.03", 2, dicom ? "--study-uid must be a UID (UI)" : "not in", "o.dcm"},
        {dcm + " --worklist A1 --pacs ARCHIVE@127.0.0.1:1", dicom ? 1 : 2, dicom ? "no answer from the archive" : "not in", "o.dcm"},
        {"send --pacs ARCHIVE@localhost" + raw, 2, dicom ? "--pacs takes the archive as AET@HOST:PORT" : "not in", ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(cli(r.args), r.status) << r.args << "\n" << log();
        EXPECT_NE(log().find(r.says), std::string::npos) << r.args << "\n" << log();
        EXPECT_TRUE(r.status != 2 || log().find("Tavirex_Init") == std::string::npos) << r.args << ": library called";
        EXPECT_FALSE(*r.absent && tvxtest::file_exists(dir.file(r.absent))) << r.args << ": left " << r.absent;
    }
}

// Commands short of file space: status 1, the step, the file and the system's reason, nothing
// unrelated listed, no host code as a number, and each demo section's own outcome.
// Then tavirex dicom short of file space or of memory: status 1, the reason in words, no file
// (an older one untouched, no temporary left). The image is held once: 96 MiB of it read
// in 192 MiB of address space (the window given), then no room to write. Under ASan, which
// reserves terabytes of address space, a largest allocation stands in for that limit.
TEST_F(CliTest, ShortOfSpaceOrMemory) {
#if !defined(_WIN32)  // the file-size limit (ulimit -f) stands in for a full disk; Windows has none
    tvxtest::write_file(dir.file("off.ini"), tvxtest::read_file(dir.file("tomo.ini")) + "[PROCESS]\nCORRSENS=0\nCORRINJLINE=0\n");
    const std::string full = "ulimit -f 100; ";  // 100 KiB: the log fits, a picture does not
    const struct { std::string limit, args, says; } writes[] = {
        {full, "acquire pano --quiet --config" + at("tavirex.ini") + pano + " --out" + at("o.raw"), "o.raw: File too large"},
        {full, "process tomo --quiet --config" + at("off.ini") + " --out" + at("t.raw"),
         "t.raw or a frame file beside it (SegTomo0k.dat): File too large"},
        {"ulimit -f 1000; ", "demo --out" + at("d"), "tomographic    not taken: its calibration could not be written"},
    };
    for (const auto& r : writes) {
        EXPECT_EQ(cli(r.args, r.limit), 1) << r.args << "\n" << log();
        EXPECT_NE(log().find(r.says), std::string::npos) << r.args << "\n" << log();
        for (const char* unrelated : {"-1002", "[DELSHADW]", "measurement failed", "see above"})
            EXPECT_EQ(log().find(unrelated), std::string::npos) << r.args << ": " << unrelated << "\n" << log();
    }
#endif
    if (!TVX_WITH_DICOM) GTEST_SKIP() << "tavirex dicom is not in this build";
    tvxtest::write_words(dir.file("small.raw"), tvxtest::Words(100, 7));
    tvxtest::write_file(dir.file("old.dcm"), "older file");
    for (const auto& [name, bytes] : {std::pair<const char*, std::uintmax_t>{"huge.raw", 2ull * 65535 * 32769},
                                      {"big.raw", 1800000000}, {"mid.raw", 2 * 6144 * 8192}}) {
        std::error_code ec;
        tvxtest::write_file(dir.file(name), "");
        std::filesystem::resize_file(dir.file(name), bytes, ec);
        if (ec) GTEST_SKIP() << "no sparse file of " << bytes << " bytes here: " << ec.message();
    }
    const std::string space = "ulimit -f 1; ", window = " --center 9 --window-width 9", dicom = "dicom --patient-id P-1";
    const std::string memory = TVX_SANITIZED ? "ASAN_OPTIONS=$ASAN_OPTIONS:allocator_may_return_null=1:"
                                               "max_allocation_size_mb=192 " : "ulimit -v 196608; ";
    const struct { std::string limit, args; int status; const char* says; } rows[] = {
        {space, dicom + at("small.raw") + at("old.dcm") + " --width 10 --height 10 --kind pano", 1, "(File too large)"},
        {memory, dicom + at("big.raw") + at("new.dcm") + " --width 30000 --height 30000 --kind pano", 1, "not enough memory"},
        {memory + space, dicom + at("mid.raw") + at("new.dcm") + " --width 6144 --height 8192 --kind pano" + window, 1,
         "(File too large)"},
        {memory, dicom + at("huge.raw") + at("new.dcm") + " --width 65535 --height 32769 --kind pano", 2, "4 GiB"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(cli(r.args, r.limit), r.status) << r.args << "\n" << log();
        EXPECT_NE(log().find(r.says), std::string::npos) << r.args << "\n" << log();
    }
    EXPECT_EQ(tvxtest::read_file(dir.file("old.dcm")), "older file");
    EXPECT_FALSE(tvxtest::file_exists(dir.file("new.dcm")));
    for (const auto& f : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(f.path().extension(), ".tmp") << f.path();
}

// The demo run in a relative folder: configurations that work from any folder, a
// lateral cephalometric picture, exactly the files it lists, and the command that
// processes a readout again into the same image.
TEST_F(CliTest, DemoListsWhatItLeaves) {
    {
        const tvxtest::InDirectory in(dir.path());
        ASSERT_EQ(cli("demo --out demo"), 0) << log();
    }
    const std::string text = log();
    const std::size_t ceph = text.find("== cephalometric picture (lateral view)");
    EXPECT_LT(text.find("Tavirex_SetSensMduInit_Ceph (lateral)", ceph), text.find("\n==", ceph + 3)) << "the picture";
    EXPECT_EQ(text.find('\r'), std::string::npos);
    std::map<std::string, std::uintmax_t> listed, present;
    std::istringstream lines(text.substr(text.find("== files in")));
    std::string line, name;
    for (std::getline(lines, line); std::getline(lines, line);) {
        std::uintmax_t bytes = 0;
        if (std::istringstream(line) >> name >> bytes) listed[name] = bytes;
    }
    for (const auto& f : std::filesystem::directory_iterator(dir.file("demo")))
        present[f.path().filename().string()] = f.file_size();
    EXPECT_EQ(listed, present);
    EXPECT_EQ(listed.size(), TVX_WITH_DICOM ? 27u : 24u) << "with DICOM: pano.dcm, ceph.dcm, tomo.dcm";
    EXPECT_EQ(cli("info --config" + at("demo/tavirex-ceph.ini")), 0) << log();
    const std::size_t again = text.find("tavirex process", text.find("== panoramic picture"));
    const std::string command = text.substr(again + 8, text.find(" --out FILE", again) - again - 8);
    ASSERT_EQ(cli(command + " --quiet --out" + at("again.raw")), 0) << command << "\n" << log();
    EXPECT_TRUE(tvxtest::read_file(dir.file("again.raw")) == tvxtest::read_file(dir.file("demo/pano.raw")));
}

TEST_F(CliTest, CalibrateFromDarkAndFlatReadouts) {
    const int w = 4096, h = 1536;
    tvxtest::Words dark(static_cast<std::size_t>(w) * h, 100), flat = dark;
    // Exposed columns 100..999: level 2000; row 500 half as sensitive, rows 1000 and 1535 nearly dead.
    for (int r = 0; r < h; ++r)
        for (int c = 100; c < 1000; ++c)
            flat[static_cast<std::size_t>(r) * w + c] += r == 500 ? 1000 : (r == 1000 || r == 1535) ? 400 : 2000;
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
