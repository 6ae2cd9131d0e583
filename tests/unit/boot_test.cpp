// Opening the link, booting the module and loading the FPGA configuration:
// register traffic, Intel HEX reading, and every failure reaching the caller.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "api/context.h"
#include "core/alloc.h"
#include "device/boot.h"
#include "device/fpga.h"
#include "device/line_clock.h"
#include "link/link.h"
#include "support/support.h"
#include "tavirex.h"

using tvx::Device;
using tvxtest::FakeLink;
using tvxtest::LinkCall;

namespace {

// First line skipped; 4 bytes; 2 bytes at FFF0 whose following segment line is
// skipped; 3 bytes; end record; a line after the end that is never read.
const char* const kHex = ":020000040000FA\n:0400000001020304F2\n:02FFF000AABB00\n:02000004000AF0\n:03000000C0FFEE00\n"
                         ":00000001FF\n:0100000055AA\n";
const std::vector<std::uint8_t> kHexBytes = {0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB, 0xC0, 0xFF, 0xEE};

class BootTest : public tvxtest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        for (int i = 0; i < 300; ++i) program.push_back(static_cast<char>(i));
        tvxtest::write_file(dir.file("boot.bin"), program);
        tvxtest::write_file(dir.file("fpga.hex"), kHex);
        const std::string cfg = dir.file("boot.ini");
        tvxtest::write_file(cfg, "[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" + dir.file("boot.bin") + "\n");
        ASSERT_EQ(Tavirex_Init(cfg.c_str(), 1), 0);  // defaults: InitValue 1, LanRetry 5
    }
    void use_fpga(const std::string& path) { std::snprintf(Device.FpgaPath, sizeof Device.FpgaPath, "%s", path.c_str()); }
    // FPGA loading requested of a booted module that reports not ready until STSREG is written.
    void fpga_not_running(FakeLink& fake) {
        use_fpga(dir.file("fpga.hex"));
        Device.FpgaLoad = 1;
        tvx::ModuleBooted[0] = 1;
        fake.status = 0;
        fake.stsreg = 0;
    }
    std::string program;
};

TEST_F(BootTest, LinkTrafficOfAFreshBootAndOfASkippedOne) {
    FakeLink fake;
    ASSERT_EQ(tvx::device::open_and_boot(Device, 1), 0);
    EXPECT_EQ(fake.init_calls, 1);
    EXPECT_EQ(fake.traffic(), "C 259 #0, C 1 #300");
    EXPECT_EQ(fake.calls[1].address, 0u);
    EXPECT_EQ(std::string(fake.calls[1].data.begin(), fake.calls[1].data.end()), program);
    EXPECT_EQ(std::make_pair(tvx::ModuleBooted[0], tvx::ModuleBooted[1]), std::make_pair(0u, 1u));
    // The link stays open and the module answers: one status read, nothing sent.
    fake.calls.clear();
    ASSERT_EQ(tvx::device::open_and_boot(Device, 1), 0);
    EXPECT_EQ(fake.init_calls, 1);
    EXPECT_EQ(fake.traffic(), "S");
    // A module that no longer answers loses its mark and is booted again.
    fake.calls.clear();
    fake.on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return -7; };
    ASSERT_EQ(tvx::device::open_and_boot(Device, 1), 0);
    EXPECT_EQ(fake.traffic(), "S, C 259 #0, C 1 #300");
    // Boot flag 0: the link is opened, nothing sent.
    FakeLink fresh;
    Device.BootLoad = 0;
    EXPECT_EQ(tvx::device::open_and_boot(Device, 0), 0);
    EXPECT_EQ(fresh.init_calls, 1);
    EXPECT_TRUE(fresh.calls.empty());
}

TEST_F(BootTest, FailuresAndRefusalsLeaveNoMarkAndNoBlock) {
    {
        FakeLink fake;
        fake.init_result = -5;
        EXPECT_EQ(tvx::device::open_and_boot(Device, 0), -5);
        EXPECT_EQ(tvx::link::Link.EtherReady, 0u);
        fake.init_result = 0;
        fake.on_command = [](const LinkCall& c) { return c.command == 1 ? 77 : 0; };
        EXPECT_EQ(tvx::device::open_and_boot(Device, 0), 77);
        EXPECT_EQ(tvx::ModuleBooted[0], 0u);  // a failed load leaves no mark
        fake.on_command = [](const LinkCall& c) { return c.command == 259 ? -3 : 0; };
        EXPECT_EQ(tvx::device::open_and_boot(Device, 0), -3);
    }
    EXPECT_EQ(tvx::device::comm_init(Device, 2), 3);
    Device.BootLoad = 2;
    EXPECT_EQ(tvx::device::comm_init(Device, 0), 3);
    EXPECT_FALSE(tvx::link::loaded());  // refused before anything is loaded
    Device.BootLoad = 1;
    const auto held = tvx::core::test_blocks_held();
    {
        tvxtest::FailAllocation fail(1);
        EXPECT_EQ(tvx::device::comm_init(Device, 0), 5);
    }
    EXPECT_EQ(tvx::ModuleBooted[0], 0u);
    EXPECT_EQ(tvx::core::test_blocks_held(), held);
    std::snprintf(Device.BootPath, sizeof Device.BootPath, "%s", dir.file("absent.bin").c_str());
    EXPECT_EQ(tvx::device::comm_init(Device, 0), 6);
    EXPECT_EQ(tvx::ModuleBooted[0], 0u);
    // A boot of the simulated module releases the program block too.
    std::snprintf(Device.BootPath, sizeof Device.BootPath, "%s", dir.file("boot.bin").c_str());
    EXPECT_EQ(tvx::device::comm_init(Device, 0), 0);
    EXPECT_EQ(tvx::ModuleBooted[0], 1u);
    EXPECT_EQ(tvx::core::test_blocks_held(), held);
}

TEST_F(BootTest, IntelHexReadingRules) {
    const struct {
        const char* text;
        std::int32_t rc;
        std::vector<std::uint8_t> bytes;
    } rows[] = {
        {kHex, 0, kHexBytes},
        {":0400000001020304F2\n:00000001FF\n:0400000001020304F2\n", 0, {}},  // end record on the second line
        {":0100000011EE\n:0100000022DD\n", 0, {0x22}},  // no end record; the first line is skipped even with data
        // Anything but upper-case hex digits gives 20: byte count, load address, data, data shorter than its
        // count, empty line.
        {":x\n:0a00000001020304050607080900FF\n", 20, {}}, {":x\n:010g000001FF\n", 20, {}},
        {":x\n:020000000a0bFF\n", 20, {}}, {":x\n:04000000010203\n", 20, {}}, {":x\n\n", 20, {}},
    };
    for (const auto& row : rows) {
        // Sizing pass, then the data pass into a block of exactly that size.
        tvxtest::write_file(dir.file("t.hex"), row.text);
        std::size_t size = 0, again = 0;
        std::int32_t rc = tvx::device::read_fpga_hex(dir.file("t.hex").c_str(), nullptr, 0, &size);
        std::vector<std::uint8_t> bytes(rc == 0 ? size : 0, 0);
        if (rc == 0) rc = tvx::device::read_fpga_hex(dir.file("t.hex").c_str(), bytes.data(), size, &again);
        EXPECT_EQ(rc, row.rc) << row.text;
        if (rc != 0) bytes.clear();  // a failed data pass leaves what it read so far
        EXPECT_EQ(bytes, row.bytes) << row.text;
    }
}

TEST_F(BootTest, FpgaLoadSequence) {
    FakeLink fake;
    fpga_not_running(fake);
    ASSERT_EQ(tvx::device::load_fpga(Device), 0);
    // Five reads find the FPGA not running, then the load, reset, InitValue and one ready read.
    EXPECT_EQ(fake.traffic(), "S, S, S, S, S, C 512 #9, W 27F00004 0000, W 27F0000E 0001, S");
    EXPECT_EQ(fake.calls[5].address, 0u);
    EXPECT_EQ(fake.calls[5].data, kHexBytes);
}

TEST_F(BootTest, FpgaRunningUnbootedModuleAndFlags) {
    const auto load = [](std::uint8_t flag, std::uint32_t booted, std::uint16_t init_value) {
        Device.FpgaLoad = flag;
        tvx::ModuleBooted[0] = booted;
        Device.InitValue = init_value;
        return tvx::device::load_fpga(Device);
    };
    {
        FakeLink fake;  // reports InitValue 1: already running
        EXPECT_EQ(load(1, 1, 1), 0);
        EXPECT_EQ(fake.traffic(), "S");
        fake.calls.clear();
        EXPECT_EQ(load(0, 1, 1), 0);
        EXPECT_EQ(load(0, 0, 1), 0);
        EXPECT_EQ(load(1, 0, 1), 9);
        // Range checks come before the boot test.
        EXPECT_EQ(load(2, 0, 1), 3);
        EXPECT_EQ(load(1, 0, 0), 3);
        EXPECT_EQ(load(1, 0, 256), 3);
        EXPECT_TRUE(fake.calls.empty());
    }
    EXPECT_EQ(load(1, 1, 1), 19);  // booted, but no link library loaded: 19 without a call
}

TEST_F(BootTest, FpgaFailuresReachTheCallerAndLeakNothing) {
    FakeLink fake;
    fpga_not_running(fake);
    const auto held = tvx::core::test_blocks_held();
    const std::function<void()> fail_with[] = {
        [&] { use_fpga(dir.file("absent.hex")); },
        [&] { fake.on_command = [](const LinkCall& c) { return c.command == 512 ? 77 : 0; }; },
        [&] { fake.on_command = [](const LinkCall& c) { return c.address == 0x27F00004 ? -5 : 0; }; },
        [&] { fake.on_command = [](const LinkCall& c) { return c.address == 0x27F0000E ? 78 : 0; }; },
        [&] { fake.stsreg = -1; },  // never reports ready after the reset
        [&] { fake.on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return 1; }; },
        [&] { fake.on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return -5; }; },
        [&] { tvxtest::write_file(dir.file("fpga.hex"), ":x\n:020000000a0bFF\n"); },  // a digit error in the data pass
    };
    const std::int32_t codes[] = {7, 77, -5, 78, 1, 18, -5, 20};
    for (std::size_t i = 0; i < std::size(codes); ++i) {
        fpga_not_running(fake);
        fake.on_command = nullptr;
        fake.on_read = nullptr;
        fail_with[i]();
        EXPECT_EQ(tvx::device::load_fpga(Device), codes[i]) << i;
        EXPECT_EQ(tvx::core::test_blocks_held(), held) << i;
    }
    fpga_not_running(fake);
    tvxtest::write_file(dir.file("fpga.hex"), kHex);
    fake.calls.clear();
    tvxtest::FailAllocation fail(1);
    EXPECT_EQ(tvx::device::load_fpga(Device), 5);
    EXPECT_TRUE(fake.of(512).empty());
    EXPECT_EQ(tvx::core::test_blocks_held(), held);
}

// Read in text mode: CR LF and LF line ends must give the same program bytes and speed samples.
TEST_F(BootTest, FpgaConfigurationAndSpeedProfileWithCrLfOrLf) {
    std::vector<std::uint8_t> programs[2];
    std::vector<float> speeds[2];
    for (int v = 0; v < 2; ++v) {
        for (const char* name : {"fpga_pano.hex", "speed_pano.txt"}) {
            std::string text, lf = tvxtest::read_file(std::string(TVX_SOURCE_DIR "/data/") + name);
            for (char c : lf)
                if (c != '\r') text += c == '\n' && v ? "\r\n" : std::string(1, c);
            tvxtest::write_file(dir.file(name), text);
        }
        std::size_t size = 0, n = 0;
        ASSERT_EQ(tvx::device::read_fpga_hex(dir.file("fpga_pano.hex").c_str(), nullptr, 0, &size), 0);
        programs[v].resize(size);
        ASSERT_EQ(tvx::device::read_fpga_hex(dir.file("fpga_pano.hex").c_str(), programs[v].data(), size, &size), 0);
        speeds[v].resize(3000);
        ASSERT_EQ(tvx::device::read_speed_profile(dir.file("speed_pano.txt").c_str(), speeds[v].data(), 3000, &n), 0);
        speeds[v].resize(n);
    }
    EXPECT_EQ(programs[0].size(), 2048u);
    EXPECT_EQ(programs[0], programs[1]);
    EXPECT_GT(speeds[0].size(), 100u);
    EXPECT_EQ(speeds[0], speeds[1]);
}

}  // namespace
