// The simulated module's tomographic side, driven through its link entry
// points: ready value, picture start and timing, measured times, the picture
// memory, the rendered strips and the injected faults.

#include <cmath>

#include "support/support.h"

namespace {

// Tomographic registers; the panoramic ones are addressed in full.
enum : std::uint32_t { STATUS = 0x27FF0002, SYSRST = 0x27FF0004, MODREG = 0x27FF0006, PALSON = 0x27FF0008, START = 0x27FF000A,
                       TIMER = 0x27FF000C, STSREG = 0x27FF000E, POWER = 0x27FF0010, EXTCLR = 0x27FF0014, ECTCLR = 0x27FF0016,
                       EXTIME = 0x27FF0018, ECTIME = 0x27FF001A, DASDAT = 0x27FF0020 };
constexpr std::uint32_t kBlock = 0x90000;

std::int32_t put(std::uint32_t address, std::uint16_t v) {
    std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    return EtherComm(TAVIREX_LINK_WRITE, address, 2, b);
}
int get(std::uint32_t address) {
    std::uint8_t b[2] = {};
    const std::int32_t n = EtherComm(TAVIREX_LINK_READ, address, 2, b);
    return n == 2 ? b[0] | b[1] << 8 : n;
}
// A memory read into `out` (block samples: sensor column j, row i at j * 2304 + i); the read's result.
std::int32_t read_block(std::uint32_t address, std::vector<std::uint16_t>* out, std::uint32_t bytes = kBlock) {
    out->assign(bytes / 2, 0);
    return EtherComm(TAVIREX_LINK_READ, address, bytes, out->data());
}

class SimTomoTest : public ::testing::Test {
protected:
    void SetUp() override {
        TvxSim_Reset();
        TvxSim_SetExposureReads(0);
        std::uint8_t program[16] = {1};
        ASSERT_EQ(Codes({EtherInit("sim", 0, 0), EtherComm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr),
                         EtherComm(TAVIREX_LINK_BOOT_PROGRAM, 0, 16, program),
                         EtherComm(TAVIREX_LINK_FPGA_PROGRAM, 0, 16, program), put(SYSRST, 0), put(STSREG, 34)}),
                  Codes(6, 0));
    }
    void TearDown() override { TvxSim_Reset(); }
    void arm(std::uint16_t palson = 3) { ASSERT_EQ(Codes({put(MODREG, 5), put(POWER, 1), put(PALSON, palson)}), Codes(3, 0)); }
    // One picture started by command, as the library takes it: ECTIME and EXTIME, then cleared.
    std::pair<int, int> take(std::uint16_t timer, std::uint16_t mode) {
        EXPECT_EQ(Codes({put(TIMER, timer), put(MODREG, mode), put(START, 1)}), Codes(3, 0));
        EXPECT_EQ(get(STATUS), 0x122);
        const std::pair<int, int> times{get(ECTIME), get(EXTIME)};
        EXPECT_EQ(put(ECTCLR, 0) + put(EXTCLR, 0), 0);
        return times;
    }
};

TEST_F(SimTomoTest, ReadyAfterTheFpgaLoadTheResetOfThisWindowAndStsreg) {
    std::uint8_t program[16] = {1};
    ASSERT_EQ(EtherComm(TAVIREX_LINK_FPGA_PROGRAM, 0, 16, program), 0);
    // STSREG alone, or SYSRST of the panoramic window, leave the low byte at 0.
    EXPECT_EQ(Codes({put(STSREG, 0x1234), put(0x27F00004, 0),
                     get(STATUS), put(SYSRST, 0), get(STATUS), put(SYSRST, 0), get(STATUS)}),
              Codes({0, 0, 0, 0, 0x34, 0, 0x34}));
    EXPECT_EQ(Codes({put(DASDAT, 0x1096), get(STATUS), get(STATUS), get(STATUS), get(STATUS)}),
              Codes({0, 0x234, 0x234, 0x234, 0x34})) << "busy for three reads";
    TvxSim_SetFault(TVXSIM_FAULT_NEVER_READY, 1, 0);
    EXPECT_EQ(get(STATUS), 0);
    EXPECT_EQ(Codes({put(STATUS, 1), put(ECTIME, 1), EtherComm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr), get(STATUS)}),
              Codes({-2, -2, 0, -3})) << "read-only registers; nothing before the boot";
}

TEST_F(SimTomoTest, PictureByCommandOrByTriggerWithItsTimesUntilCleared) {
    TvxSim_SetExposureReads(2);
    arm();
    // MODREG without a TIMER written before it prepares nothing.
    EXPECT_EQ(Codes({put(MODREG, 1), put(START, 1), get(STATUS), get(STATUS), get(STATUS), get(STATUS)}),
              Codes({0, 0, 0x22, 0x22, 0x22, 0x22}));
    // By command: done with the second read after START.
    EXPECT_EQ(Codes({put(TIMER, 100), put(MODREG, 1), put(START, 1), get(STATUS), get(STATUS), get(ECTIME), get(EXTIME)}),
              Codes({0, 0, 0, 0x22, 0x122, 100, 100}));
    EXPECT_EQ(Codes({put(ECTCLR, 0), get(STATUS), get(ECTIME), get(EXTIME), put(EXTCLR, 0), get(STATUS), get(EXTIME)}),
              Codes({0, 0x122, 0, 100, 0, 0x22, 0}));
    // By the trigger: two reads, the triggering read, two more; the timer is the one written before MODREG.
    EXPECT_EQ(Codes({put(TIMER, 450), put(MODREG, 5), get(STATUS), get(STATUS), get(STATUS), get(STATUS), get(STATUS), get(ECTIME)}),
              Codes({0, 0, 0x22, 0x22, 0x22, 0x22, 0x122, 450}));
    // Without power, or without PALSON 3, nothing starts.
    put(EXTCLR, 0);
    for (auto [reg, value] : {std::pair{POWER, 0}, std::pair{PALSON, 2}}) {
        arm();
        EXPECT_EQ(put(TIMER, 100) + put(MODREG, 1) + put(reg, static_cast<std::uint16_t>(value)) + put(START, 1), 0);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(get(STATUS), 0x22) << reg;
    }
    EXPECT_EQ(tvxtest::sim_stats().tomo_pictures, 2u);
}

TEST_F(SimTomoTest, PictureMemoryBlocksInCaptureOrderAcrossTheWindowsUpToTheRegisters) {
    arm(19);  // test pattern: (7 r + c + 16 p) mod 8192 at the library's row r, column c
    for (int p = 0; p < 30; ++p) take(100, 1);
    std::vector<std::uint16_t> b;
    for (const int p : {0, 2, 28}) {  // block 28 runs from 0x26FC0000 over 0x27000000
        ASSERT_EQ(read_block(0x26000000 + p * kBlock, &b), static_cast<std::int32_t>(kBlock));
        for (const auto& [r, c] : {std::pair{0, 0}, std::pair{5, 3}, std::pair{2303, 127}})
            EXPECT_EQ(b[c * 2304 + r] & 0x1FFF, (7 * r + c + 16 * p) % 8192) << p;
    }
    EXPECT_GT(std::count_if(b.begin(), b.end(), [](std::uint16_t s) { return s > 0x1FFF; }), 200000) << "junk in bits 13..15";
    EXPECT_EQ(read_block(0x26000000 + 40 * kBlock, &b), static_cast<std::int32_t>(kBlock));
    EXPECT_EQ(std::count(b.begin(), b.end(), 0), 294912) << "never written";
    EXPECT_EQ(Codes({read_block(0x27EF0000, &b), read_block(0x27EF0000, &b, 0x10000), read_block(0x25FFFFFE, &b, 4)}),
              Codes({-2, 0x10000, -2})) << "the 56th block runs into the registers";
    // A panoramic picture overwrites what it covers; after SYSRST the next picture is block 0 again.
    TvxSim_SetMode(TVXSIM_MODE_RAMP, nullptr);
    ASSERT_EQ(Codes({put(0x27F00010, 1), put(0x27F00008, 2), put(0x27F00008, 1), get(0x27F00002) & 0x100}), Codes({0, 0, 0, 0x100}));
    read_block(0x26000000 + 2 * kBlock, &b);
    EXPECT_NE(b[5 + 3 * 2304] & 0x1FFF, 35 + 3 + 32);
    put(SYSRST, 0);
    arm(19);
    take(100, 5);
    read_block(0x26000000, &b);
    EXPECT_EQ(b[5 + 3 * 2304] & 0x1FFF, 35 + 3);
}

TEST_F(SimTomoTest, StripsOfAFrameOverlapAndFaultsSkewTheMeasuredTimes) {
    arm();
    TvxSim_SetFault(TVXSIM_FAULT_ECTIME_DRIFT, 3, 0);
    TvxSim_SetFault(TVXSIM_FAULT_DARK_MISMATCH, 5, 0);
    std::vector<std::pair<int, int>> times;
    for (int t = 0; t < 3; ++t) {
        times.push_back(take(100, 1));
        times.push_back(take(450, 5));
    }
    EXPECT_EQ(times, (std::vector<std::pair<int, int>>{{100, 100}, {455, 450}, {103, 100}, {455, 450}, {106, 100}, {455, 450}}));
    // Strip 1 sees from column 112 of strip 0 on: with the dark picture and the
    // sensor model taken out, their 16 shared columns agree; strips differ elsewhere.
    std::vector<std::uint16_t> b[4];
    for (std::uint32_t k = 0; k < 4; ++k) ASSERT_EQ(read_block(0x26000000 + k * kBlock, &b[k]), static_cast<std::int32_t>(kBlock));
    auto signal = [&](int t, int r, int c) {
        const std::size_t k = static_cast<std::size_t>(c) * 2304 + r;
        return ((b[2 * t][k] & 0x1FFF) - (b[2 * t + 1][k] & 0x1FFF) - TvxSim_TomoPixelOffset(r, c)) / TvxSim_TomoPixelGain(r, c);
    };
    double shared = 0, apart = 0, level = 0;
    for (int r = 30; r < 2280; r += 3)
        for (int c = 0; c < 16; c += 5) {
            shared += std::abs(signal(0, r, 112 + c) - signal(1, r, c));
            apart += std::abs(signal(0, r, c) - signal(1, r, c));
            level += signal(0, r, 112 + c);
        }
    EXPECT_LT(shared, 0.02 * level);
    EXPECT_GT(apart, 0.2 * level);
    // The settings file takes the same faults.
    tvxtest::TempDir dir;
    tvxtest::write_file(dir.file("faults.txt"), "ectime_drift = 0\ndark_mismatch = 0\ntomo_overlap = 200\n");
    EXPECT_EQ(TvxSim_LoadSettings(dir.file("faults.txt").c_str()), -3);
    EXPECT_EQ(take(450, 5), std::make_pair(450, 450));
}

}  // namespace
