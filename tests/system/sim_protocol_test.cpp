// The library's register primitives and boot sequence against the simulated
// module, loaded through the real dynamic-loading path.
#include <gtest/gtest.h>

#include "api/context.h"
#include "device/registers.h"
#include "link/link.h"
#include "support/sim_control.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

namespace reg = tvx::device::reg;

class SimProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        tvxtest::reset_library();
        const std::string cfg = dir.file("sim.ini");
        tvxtest::write_file(cfg, "[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" TVX_SOURCE_DIR "/data/boot.bin\n");
        ASSERT_EQ(Tavirex_Init(cfg.c_str(), 1), 0);
        ASSERT_EQ(Tavirex_SetCommInit(), 0);
    }
    void TearDown() override { tvxtest::reset_library(); }

    // FPGA configuration, SYSRST and STSREG as the FPGA loading sends them.
    void load_fpga() {
        unsigned char bytes[16] = {0x54, 0x56, 0x58};
        ASSERT_EQ(tvx::link::Link.EtherComm(TAVIREX_LINK_FPGA_PROGRAM, 0, sizeof bytes, bytes), 0);
        ASSERT_EQ(tvx::device::ready_check(1, 5), 1) << "not ready before the reset";
        ASSERT_EQ(tvx::device::write_register("SYSRST", reg::SYSRST, 0), 0);
        ASSERT_EQ(tvx::device::write_register("STSREG", reg::STSREG, 1), 0);
    }
    tvxtest::TempDir dir;
    tvxtest::Sim sim;  // reset after the set-up's boot would lose it: constructed first
};

TEST_F(SimProtocolTest, BootReadyConverterAndCcdData) {
    // Sim resets on construction, which ran before SetUp: the boot above is in place.
    EXPECT_EQ(sim.stats().boot_loads, 1u);
    EXPECT_EQ(sim.stats().boot_size, 1024u);
    load_fpga();
    EXPECT_EQ(tvx::device::ready_check(1, 5), 0);

    ASSERT_EQ(tvx::device::write_register("DASDAT", reg::DASDAT, 0x1096), 0);
    EXPECT_EQ(tvx::device::check_ad_status(), 0);
    EXPECT_EQ(sim.stats().status_reads, 5u + 1u + 4u) << "five reads before the reset, one after, then three busy reads and the idle one";

    std::vector<uint16_t> table(4096, 30);
    EXPECT_EQ(tvx::device::write_ccd_control_data(false, table.data(), 8192, 5), 0);
    sim.set_fault(TVXSIM_FAULT_CCD_CORRUPT, 1);
    EXPECT_EQ(tvx::device::write_ccd_control_data(false, table.data(), 8192, 1), 0) << "the second read-back matches";
    EXPECT_EQ(sim.stats().ccd_reads, 3u);
    sim.set_fault(TVXSIM_FAULT_CCD_CORRUPT, 0);
    EXPECT_EQ(tvx::device::write_ccd_control_data(false, table.data(), 8192, 3), TAVIREX_E_VERIFY);
    sim.set_fault(TVXSIM_FAULT_CCD_CORRUPT, -1);

    sim.set_fault(TVXSIM_FAULT_CONVERTER_BUSY, 1);
    EXPECT_EQ(tvx::device::check_ad_status(), TAVIREX_E_CONVERTER_BUSY);
    sim.set_fault(TVXSIM_FAULT_CONVERTER_BUSY, 0);
    sim.set_fault(TVXSIM_FAULT_NEVER_READY, 1);
    EXPECT_EQ(tvx::device::ready_check(1, 5), TAVIREX_E_NOT_READY);
    sim.set_fault(TVXSIM_FAULT_NEVER_READY, 0);

    uint16_t status = 0;
    sim.set_fault(TVXSIM_FAULT_FAIL_CALL, 1, -5);
    EXPECT_EQ(tvx::device::read_status(&status), -5);
    sim.set_fault(TVXSIM_FAULT_SHORT_READ, 1, -1);
    EXPECT_EQ(tvx::device::read_status(&status), TAVIREX_E_SHORT_READ);
    sim.set_fault(TVXSIM_FAULT_FAIL_CALL, 1, 77);
    EXPECT_EQ(tvx::device::write_register("POWSET", reg::POWSET, 0), 77);
}

TEST_F(SimProtocolTest, ModuleKeepsItsStateWhenTheLinkLibraryIsReloaded) {
    load_fpga();
    ASSERT_EQ(Tavirex_SetDeviceFree(), 0);
    EXPECT_FALSE(tvx::link::loaded());
    // Reloading finds the module running: one status read, no second boot.
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_EQ(sim.stats().boot_loads, 1u);
    EXPECT_EQ(tvx::device::ready_check(1, 1), 0) << "FPGA still configured";
    // A power cycle of the module makes the library boot it again.
    sim.reset();
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_EQ(sim.stats().boot_loads, 1u);
    EXPECT_EQ(tvx::device::ready_check(1, 1), TAVIREX_E_NOT_READY);
}

}  // namespace
