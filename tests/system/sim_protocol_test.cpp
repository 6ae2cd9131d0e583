// The library's register primitives and boot sequence against the simulated
// module, loaded through the real dynamic-loading path.
#include <gtest/gtest.h>

#include <functional>

#include "api/context.h"
#include "device/registers.h"
#include "link/link.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

namespace dev = tvx::device;

class SimProtocolTest : public tvxtest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        const std::string cfg = dir.file("sim.ini");
        tvxtest::write_file(cfg, "[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" TVX_SOURCE_DIR "/data/boot.bin\n");
        ASSERT_EQ(Tavirex_Init(cfg.c_str(), 1), 0);
        ASSERT_EQ(Tavirex_SetCommInit(), 0);
        // FPGA configuration, then SYSRST and STSREG as the FPGA loading sends them.
        unsigned char bytes[16] = {0x54, 0x56, 0x58};
        ASSERT_EQ(tvx::link::Link.EtherComm(TAVIREX_LINK_FPGA_PROGRAM, 0, sizeof bytes, bytes), 0);
        ASSERT_EQ(dev::ready_check(1, 5), TAVIREX_E_NOT_READY) << "not ready before the reset";
        ASSERT_EQ(dev::write_register("SYSRST", dev::reg::SYSRST, 0), 0);
        ASSERT_EQ(dev::write_register("STSREG", dev::reg::STSREG, 1), 0);
    }
    tvxtest::Sim sim;  // constructed (and reset) before SetUp boots the module
};

TEST_F(SimProtocolTest, BootReadyConverterCcdDataAndFaults) {
    EXPECT_EQ(sim.stats().boot_loads, 1u);
    EXPECT_EQ(sim.stats().boot_size, 1024u);
    EXPECT_EQ(dev::ready_check(1, 5), 0);
    ASSERT_EQ(dev::write_register("DASDAT", dev::reg::DASDAT, 0x1096), 0);
    EXPECT_EQ(dev::check_ad_status(), 0);
    EXPECT_EQ(sim.stats().status_reads, 5u + 1u + 4u) << "five reads before the reset, one after, three busy and the idle one";
    std::vector<uint16_t> table(4096, 30);
    EXPECT_EQ(dev::write_ccd_control_data(false, table.data(), 8192, 5), 0);

    uint16_t status = 0;
    const struct { int kind, n, code; std::function<int32_t()> call; int32_t expected; } rows[] = {
        {TVXSIM_FAULT_CCD_CORRUPT, 1, 0, [&] { return dev::write_ccd_control_data(false, table.data(), 8192, 1); }, 0},
        {TVXSIM_FAULT_CCD_CORRUPT, 0, 0, [&] { return dev::write_ccd_control_data(false, table.data(), 8192, 3); }, TAVIREX_E_VERIFY},
        {TVXSIM_FAULT_CONVERTER_BUSY, 1, 0, [] { return dev::check_ad_status(); }, TAVIREX_E_CONVERTER_BUSY},
        {TVXSIM_FAULT_NEVER_READY, 1, 0, [] { return dev::ready_check(1, 5); }, TAVIREX_E_NOT_READY},
        {TVXSIM_FAULT_FAIL_CALL, 1, -5, [&] { return dev::read_status(&status); }, -5},
        {TVXSIM_FAULT_SHORT_READ, 1, -1, [&] { return dev::read_status(&status); }, TAVIREX_E_SHORT_READ},
        {TVXSIM_FAULT_FAIL_CALL, 1, 77, [] { return dev::write_register("POWSET", dev::reg::POWSET, 0); }, 77},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(sim.set_fault(r.kind, r.n, r.code), 0);
        EXPECT_EQ(r.call(), r.expected) << "fault " << r.kind << ", " << r.n;
        sim.set_fault(r.kind, r.kind == TVXSIM_FAULT_CCD_CORRUPT ? -1 : 0);
    }
    EXPECT_EQ(sim.stats().ccd_reads, 9u) << "one clean, the corrupted one and its match, two per failed attempt";
}

TEST_F(SimProtocolTest, ModuleKeepsItsStateWhenTheLinkLibraryIsReloaded) {
    ASSERT_EQ(Tavirex_SetDeviceFree(), 0);
    EXPECT_FALSE(tvx::link::loaded());
    // Reloading finds the module running: one status read, no second boot.
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_EQ(sim.stats().boot_loads, 1u);
    EXPECT_EQ(dev::ready_check(1, 1), 0) << "FPGA still configured";
    // A power cycle of the module makes the library boot it again.
    sim.reset();
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_EQ(sim.stats().boot_loads, 1u);
    EXPECT_EQ(dev::ready_check(1, 1), TAVIREX_E_NOT_READY);
}

}  // namespace
