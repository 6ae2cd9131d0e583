// Sensor initialisation, picture set-up, arming, status, readout and reset
// through the C exports, against an in-process module that echoes the CCD
// control RAM and serves a known picture memory.

#include "state/context.h"
#include "device/front_end.h"
#include "support/support.h"

using tvx::Device;
using tvxtest::FakeLink;
using tvxtest::LinkCall;
using tvxtest::vals;

namespace {

// Converter group: the select, then each word between two idle checks.
std::string group(int select, std::initializer_list<std::uint16_t> words) {
    std::string s = "W 27F00028 000" + std::to_string(select);
    char b[8];
    for (const auto w : words) {
        std::snprintf(b, sizeof b, "%04X", static_cast<unsigned>(w));
        s += ", S, W 27F00020 " + std::string(b) + ", S, W 27F0002A 0000";
    }
    return s;
}

class AcquisitionTest : public tvxtest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        config = dir.file("unit.ini");
        tvxtest::write_file(dir.file("fpga.hex"), ":020000040000FA\n:0400000001020304F2\n:00000001FF\n");
        tvxtest::write_file(config, "[LOADPROG]\nFPGA=" + dir.file("fpga.hex") +
                                        "\n[AD1SET]\nACTION_D0=1\nACTION_D5=1\nCONTROL_D7=1\nCONTROL_D8=1\n[AD3SET]\nACTION_D2=1\n"
                                        "[PROCESS]\nBRISMOOTH=0\nBRISMOOTH_PANO=1\nBRISMOOTH_CEPH=0\n");
        std::string forty;
        for (int i = 0; i < 100; ++i) forty += "40\n";
        profile = dir.file("speed.txt");
        tvxtest::write_file(profile, forty);
        ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);
        tvx::ModuleBooted[0] = 1;
        fresh();
    }
    // A new module behind the link (installed after the library reset, which unloads any link).
    FakeLink& fresh() {
        link_.reset();
        link_ = std::make_unique<FakeLink>();
        return *(m = link_.get());
    }
    std::unique_ptr<FakeLink> link_;
    FakeLink* m = nullptr;
    std::string config, profile;
};

TEST(ConverterWordsTest, SwitchesGainsAndClampInTheFiveWords) {
    // Group: Action[6], VgaGain, ClampLevel, Control[10], PxgaGain.
    struct Row { tvx::AdSetGroup g; std::vector<std::uint16_t> words; };
    const Row rows[] = {
        {{{1, 0, 0, 0, 0, 1}, 150, 0, {0, 0, 0, 1, 0, 0, 0, 1, 1, 0}, 32}, {0x00A1, 0x1096, 0x2000, 0x3008, 0x4020}},
        // Only the lowest bit of each switch counts; Control[0..6] go to bits 0..6, Control[9] to bit 9,
        // Control[7] and [8] nowhere; large values carry.
        {{{1, 2, 3, 0, 0, 1}, 485, 0x1005, {0, 0, 0, 1, 0, 0, 3, 1, 1, 1}, 0xC000},
         {0x00A5, 0x11E5, 0x3005, 0x3248, 0x0000}},
    };
    for (const auto& row : rows) {
        std::uint16_t w[5];
        tvx::device::converter_words(row.g, w);
        EXPECT_EQ(std::vector<std::uint16_t>(w, w + 5), row.words) << row.g.VgaGain;
    }
}

TEST_F(AcquisitionTest, SensorInitialisationSetsTheModeAndLoadsOnlyWhenAsked) {
    // CephMode, FpgaLoad, BRISMOOTH from the mode's key, FewSideCutRatio.
    const auto record = [] { return vals(Device.CephMode, Device.FpgaLoad, Device.ProcessFlags[tvx::kBriSmooth], Device.FewSideCutRatio); };
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    EXPECT_TRUE(m->calls.empty());
    EXPECT_EQ(record(), std::vector<double>({0, 0, 1, 0.001}));
    ASSERT_EQ(Tavirex_SetSensMduInit_Ceph(config.c_str(), 1, 0), 0);
    EXPECT_EQ(record(), std::vector<double>({1, 0, 0, 0.005}));
    // Loading requested: the FPGA already runs (status reports InitValue), one read.
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 7), 0);
    EXPECT_EQ(Device.FpgaLoad, 1);
    EXPECT_EQ(m->traffic(), "S");
    tvx::ModuleBooted[0] = 0;
    EXPECT_EQ(Tavirex_SetSensMduInit_Ceph(config.c_str(), 0, 1), 9);
    EXPECT_EQ(Tavirex_SetSensMduInit_Pano(nullptr, 0), 3);
}

TEST_F(AcquisitionTest, PictureSetUpTrafficTableAndRecord) {
    const auto set_up = [](const char* modreg, std::uint16_t ccd_bytes, int groups, std::uint16_t gain_word) {
        const std::string n = std::to_string(ccd_bytes);
        std::string s = std::string("W 27F00006 ") + modreg + ", W 27F00032 0001, W 27F02000 #" + n + ", R 27F02000 #" +
                        n + ", W 27F00032 0000, S, " + group(0, {0x00A1, gain_word, 0x2000, 0x3008, 0x4020});
        // The third (cephalometric) converter has its own ACTION_D2.
        for (int g = 1; g < groups; ++g) s += ", S, " + group(g, {static_cast<std::uint16_t>(g == 2 ? 0x0084 : 0x0080), gain_word, 0x2000, 0x3008, 0x4020});
        return s + ", S";
    };
    // start: 0 for the configured start signal; record: ClockMode, ImageWidth, ImageHeight, ClockTableLength,
    // and SegmentCount, SegmentStart, SegmentWidth of the last pass, PassCount.
    const struct Row {
        bool ceph; std::uint32_t passes; std::uint8_t start; std::uint16_t timelag; std::string traffic; std::vector<int> record;
    } rows[] = {
        // 10 converter words, then the ready check.
        {false, 1, 0, 100, set_up("0040", 8192, 2, 0x1096) + ", S", {0, 4096, 1536, 4096, 1, 2, 417, 1}},
        // Four passes and start signal 3: MODREG = 16 x (12 + 3).
        {false, 4, 3, 0, set_up("00F0", 8192, 2, 0x1096) + ", S", {3, 4096, 1536, 4096, 4, 0, 417, 4}},
        // 15 converter words.
        {true, 1, 0, 0, set_up("0040", 7000, 3, 0x11E5), {4, 3500, 2304, 3500, 1, 0, 417, 1}},
    };
    const std::uint8_t configured = Device.StartSignal;
    for (const auto& row : rows) {
        fresh();
        const auto set_up_pict = row.ceph ? Tavirex_SetParamforPictEx_Ceph : Tavirex_SetParamforPictEx;
        ASSERT_EQ(row.ceph ? Tavirex_SetSensMduInit_Ceph(config.c_str(), 0, 0)
                           : Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
        Device.StartSignal = row.start ? row.start : configured;
        ASSERT_EQ(set_up_pict(profile.c_str(), row.passes, 10, row.timelag), 0);
        EXPECT_EQ(m->traffic(), row.traffic) << row.passes;
        EXPECT_EQ(std::vector<int>({Device.ClockMode, Device.ImageWidth, Device.ImageHeight, Device.ClockTableLength,
                                    Device.SegmentCount, Device.SegmentStart[row.passes - 1],
                                    Device.SegmentWidth[row.passes - 1], static_cast<int>(tvx::PassCount)}),
                  row.record) << row.passes;
        EXPECT_TRUE(Device.ClockTable == tvx::ClockTableStorage && Device.ImageBuffer == tvx::ImageBufferStorage);
        if (row.timelag == 0) continue;
        // The table sent for TIMELAG 100: lag 1023, 227 after merging, then 30 to the end of the ramp.
        std::vector<int> table(4096, 30), sent;
        table[0] = 1023, table[1] = 227;
        for (std::size_t i = 0; i + 1 < m->ccd.size(); i += 2) sent.push_back(m->ccd[i] | (m->ccd[i + 1] << 8));
        EXPECT_EQ(sent, table);
    }
}

TEST_F(AcquisitionTest, SetUpArgumentAndSettingChecksComeBeforeAnyLinkCall) {
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    tvxtest::write_file(dir.file("empty.txt"), "");
    tvxtest::write_file(dir.file("fast.txt"), "200\n200\n200\n");
    // {what, profile, passes, TIMELAG, cephalometric, a change to the configured record, result}
    const struct Row {
        const char *what, *file; std::uint32_t passes; std::uint16_t timelag; bool ceph; void (*prepare)(); std::int32_t rc;
    } rows[] = {
        {"no pass", "speed.txt", 0, 0, false, nullptr, -97},
        {"five passes", "speed.txt", 5, 0, false, nullptr, -97},
        {"two cephalometric passes", "speed.txt", 2, 0, true, nullptr, -97},
        {"missing profile", "absent.txt", 1, 0, false, nullptr, -99},
        {"empty profile", "empty.txt", 1, 0, false, nullptr, -99},
        {"no profile path", nullptr, 1, 0, false, nullptr, -99},
        {"TIMELAG 82 gives lag entries 2, 2: the table check refuses it", "speed.txt", 1, 82, false, nullptr, 3},
        {"cephalometric set-up in panoramic mode: clock code 4 does not match", "speed.txt", 1, 0, true, nullptr, 3},
        {"start signal 0", "speed.txt", 1, 0, false, [] { Device.StartSignal = 0; }, 3},
        {"start signal 4", "speed.txt", 1, 0, false, [] { Device.StartSignal = 4; }, 3},
        {"upper cut 4", "speed.txt", 1, 0, false, [] { Device.XyCorr[tvx::kUpperCut02] = 4; }, 3},
        {"mode 2", "speed.txt", 1, 0, false, [] { Device.CephMode = 2; }, 3},
        {"speed 200: 6 counts per line", "fast.txt", 1, 0, false, nullptr, 10},
    };
    const tvx::DeviceContext configured = Device;
    for (const auto& row : rows) {
        if (row.prepare) row.prepare();
        const std::string path = row.file ? dir.file(row.file) : std::string();
        const auto set_up = row.ceph ? Tavirex_SetParamforPictEx_Ceph : Tavirex_SetParamforPictEx;
        EXPECT_EQ(set_up(row.file ? path.c_str() : nullptr, row.passes, 10, row.timelag), row.rc) << row.what;
        EXPECT_TRUE(m->calls.empty()) << row.what;
        Device = configured;
    }
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
}

TEST_F(AcquisitionTest, SetUpVerificationAndConverterFailures) {
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    // Read-back never matches (the module keeps no CCD data): 4 after LanRetry attempts of write, read, read.
    m->ccd_memory = false;
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 4);
    EXPECT_EQ(m->of(514).size(), 10u);
    // Converter stays busy.
    fresh().status = 0x0201;
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 2);
}

TEST_F(AcquisitionTest, ArmingAndStatus) {
    // {clock table length, picture pattern, result, traffic}: a table of neither length stops before SETLIN.
    const struct { std::uint16_t length; std::uint8_t pattern; std::int32_t rc; const char* traffic; } arming[] = {
        {4096, 0, 0, "W 27F00034 0000, W 27F00008 0002, W 27F00010 0001, W 27F00012 0001, W 27F00008 0001, S"},
        {3500, 1, 0, "W 27F00034 0000, W 27F00008 0012, W 27F00010 0001, W 27F00012 0000, W 27F00008 0011, S"},
        {1000, 1, 3, "W 27F00034 0000, W 27F00008 0012, W 27F00010 0001"}, {1000, 2, 3, ""}};
    for (const auto& a : arming) {
        m->calls.clear();
        Device.ClockTableLength = a.length, Device.PictPattern = a.pattern;
        EXPECT_EQ(Tavirex_SetWaitXExpose(), a.rc) << a.length;
        EXPECT_EQ(m->traffic(), a.traffic) << a.length;
    }

    // The picture bit, then the ready check: one read, or LanRetry reads of a module that is not ready.
    struct Row { std::uint16_t status; std::int32_t rc; std::uint8_t picture; const char* traffic; };
    for (const Row& row :
         {Row{0x0101, 0, 1, "S, S"}, Row{0x0001, 0, 0, "S, S"}, Row{0x0100, 1, 1, "S, S, S, S, S, S"}}) {
        m->calls.clear();
        m->status = row.status;
        std::uint8_t picture = 7;
        EXPECT_EQ(Tavirex_CheckPictStatus(&picture), row.rc) << row.status;
        EXPECT_EQ(std::make_pair(int{picture}, m->traffic()), std::make_pair(int{row.picture}, std::string(row.traffic)));
    }
    EXPECT_EQ(Tavirex_CheckPictStatus(nullptr), 3);
    std::uint8_t picture = 7;
    m->on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return 1; };
    EXPECT_EQ(Tavirex_CheckPictStatus(&picture), 18);
    EXPECT_EQ(picture, 7);
}

TEST_F(AcquisitionTest, ReadoutMasksTheTopFourBitsAndPacksCephalometricRows) {
    ASSERT_EQ(Codes({Tavirex_SetSensMduInit_Pano(config.c_str(), 0), Tavirex_SetParamforPictEx(profile.c_str(), 4, 10, 0)}), Codes(2, 0));
    m->calls.clear();
    ASSERT_EQ(Tavirex_GetImageDataEx(2), 0);
    EXPECT_EQ(std::make_pair(int{Device.SegmentCount}, m->traffic()),
              std::make_pair(2, std::string("W 27F00010 0000, R 26000000 #12582912, S")));
    const std::uint16_t* image = Device.ImageBuffer;
    for (std::size_t i = 0; i < 4096u * 1536u; ++i) ASSERT_EQ(image[i], i % 4001) << i;
    m->picture = [](std::size_t) -> std::uint16_t { return 0xF123; };
    ASSERT_EQ(Tavirex_GetImageDataEx(0x102), 0);
    EXPECT_EQ(std::vector<std::uint32_t>({Device.SegmentCount, tvx::ReadSegments, image[0], image[4096u * 1536u - 1]}),
              std::vector<std::uint32_t>({2, 0x102, 0x0123, 0x0123}));

    m->picture = FakeLink::known_sample;
    ASSERT_EQ(Codes({Tavirex_SetSensMduInit_Ceph(config.c_str(), 0, 0), Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 0)}),
              Codes(2, 0));
    m->calls.clear();
    ASSERT_EQ(Tavirex_GetImageDataEx(1), 0);
    EXPECT_EQ(m->traffic(), "W 27F00010 0000, R 26000000 #16777216, R 27000000 #2097152, S");
    // Rows of 4096 raw samples keep their first 3500; row 2048 starts the second window.
    image = Device.ImageBuffer;
    for (std::size_t row = 0; row < 2304; ++row)
        for (std::size_t x = 0; x < 3500; ++x) ASSERT_EQ(image[row * 3500 + x], (row * 4096 + x) % 4001) << row;
}

TEST_F(AcquisitionTest, ReadoutIsRefusedWithoutAPictureBlockThatFits) {
    const auto refused = [this](const char* what) {
        m->calls.clear();
        EXPECT_TRUE(Tavirex_GetImageDataEx(1) == 3 && m->calls.empty()) << what;
    };
    refused("no set-up");
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(dir.file("absent.txt").c_str(), 1, 10, 0), -99);
    EXPECT_TRUE(Device.ImageBuffer == nullptr && Device.ClockTable == nullptr);
    refused("a set-up that failed after releasing the previous blocks");
    EXPECT_EQ(Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 0), 3);
    ASSERT_NE(Device.ImageBuffer, nullptr);
    refused("panoramic block, cephalometric set-up: 2304 whole rows would overrun it");
    ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);
    refused("Tavirex_Init forgets the blocks");
}

// Processing takes only a picture read out after a set-up that succeeded; a set-up that
// cannot give picture lines (no time between speed samples, a scan that never moves) is refused.
TEST_F(AcquisitionTest, OnlyAReadOutPictureIsProcessedAndOnlyAMovingScanIsSetUp) {
    const std::string out = dir.file("out.raw"), still = dir.file("still.txt");
    std::uint32_t w = 0, h = 0;
    const auto process = [&] { return Tavirex_ImageProcessingEx(out.c_str(), &w, &h); };
    tvxtest::reset_library();  // a fresh process: no Init, no sensor initialisation
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), TAVIREX_E_RANGE);
    EXPECT_EQ(process(), TAVIREX_E_RANGE);
    EXPECT_EQ(Tavirex_ImageProcessingEx2(out.c_str(), &w, &h), TAVIREX_E_RANGE);
    ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);
    tvx::ModuleBooted[0] = 1;
    fresh();
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
    EXPECT_EQ(process(), TAVIREX_E_RANGE);  // set up, not read
    ASSERT_EQ(Tavirex_GetImageDataEx(1), 0);
    link_.reset();  // the link goes: the next set-up fails after taking new blocks
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), TAVIREX_E_LINK_LIBRARY);
    EXPECT_EQ(process(), TAVIREX_E_RANGE);
    EXPECT_FALSE(tvxtest::file_exists(out));
    fresh();
    tvxtest::write_file(still, "0\n0\n0\n");
    for (const auto& [path, interval] : {std::pair{profile, 0u}, std::pair{still, 10u}}) {
        m->calls.clear();
        EXPECT_EQ(Tavirex_SetParamforPictEx(path.c_str(), 1, interval, 0), TAVIREX_E_RANGE) << path << " " << interval;
        EXPECT_TRUE(Device.ClockTable == nullptr && m->calls.empty()) << path;
    }
}

TEST_F(AcquisitionTest, ResetAndWithoutALinkLibraryEveryModuleCallGives19) {
    ASSERT_EQ(Tavirex_ResetAll(), 0);
    EXPECT_EQ(m->traffic(), "W 27F00004 0000, W 27F00010 0000");
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
    tvx::link::Link = tvx::link::LinkState{};
    std::uint8_t picture = 7;
    // The readout before the set-up fails: after a failed set-up it is refused with 3.
    EXPECT_EQ(Codes({Tavirex_SetSensMduInit_Pano(config.c_str(), 1), Tavirex_GetImageDataEx(1),
                                         Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), Tavirex_SetWaitXExpose(),
                                         Tavirex_CheckPictStatus(&picture), Tavirex_ResetAll()}),
              Codes(6, 19));
    EXPECT_EQ(picture, 7);
}

TEST_F(AcquisitionTest, PictureBlocksAreReplacedAndKeptAfterAnAllocationFailure) {
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    const auto base = tvx::core::test_blocks_held();
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 2, 10, 0), 0);
    EXPECT_EQ(tvx::core::test_blocks_held(), base + 4);
    // Picture blocks 1..4 give -98 and keep those taken; the fine buffer of each pass gives 5.
    for (std::uint32_t passes : {1u, 2u}) {
        for (std::uint64_t n = 1;; ++n) {
            const std::int32_t rc =
                tvxtest::with_failed_allocation(n, [&] { return Tavirex_SetParamforPictEx(profile.c_str(), passes, 10, 0); });
            if (rc == 0) {
                EXPECT_EQ(n, 5u + passes);
                break;
            }
            EXPECT_EQ(vals(rc, tvx::core::test_blocks_held(), Device.ImageBuffer == nullptr),
                      vals(n <= 4 ? -98 : 5, base + static_cast<std::int64_t>(n <= 4 ? n - 1 : 4), true)) << n;
            ASSERT_LT(n, 10u);
        }
    }
    // The readout's two buffers; its link failures are swept with the whole cycle below.
    for (std::uint64_t n = 1; n <= 2; ++n) EXPECT_EQ(tvxtest::with_failed_allocation(n, [] { return Tavirex_GetImageDataEx(1); }), 5);
    tvx::release_picture_blocks();
    EXPECT_EQ(tvx::core::test_blocks_held(), base);
}

// One whole panoramic cycle after the link is open; returns the first failing result.
std::int32_t cycle(const std::string& config, const std::string& profile) {
    std::int32_t rc = Tavirex_SetSensMduInit_Pano(config.c_str(), 1);
    if (rc == 0) rc = Tavirex_SetParamforPictEx(profile.c_str(), 2, 10, 100);
    if (rc == 0) rc = Tavirex_SetWaitXExpose();
    std::uint8_t picture = 0;
    if (rc == 0) rc = Tavirex_CheckPictStatus(&picture);
    if (rc == 0) rc = Tavirex_GetImageDataEx(2);
    if (rc == 0) rc = Tavirex_ResetAll();
    return rc;
}

TEST_F(AcquisitionTest, WholeCycleLoadsTheFpgaOnceAndEachLinkCallFailingInTurnReachesTheHost) {
    m->status = 0x0000;
    m->stsreg = 0x0100;  // the FPGA starts when STSREG is written
    ASSERT_EQ(cycle(config, profile), 0);
    EXPECT_EQ(m->of(512).size(), 1u);
    m->calls.clear();
    // Now the FPGA runs (its loading failures are swept in the FPGA tests, each load waits
    // 50 ms): sensor initialisation makes one status read.
    ASSERT_EQ(cycle(config, profile), 0);
    EXPECT_TRUE(m->of(512).empty());
    const int total = static_cast<int>(m->calls.size());
    ASSERT_GT(total, 60);
    tvx::release_picture_blocks();
    const auto base = tvx::core::test_blocks_held();
    for (const std::int32_t code : {-5, 77}) {
        for (int n = 1; n <= total; ++n) {
            fresh();
            m->status = 0x0101;
            m->fail_call = static_cast<std::size_t>(n);
            m->fail_code = code;
            const std::int32_t rc = cycle(config, profile);
            const bool read = m->calls[n - 1].command == 514;
            EXPECT_EQ(rc, read && code > 0 ? 18 : code) << "call " << n;
            tvx::release_picture_blocks();
            EXPECT_EQ(tvx::core::test_blocks_held(), base) << "call " << n;
        }
    }
}

}  // namespace
