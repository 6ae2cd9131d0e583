#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "api/context.h"
#include "core/alloc.h"
#include "device/boot.h"
#include "device/fpga.h"
#include "support/fake_link.h"
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

class FpgaTest : public ::testing::Test {
protected:
    void SetUp() override {
        tvxtest::reset_library();
        ASSERT_EQ(Tavirex_Init(dir.file("none.ini").c_str(), 1), 0);  // defaults: InitValue 1, LanRetry 5
        hex = dir.file("fpga.hex");
        tvxtest::write_file(hex, kHex);
        std::snprintf(Device.FpgaPath, sizeof Device.FpgaPath, "%s", hex.c_str());
        Device.FpgaLoad = 1;
        tvx::ModuleBooted[0] = 1;
    }
    void TearDown() override { tvxtest::reset_library(); }

    std::int32_t read(const std::string& text, std::vector<std::uint8_t>* out) {
        tvxtest::write_file(dir.file("t.hex"), text);
        std::size_t size = 0;
        const std::int32_t rc = tvx::device::read_fpga_hex(dir.file("t.hex").c_str(), nullptr, 0, &size);
        if (rc != 0) return rc;
        out->assign(size, 0);
        std::size_t again = 0;
        return tvx::device::read_fpga_hex(dir.file("t.hex").c_str(), out->data(), size, &again);
    }

    // A module that reports not ready until STSREG is written, then the written value.
    void module_not_ready_until_stsreg(FakeLink& fake) {
        fake.status(0x0000);
        fake.on_command = [&fake](const tvxtest::LinkCall& c) {
            if (c.command == 513 && c.address == 0x27F0000E) fake.status(c.value());
            return 0;
        };
    }

    tvxtest::TempDir dir;
    std::string hex;
};

TEST_F(FpgaTest, IntelHexReadingRules) {
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(read(kHex, &bytes), 0);
    EXPECT_EQ(bytes, kHexBytes);
    // An end record on the second line gives no data.
    ASSERT_EQ(read(":0400000001020304F2\n:00000001FF\n:0400000001020304F2\n", &bytes), 0);
    EXPECT_TRUE(bytes.empty());
    // Without an end record the file ends reading; the first line is skipped even if it holds data.
    ASSERT_EQ(read(":0100000011EE\n:0100000022DD\n", &bytes), 0);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x22}));
}

TEST_F(FpgaTest, CharactersThatAreNotUpperCaseHexDigitsGive20) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(read(":x\n:0a00000001020304050607080900FF\n", &bytes), 20);  // byte count
    EXPECT_EQ(read(":x\n:010g000001FF\n", &bytes), 20);                    // load address
    EXPECT_EQ(read(":x\n:020000000a0bFF\n", &bytes), 20);                  // data
    EXPECT_EQ(read(":x\n:04000000010203\n", &bytes), 20);                  // data shorter than its count
    EXPECT_EQ(read(":x\n\n", &bytes), 20);                                 // empty line
    std::size_t size = 0;
    EXPECT_EQ(tvx::device::read_fpga_hex(dir.file("absent.hex").c_str(), nullptr, 0, &size), 7);
}

TEST_F(FpgaTest, LoadSequence) {
    FakeLink fake;
    module_not_ready_until_stsreg(fake);
    ASSERT_EQ(tvx::device::load_fpga(Device), 0);
    // Five reads find the FPGA not running, then the load, reset, InitValue and one ready read.
    ASSERT_EQ(fake.calls.size(), 9u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(fake.calls[i].command, 514u);
        EXPECT_EQ(fake.calls[i].address, 0x27F00002u);
        EXPECT_EQ(fake.calls[i].count, 2u);
    }
    EXPECT_EQ(fake.calls[5].command, 512u);
    EXPECT_EQ(fake.calls[5].address, 0u);
    EXPECT_EQ(fake.calls[5].count, 9u);
    EXPECT_EQ(fake.calls[5].data, kHexBytes);
    EXPECT_EQ(fake.writes(), (std::vector<std::pair<std::uint32_t, std::uint16_t>>{{0x27F00004, 0}, {0x27F0000E, 1}}));
    EXPECT_EQ(fake.calls[8].command, 514u);
}

TEST_F(FpgaTest, RunningFpgaAndUnbootedModuleAndFlags) {
    {
        FakeLink fake;  // reports InitValue 1: already running
        EXPECT_EQ(tvx::device::load_fpga(Device), 0);
        EXPECT_EQ(fake.calls.size(), 1u);

        fake.calls.clear();
        Device.FpgaLoad = 0;
        EXPECT_EQ(tvx::device::load_fpga(Device), 0);
        tvx::ModuleBooted[0] = 0;
        EXPECT_EQ(tvx::device::load_fpga(Device), 0);
        Device.FpgaLoad = 1;
        EXPECT_EQ(tvx::device::load_fpga(Device), 9);
        // Range checks come before the boot test.
        Device.FpgaLoad = 2;
        EXPECT_EQ(tvx::device::load_fpga(Device), 3);
        Device.FpgaLoad = 1;
        Device.InitValue = 0;
        EXPECT_EQ(tvx::device::load_fpga(Device), 3);
        Device.InitValue = 256;
        EXPECT_EQ(tvx::device::load_fpga(Device), 3);
        EXPECT_TRUE(fake.calls.empty());
    }
    // Booted module, but no link library loaded: 19 without a call.
    Device.InitValue = 1;
    tvx::ModuleBooted[0] = 1;
    EXPECT_EQ(tvx::device::load_fpga(Device), 19);
}

TEST_F(FpgaTest, FailuresReachTheCallerUnchanged) {
    FakeLink fake;
    module_not_ready_until_stsreg(fake);
    std::snprintf(Device.FpgaPath, sizeof Device.FpgaPath, "%s", dir.file("absent.hex").c_str());
    EXPECT_EQ(tvx::device::load_fpga(Device), 7);
    std::snprintf(Device.FpgaPath, sizeof Device.FpgaPath, "%s", hex.c_str());

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

TEST_F(FpgaTest, AllocationFailureGives5AndLeaksNothing) {
    FakeLink fake;
    module_not_ready_until_stsreg(fake);
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

TEST_F(FpgaTest, RegisterLogAndProgramDumps) {
    FakeLink fake;
    module_not_ready_until_stsreg(fake);
    std::string sixteen_and_four = ":x\n:10000000";
    for (int i = 0; i < 16; ++i) sixteen_and_four += std::string("0") + "0123456789ABCDEF"[i];
    sixteen_and_four += "00\n:0400100010111213FF\n:00000001FF\n";
    tvxtest::write_file(hex, sixteen_and_four);
    Device.DebugOutput = 1;
    {
        tvxtest::InDirectory in(dir.path());
        ASSERT_EQ(tvx::device::load_fpga(Device), 0);
    }
    EXPECT_EQ(tvxtest::read_text_file(dir.file("fpgaprog.csv")),
              "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,\n16,17,18,19,");
    EXPECT_EQ(tvxtest::read_text_file(dir.file("logCMD_WRITE.txt")), " SYSRST,0x,27f00004,0x,0\n STSREG,0x,27f0000e,0x,1\n");

    // The boot program is dumped unchanged before it is sent.
    const std::string program("\x00\x01\xFF\x0A\x0D boot", 10);
    tvxtest::write_file(dir.file("boot.bin"), program);
    std::snprintf(Device.BootPath, sizeof Device.BootPath, "%s", dir.file("boot.bin").c_str());
    Device.BootLoad = 1;
    tvx::ModuleBooted[0] = 0;
    {
        tvxtest::InDirectory in(dir.path());
        ASSERT_EQ(tvx::device::open_and_boot(Device, 0), 0);
    }
    EXPECT_EQ(tvxtest::read_file(dir.file("readdata.bin")), program);
}

}  // namespace
