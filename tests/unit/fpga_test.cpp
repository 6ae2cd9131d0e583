#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "api/context.h"
#include "core/alloc.h"
#include "device/boot.h"
#include "device/fpga.h"
#include "support/support.h"
#include "tavirex.h"

using tvx::Device;
using tvxtest::FakeLink;

namespace {

// First line skipped; 4 bytes; 2 bytes at FFF0 whose following segment line is
// skipped; 3 bytes; end record; a line after the end that is never read.
const char* const kHex =
    ":020000040000FA\n"
    ":0400000001020304F2\n"
    ":02FFF000AABB00\n"
    ":02000004000AF0\n"
    ":03000000C0FFEE00\n"
    ":00000001FF\n"
    ":0100000055AA\n";
const std::vector<std::uint8_t> kHexBytes = {0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB, 0xC0, 0xFF, 0xEE};

class FpgaTest : public tvxtest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_EQ(Tavirex_Init(dir.file("none.ini").c_str(), 1), 0);  // defaults: InitValue 1, LanRetry 5
        hex = dir.file("fpga.hex");
        tvxtest::write_file(hex, kHex);
        use_file(hex);
        Device.FpgaLoad = 1;
        tvx::ModuleBooted[0] = 1;
    }

    void use_file(const std::string& path) {
        std::snprintf(Device.FpgaPath, sizeof Device.FpgaPath, "%s", path.c_str());
    }

    // A module that reports not ready until STSREG is written, then the written value.
    void not_ready_until_stsreg(FakeLink& fake) {
        fake.status(0x0000);
        fake.on_command = [&fake](const tvxtest::LinkCall& c) {
            if (c.command == 513 && c.address == 0x27F0000E) fake.status(c.value());
            return 0;
        };
    }
    std::string hex;
};

TEST_F(FpgaTest, IntelHexReadingRules) {
    struct Row { const char* text; std::int32_t rc; std::vector<std::uint8_t> bytes; };
    const Row rows[] = {
        {kHex, 0, kHexBytes},
        {":0400000001020304F2\n:00000001FF\n:0400000001020304F2\n", 0, {}},  // end record on the second line
        {":0100000011EE\n:0100000022DD\n", 0, {0x22}},  // no end record; the first line is skipped even with data
        // Anything but upper-case hex digits gives 20.
        {":x\n:0a00000001020304050607080900FF\n", 20, {}},  // byte count
        {":x\n:010g000001FF\n", 20, {}},                    // load address
        {":x\n:020000000a0bFF\n", 20, {}},                  // data
        {":x\n:04000000010203\n", 20, {}},                  // data shorter than its count
        {":x\n\n", 20, {}},                                 // empty line
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

TEST_F(FpgaTest, LoadSequenceAndRegisterLog) {
    FakeLink fake;
    not_ready_until_stsreg(fake);
    Device.DebugOutput = 1;
    {
        tvxtest::InDirectory in(dir.path());
        ASSERT_EQ(tvx::device::load_fpga(Device), 0);
    }
    // Five reads find the FPGA not running, then the load, reset, InitValue and one ready read.
    EXPECT_EQ(fake.traffic(), "S, S, S, S, S, C 512 #9, W 27F00004 0000, W 27F0000E 0001, S");
    EXPECT_EQ(fake.calls[5].address, 0u);
    EXPECT_EQ(fake.calls[5].data, kHexBytes);
    EXPECT_EQ(tvxtest::read_text_file(dir.file("logCMD_WRITE.txt")),
              " SYSRST,0x,27f00004,0x,0\n STSREG,0x,27f0000e,0x,1\n");
}

TEST_F(FpgaTest, RunningFpgaUnbootedModuleAndFlags) {
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

TEST_F(FpgaTest, FailuresReachTheCallerUnchanged) {
    FakeLink fake;
    not_ready_until_stsreg(fake);
    use_file(dir.file("absent.hex"));
    EXPECT_EQ(tvx::device::load_fpga(Device), 7);
    use_file(hex);
    fake.on_command = [](const tvxtest::LinkCall& c) { return c.command == 512 ? 77 : 0; };
    EXPECT_EQ(tvx::device::load_fpga(Device), 77);
    fake.on_command = [](const tvxtest::LinkCall& c) { return c.address == 0x27F00004 ? -5 : 0; };
    EXPECT_EQ(tvx::device::load_fpga(Device), -5);
    fake.on_command = [](const tvxtest::LinkCall& c) { return c.address == 0x27F0000E ? 78 : 0; };
    EXPECT_EQ(tvx::device::load_fpga(Device), 78);
    fake.on_command = [](const tvxtest::LinkCall&) { return 0; };
    EXPECT_EQ(tvx::device::load_fpga(Device), 1);  // never reports ready after the reset
    fake.on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return 1; };
    EXPECT_EQ(tvx::device::load_fpga(Device), 18);
    fake.on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return -5; };
    EXPECT_EQ(tvx::device::load_fpga(Device), -5);
}

TEST_F(FpgaTest, AllocationAndDigitFailuresLeakNothing) {
    FakeLink fake;
    not_ready_until_stsreg(fake);
    const auto held = tvx::core::test_blocks_held();
    {
        tvxtest::FailAllocation fail(1);
        EXPECT_EQ(tvx::device::load_fpga(Device), 5);
    }
    EXPECT_TRUE(fake.of(512).empty());
    EXPECT_EQ(tvx::core::test_blocks_held(), held);
    // A digit error in the data pass releases the block too.
    tvxtest::write_file(hex, ":x\n:020000000a0bFF\n");
    EXPECT_EQ(tvx::device::load_fpga(Device), 20);
    EXPECT_EQ(tvx::core::test_blocks_held(), held);
}

TEST_F(FpgaTest, ProgramDumps) {
    FakeLink fake;
    not_ready_until_stsreg(fake);
    std::string sixteen_and_four = ":x\n:10000000";
    for (int i = 0; i < 16; ++i) sixteen_and_four += std::string("0") + "0123456789ABCDEF"[i];
    tvxtest::write_file(hex, sixteen_and_four + "00\n:0400100010111213FF\n:00000001FF\n");
    // The boot program is dumped unchanged before it is sent.
    const std::string program("\x00\x01\xFF\x0A\x0D boot", 10);
    tvxtest::write_file(dir.file("boot.bin"), program);
    std::snprintf(Device.BootPath, sizeof Device.BootPath, "%s", dir.file("boot.bin").c_str());
    Device.BootLoad = 1;
    Device.DebugOutput = 1;
    {
        tvxtest::InDirectory in(dir.path());
        ASSERT_EQ(tvx::device::load_fpga(Device), 0);
        tvx::ModuleBooted[0] = 0;
        ASSERT_EQ(tvx::device::open_and_boot(Device, 0), 0);
    }
    EXPECT_EQ(tvxtest::read_text_file(dir.file("fpgaprog.csv")),
              "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,\n16,17,18,19,");
    EXPECT_EQ(tvxtest::read_file(dir.file("readdata.bin")), program);
}

}  // namespace
