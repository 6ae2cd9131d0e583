#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "api/context.h"
#include "core/alloc.h"
#include "device/boot.h"
#include "link/link.h"
#include "support/support.h"
#include "tavirex.h"

using tvx::Device;
using tvxtest::FakeLink;

namespace {

class BootTest : public tvxtest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        program.assign(300, 0);
        for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<char>(i);
        tvxtest::write_file(dir.file("boot.bin"), program);
        const std::string cfg = dir.file("boot.ini");
        tvxtest::write_file(cfg, "[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" + dir.file("boot.bin") + "\n");
        ASSERT_EQ(Tavirex_Init(cfg.c_str(), 1), 0);
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
    EXPECT_EQ(tvx::ModuleBooted[0], 0u);
    EXPECT_EQ(tvx::ModuleBooted[1], 1u);
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
}

TEST_F(BootTest, BootFlagZeroOpensTheLinkAndSendsNothing) {
    FakeLink fake;
    Device.BootLoad = 0;
    EXPECT_EQ(tvx::device::open_and_boot(Device, 0), 0);
    EXPECT_EQ(fake.init_calls, 1);
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(BootTest, LinkResultsReachTheCallerUnchanged) {
    FakeLink fake;
    fake.init_result = -5;
    EXPECT_EQ(tvx::device::open_and_boot(Device, 0), -5);
    EXPECT_EQ(tvx::link::Link.EtherReady, 0u);
    fake.init_result = 0;
    fake.on_command = [](const tvxtest::LinkCall& c) { return c.command == 1 ? 77 : 0; };
    EXPECT_EQ(tvx::device::open_and_boot(Device, 0), 77);
    EXPECT_EQ(tvx::ModuleBooted[0], 0u);  // a failed load leaves no mark
    fake.on_command = [](const tvxtest::LinkCall& c) { return c.command == 259 ? -3 : 0; };
    EXPECT_EQ(tvx::device::open_and_boot(Device, 0), -3);
}

TEST_F(BootTest, RefusalsAndFailuresLeaveNoMarkAndNoBlock) {
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

}  // namespace
