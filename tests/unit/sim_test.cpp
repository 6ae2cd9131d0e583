// The simulated sensor module, driven through its link entry points.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "support/sim_control.h"
#include "support/support.h"

namespace {

constexpr uint32_t kStatus = 0x27F00002, kSysrst = 0x27F00004, kStsreg = 0x27F0000E, kPowset = 0x27F00010;
constexpr uint32_t kDasdat = 0x27F00020, kCcd = 0x27F02000;

void set_env(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) ::setenv(name, value, 1);
    else ::unsetenv(name);
#endif
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }
    tvxtest::Sim sim;
    tvxtest::TempDir dir;
};

TEST_F(SimTest, ReadyValueOnlyAfterBootFpgaAndReset) {
    uint16_t v = 0;
    EXPECT_EQ(sim.read(kStatus, &v), -1) << "link not open";
    ASSERT_EQ(sim.init(), 0);
    EXPECT_EQ(sim.read(kStatus, &v), -3) << "no boot program: the module does not answer";
    uint8_t prog[3] = {9, 8, 7};
    EXPECT_EQ(sim.comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 3, prog), -3) << "program without command 259";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_FPGA_PROGRAM, 0, 3, prog), -3) << "FPGA before boot";
    ASSERT_EQ(sim.comm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr), 0);
    ASSERT_EQ(sim.comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 3, prog), 0);
    ASSERT_EQ(sim.write(kStsreg, 0x0137), 0);
    ASSERT_EQ(sim.write(kSysrst, 0), 0);
    EXPECT_EQ(sim.status(), 0) << "no FPGA configuration yet";
    uint8_t fpga[5] = {0xA, 0xB, 0xC, 0xD, 0xE};
    ASSERT_EQ(sim.comm(TAVIREX_LINK_FPGA_PROGRAM, 0, 5, fpga), 0);
    ASSERT_EQ(sim.write(kStsreg, 0x0137), 0);
    EXPECT_EQ(sim.status(), 0) << "configuration loaded but not reset";
    ASSERT_EQ(sim.write(kSysrst, 0), 0);
    EXPECT_EQ(sim.status(), 0x37) << "low byte of STSREG";
    // A later reset keeps the ready value.
    ASSERT_EQ(sim.write(kSysrst, 0), 0);
    EXPECT_EQ(sim.status(), 0x37);
    EXPECT_EQ(sim.write(kStatus, 1), -2) << "status register is read only";

    std::vector<uint8_t> got;
    EXPECT_EQ(sim.program(0, &got), 3);
    EXPECT_EQ(got, std::vector<uint8_t>({9, 8, 7}));
    EXPECT_EQ(sim.program(1, &got), 5);
    EXPECT_EQ(got, std::vector<uint8_t>(fpga, fpga + 5));
    EXPECT_EQ(sim.stats().boot_loads, 1u);
    EXPECT_EQ(sim.stats().fpga_loads, 1u);

    // A new boot drops the configuration: not ready until loaded and reset again.
    ASSERT_EQ(sim.comm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr), 0);
    ASSERT_EQ(sim.comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 3, prog), 0);
    EXPECT_EQ(sim.status() & 0xFF, 0);
}

TEST_F(SimTest, BadRequestsAreRefused) {
    sim.bring_up();
    uint8_t buf[16] = {};
    EXPECT_EQ(sim.comm(TAVIREX_LINK_WRITE, 0x27F00006, 1, buf), -2) << "register write of one byte";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_WRITE, 0x27F00007, 2, buf), -2) << "odd register address";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_WRITE, 0x27F00036, 2, buf), -2) << "past the register window";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_WRITE, 0x27F00006, 2, nullptr), -2);
    EXPECT_EQ(sim.comm(TAVIREX_LINK_READ, 0x27F00002, 4, buf), -2);
    EXPECT_EQ(sim.comm(TAVIREX_LINK_WRITE, kCcd + 8190, 4, buf), -2) << "past the CCD control RAM";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_READ, 0x26000000, 16777217, buf), -2) << "more than one window";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_READ, 0x27000000 + 16777208, 16, buf), -2) << "across the window end";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_READ, 0x25000000, 2, buf), -2);
    EXPECT_EQ(sim.comm(TAVIREX_LINK_FPGA_PROGRAM, 0, 0, buf), -2) << "empty configuration";
    EXPECT_EQ(sim.comm(77, 0, 0, nullptr), -2);
}

TEST_F(SimTest, ConverterBusyAfterEachWordAndStuckWhenFaulted) {
    sim.bring_up();
    ASSERT_EQ(sim.write(kDasdat, 0x00A1), 0);
    EXPECT_EQ(sim.status(), 0x0201);
    EXPECT_EQ(sim.status(), 0x0201);
    EXPECT_EQ(sim.status(), 0x0201);
    EXPECT_EQ(sim.status(), 0x0001);
    sim.busy_reads(0);
    ASSERT_EQ(sim.write(kDasdat, 0x3008), 0);
    EXPECT_EQ(sim.status(), 0x0001);
    EXPECT_EQ(sim.stats().converter_words, 2u);
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_CONVERTER_BUSY, 1), 0);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(sim.status() & 0x0200, 0x0200);
}

TEST_F(SimTest, PictureStatusFollowsArmingExposureAndReadout) {
    sim.bring_up();
    sim.exposure_reads(2);
    const auto table = tvxtest::clock_table(4096, 1, 30, 1400);
    sim.set_up_picture(false, 1, table);
    EXPECT_EQ(sim.status(), 0x0001);
    EXPECT_EQ(sim.status(), 0x0001);
    EXPECT_EQ(sim.status(), 0x0101) << "exposure after two reads";
    EXPECT_EQ(sim.status(), 0x0101) << "stays until the readout";
    ASSERT_EQ(sim.write(kPowset, 0), 0);
    EXPECT_EQ(sim.status(), 0x0001);
    EXPECT_EQ(sim.stats().exposures, 1u);

    // SYSRST ends it too; a PALSON 1 without the priming 2 does not arm.
    sim.arm(false);
    EXPECT_EQ(sim.wait_picture(), 3);
    ASSERT_EQ(sim.write(kSysrst, 0), 0);
    EXPECT_EQ(sim.status(), 0x0001);
    ASSERT_EQ(sim.write(kPowset, 1), 0);
    ASSERT_EQ(sim.write(0x27F00008, 0x11), 0);
    EXPECT_EQ(sim.wait_picture(20), -1);

    // Picture pattern 1 (0x12, 0x11) arms as well; a negative count never exposes.
    sim.exposure_reads(0);
    ASSERT_EQ(sim.write(0x27F00008, 0x12), 0);
    ASSERT_EQ(sim.write(0x27F00008, 0x11), 0);
    EXPECT_EQ(sim.wait_picture(), 1);
    sim.exposure_reads(-1);
    sim.arm(false);
    EXPECT_EQ(sim.wait_picture(50), -1);
}

TEST_F(SimTest, CcdControlRamReadsBackAndCorruptsOnRequest) {
    sim.bring_up();
    std::vector<uint16_t> table(3500);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint16_t>(12 + i % 1000);
    ASSERT_EQ(sim.comm(TAVIREX_LINK_WRITE, kCcd, 7000, table.data()), 0);
    std::vector<uint16_t> back(3500);
    ASSERT_EQ(sim.comm(TAVIREX_LINK_READ, kCcd, 7000, back.data()), 7000);
    EXPECT_EQ(back, table);

    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_CCD_CORRUPT, 1), 0);
    ASSERT_EQ(sim.comm(TAVIREX_LINK_READ, kCcd, 7000, back.data()), 7000);
    EXPECT_NE(back, table) << "first read-back corrupted";
    ASSERT_EQ(sim.comm(TAVIREX_LINK_READ, kCcd, 7000, back.data()), 7000);
    EXPECT_EQ(back, table) << "second one clean";

    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_CCD_CORRUPT, 0), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(sim.comm(TAVIREX_LINK_READ, kCcd, 7000, back.data()), 7000);
        EXPECT_NE(back, table);
    }
}

TEST_F(SimTest, RampPictureLayoutInBothWindows) {
    sim.bring_up();
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_RAMP), 0);
    sim.exposure_reads(0);
    sim.set_up_picture(true, 1, std::vector<uint16_t>(3500, 30));
    ASSERT_EQ(sim.wait_picture(), 1);
    // Cephalometric: 2304 rows of 8192 bytes, 16 MiB from the first window, the rest from the second.
    const std::vector<uint16_t> p = sim.read_picture(2304);
    int junk = 0;
    for (int r : {0, 1, 2047, 2048, 2303})
        for (int c : {0, 1, 3499, 3500, 4095}) {
            const uint16_t s = p[static_cast<std::size_t>(r) * 4096 + c];
            EXPECT_EQ(s & 0x0FFF, (7 * r + c) & 0x0FFF) << r << "," << c;
            junk |= s & 0xF000;
        }
    EXPECT_NE(junk, 0) << "top bits carry junk";
    // Row 2048 is the first row of the second window.
    uint16_t first[2];
    ASSERT_EQ(sim.comm(TAVIREX_LINK_READ, 0x27000000, 4, first), 4);
    EXPECT_EQ(first[0] & 0x0FFF, (7 * 2048) & 0x0FFF);
    EXPECT_EQ(first[1] & 0x0FFF, (7 * 2048 + 1) & 0x0FFF);
    // Memory past the picture reads as zeros.
    uint16_t tail[4] = {1, 1, 1, 1};
    ASSERT_EQ(sim.comm(TAVIREX_LINK_READ, 0x27000000 + 2097152, 8, tail), 8);
    EXPECT_EQ(tail[0] | tail[1] | tail[2] | tail[3], 0);
}

// Mean of the low 12 bits over rows [r0, r1) and columns [c0, c1).
double mean(const std::vector<uint16_t>& p, int r0, int r1, int c0, int c1) {
    double sum = 0;
    for (int r = r0; r < r1; ++r)
        for (int c = c0; c < c1; ++c) sum += p[static_cast<std::size_t>(r) * 4096 + c] & 0x0FFF;
    return sum / ((r1 - r0) * (c1 - c0));
}

TEST_F(SimTest, SensorModelDarkGainDefectsAndPhantom) {
    sim.bring_up();
    sim.exposure_reads(0);
    // Two passes of 1400 picture lines at 30 counts; the ramp behind each pass stays dark.
    const auto table = tvxtest::clock_table(4096, 2, 30, 1400);

    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_DARK), 0);
    sim.set_up_picture(false, 2, table);
    ASSERT_EQ(sim.wait_picture(), 1);
    const auto dark = sim.read_picture(1536);
    // The dark level follows the clock: the slow ramp end is darker-signal-rich than the picture.
    EXPECT_GT(mean(dark, 100, 700, 2000, 2040), mean(dark, 100, 700, 300, 1300) + 40);
    EXPECT_LT(mean(dark, 100, 700, 300, 1300), 200);

    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_FLAT), 0);
    sim.arm(false);
    ASSERT_EQ(sim.wait_picture(), 1);
    const auto flat = sim.read_picture(1536);
    EXPECT_NEAR(mean(flat, 0, 1536, 1500, 1540), mean(dark, 0, 1536, 1500, 1540), 3) << "unexposed columns";
    // Exposed: dark plus 2400 times the row's gain.
    for (int r : {10, 500, 767, 768, 900, 1535}) {
        const double signal = mean(flat, r, r + 1, 200, 1200) - mean(dark, r, r + 1, 200, 1200);
        EXPECT_NEAR(signal, 2400 * sim.row_gain(false, r), 6) << r;
    }
    int32_t rows[8], heights[8];
    const int32_t n = sim.defects(false, rows, heights, 8);
    ASSERT_GE(n, 1);
    for (int i = 0; i < n; ++i)
        EXPECT_LT(mean(flat, rows[i], rows[i] + 1, 200, 1200), 0.3 * mean(flat, rows[i] - 3, rows[i] - 2, 200, 1200));
    EXPECT_LT(sim.row_gain(false, 767), 0.7) << "joint rows are weak";
    EXPECT_EQ(sim.row_gain(false, 1536), -1);

    // Phantom: teeth (strong attenuation) in the middle of the pass, soft tissue at its sides.
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_PHANTOM), 0);
    sim.arm(false);
    ASSERT_EQ(sim.wait_picture(), 1);
    const auto ph = sim.read_picture(1536);
    const double teeth = mean(ph, 700, 820, 650, 750);  // around the occlusal plane, mid-arch
    const double side = mean(ph, 700, 820, 40, 80);
    EXPECT_LT(teeth + 500, side);
#if defined(NDEBUG)
    EXPECT_LT(sim.stats().last_render_us, 1000000u) << "rendering a picture takes well under a second";
#endif
    // The same exposure again renders the same picture.
    sim.arm(false);
    ASSERT_EQ(sim.wait_picture(), 1);
    EXPECT_EQ(sim.read_picture(1536), ph);
}

TEST_F(SimTest, FaultsFailCallsShortenReadsAndBlockReady) {
    sim.bring_up();
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_FAIL_CALL, 2, 77), 0);
    EXPECT_EQ(sim.status(), 1);
    uint16_t v;
    EXPECT_EQ(sim.read(kStatus, &v), 77);
    EXPECT_EQ(sim.read(kStatus, &v), 2) << "fires once";

    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_SHORT_READ, 1, -1), 0);
    EXPECT_EQ(sim.read(kStatus, &v), 1) << "one byte less";
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_SHORT_READ, 1, 100), 0);
    std::vector<uint8_t> big(1000);
    EXPECT_EQ(sim.comm(TAVIREX_LINK_READ, 0x26000000, 1000, big.data()), 100);

    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_NEVER_READY, 1), 0);
    EXPECT_EQ(sim.status() & 0xFF, 0);
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_NEVER_READY, 0), 0);
    EXPECT_EQ(sim.status() & 0xFF, 1);
    EXPECT_EQ(sim.set_fault(99, 1), -1);
    EXPECT_EQ(sim.stats().faults_fired, 3u);
}

TEST_F(SimTest, SettingsFileAppliedAtLinkOpen) {
    const std::string path = dir.file("faults.ini");
    tvxtest::write_file(path, "[module]\r\nmode = ramp ; comment\r\nexposure_reads = 0\r\n[faults]\r\nfail_call = 3, -5\r\n");
    set_env("TVXSIM_FAULTS", path.c_str());
    const int32_t opened = sim.init();  // call 1
    set_env("TVXSIM_FAULTS", nullptr);
    ASSERT_EQ(opened, 0);
    uint8_t prog[2] = {1, 2};
    EXPECT_EQ(sim.comm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr), 0);
    EXPECT_EQ(sim.comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 2, prog), -5) << "call 3 fails";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 2, prog), 0);
    ASSERT_EQ(sim.comm(TAVIREX_LINK_FPGA_PROGRAM, 0, 2, prog), 0);
    ASSERT_EQ(sim.write(kSysrst, 0), 0);
    ASSERT_EQ(sim.write(kStsreg, 1), 0);
    sim.set_up_picture(false, 1, std::vector<uint16_t>(4096, 30));
    ASSERT_EQ(sim.wait_picture(), 1) << "exposure_reads 0";
    uint16_t s[2];
    ASSERT_EQ(sim.comm(TAVIREX_LINK_READ, 0x26000000 + 8192 * 3, 4, s), 4);
    EXPECT_EQ(s[1] & 0x0FFF, 22) << "ramp mode: 7 * 3 + 1";
}

TEST_F(SimTest, SettingsFileParsing) {
    const std::string path = dir.file("s.ini");
    tvxtest::write_file(path, "# settings\nmode=flat\nshort_read = 2, 1\nccd_corrupt = 0\nbusy_reads=0\nseed=7\n");
    EXPECT_EQ(sim.load_settings(path), 0);
    sim.bring_up();
    EXPECT_EQ(sim.status(), 1);
    uint16_t v;
    EXPECT_EQ(sim.read(kStatus, &v), 1) << "second read short";
    tvxtest::write_file(path, "mode=flat\nfail_call = 3\n");
    EXPECT_EQ(sim.load_settings(path), -2) << "fail_call needs a code";
    tvxtest::write_file(path, "colour = blue\n");
    EXPECT_EQ(sim.load_settings(path), -1);
    EXPECT_EQ(sim.load_settings(dir.file("missing.ini")), -1);
}

TEST_F(SimTest, SerialLineAcknowledgesFrames) {
    ASSERT_EQ(sim.init(), 0);
    ASSERT_EQ(sim.send({0x02, 0x41, 0x03}), 0);
    EXPECT_EQ(sim.check(), 2);
    EXPECT_EQ(sim.check(), 1);
    EXPECT_EQ(sim.check(), 0);
    uint8_t buf[8] = {};
    EXPECT_EQ(sim.recv(buf), 1);
    EXPECT_EQ(buf[0], 0x06);
    EXPECT_EQ(sim.recv(buf), 0);
    ASSERT_EQ(sim.send({0x41, 0x42}), 0);
    EXPECT_EQ(sim.recv(buf), 0) << "no frame, no answer";
    ASSERT_EQ(sim.send({0x02}), 0);
    EXPECT_EQ(sim.recv(buf), 0);
}

TEST_F(SimTest, ReplayCopiesARecordedReadout) {
    // A cephalometric readout as the library leaves it: 3500 samples per row.
    std::string bytes(static_cast<std::size_t>(2304) * 3500 * 2, '\0');
    for (std::size_t i = 0; i < bytes.size() / 2; ++i) {
        bytes[2 * i] = static_cast<char>(i & 0xFF);
        bytes[2 * i + 1] = static_cast<char>((i >> 8) & 0x0F);
    }
    const std::string path = dir.file("ceph.raw");
    tvxtest::write_file(path, bytes);
    EXPECT_EQ(sim.set_mode(TVXSIM_MODE_REPLAY, dir.file("nothing.raw").c_str()), -1);
    tvxtest::write_file(dir.file("short.raw"), bytes.substr(1));
    EXPECT_EQ(sim.set_mode(TVXSIM_MODE_REPLAY, dir.file("short.raw").c_str()), -1);
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_REPLAY, path.c_str()), 0);
    sim.bring_up();
    sim.exposure_reads(0);
    sim.set_up_picture(true, 1, std::vector<uint16_t>(3500, 30));
    ASSERT_EQ(sim.wait_picture(), 1);
    const auto p = sim.read_picture(2304);
    for (int r : {0, 1000, 2303}) {
        const std::size_t i = static_cast<std::size_t>(r) * 3500 + 3499;
        EXPECT_EQ(p[static_cast<std::size_t>(r) * 4096 + 3499], static_cast<uint16_t>(i & 0x0FFF)) << r;
        EXPECT_EQ(p[static_cast<std::size_t>(r) * 4096 + 3500], 0);
    }
}

}  // namespace
