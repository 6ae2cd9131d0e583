// Sensor initialisation, picture set-up, arming, status, readout and reset
// through the C exports, against an in-process module that echoes the CCD
// control RAM and serves a known picture memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "api/context.h"
#include "core/alloc.h"
#include "device/front_end.h"
#include "support/fake_link.h"
#include "support/support.h"
#include "tavirex.h"

using tvx::Device;
using tvxtest::FakeLink;
using tvxtest::LinkCall;

namespace {

constexpr std::uint32_t kCcd = 0x27F02000;
constexpr std::uint32_t kWindow2 = 0x27000000;
constexpr std::size_t kWindowBytes = 16777216;

// Picture memory sample s (counted over both windows): junk in the top nibble.
std::uint16_t raw_sample(std::size_t s) { return static_cast<std::uint16_t>(0xA000 | (s % 4001)); }

// The module as the library sees it through the link: status register, CCD
// control RAM with read-back, picture memory; optionally the Nth call fails.
struct Module {
    FakeLink fake;
    std::uint16_t status = 0x0001;
    std::vector<std::uint8_t> ccd;
    std::uint16_t (*picture)(std::size_t) = raw_sample;
    int fail_call = 0;
    std::int32_t fail_code = 0;
    int seen = 0;
    // An FPGA that starts when STSREG is written: the status then reports the value and the picture bit.
    bool start_on_stsreg = false;

    Module() {
        fake.on_command = [this](const LinkCall& c) -> std::int32_t {
            if (++seen == fail_call) return fail_code;
            if (c.command == 513 && c.address == kCcd) ccd = c.data;
            if (start_on_stsreg && c.command == 513 && c.address == 0x27F0000E) status = 0x0100 | c.value();
            return 0;
        };
        fake.on_read = [this](std::uint32_t address, std::uint32_t count, std::uint8_t* into) -> std::int32_t {
            if (++seen == fail_call) return fail_code;
            if (address == 0x27F00002) {
                into[0] = static_cast<std::uint8_t>(status & 0xFF);
                into[1] = static_cast<std::uint8_t>(status >> 8);
            } else if (address == kCcd) {
                for (std::uint32_t i = 0; i < count; ++i) into[i] = i < ccd.size() ? ccd[i] : 0;
            } else if (address == 0x26000000 || address == kWindow2) {
                const std::size_t first = (address == kWindow2 ? kWindowBytes : 0) / 2;
                for (std::uint32_t i = 0; i < count / 2; ++i) {
                    const std::uint16_t v = picture(first + i);
                    into[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
                    into[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
                }
            }
            return static_cast<std::int32_t>(count);
        };
    }
};

std::string hex4(std::uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%04X", v);
    return b;
}

// The link traffic as short lines: "W addr value", "W addr #count", "R addr #count".
std::vector<std::string> traffic(const FakeLink& fake) {
    std::vector<std::string> out;
    for (const auto& c : fake.calls) {
        if (c.command == 513 && c.count == 2)
            out.push_back("W " + hex4(c.address) + " " + hex4(c.value()));
        else if (c.command == 513)
            out.push_back("W " + hex4(c.address) + " #" + std::to_string(c.count));
        else if (c.command == 514)
            out.push_back("R " + hex4(c.address) + " #" + std::to_string(c.count));
        else
            out.push_back("C " + std::to_string(c.command) + " #" + std::to_string(c.count));
    }
    return out;
}

const std::string kStatus = "R 27F00002 #2";

// Converter group n: select, then each word framed by idle waits.
void add_group(std::vector<std::string>& v, std::uint16_t select, const std::vector<std::uint16_t>& words) {
    v.push_back("W 27F00028 " + hex4(select));
    for (const auto w : words) {
        v.push_back(kStatus);
        v.push_back("W 27F00020 " + hex4(w));
        v.push_back(kStatus);
        v.push_back("W 27F0002A 0000");
    }
}

class AcquisitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        tvxtest::reset_library();
        config = dir.file("unit.ini");
        tvxtest::write_file(dir.file("fpga.hex"), ":020000040000FA\n:0400000001020304F2\n:00000001FF\n");
        tvxtest::write_file(config,
                            "[LOADPROG]\nFPGA=" + dir.file("fpga.hex") + "\n[AD1SET]\nACTION_D0=1\nACTION_D5=1\nCONTROL_D7=1\nCONTROL_D8=1\n"
                            "[PROCESS]\nBRISMOOTH=0\nBRISMOOTH_PANO=1\nBRISMOOTH_CEPH=0\n");
        std::string forty;
        for (int i = 0; i < 100; ++i) forty += "40\n";
        profile = dir.file("speed.txt");
        tvxtest::write_file(profile, forty);
        ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);
        tvx::ModuleBooted[0] = 1;
    }
    void TearDown() override { tvxtest::reset_library(); }

    tvxtest::TempDir dir;
    std::string config;
    std::string profile;
};

TEST_F(AcquisitionTest, ConverterWords) {
    tvx::AdSetGroup g{};
    g.Action[0] = 1;
    g.Action[5] = 1;
    g.Control[3] = 1;
    g.Control[7] = 1;
    g.Control[8] = 1;
    g.VgaGain = 150;
    g.PxgaGain = 32;
    std::uint16_t w[5];
    tvx::device::converter_words(g, w);
    EXPECT_EQ(w[0], 0x00A1);
    EXPECT_EQ(w[1], 0x1096);
    EXPECT_EQ(w[2], 0x2000);
    EXPECT_EQ(w[3], 0x3008);
    EXPECT_EQ(w[4], 0x4020);
    // Only the lowest bit of each switch counts; Control[9] goes to bit 9; large values carry.
    g.Action[1] = 2;
    g.Action[2] = 3;
    g.Control[9] = 1;
    g.VgaGain = 485;
    g.ClampLevel = 0x1005;
    g.PxgaGain = 0xC000;
    tvx::device::converter_words(g, w);
    EXPECT_EQ(w[0], 0x00A5);
    EXPECT_EQ(w[1], 0x11E5);
    EXPECT_EQ(w[2], 0x3005);
    EXPECT_EQ(w[3], 0x3208);
    EXPECT_EQ(w[4], 0x0000);
}

TEST_F(AcquisitionTest, SensorInitialisationSetsTheModeWithoutTouchingAModuleWhenNotLoading) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    EXPECT_TRUE(m.fake.calls.empty());
    EXPECT_EQ(Device.CephMode, 0);
    EXPECT_EQ(Device.FpgaLoad, 0);
    EXPECT_EQ(Device.AdSet[2].VgaGain, 150);
    EXPECT_EQ(Device.ProcessFlags[tvx::kBriSmooth], 1);
    EXPECT_DOUBLE_EQ(Device.ManySideCutRatio, 0.001);

    ASSERT_EQ(Tavirex_SetSensMduInit_Ceph(config.c_str(), 1, 0), 0);
    EXPECT_EQ(Device.CephMode, 1);
    EXPECT_EQ(Device.AdSet[0].VgaGain, 485);
    EXPECT_EQ(Device.ProcessFlags[tvx::kBriSmooth], 0);
    EXPECT_EQ(Device.SecondBriScaleSelect, 6);
    EXPECT_DOUBLE_EQ(Device.ManySideCutRatio, 0.0);
    EXPECT_DOUBLE_EQ(Device.FewSideCutRatio, 0.005);

    // Loading requested: the FPGA already runs (status reports InitValue), one read.
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 7), 0);
    EXPECT_EQ(Device.FpgaLoad, 1);
    EXPECT_EQ(traffic(m.fake), std::vector<std::string>{kStatus});
    tvx::ModuleBooted[0] = 0;
    EXPECT_EQ(Tavirex_SetSensMduInit_Ceph(config.c_str(), 0, 1), 9);
    EXPECT_EQ(Tavirex_SetSensMduInit_Pano(nullptr, 0), 3);
}

TEST_F(AcquisitionTest, PanoramicPictureSetUpTraffic) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 100), 0);

    std::vector<std::string> expected = {"W 27F00006 0040", "W 27F00032 0001", "W 27F02000 #8192", "R 27F02000 #8192",
                                         "W 27F00032 0000", kStatus};
    add_group(expected, 0, {0x00A1, 0x1096, 0x2000, 0x3008, 0x4020});
    expected.push_back(kStatus);
    add_group(expected, 1, {0x0080, 0x1096, 0x2000, 0x3008, 0x4020});
    expected.push_back(kStatus);
    expected.push_back(kStatus);  // ready check
    EXPECT_EQ(traffic(m.fake), expected);
    std::size_t words = 0;
    for (const auto& c : m.fake.calls) words += c.command == 513 && c.address == 0x27F00020;
    EXPECT_EQ(words, 10u);

    // The table sent: lag 1023, 227, then 417 lines of 30.
    ASSERT_EQ(m.ccd.size(), 8192u);
    EXPECT_EQ(m.ccd[0] | (m.ccd[1] << 8), 1023);
    EXPECT_EQ(m.ccd[2] | (m.ccd[3] << 8), 227);
    EXPECT_EQ(m.ccd[4] | (m.ccd[5] << 8), 30);

    EXPECT_EQ(Device.ClockMode, 0);
    EXPECT_EQ(Device.ImageWidth, 4096);
    EXPECT_EQ(Device.ImageHeight, 1536);
    EXPECT_EQ(Device.ClockTableLength, 4096);
    EXPECT_EQ(Device.SegmentCount, 1);
    EXPECT_EQ(Device.SegmentStart[0], 2);
    EXPECT_EQ(Device.SegmentWidth[0], 417);
    EXPECT_EQ(tvx::PassCount, 1u);
    EXPECT_EQ(Device.ClockTable, tvx::ClockTableStorage);
    EXPECT_EQ(Device.ImageBuffer, tvx::ImageBufferStorage);

    // Four passes and start signal 3: MODREG = 16 x (12 + 3).
    m.fake.calls.clear();
    Device.StartSignal = 3;
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 4, 10, 0), 0);
    EXPECT_EQ(traffic(m.fake)[0], "W 27F00006 00F0");
    EXPECT_EQ(Device.ClockMode, 3);
    EXPECT_EQ(Device.SegmentStart[3], 0);
    EXPECT_EQ(Device.SegmentWidth[3], 417);
}

TEST_F(AcquisitionTest, CephalometricPictureSetUpSendsFifteenWords) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Ceph(config.c_str(), 0, 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 0), 0);
    std::vector<std::string> expected = {"W 27F00006 0040", "W 27F00032 0001", "W 27F02000 #7000", "R 27F02000 #7000",
                                         "W 27F00032 0000", kStatus};
    add_group(expected, 0, {0x00A1, 0x11E5, 0x2000, 0x3008, 0x4020});
    expected.push_back(kStatus);
    add_group(expected, 1, {0x0080, 0x11E5, 0x2000, 0x3008, 0x4020});
    expected.push_back(kStatus);
    add_group(expected, 2, {0x0080, 0x11E5, 0x2000, 0x3008, 0x4020});
    expected.push_back(kStatus);
    EXPECT_EQ(traffic(m.fake), expected);
    EXPECT_EQ(Device.ClockMode, 4);
    EXPECT_EQ(Device.ImageWidth, 3500);
    EXPECT_EQ(Device.ImageHeight, 2304);
    EXPECT_EQ(Device.ClockTableLength, 3500);
}

TEST_F(AcquisitionTest, SetUpArgumentAndSettingChecks) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 0, 10, 0), -97);
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 5, 10, 0), -97);
    EXPECT_EQ(Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 2, 10, 0), -97);
    EXPECT_EQ(Tavirex_SetParamforPictEx(dir.file("absent.txt").c_str(), 1, 10, 0), -99);
    tvxtest::write_file(dir.file("empty.txt"), "");
    EXPECT_EQ(Tavirex_SetParamforPictEx(dir.file("empty.txt").c_str(), 1, 10, 0), -99);
    EXPECT_EQ(Tavirex_SetParamforPictEx(nullptr, 1, 10, 0), -99);

    // TIMELAG 82 gives lag entries 2, 2: the table check refuses it.
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 82), 3);
    // Panoramic mode with the cephalometric set-up: clock code 4 does not match.
    EXPECT_EQ(Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 0), 3);
    Device.StartSignal = 0;
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 3);
    Device.StartSignal = 4;
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 3);
    Device.StartSignal = 1;
    Device.XyCorr[tvx::kUpperCut02] = 4;
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 3);
    Device.XyCorr[tvx::kUpperCut02] = 3;
    Device.CephMode = 2;
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 3);
    EXPECT_TRUE(m.fake.calls.empty());
    Device.CephMode = 0;
    // Speed 200: 6 counts per line.
    tvxtest::write_file(dir.file("fast.txt"), "200\n200\n200\n");
    EXPECT_EQ(Tavirex_SetParamforPictEx(dir.file("fast.txt").c_str(), 1, 10, 0), 10);
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
}

TEST_F(AcquisitionTest, LinkResultsOfTheSetUpReachTheHost) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    m.fake.on_command = [](const LinkCall& c) { return c.address == 0x27F00006 ? 77 : 0; };
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 77);
    // Read-back never matches: 4 after LanRetry attempts of write, read, read.
    m.fake.on_command = [](const LinkCall&) { return 0; };
    m.fake.calls.clear();
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 4);
    EXPECT_EQ(m.fake.of(514).size(), 10u);
    // Converter stays busy.
    Module busy;
    busy.status = 0x0201;
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 2);
}

TEST_F(AcquisitionTest, ArmingAndStatus) {
    Module m;
    Device.ClockTableLength = 4096;
    ASSERT_EQ(Tavirex_SetWaitXExpose(), 0);
    EXPECT_EQ(traffic(m.fake), (std::vector<std::string>{"W 27F00034 0000", "W 27F00008 0002", "W 27F00010 0001",
                                                         "W 27F00012 0001", "W 27F00008 0001", kStatus}));
    m.fake.calls.clear();
    Device.ClockTableLength = 3500;
    Device.PictPattern = 1;
    ASSERT_EQ(Tavirex_SetWaitXExpose(), 0);
    EXPECT_EQ(traffic(m.fake), (std::vector<std::string>{"W 27F00034 0000", "W 27F00008 0012", "W 27F00010 0001",
                                                         "W 27F00012 0000", "W 27F00008 0011", kStatus}));
    m.fake.calls.clear();
    Device.ClockTableLength = 1000;
    EXPECT_EQ(Tavirex_SetWaitXExpose(), 3);
    EXPECT_EQ(m.fake.calls.size(), 3u);
    m.fake.calls.clear();
    Device.PictPattern = 2;
    EXPECT_EQ(Tavirex_SetWaitXExpose(), 3);
    EXPECT_TRUE(m.fake.calls.empty());

    std::uint8_t picture = 7;
    m.status = 0x0101;
    EXPECT_EQ(Tavirex_CheckPictStatus(&picture), 0);
    EXPECT_EQ(picture, 1);
    m.status = 0x0001;
    EXPECT_EQ(Tavirex_CheckPictStatus(&picture), 0);
    EXPECT_EQ(picture, 0);
    m.fake.calls.clear();
    m.status = 0x0100;
    EXPECT_EQ(Tavirex_CheckPictStatus(&picture), 1);
    EXPECT_EQ(picture, 1);
    EXPECT_EQ(m.fake.calls.size(), 6u);  // the status, then LanRetry ready reads
    EXPECT_EQ(Tavirex_CheckPictStatus(nullptr), 3);
    picture = 7;
    m.fake.on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return 1; };
    EXPECT_EQ(Tavirex_CheckPictStatus(&picture), 18);
    EXPECT_EQ(picture, 7);
}

TEST_F(AcquisitionTest, PanoramicReadout) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 4, 10, 0), 0);
    m.fake.calls.clear();
    ASSERT_EQ(Tavirex_GetImageDataEx(2), 0);
    EXPECT_EQ(Device.SegmentCount, 2);
    EXPECT_EQ(tvx::ReadSegments, 2u);
    EXPECT_EQ(traffic(m.fake), (std::vector<std::string>{"W 27F00010 0000", "R 26000000 #12582912", kStatus}));
    const std::uint16_t* image = Device.ImageBuffer;
    EXPECT_EQ(image[0], 0);
    EXPECT_EQ(image[4000], 4000);
    EXPECT_EQ(image[4001], 0);
    for (std::size_t i = 0; i < 4096u * 1536u; ++i) ASSERT_EQ(image[i], i % 4001) << i;

    // Junk in the top four bits is cleared.
    m.picture = [](std::size_t) -> std::uint16_t { return 0xF123; };
    ASSERT_EQ(Tavirex_GetImageDataEx(0x102), 0);
    EXPECT_EQ(Device.SegmentCount, 2);
    EXPECT_EQ(tvx::ReadSegments, 0x102u);
    EXPECT_EQ(image[0], 0x0123);
    EXPECT_EQ(image[4096u * 1536u - 1], 0x0123);
}

TEST_F(AcquisitionTest, CephalometricReadoutPacksRows) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Ceph(config.c_str(), 0, 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 0), 0);
    m.fake.calls.clear();
    ASSERT_EQ(Tavirex_GetImageDataEx(1), 0);
    EXPECT_EQ(traffic(m.fake), (std::vector<std::string>{"W 27F00010 0000", "R 26000000 #16777216",
                                                         "R 27000000 #2097152", kStatus}));
    const std::uint16_t* image = Device.ImageBuffer;
    // Row 1, sample 3499: raw sample 4096 + 3499 = 7595, 7595 mod 4001 = 3594.
    EXPECT_EQ(image[3500 + 3499], 3594);
    // Row 2048 starts the second window: raw sample 8388608, mod 4001 = 2512.
    EXPECT_EQ(image[2048u * 3500u], 2512);
    for (std::size_t row = 0; row < 2304; ++row)
        for (std::size_t x = 0; x < 3500; ++x) ASSERT_EQ(image[row * 3500 + x], (row * 4096 + x) % 4001) << row;
}

TEST_F(AcquisitionTest, ReadoutIsRefusedWithoutAPictureBlockThatFits) {
    Module m;
    // No set-up at all.
    EXPECT_EQ(Tavirex_GetImageDataEx(1), 3);
    EXPECT_TRUE(m.fake.calls.empty());

    // A set-up that fails after releasing the previous blocks leaves nothing to read into.
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(dir.file("absent.txt").c_str(), 1, 10, 0), -99);
    EXPECT_EQ(Device.ImageBuffer, nullptr);
    EXPECT_EQ(Device.ClockTable, nullptr);
    m.fake.calls.clear();
    EXPECT_EQ(Tavirex_GetImageDataEx(1), 3);
    EXPECT_TRUE(m.fake.calls.empty());

    // Panoramic mode with a cephalometric set-up: 2304 whole rows would overrun the block.
    EXPECT_EQ(Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 0), 3);
    ASSERT_NE(Device.ImageBuffer, nullptr);
    m.fake.calls.clear();
    EXPECT_EQ(Tavirex_GetImageDataEx(1), 3);
    EXPECT_TRUE(m.fake.calls.empty());

    // Tavirex_Init forgets the blocks; the readout refuses until the next set-up.
    ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);
    EXPECT_EQ(Tavirex_GetImageDataEx(1), 3);
    EXPECT_TRUE(m.fake.calls.empty());
}

TEST_F(AcquisitionTest, ReadoutFailures) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
    const auto held = tvx::core::test_blocks_held();
    for (std::uint64_t n = 1; n <= 2; ++n) {
        tvxtest::FailAllocation fail(n);
        EXPECT_EQ(Tavirex_GetImageDataEx(1), 5);
    }
    EXPECT_EQ(tvx::core::test_blocks_held(), held);
    m.fake.on_read = [](std::uint32_t a, std::uint32_t n, std::uint8_t*) -> std::int32_t {
        return a == 0x26000000 ? static_cast<std::int32_t>(n - 2) : static_cast<std::int32_t>(n);
    };
    EXPECT_EQ(Tavirex_GetImageDataEx(1), 18);
    m.fake.on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return -5; };
    EXPECT_EQ(Tavirex_GetImageDataEx(1), -5);
    m.fake.on_command = [](const LinkCall&) { return 77; };
    EXPECT_EQ(Tavirex_GetImageDataEx(1), 77);
    EXPECT_EQ(tvx::core::test_blocks_held(), held);
}

TEST_F(AcquisitionTest, TracesOfSetUpAndReadout) {
    Module m;
    Device.DebugProcess = 1;
    Device.DebugParam = 1;
    std::string text;
    {
        tvxtest::InDirectory in(dir.path());
        tvxtest::CaptureStderr err;
        ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);  // takes the DEBUG switches
        // Only the low 16 bits of the time lag count: 0x10064 is 100 ms.
        ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0x10064), 0);
        ASSERT_EQ(Tavirex_GetImageDataEx(1), 0);
        text = err.text();
    }
    EXPECT_EQ(Device.SegmentStart[0], 2);
    for (const char* expected : {"NUM of CCD CNTL DATA for PICT[ 834]\n", "TIMELAG   [100]\n",
                                 "dWaitHNum [2500.000000]\n", "Num of Cutted Pxl at Left Side[   4]\n",
                                 // "CCDCntlData write, attempt 1" and "read-back check OK" in code page 932
                                 "CCDCntlData\x8F\x91\x82\xAB\x8D\x9E\x82\xDD" "1\x89\xF1\x96\xDA\n",
                                 "CCDCntlData\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8A\x6D\x94\x46OK\n",
                                 // "data read start" and "data read end" stamps
                                 "\x83\x66\x81\x5B\x83\x5E\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8A\x4A\x8E\x6E[",
                                 "\x83\x66\x81\x5B\x83\x5E\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8F\x49\x97\xB9["})
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
    // The CCD upload is logged under the trace switch, with the first table word.
    EXPECT_EQ(tvxtest::read_text_file(dir.file("logCMD_WRITE.txt")), " WaitRAM,0x,27f02000,0x,3ff\n");
}

TEST_F(AcquisitionTest, ResetAll) {
    Module m;
    ASSERT_EQ(Tavirex_ResetAll(), 0);
    EXPECT_EQ(traffic(m.fake), (std::vector<std::string>{"W 27F00004 0000", "W 27F00010 0000"}));
    m.fake.calls.clear();
    m.fake.on_command = [](const LinkCall&) { return 77; };
    EXPECT_EQ(Tavirex_ResetAll(), 77);
    EXPECT_EQ(m.fake.calls.size(), 1u);
}

TEST_F(AcquisitionTest, WithoutALinkLibraryEveryModuleCallGives19) {
    {
        Module m;
        ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
        ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
    }
    std::uint8_t picture = 7;
    EXPECT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 1), 19);
    EXPECT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 19);
    EXPECT_EQ(Tavirex_SetWaitXExpose(), 19);
    EXPECT_EQ(Tavirex_CheckPictStatus(&picture), 19);
    EXPECT_EQ(picture, 7);
    EXPECT_EQ(Tavirex_GetImageDataEx(1), 19);
    EXPECT_EQ(Tavirex_ResetAll(), 19);
}

TEST_F(AcquisitionTest, PictureBlocksAreReplacedAndKeptAfterAnAllocationFailure) {
    Module m;
    ASSERT_EQ(Tavirex_SetSensMduInit_Pano(config.c_str(), 0), 0);
    const auto base = tvx::core::test_blocks_held();
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 1, 10, 0), 0);
    ASSERT_EQ(Tavirex_SetParamforPictEx(profile.c_str(), 2, 10, 0), 0);
    EXPECT_EQ(tvx::core::test_blocks_held(), base + 4);

    // Pictures blocks 1..4 give -98 and keep those taken; the fine buffer of each pass gives 5.
    for (std::uint32_t passes : {1u, 2u}) {
        for (std::uint64_t n = 1;; ++n) {
            std::int32_t rc;
            {
                tvxtest::FailAllocation fail(n);
                rc = Tavirex_SetParamforPictEx(profile.c_str(), passes, 10, 0);
            }
            if (rc == 0) {
                EXPECT_EQ(n, 5u + passes);
                break;
            }
            if (n <= 4) {
                EXPECT_EQ(rc, -98) << n;
                EXPECT_EQ(tvx::core::test_blocks_held(), base + static_cast<std::int64_t>(n) - 1) << n;
            } else {
                EXPECT_EQ(rc, 5) << n;
                EXPECT_EQ(tvx::core::test_blocks_held(), base + 4) << n;
            }
            EXPECT_EQ(Device.ImageBuffer, nullptr);
            ASSERT_LT(n, 10u);
        }
    }
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

TEST_F(AcquisitionTest, WholeCycleLoadsTheFpgaOnce) {
    Module m;
    m.status = 0x0000;
    m.start_on_stsreg = true;
    ASSERT_EQ(cycle(config, profile), 0);
    EXPECT_EQ(m.fake.of(512).size(), 1u);
    m.fake.calls.clear();
    ASSERT_EQ(cycle(config, profile), 0);
    EXPECT_TRUE(m.fake.of(512).empty());
}

TEST_F(AcquisitionTest, EachLinkCallOfACycleFailingInTurnReachesTheHost) {
    // The FPGA already runs (its loading failures are swept in the FPGA tests, each
    // load waits 50 ms): sensor initialisation makes one status read.
    int total = 0;
    {
        Module m;
        m.status = 0x0101;
        ASSERT_EQ(cycle(config, profile), 0);
        total = m.seen;
    }
    ASSERT_GT(total, 60);
    tvx::release_picture_blocks();
    const auto base = tvx::core::test_blocks_held();
    for (const std::int32_t code : {-5, 77}) {
        for (int n = 1; n <= total; ++n) {
            Module m;
            m.status = 0x0101;
            m.fail_call = n;
            m.fail_code = code;
            const std::int32_t rc = cycle(config, profile);
            const bool read = m.fake.calls[n - 1].command == 514;
            EXPECT_EQ(rc, read && code > 0 ? 18 : code) << "call " << n;
            tvx::release_picture_blocks();
            EXPECT_EQ(tvx::core::test_blocks_held(), base) << "call " << n;
        }
    }
}

}  // namespace
