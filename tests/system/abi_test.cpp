// The library as a host loads it: every export by name, the link library
// loaded, freed and refused, the path forms a Windows host uses, and the
// register primitives and boot against the simulated module.

#include <filesystem>
#include <fstream>

#include "state/context.h"
#include "device/registers.h"
#include "platform/system.h"
#include "support/support.h"

namespace {

std::vector<std::string> export_names() {
    std::ifstream in(std::string(TVX_SOURCE_DIR) + "/tools/exports.txt");
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.push_back(line == "_Tavirex_SaveBitmap3@48" ? "Tavirex_SaveBitmap3" : line);
    return names;
}

TEST(AbiTest, SharedLibraryExportsAllFortyThreeNames) {
    const auto names = export_names();
    ASSERT_EQ(names.size(), 43u);
    tvx::platform::LibraryHandle lib = tvx::platform::load_library(TVX_SHARED_LIBRARY_PATH);
    ASSERT_NE(lib, nullptr);
    for (const auto& name : names) EXPECT_NE(tvx::platform::find_symbol(lib, name.c_str()), nullptr) << name;
    // The tomographic name is the very same function; internals stay hidden.
    EXPECT_EQ(tvx::platform::find_symbol(lib, "Tavirex_SetDeviceFree"), tvx::platform::find_symbol(lib, "Tavirex_SetDeviceFree_Tomo"));
    EXPECT_EQ(tvx::platform::find_symbol(lib, "_ZN3tvx4core8allocateEm"), nullptr);
    auto init = reinterpret_cast<int32_t (*)(const char*, uint32_t)>(tvx::platform::find_symbol(lib, "Tavirex_Init"));
    auto center = reinterpret_cast<int32_t (*)()>(tvx::platform::find_symbol(lib, "Tavirex_GetWindowCenter"));
    tvxtest::TempDir dir;
    EXPECT_EQ(Codes({init(dir.file("none.ini").c_str(), 1), center()}), Codes({0, 2048}));
    tvx::platform::unload_library(lib);
}

class LinkTest : public tvxtest::LibraryTest {
protected:
    // Init from a configuration naming `library` and not loading a boot program.
    void init_with(const std::string& library) {
        const std::string path = dir.file("link.ini");
        tvxtest::write_file(path, "[DLL]\nFILENAME=" + library + "\n[LOADPROG]\nFLG_BOOT=0\n");
        ASSERT_EQ(Tavirex_Init(path.c_str(), 1), 0);
    }
};

TEST_F(LinkTest, MissingFileOrEntryPointGives19AndLeavesNothingLoaded) {
    for (const std::string& library : {dir.file("nowhere.so"), std::string(TVX_INCOMPLETE_LINK_PATH), std::string()}) {
        init_with(library);
        EXPECT_EQ(Tavirex_SetCommInit2(0), TAVIREX_E_LINK_LIBRARY) << library;
        EXPECT_FALSE(tvx::link::loaded());
    }
    // A failed reload unloads the library loaded before.
    init_with(TVX_SIM_PATH);
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    init_with(dir.file("nowhere.so"));
    EXPECT_EQ(Tavirex_SetCommInit(), TAVIREX_E_LINK_LIBRARY);
    EXPECT_FALSE(tvx::link::loaded());
}

TEST_F(LinkTest, SerialPassThrough) {
    const std::uint8_t frame[] = {0x02, 0x41, 0x03};
    const std::uint8_t not_a_frame[] = {0x41, 0x42};
    std::uint8_t reply[1024] = {0xEE};
    EXPECT_EQ(Tavirex_Ether232Send(frame, 3), TAVIREX_E_LINK_LIBRARY);
    EXPECT_EQ(Tavirex_Ether232Recv(reply), TAVIREX_E_LINK_LIBRARY);
    EXPECT_EQ(reply[0], 0xEE);
    // Serial mode 0: the library itself answers a complete frame once with ACK.
    ASSERT_EQ(Tavirex_Init(dir.file("none.ini").c_str(), 0), 0);
    EXPECT_EQ(Tavirex_Ether232Recv(nullptr), TAVIREX_E_RANGE);
    EXPECT_EQ(Codes({Tavirex_Ether232Send(not_a_frame, 2), Tavirex_Ether232Recv(reply), reply[0]}),
              Codes(3, 0));
    // A frame is answered once; only the low 16 bits of the length count: 0x10003 bytes is a 3-byte frame.
    EXPECT_EQ(Codes({Tavirex_Ether232Send(frame, 3), Tavirex_Ether232Recv(reply), reply[0] + (reply[1] << 8),
                                         Tavirex_Ether232Recv(reply), Tavirex_Ether232Send(frame, 0x10003), Tavirex_Ether232Recv(reply)}),
              Codes({0, 1, 0x06, 0, 0, 1}));
    // Serial mode 1: the module's line; a send returns once no check reports it pending.
    init_with(TVX_SIM_PATH);
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_EQ(Codes({Tavirex_Ether232Send(frame, 3), Tavirex_Ether232Recv(reply), reply[0]}), Codes({0, 1, 0x06}));
}

TEST(InfoDataTest, ParsesANameAndUpToSixNumbers) {
    char name[256];
    std::int32_t v[6] = {9, 9, 9, 9, 9, 9};
    const auto info = [&](const char* source, char* into) {
        return Tavirex_GetInfoData(source, into, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    };
    // A name and numbers; a name cut to 255 characters; an empty source; no buffer.
    EXPECT_EQ(info("UNIT 1 2 3", name), 0);
    EXPECT_EQ(std::make_pair(std::string(name), Codes(v, v + 6)), std::make_pair(std::string("UNIT"), Codes{1, 2, 3, 0, 0, 0}));
    EXPECT_EQ(info(std::string(400, 'n').c_str(), name), 0);
    EXPECT_EQ(std::string(name), std::string(255, 'n'));
    EXPECT_EQ(info("", name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(info("x", nullptr), TAVIREX_E_RANGE);
}

#if defined(_WIN32)
// "Z:\work\...\tvxsim.dll" for "/work/.../tvxsim.dll": Wine maps Z: to the root.
std::string drive_letter_form(const std::string& unix_path) {
    std::string p = "Z:" + unix_path;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}
#endif

TEST_F(LinkTest, LinkLibraryByDriveLetterAndBackslashes) {
#if !defined(_WIN32)
    GTEST_SKIP() << "drive letters and backslash separators exist on Windows only";
#else
    init_with(drive_letter_form(TVX_SIM_PATH));
    EXPECT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_TRUE(tvx::link::loaded());
#endif
}

TEST_F(LinkTest, LinkLibraryByRelativePath) {
    const std::filesystem::path sim(TVX_SIM_PATH);
    tvxtest::InDirectory in(sim.parent_path().string());
    const std::string relative = (std::filesystem::path(".") / sim.filename()).string();
    init_with(relative);
    EXPECT_STREQ(tvx::Device.LinkLibraryPath, relative.c_str());
    EXPECT_EQ(Tavirex_SetCommInit(), 0);
}

namespace dev = tvx::device;

// The register primitives and the boot against the simulated module, which keeps its state while the
// link library is freed and loaded again. (How the library meets each link fault: the acquisition tests.)
TEST_F(LinkTest, RegisterPrimitivesAndBootAgainstTheSimulatedModule) {
    tvxtest::write_file(dir.file("sim.ini"), "[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" TVX_SOURCE_DIR "/data/boot.bin\n");
    ASSERT_EQ(Codes({Tavirex_Init(dir.file("sim.ini").c_str(), 1), Tavirex_SetCommInit()}), Codes(2, 0));
    // FPGA configuration, then SYSRST and STSREG as the FPGA loading sends them.
    unsigned char bytes[16] = {0x54, 0x56, 0x58};
    ASSERT_EQ(tvx::link::Link.EtherComm(TAVIREX_LINK_FPGA_PROGRAM, 0, sizeof bytes, bytes), 0);
    EXPECT_EQ(dev::ready_check(1, 5), TAVIREX_E_NOT_READY) << "not ready before the reset";
    // Reset, ready value, ready; a converter word, busy for three reads.
    EXPECT_EQ(Codes({dev::write_register("SYSRST", dev::reg::SYSRST, 0), dev::write_register("STSREG", dev::reg::STSREG, 1),
                     dev::ready_check(1, 5), dev::write_register("DASDAT", dev::reg::DASDAT, 0x1096), dev::check_ad_status()}),
              Codes(5, 0));
    EXPECT_EQ(tvxtest::sim_stats().status_reads, 5u + 1u + 4u) << "five before the reset, one after, three busy, one idle";
    EXPECT_EQ(tvxtest::sim_stats().boot_size, 1024u);
    // The module's settings files take comment lines.
    tvxtest::write_file(dir.file("faults.txt"), "# no faults\nmode = flat\n");
    EXPECT_EQ(TvxSim_LoadSettings(dir.file("faults.txt").c_str()), 0);
    std::vector<uint16_t> table(4096, 30);
    EXPECT_EQ(dev::write_ccd_control_data(false, table.data(), 8192, 5), 0);
    // A CCD read-back the module corrupts once is read again.
    ASSERT_EQ(TvxSim_SetFault(TVXSIM_FAULT_CCD_CORRUPT, 1, 0), 0);
    EXPECT_EQ(dev::write_ccd_control_data(false, table.data(), 8192, 2), 0);
    EXPECT_EQ(tvxtest::sim_stats().ccd_reads, 3u) << "one clean, the corrupted one and its match";
    uint16_t status = 0;
    ASSERT_EQ(TvxSim_SetFault(TVXSIM_FAULT_SHORT_READ, 1, -1), 0);
    EXPECT_EQ(tvx::link::Link.EtherComm(TAVIREX_LINK_READ, dev::reg::STATUS, 2, &status), 1) << "one byte less";
    // Freed under either name (without a link library: harmless) and loaded again, the library
    // finds the module running: no second boot.
    EXPECT_EQ(tvx::link::Link.EtherReady, 1u);
    ASSERT_EQ(Tavirex_SetDeviceFree_Tomo() + Tavirex_SetDeviceFree(), 0);
    EXPECT_FALSE(tvx::link::loaded() || tvx::link::Link.EtherReady);
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_EQ(std::make_pair(tvxtest::sim_stats().boot_loads, dev::ready_check(1, 1)), std::make_pair(1u, 0)) << "FPGA still configured";
    // A power cycle of the module makes the library boot it again.
    TvxSim_Reset();
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    EXPECT_EQ(std::make_pair(tvxtest::sim_stats().boot_loads, dev::ready_check(1, 1)),
              std::make_pair(1u, std::int32_t{TAVIREX_E_NOT_READY}));
}

}  // namespace
