// The simulated sensor module, driven through its link entry points.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/support.h"

namespace {

constexpr uint32_t kStatus = 0x27F00002, kSysrst = 0x27F00004, kPalson = 0x27F00008, kStsreg = 0x27F0000E;
constexpr uint32_t kPowset = 0x27F00010, kDasdat = 0x27F00020, kCcd = 0x27F02000;
constexpr uint32_t kWrite = TAVIREX_LINK_WRITE, kRead = TAVIREX_LINK_READ;

// The module driven directly through its link entry points.
struct SimLink : tvxtest::Sim {
    int32_t init() { return fn<TavirexEtherInitFn>("EtherInit")("192.168.10.20", 5000, 5); }
    int32_t comm(uint32_t command, uint32_t address, uint32_t count, void* buffer) {
        return fn<TavirexEtherCommFn>("EtherComm")(command, address, count, buffer);
    }
    int32_t write(uint32_t address, uint16_t value) { return comm(TAVIREX_LINK_WRITE, address, 2, &value); }
    int32_t read(uint32_t address, uint16_t* value) { return comm(TAVIREX_LINK_READ, address, 2, value); }
    uint16_t status() {
        uint16_t v = 0;
        EXPECT_EQ(read(0x27F00002, &v), 2);
        return v;
    }
    // Link open, boot program and FPGA configuration loaded, reset, ready value 1.
    void bring_up() {
        uint8_t program[4] = {1, 2, 3, 4};
        ASSERT_EQ(init(), 0);
        for (uint32_t c : {TAVIREX_LINK_BOOT_PREPARE, TAVIREX_LINK_BOOT_PROGRAM, TAVIREX_LINK_FPGA_PROGRAM})
            ASSERT_EQ(comm(c, 0, c == TAVIREX_LINK_BOOT_PREPARE ? 0 : 4, program), 0);
        ASSERT_EQ(write(0x27F00004, 0), 0);
        ASSERT_EQ(write(0x27F0000E, 1), 0);
    }
    // MODREG for one pass, the clock table into the CCD control RAM, then the arming writes.
    void set_up_picture(bool ceph, std::vector<uint16_t> table) {
        ASSERT_EQ(write(0x27F00006, 0x40), 0);
        ASSERT_EQ(comm(TAVIREX_LINK_WRITE, 0x27F02000, static_cast<uint32_t>(table.size() * 2), table.data()), 0);
        arm(ceph);
    }
    void arm(bool ceph) {
        for (const auto& w : {std::pair<uint32_t, uint16_t>{0x27F00034, 0}, {0x27F00008, 2}, {0x27F00010, 1},
                              {0x27F00012, ceph ? 0 : 1}, {0x27F00008, 1}})
            ASSERT_EQ(write(w.first, w.second), 0);
    }
    // Polls the status until the picture bit shows; the number of reads, or -1 after `limit`.
    int wait_picture(int limit = 100) {
        for (int i = 1; i <= limit; ++i)
            if (status() & 0x100) return i;
        return -1;
    }
    // Reads `rows` module rows of 8192 bytes as the readout does: 16 MiB from each window.
    std::vector<uint16_t> read_picture(int rows) {
        std::vector<uint16_t> out(static_cast<std::size_t>(rows) * 4096);
        const uint32_t total = static_cast<uint32_t>(rows) * 8192, window = 16777216;
        for (uint32_t off = 0; off < total; off += window) {
            const uint32_t n = std::min(total - off, window);
            EXPECT_EQ(comm(TAVIREX_LINK_READ, off == 0 ? 0x26000000 : 0x27000000, n, out.data() + off / 2), int32_t(n));
        }
        return out;
    }
    void exposure_reads(int32_t n) { fn<TvxSimSetExposureReadsFn>("TvxSim_SetExposureReads")(n); }
};

class SimTest : public ::testing::Test {
protected:
    SimLink sim;  // reset on construction
    tvxtest::TempDir dir;
};

TEST_F(SimTest, ReadyValueOnlyAfterBootFpgaAndReset) {
    uint16_t v = 0;
    uint8_t prog[3] = {9, 8, 7}, fpga[5] = {0xA, 0xB, 0xC, 0xD, 0xE};
    EXPECT_EQ(sim.read(kStatus, &v), -1) << "link not open";
    ASSERT_EQ(sim.init(), 0);
    EXPECT_EQ(sim.read(kStatus, &v), -3) << "no boot program: the module does not answer";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 3, prog), -3) << "program without command 259";
    EXPECT_EQ(sim.comm(TAVIREX_LINK_FPGA_PROGRAM, 0, 3, prog), -3) << "FPGA before boot";
    for (int boot = 0; boot < 2; ++boot) {  // a new boot drops the configuration
        ASSERT_EQ(sim.comm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr), 0);
        ASSERT_EQ(sim.comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 3, prog), 0);
        ASSERT_EQ(sim.write(kStsreg, 0x0137), 0);
        ASSERT_EQ(sim.write(kSysrst, 0), 0);
        EXPECT_EQ(sim.status(), 0) << "no FPGA configuration yet";
        ASSERT_EQ(sim.comm(TAVIREX_LINK_FPGA_PROGRAM, 0, 5, fpga), 0);
        ASSERT_EQ(sim.write(kStsreg, 0x0137), 0);
        EXPECT_EQ(sim.status(), 0) << "configuration loaded but not reset";
        for (int reset = 0; reset < 2; ++reset) {  // a later reset keeps the ready value
            ASSERT_EQ(sim.write(kSysrst, 0), 0);
            EXPECT_EQ(sim.status(), 0x37) << "low byte of STSREG";
        }
    }
    EXPECT_EQ(sim.write(kStatus, 1), -2) << "status register is read only";
    EXPECT_EQ(sim.program(0), std::vector<uint8_t>(prog, prog + 3));
    EXPECT_EQ(sim.program(1), std::vector<uint8_t>(fpga, fpga + 5));
}

TEST_F(SimTest, BadRequestsAreRefused) {
    sim.bring_up();
    uint8_t buf[16] = {};
    const struct { uint32_t command, address, count; const char* what; } rows[] = {
        {kWrite, 0x27F00006, 1, "register write of one byte"},
        {kWrite, 0x27F00007, 2, "odd register address"},
        {kWrite, 0x27F00036, 2, "past the register window"},
        {kRead, kStatus, 4, "register read of four bytes"},
        {kWrite, kCcd + 8190, 4, "past the CCD control RAM"},
        {kRead, 0x26000000, 16777217, "more than one window"},
        {kRead, 0x27000000 + 16777208, 16, "across the window end"},
        {kRead, 0x25000000, 2, "no memory there"},
        {TAVIREX_LINK_FPGA_PROGRAM, 0, 0, "empty configuration"},
        {77, 0, 0, "unknown command"},
    };
    for (const auto& r : rows) EXPECT_EQ(sim.comm(r.command, r.address, r.count, buf), -2) << r.what;
    EXPECT_EQ(sim.comm(kWrite, 0x27F00006, 2, nullptr), -2) << "no buffer";
}

TEST_F(SimTest, ConverterBusyBitAfterEachWordAndStuckWhenFaulted) {
    sim.bring_up();
    ASSERT_EQ(sim.write(kDasdat, 0x00A1), 0);
    for (int expected : {0x0201, 0x0201, 0x0201, 0x0001}) EXPECT_EQ(sim.status(), expected);
    sim.fn<TvxSimSetExposureReadsFn>("TvxSim_SetConverterBusyReads")(0);
    ASSERT_EQ(sim.write(kDasdat, 0x3008), 0);
    EXPECT_EQ(sim.status(), 0x0001);
    EXPECT_EQ(sim.stats().converter_words, 2u);
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_CONVERTER_BUSY, 1), 0);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(sim.status() & 0x0200, 0x0200);
}

TEST_F(SimTest, PictureBitFollowsArmingExposureAndReadout) {
    sim.bring_up();
    sim.exposure_reads(2);
    sim.set_up_picture(false, std::vector<uint16_t>(4096, 30));
    for (int expected : {0x0001, 0x0001, 0x0101, 0x0101}) EXPECT_EQ(sim.status(), expected) << "exposed after two reads";
    ASSERT_EQ(sim.write(kPowset, 0), 0);
    EXPECT_EQ(sim.status(), 0x0001) << "until the readout";
    EXPECT_EQ(sim.stats().exposures, 1u);
    sim.arm(false);
    EXPECT_EQ(sim.wait_picture(), 3);
    ASSERT_EQ(sim.write(kSysrst, 0), 0);
    EXPECT_EQ(sim.status(), 0x0001) << "SYSRST ends it too";
    // PALSON 1 without the priming 2 does not arm; picture pattern 1 (0x12, 0x11) does.
    ASSERT_EQ(sim.write(kPowset, 1), 0);
    ASSERT_EQ(sim.write(kPalson, 0x11), 0);
    EXPECT_EQ(sim.wait_picture(20), -1);
    sim.exposure_reads(0);
    ASSERT_EQ(sim.write(kPalson, 0x12), 0);
    ASSERT_EQ(sim.write(kPalson, 0x11), 0);
    EXPECT_EQ(sim.wait_picture(), 1);
    sim.exposure_reads(-1);
    sim.arm(false);
    EXPECT_EQ(sim.wait_picture(50), -1) << "a negative count never exposes";
}

TEST_F(SimTest, CcdControlRamReadsBackAndCorruptsOnRequest) {
    sim.bring_up();
    std::vector<uint16_t> table(3500), back(3500);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint16_t>(12 + i % 1000);
    ASSERT_EQ(sim.comm(kWrite, kCcd, 7000, table.data()), 0);
    // Fault off; n = 1: the first read-back corrupted; n = 0: every one.
    const struct { int32_t n; bool clean[3]; } rows[] = {{-1, {true, true, true}}, {1, {false, true, true}}, {0, {}}};
    for (const auto& r : rows) {
        ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_CCD_CORRUPT, r.n), 0);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(sim.comm(kRead, kCcd, 7000, back.data()), 7000);
            EXPECT_EQ(back == table, r.clean[i]) << "n " << r.n << ", read-back " << i;
        }
    }
}

TEST_F(SimTest, RampPictureLayoutInBothWindows) {
    sim.bring_up();
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_RAMP), 0);
    sim.exposure_reads(0);
    sim.set_up_picture(true, std::vector<uint16_t>(3500, 30));
    ASSERT_EQ(sim.wait_picture(), 1);
    // Cephalometric: 2304 rows of 8192 bytes, 16 MiB (rows 0..2047) from the first window, the rest from the second.
    const std::vector<uint16_t> p = sim.read_picture(2304);
    int junk = 0;
    for (int r : {0, 1, 2047, 2048, 2303})
        for (int c : {0, 1, 3499, 3500, 4095}) {
            const uint16_t s = p[static_cast<std::size_t>(r) * 4096 + c];
            EXPECT_EQ(s & 0x0FFF, (7 * r + c) & 0x0FFF) << r << "," << c;
            junk |= s & 0xF000;
        }
    EXPECT_NE(junk, 0) << "top bits carry junk";
    uint16_t tail[4] = {1, 1, 1, 1};
    ASSERT_EQ(sim.comm(kRead, 0x27000000 + 2097152, 8, tail), 8);
    EXPECT_EQ(tail[0] | tail[1] | tail[2] | tail[3], 0) << "memory past the picture reads as zeros";
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
    // One pass: the time lag, 1400 picture lines at 30 counts, then a rising ramp that stays dark.
    std::vector<uint16_t> table(4096, 30);
    table[0] = 1023;
    table[1] = 227;
    for (int i = 1402; i < 4096; ++i) table[i] = static_cast<uint16_t>(20 + (i - 1402) * 280 / 2693);
    std::vector<uint16_t> pictures[3];
    for (int mode : {TVXSIM_MODE_PHANTOM, TVXSIM_MODE_FLAT, TVXSIM_MODE_DARK}) {
        ASSERT_EQ(sim.set_mode(mode), 0);
        sim.set_up_picture(false, table);
        ASSERT_EQ(sim.wait_picture(), 1);
        pictures[mode] = sim.read_picture(1536);
    }
    const auto &ph = pictures[TVXSIM_MODE_PHANTOM], &flat = pictures[TVXSIM_MODE_FLAT], &dark = pictures[TVXSIM_MODE_DARK];
    // The dark level follows the clock: the slow end of the ramp collects more than the picture lines.
    EXPECT_GT(mean(dark, 100, 700, 4000, 4040), mean(dark, 100, 700, 300, 1300) + 40);
    EXPECT_LT(mean(dark, 100, 700, 300, 1300), 200);
    EXPECT_NEAR(mean(flat, 0, 1536, 3000, 3040), mean(dark, 0, 1536, 3000, 3040), 3) << "unexposed columns";
    auto row_gain = sim.fn<TvxSimRowGainFn>("TvxSim_RowGain");
    for (int r : {10, 500, 767, 768, 900, 1535})  // exposed: dark plus 2400 times the row's gain
        EXPECT_NEAR(mean(flat, r, r + 1, 200, 1200) - mean(dark, r, r + 1, 200, 1200), 2400 * row_gain(0, r), 6) << r;
    EXPECT_LT(row_gain(0, 767), 0.7) << "joint rows are weak";
    EXPECT_EQ(row_gain(0, 1536), -1);
    int32_t rows[8], heights[8];
    const int32_t n = sim.fn<TvxSimDefectBandsFn>("TvxSim_DefectBands")(0, rows, heights, 8);
    ASSERT_GE(n, 1);
    for (int i = 0; i < n; ++i)
        EXPECT_LT(mean(flat, rows[i], rows[i] + 1, 200, 1200), 0.3 * mean(flat, rows[i] - 3, rows[i] - 2, 200, 1200));
    // Phantom: teeth (strong attenuation) mid-arch around the occlusal plane, soft tissue at the side.
    EXPECT_LT(mean(ph, 700, 820, 650, 750) + 500, mean(ph, 700, 820, 40, 80));
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_PHANTOM), 0);
    sim.arm(false);
    ASSERT_EQ(sim.wait_picture(), 1);
    EXPECT_EQ(sim.read_picture(1536), ph) << "the same exposure again renders the same picture";
}

TEST_F(SimTest, FaultsFailACallShortenAReadAndBlockReady) {
    sim.bring_up();
    uint16_t v;
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_FAIL_CALL, 2, 77), 0);
    for (int expected : {2, 77, 2}) EXPECT_EQ(sim.read(kStatus, &v), expected) << "the second call fails, once";
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_SHORT_READ, 1, -1), 0);
    EXPECT_EQ(sim.read(kStatus, &v), 1) << "one byte less";
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_SHORT_READ, 1, 100), 0);
    std::vector<uint8_t> big(1000);
    EXPECT_EQ(sim.comm(kRead, 0x26000000, 1000, big.data()), 100);
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_NEVER_READY, 1), 0);
    EXPECT_EQ(sim.status() & 0xFF, 0);
    ASSERT_EQ(sim.set_fault(TVXSIM_FAULT_NEVER_READY, 0), 0);
    EXPECT_EQ(sim.status() & 0xFF, 1);
    EXPECT_EQ(sim.set_fault(99, 1), -1);
    EXPECT_EQ(sim.stats().faults_fired, 3u);
}

TEST_F(SimTest, SettingsFileAppliedAtLinkOpenAndParsed) {
    const std::string path = dir.file("s.ini");
    tvxtest::write_file(path, "[module]\r\nmode = ramp ; comment\r\nexposure_reads = 0\r\n[faults]\r\nfail_call = 3, -5\r\n");
#if defined(_WIN32)
    _putenv_s("TVXSIM_FAULTS", path.c_str());
    const int32_t opened = sim.init();  // call 1
    _putenv_s("TVXSIM_FAULTS", "");
#else
    ::setenv("TVXSIM_FAULTS", path.c_str(), 1);
    const int32_t opened = sim.init();  // call 1
    ::unsetenv("TVXSIM_FAULTS");
#endif
    ASSERT_EQ(opened, 0);
    uint8_t prog[2] = {1, 2};
    EXPECT_EQ(sim.comm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr), 0);
    EXPECT_EQ(sim.comm(TAVIREX_LINK_BOOT_PROGRAM, 0, 2, prog), -5) << "call 3 fails";
    sim.bring_up();
    sim.set_up_picture(false, std::vector<uint16_t>(4096, 30));
    ASSERT_EQ(sim.wait_picture(), 1) << "exposure_reads 0";
    uint16_t s[2];
    ASSERT_EQ(sim.comm(kRead, 0x26000000 + 8192 * 3, 4, s), 4);
    EXPECT_EQ(s[1] & 0x0FFF, 22) << "ramp mode: 7 * 3 + 1";

    sim.reset();
    auto load = [&](const char* text) {
        tvxtest::write_file(path, text);
        return sim.fn<int32_t (*)(const char*)>("TvxSim_LoadSettings")(path.c_str());
    };
    EXPECT_EQ(load("# settings\nmode=flat\nshort_read = 2, 1\nccd_corrupt = 0\nbusy_reads=0\nseed=7\n"), 0);
    sim.bring_up();
    for (int expected : {2, 1}) EXPECT_EQ(sim.read(kStatus, s), expected) << "second read short";
    EXPECT_EQ(load("mode=flat\nfail_call = 3\n"), -2) << "fail_call needs a code";
    EXPECT_EQ(load("colour = blue\n"), -1);
    EXPECT_EQ(sim.fn<int32_t (*)(const char*)>("TvxSim_LoadSettings")(dir.file("missing.ini").c_str()), -1);
}

TEST_F(SimTest, SerialLineAcknowledgesAFrame) {
    ASSERT_EQ(sim.init(), 0);
    auto send = sim.fn<TavirexEther232SendFn>("Ether232Send");
    auto recv = sim.fn<TavirexEther232RecvFn>("Ether232Recv");
    const uint8_t frame[] = {0x02, 0x41, 0x03};
    uint8_t buf[8] = {};
    ASSERT_EQ(send(frame, 3), 0);
    for (int pending : {2, 1, 0}) EXPECT_EQ(sim.fn<TavirexEther232CheckFn>("Ether232Check")(), pending);
    EXPECT_EQ(recv(buf), 1);
    EXPECT_EQ(buf[0], 0x06);
    EXPECT_EQ(recv(buf), 0) << "answered once";
    ASSERT_EQ(send(frame, 1), 0);
    EXPECT_EQ(recv(buf), 0) << "STX without ETX: no frame, no answer";
    ASSERT_EQ(send(frame + 1, 2), 0);
    EXPECT_EQ(recv(buf), 0) << "ETX without STX";
}

TEST_F(SimTest, ReplayCopiesARecordedReadout) {
    // A cephalometric readout as the library leaves it: 3500 samples per row.
    std::vector<uint16_t> samples(static_cast<std::size_t>(2304) * 3500);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i & 0x0FFF);
    const std::string bytes(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
    const std::string path = dir.file("ceph.raw");
    tvxtest::write_file(path, bytes);
    tvxtest::write_file(dir.file("short.raw"), bytes.substr(1));
    for (const char* bad : {"nothing.raw", "short.raw"})
        EXPECT_EQ(sim.set_mode(TVXSIM_MODE_REPLAY, dir.file(bad).c_str()), -1) << bad;
    ASSERT_EQ(sim.set_mode(TVXSIM_MODE_REPLAY, path.c_str()), 0);
    sim.bring_up();
    sim.exposure_reads(0);
    sim.set_up_picture(true, std::vector<uint16_t>(3500, 30));
    ASSERT_EQ(sim.wait_picture(), 1);
    const auto p = sim.read_picture(2304);
    for (std::size_t r : {0, 1000, 2303}) {
        EXPECT_EQ(p[r * 4096 + 3499], samples[r * 3500 + 3499]) << r;
        EXPECT_EQ(p[r * 4096 + 3500], 0) << r;
    }
}

}  // namespace
