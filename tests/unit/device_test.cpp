// Opening the link, booting the module and loading the FPGA configuration
// (register traffic, Intel HEX reading, every failure reaching the caller),
// and the line clock table built from the speed profile.

#include <limits>

#include "state/context.h"
#include "device/boot.h"
#include "device/fpga.h"
#include "device/line_clock.h"
#include "support/support.h"

using tvx::Device;
using tvxtest::FakeLink;
using tvxtest::LinkCall;
using namespace tvx::device;

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
    EXPECT_EQ(std::make_pair(fake.init_calls, fake.traffic()), std::make_pair(1, std::string("C 259 #0, C 1 #300")));
    EXPECT_EQ(fake.calls[1].address, 0u);
    EXPECT_EQ(std::string(fake.calls[1].data.begin(), fake.calls[1].data.end()), program);
    EXPECT_EQ(std::make_pair(tvx::ModuleBooted[0], tvx::ModuleBooted[1]), std::make_pair(0u, 1u));
    // The link stays open and the module answers: one status read, nothing sent.
    fake.calls.clear();
    ASSERT_EQ(tvx::device::open_and_boot(Device, 1), 0);
    EXPECT_EQ(std::make_pair(fake.init_calls, fake.traffic()), std::make_pair(1, std::string("S")));
    // A module that no longer answers loses its mark and is booted again.
    fake.calls.clear();
    fake.on_read = [](std::uint32_t, std::uint32_t, std::uint8_t*) { return -7; };
    ASSERT_EQ(tvx::device::open_and_boot(Device, 1), 0);
    EXPECT_EQ(fake.traffic(), "S, C 259 #0, C 1 #300");
    // Boot flag 0: the link is opened, nothing sent.
    FakeLink fresh;
    Device.BootLoad = 0;
    EXPECT_EQ(tvx::device::open_and_boot(Device, 0), 0);
    EXPECT_EQ(std::make_pair(fresh.init_calls, fresh.traffic()), std::make_pair(1, std::string()));
}

TEST_F(BootTest, FailuresAndRefusalsLeaveNoMarkAndNoBlock) {
    const auto held = tvx::core::test_blocks_held();
    {
        FakeLink fake;
        fake.init_result = -5;
        const auto boot = [&fake](std::uint32_t command, std::int32_t fail_with) {
            fake.on_command = [=](const LinkCall& c) { return c.command == command ? fail_with : 0; };
            return tvx::device::open_and_boot(Device, 0);
        };
        EXPECT_EQ(boot(0, 0), -5);
        EXPECT_EQ(tvx::link::Link.EtherReady, 0u);
        fake.init_result = 0;
        EXPECT_EQ(Codes({boot(1, 77), boot(259, -3)}), Codes({77, -3}));
    }
    // Refused before anything is loaded: module index 2, boot flag 2.
    EXPECT_EQ(tvx::device::comm_init(Device, 2), 3);
    Device.BootLoad = 2;
    EXPECT_EQ(tvx::device::comm_init(Device, 0), 3);
    EXPECT_FALSE(tvx::link::loaded());
    Device.BootLoad = 1;
    EXPECT_EQ(tvxtest::with_failed_allocation(1, [] { return tvx::device::comm_init(Device, 0); }), 5);
    std::snprintf(Device.BootPath, sizeof Device.BootPath, "%s", dir.file("absent.bin").c_str());
    EXPECT_EQ(tvx::device::comm_init(Device, 0), 6);
    // A failed load leaves no mark and no block; a boot of the simulated module releases the program block too.
    EXPECT_EQ(std::make_pair(tvx::ModuleBooted[0], tvx::core::test_blocks_held()), std::make_pair(0u, held));
    std::snprintf(Device.BootPath, sizeof Device.BootPath, "%s", dir.file("boot.bin").c_str());
    EXPECT_EQ(tvx::device::comm_init(Device, 0), 0);
    EXPECT_EQ(std::make_pair(tvx::ModuleBooted[0], tvx::core::test_blocks_held()), std::make_pair(1u, held));
}

TEST_F(BootTest, IntelHexReadingRules) {
    const struct { const char* text; std::int32_t rc; std::vector<std::uint8_t> bytes; } rows[] = {
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
        Device.FpgaLoad = flag, tvx::ModuleBooted[0] = booted, Device.InitValue = init_value;
        return tvx::device::load_fpga(Device);
    };
    {
        FakeLink fake;  // reports InitValue 1: already running
        EXPECT_EQ(load(1, 1, 1), 0);
        EXPECT_EQ(fake.traffic(), "S");
        fake.calls.clear();
        // Not asked to load; not booted; then the range checks, which come before the boot test.
        EXPECT_EQ(Codes({load(0, 1, 1), load(0, 0, 1), load(1, 0, 1), load(2, 0, 1), load(1, 0, 0), load(1, 0, 256)}),
                  Codes({0, 0, 9, 3, 3, 3}));
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
    EXPECT_EQ(tvxtest::with_failed_allocation(1, [] { return tvx::device::load_fpga(Device); }), 5);
    EXPECT_TRUE(fake.of(512).empty() && tvx::core::test_blocks_held() == held);
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
        programs[v].resize(size), speeds[v].resize(3000);
        ASSERT_EQ(tvx::device::read_fpga_hex(dir.file("fpga_pano.hex").c_str(), programs[v].data(), size, &size) +
                      tvx::device::read_speed_profile(dir.file("speed_pano.txt").c_str(), speeds[v].data(), 3000, &n), 0);
        speeds[v].resize(n);
    }
    EXPECT_TRUE(programs[0].size() == 2048 && speeds[0].size() > 100);
    EXPECT_EQ(programs[0], programs[1]);
    EXPECT_EQ(speeds[0], speeds[1]);
}

using LineClockTest = tvxtest::LibraryTest;

// A speed profile from runs of {speed, samples}.
std::vector<float> runs(std::initializer_list<std::pair<float, int>> parts) {
    std::vector<float> v;
    for (const auto& p : parts) v.insert(v.end(), p.second, p.first);
    return v;
}

TEST_F(LineClockTest, PictureEntries) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // {what, speeds, limit, result, entry count, the value of every entry or 0}
    struct Row {
        const char* what; std::vector<float> speeds; std::uint32_t limit; std::int32_t rc; std::size_t count; std::uint16_t every;
    };
    const Row rows[] = {
        // 0.048 / 40 s = 1.2 ms = 30 counts; 100 samples of 10 ms hold 833 whole steps.
        {"constant speed, padded to an even count", runs({{40, 100}}), 6250, 0, 834, 30},
        {"0.048 / 200 s = 6 counts", runs({{200, 10}}), 6250, 10, 0, 0},
        {"a 50 ms standstill: more than 1023 counts", runs({{40, 10}, {0, 5}, {40, 10}}), 6250, 10, 0, 0},
        // 66030 counts must not pass as 494 after a 16-bit wrap.
        {"a 2.64 s standstill", runs({{40, 10}, {0, 264}, {40, 10}}), 6250, 10, 0, 0},
        {"reverse motion", runs({{-40, 10}}), 6250, 10, 0, 0},
        {"a sample that is not a number", runs({{nan, 1}, {40, 9}}), 6250, 10, 0, 0},
        // Two passes hold 3126 picture entries: 3.76 s hold 3133 steps of 1.2 ms, 3.74 s 3116.
        {"400 samples in two passes", runs({{40, 400}}), 3126, 11, 0, 0},
        {"376 samples in two passes", runs({{40, 376}}), 3126, 11, 0, 0},
        {"374 samples in two passes", runs({{40, 374}}), 3126, 0, 3116, 30},
        {"833 steps for 832 entries", runs({{40, 100}}), 832, 11, 0, 0},
        {"a stopped start", runs({{0, 1}, {40, 19}}), 6250, 0, 0, 0},
        // 83 steps fit the first 100 ms; the 84th cannot end in the trailing standstill or
        // the slow last sample, so the pass ends there without reading past the profile.
        {"a trailing standstill", runs({{40, 10}, {0, 5}}), 6250, 0, 84, 30},
        {"a slow last sample", runs({{40, 10}, {1, 1}}), 6250, 0, 84, 30},
    };
    for (const auto& row : rows) {
        std::vector<std::uint16_t> out(row.limit, 0);  // sized to the limit: a write past it is caught
        std::uint32_t k = 0;
        ASSERT_EQ(line_clock_entries(row.speeds.data(), row.speeds.size(), 10, row.limit, out.data(), &k), row.rc)
            << row.what;
        if (row.rc != 0) continue;
        EXPECT_EQ(k, row.count) << row.what;
        out.resize(k);
        EXPECT_TRUE(!row.every || out == std::vector<std::uint16_t>(k, row.every)) << row.what;
    }
    // 8 steps of 30 counts end at 9.6 ms; the 9th covers 0.016 at speed 40 and 0.032 at
    // speed 20 (1.6 ms): t = 11.6 ms, count 290, interval 50; then steps of 2.4 ms (60
    // counts) at 14.0, 16.4 and 18.8 ms; 21.2 ms is past the end.
    std::vector<std::uint16_t> out(6250, 0);
    const float change[] = {40.0f, 20.0f};
    std::uint32_t k = 0;
    ASSERT_EQ(line_clock_entries(change, 2, 10, 6250, out.data(), &k), 0);
    out.resize(k);
    EXPECT_EQ(out, (std::vector<std::uint16_t>{30, 30, 30, 30, 30, 30, 30, 30, 50, 60, 60, 60}));
    // 0.048 / 39.3 s is 30.53 counts: rounded to 31; 61.07 to 61, 91.60 to 92.
    const float slower[] = {39.3f};
    ASSERT_EQ(line_clock_entries(slower, 1, 10, 6250, out.data(), &k), 0);
    EXPECT_EQ(std::vector<std::uint16_t>(out.begin(), out.begin() + 3), (std::vector<std::uint16_t>{31, 30, 31}));
}

TEST_F(LineClockTest, TimeLagEntries) {
    struct Case { std::uint16_t timelag; std::uint32_t k, limit; std::int32_t rc; std::vector<std::uint16_t> lag; };
    std::vector<std::uint16_t> rem0_odd(24, 1023);
    rem0_odd.insert(rem0_odd.end(), {511, 512});
    const Case cases[] = {
        {0, 2, 6250, 0, {}},
        {100, 2, 6250, 0, {1023, 1023, 227, 227}},  // 2500 = 2 x 1023 + 454, q 3 -> 4
        {82, 2, 6250, 0, {1023, 1023, 2, 2}},       // 2050 = 2 x 1023 + 4
        {50, 2, 6250, 0, {625, 625}},               // 1250 = 1023 + 227, q 2: even-adjusted
        {41, 2, 6250, 0, {512, 513}},               // 1025 = 1023 + 2: the smaller half first
        {1, 2, 6250, 0, {12, 13}},                  // 25, q 1 -> 2
        {1023, 2, 6250, 0, rem0_odd},               // 25575 = 25 x 1023
        {2046, 2, 6250, 0, std::vector<std::uint16_t>(50, 1023)},  // 51150 = 50 x 1023
        {100, 1560, 1564, 0, {1023, 1023, 227, 227}},  // lag and picture fill the limit exactly
        {100, 1562, 1564, 12, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::uint16_t> fine(c.limit, 30);
        fine[1] = 31;
        std::uint32_t q = 99;
        ASSERT_EQ(insert_time_lag(fine.data(), c.k, c.timelag, c.limit, &q), c.rc) << c.timelag << " " << c.k;
        if (c.rc != 0) continue;
        ASSERT_EQ(q, c.lag.size()) << c.timelag;
        EXPECT_EQ(std::vector<std::uint16_t>(fine.begin(), fine.begin() + q), c.lag) << c.timelag;
        EXPECT_TRUE(fine[q] == 30 && fine[q + 1] == 31) << c.timelag;  // the picture entries follow intact
    }
}

TEST_F(LineClockTest, RampAndPairwiseMerge) {
    // Marks: 40 sets low, 20 lowers it, 30 and 50 raise high: ramp 20..50 over 4 entries.
    std::vector<std::uint16_t> fine = {1023, 1023, 40, 20, 30, 50, 0, 0, 0, 0};
    apply_ramp(fine.data(), 2, 4, 10);
    EXPECT_EQ(std::vector<std::uint16_t>(fine.begin() + 6, fine.end()), (std::vector<std::uint16_t>{20, 30, 40, 50}));
    // Falling entries only ever lower the low mark: the ramp falls to 12, truncating toward zero.
    std::vector<std::uint16_t> falling = {100, 50, 0, 0, 0, 0};
    apply_ramp(falling.data(), 0, 2, 6);
    falling.erase(falling.begin(), falling.begin() + 2);
    EXPECT_EQ(falling, (std::vector<std::uint16_t>{50, 38, 25, 12}));
    // Merging alternates between the smaller and the larger of each unequal pair.
    const std::vector<std::uint16_t> pairs = {5, 5, 3, 7, 3, 7, 8, 2, 4, 4, 1, 9};
    std::vector<std::uint16_t> merged(6, 0);
    merge_pairs(pairs.data(), 6, merged.data());
    EXPECT_EQ(merged, (std::vector<std::uint16_t>{5, 3, 7, 2, 4, 9}));
}

TEST_F(LineClockTest, SpeedProfileFile) {
    std::vector<float> v(3000, 0.0f);
    std::size_t n = 0;
    // Numbers from the start of each line; text gives 0; a line longer than 63 characters counts as two.
    tvxtest::write_file(dir.file("p.txt"), "40.5\n  12 mm/s\nabc\n5" + std::string(62, ' ') + "7.25\n");
    ASSERT_EQ(read_speed_profile(dir.file("p.txt").c_str(), v.data(), v.size(), &n), 0);
    v.resize(n);
    EXPECT_EQ(v, (std::vector<float>{40.5f, 12.0f, 0.0f, 5.0f, 7.25f}));
    // At most the capacity is read.
    ASSERT_EQ(read_speed_profile(dir.file("p.txt").c_str(), v.data(), 4, &n), 0);
    EXPECT_EQ(n, 4u);
}

}  // namespace
