// The configuration file: defaults, key reading and limits, the profile reader
// under it (sections, keys, numbers and text as a Windows host writes them), and
// the worker count the environment sets.

#include "state/context.h"
#include "config/device_config.h"
#include "platform/profile.h"
#include "platform/workers.h"

#include <atomic>
#include <cstdlib>
#include "support/support.h"

using tvx::Device;
using tvx::platform::profile_int;
using tvx::platform::profile_string;

namespace {

using InitTest = tvxtest::LibraryTest;

using Values = std::vector<double>;
using tvxtest::vals;

TEST_F(InitTest, MissingFileGivesEveryDefault) {
    const std::string path = dir.file("missing.ini");
    std::memset(&Device, 0xA5, sizeof Device);  // stale values must not survive
    ASSERT_EQ(Tavirex_Init(path.c_str(), 0), 0);

    EXPECT_EQ(std::string(Device.LinkLibraryPath) + Device.BootPath + Device.FpgaPath + Device.CalibDataPath +
                  Device.CorrLineDataPath + Device.IpAddress, "");
    // Debug flags; link and module; set-up fields dropped by every Init.
    EXPECT_EQ(vals(Device.DebugProcess, Device.DebugParam, Device.DebugCheckState, Device.DebugDebug4, Device.DebugOutput,
                   Device.BootLoad, Device.FpgaLoad, Device.LanTimeout, Device.LanRetry, Device.InitValue,
                   Device.StartSignal, Device.PictPattern, Device.CephMode, Device.ImageWidth),
              Values({0, 0, 0, 0, 0, 1, 0, 5000, 5, 1, 1, 0, 0, 0}));
    EXPECT_EQ(vals(Device.DefaultOffset, Device.SideCutWidth, Device.AveRange, Device.AveRangeLow, Device.ChgSumRange,
                      Device.SimaRange, Device.SmoothRange, Device.ManySideCutRatio),
              Values({0, 0, 80, 80, 30, 1.5, 200, 0}));
    for (std::size_t i = 0; i < tvx::kProcessFlagCount; ++i)
        EXPECT_EQ(Device.ProcessFlags[i], i == tvx::kGammaCorrForCephalo ? 0 : 1) << i;
    for (const auto& g : Device.AdSet) {
        for (auto a : g.Action) EXPECT_EQ(a, 0);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(g.Control[i], i == 3 ? 1 : 0);
        EXPECT_EQ(vals(g.ClampLevel, g.PxgaGain, g.VgaGain), Values({0, 32, 0}));  // VGA set by a sensor init
    }
    EXPECT_EQ(std::vector<uint16_t>(Device.XyCorr, Device.XyCorr + tvx::kXyCorrCount),
              std::vector<uint16_t>({0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1}));
    EXPECT_TRUE(Device.ImageBuffer == nullptr && Device.ClockTable == nullptr);
    EXPECT_STREQ(tvx::ConfigPath, path.c_str());
    EXPECT_EQ(vals(tvx::SerialPassThrough, Tavirex_GetWindowCenter(), Tavirex_GetWindowWidth()), Values({0, 2048, 4096}));
}

TEST_F(InitTest, ValuesAreCutToTheirFieldWidthAndScaled) {
    const std::string path = dir.file("cfg.ini");
    tvxtest::write_file(path,
                        "[PICTCNTL]\r\nLANRETRY=300\r\nINITVALUE=256\r\nLANTIMEOUT=-1\r\nIPADDRESS=" + std::string(40, '7') +
                            "\r\n[EMPHASISCONTRAST]\r\nSIMARANGE=12\r\n"
                            "[ad2set]\r\naction_d5=257\r\nCONTROL_D3=0\r\nPxGAGain=70000\r\n[XYCORR]\r\nCCDGAP2=9\r\n"
                            "[PROCESS]\r\nDELNOISE=0\r\nGammaCorrForCephalo=1\r\n"
                            "[INIT_WINDOW]\r\nWINDOW_CENTER=1000\r\nWINDOW_WIDTH=201\r\n"
                            "[DLL]\r\nFILENAME=\"" + std::string(600, 'd') + "\"\r\n");
    ASSERT_EQ(Tavirex_Init(path.c_str(), 1), 0);
    // LANRETRY 300 keeps its low 8 bits, PxGAGain 70000 its low 16; INITVALUE 256 fits 16 bits (refused
    // later by FPGA loading); SIMARANGE is in tenths.
    EXPECT_DOUBLE_EQ(Device.SimaRange, 1.2);
    EXPECT_EQ(vals(Device.LanRetry, Device.InitValue, Device.LanTimeout, Device.AdSet[1].Action[5],
                   Device.AdSet[1].Control[3], Device.AdSet[0].Control[3], Device.AdSet[1].PxgaGain,
                   Device.XyCorr[tvx::kCcdGap2], Device.ProcessFlags[tvx::kDelNoise],
                   Device.ProcessFlags[tvx::kGammaCorrForCephalo], Tavirex_GetWindowCenter(), Tavirex_GetWindowWidth()),
              Values({44, 256, 0xFFFFFFFFu, 1, 0, 1, 4464, 9, 0, 1, 1000, 201}));
    // Text cut to its buffer, terminating zero included.
    EXPECT_EQ(std::string(Device.IpAddress), std::string(31, '7'));
    EXPECT_EQ(std::string(Device.LinkLibraryPath), std::string(511, 'd'));
}

TEST_F(InitTest, OverlongOrMissingPathIsRefusedAndChangesNothing) {
    ASSERT_EQ(Tavirex_Init(dir.file("a.ini").c_str(), 1), 0);
    const std::string before = tvx::ConfigPath;
    EXPECT_EQ(Codes({Tavirex_Init(std::string(tvx::kConfigPathSize, 'x').c_str(), 0), Tavirex_Init(nullptr, 0)}),
              Codes(2, TAVIREX_E_RANGE));
    EXPECT_EQ(std::make_pair(before, tvx::SerialPassThrough), std::make_pair(std::string(tvx::ConfigPath), 1u));
    // A path longer than the 260 characters of a classic Windows path is kept whole.
    const std::string deep = dir.path() + "/" + std::string(300, 'p') + ".ini";
    EXPECT_EQ(Tavirex_Init(deep.c_str(), 1), 0);
    EXPECT_EQ(deep, tvx::ConfigPath);
}

TEST_F(InitTest, SensorKeysComeFromTheirOwnFile) {
    const std::string first = dir.file("first.ini"), second = dir.file("second.ini");
    tvxtest::write_file(first, "[PICTCNTL]\nLANRETRY=7\n[LOADPROG]\nFPGA=first.hex\n");
    tvxtest::write_file(second,
                        "[PICTCNTL]\nLANRETRY=9\n[LOADPROG]\nFPGA=second.hex\nFPGA_CEPH=ceph.hex\n"
                        "[XMANYSIDECUTPERCENTAGE]\nPANO=25\n[XMANYSIDECUTPERCENTAGE_SOKU]\nCEPH=40\n"
                        "[AD3SET]\nVGAGain=300\n");
    ASSERT_EQ(Tavirex_Init(first.c_str(), 1), 0);
    tvx::config::read_pano_keys(Device, second.c_str());
    EXPECT_STREQ(Device.FpgaPath, "second.hex");
    EXPECT_EQ(vals(Device.LanRetry, Device.ManySideCutRatio, Device.FewSideCutRatio, Device.AdSet[2].VgaGain),
              Values({7, 0.025, 0.001, 300}));
    tvx::config::read_ceph_keys(Device, second.c_str(), true);
    EXPECT_STREQ(Device.FpgaPath, "ceph.hex");
    EXPECT_EQ(vals(Device.ManySideCutRatio, Device.FewSideCutRatio), Values({0.04, 0.04}));  // one key serves both
}

// CR LF lines first, LF lines from [S] on.
const char kFile[] =
    "[pictcntl]\r\n; comment = 5\r\n  LanRetry = 9 \r\nLANRETRY=10\r\n[OTHER]\r\nlanretry=11\r\n"
    "[PICTCNTL]\r\nLANRETRY=12\r\nINITVALUE=3\r\n"
    "[S]\nA=300\nB=-12x\nC=+7\nD=abc\nE=\nF=12 34\nG=0x10\nH=4294967297\n"
    "P=  C:\\dir\\file.bin  \nQ=\"  quoted  \"\nR=\"half\nT=abcdefghij\n";

TEST_F(InitTest, ProfileIntegers) {
    const std::string path = dir.file("settings.ini");
    tvxtest::write_file(path, kFile);
    const struct { const char* section; const char* key; int32_t dflt, expected; } rows[] = {
        {"PICTCNTL", "LANRETRY", 0, 9},   // names case-insensitive, the first match wins
        {"PictCntl", "initvalue", 0, 3},  // a key missing from the first section of a name is found in a later one
        {"PICTCNTL", "; comment", 1, 1},  // comment lines are no keys
        {"NONE", "A", 7, 7},              // missing section
        {"S", "Y", -3, -3},               // missing key
        {"S", "A", 0, 300},      {"S", "B", 0, -12}, {"S", "C", 0, 7},  {"S", "F", 0, 12},
        {"S", "D", 5, 0},  // present but not a number
        {"S", "E", 5, 0},        {"S", "G", 0, 0},   {"S", "H", 0, 1},  // wraps at 32 bits
    };
    for (const auto& r : rows)
        EXPECT_EQ(static_cast<int32_t>(profile_int(r.section, r.key, r.dflt, path.c_str())), r.expected)
            << r.section << "/" << r.key;
    EXPECT_EQ(profile_int("A", "B", 42, dir.file("absent.ini").c_str()), 42u);
    // Byte order mark, last line without a line end.
    tvxtest::write_file(path, "\xEF\xBB\xBF[S]\r\nK=5");
    EXPECT_EQ(profile_int("S", "K", 0, path.c_str()), 5u);
}

TEST_F(InitTest, ProfileTextIsTrimmedUnquotedAndCutToTheBuffer) {
    const std::string path = dir.file("settings.ini");
    tvxtest::write_file(path, kFile);
    const struct { const char* key; const char* dflt; std::size_t size; const char* expected; } rows[] = {
        {"P", "", 64, "C:\\dir\\file.bin"}, {"Q", "", 64, "  quoted  "}, {"R", "", 64, "\"half"},
        {"T", "", 8, "abcdefg"},            {"none", "0123456789", 8, "0123456"},
    };
    char buf[64];
    for (const auto& r : rows) {
        const std::size_t n = profile_string("S", r.key, r.dflt, buf, r.size, path.c_str());
        EXPECT_EQ(std::make_pair(n, std::string(buf)), std::make_pair(std::strlen(r.expected), std::string(r.expected))) << r.key;
    }
    const std::size_t n = profile_string("A", "B", "dflt", buf, sizeof buf, dir.file("absent.ini").c_str());
    EXPECT_EQ(std::make_pair(n, std::string(buf)), std::make_pair(std::size_t{4}, std::string("dflt")));
}

void set_threads(const char* value) {
#if defined(_WIN32)
    _putenv_s("TAVIREX_THREADS", value);
#else
    setenv("TAVIREX_THREADS", value, 1);
#endif
}

// TAVIREX_THREADS sets the count (1..64); anything else leaves the machine's count,
// at most 8. Every task runs exactly once, for uneven splits too.
TEST(WorkersTest, TheEnvironmentSetsTheCountAndEveryTaskRunsOnce) {
    const char* before = std::getenv("TAVIREX_THREADS");
    const std::string saved = before != nullptr ? before : "";
    set_threads("");
    const unsigned machine = tvx::platform::worker_count();
    EXPECT_TRUE(machine >= 1 && machine <= 8) << machine;
    for (const char* bad : {"0", "65", "3x", "-2", " "}) {
        set_threads(bad);
        EXPECT_EQ(tvx::platform::worker_count(), machine) << bad;
    }
    for (unsigned n : {1u, 3u, 64u}) {
        set_threads(std::to_string(n).c_str());
        EXPECT_EQ(tvx::platform::worker_count(), n);
        std::vector<std::atomic<int>> runs(1001);
        tvx::platform::run_parallel(1001, [&](std::uint32_t i) { runs[i].fetch_add(1); });
        for (std::size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i].load(), 1) << n << " workers, task " << i;
    }
    set_threads(saved.c_str());
}

}  // namespace
