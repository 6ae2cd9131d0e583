// Whole cycles from the simulated module to the marked bitmap, each run once per
// fault: every allocation failing in turn, every link call failing in turn, every
// read coming back short, a stuck converter, a module never ready, a module that
// stops answering. A run must stop at the export that meets the fault, with that
// export's code; it may leave only complete output files; and the next undisturbed
// cycle, after a power cycle of the module but not of the library, must give the
// reference bytes again and leave nothing held once the library lets go.
//
// Every allocation is swept; every link call, every picture-memory read and
// every fourth other read, except in the steps that repeat the same calls: the
// converter programming (status polls around each converter word) and the
// tomographic readout (54 block reads), of which the first four and the last two
// calls or reads are taken and every kStride-th between; and the tomographic
// cycle's 54 pictures, of whose calls and reads every kStride-th is taken. The
// stuck and dead module start before every step with link calls, of the
// picture calls before every kPictureSteps-th.

#include <chrono>
#include <cstdlib>
#include <map>
#include <tuple>

#include "platform/system.h"
#include "state/context.h"
#include "support/support.h"

namespace {

constexpr std::int32_t kLinkError = -7, kDeadError = -31, kNoPicture = -1000;
constexpr std::uint64_t kStride = 13, kPictureSteps = 29;

struct Step {
    std::string name;
    std::function<std::int32_t()> call;
    char waits = 0;        // 'R': a ready check; 'C': converter waits, then a ready check
    bool repeats = false;  // the step repeats the same link calls
    bool picture = false;  // one of the tomographic picture calls
};

// What a failed allocation gives, by export.
const std::map<std::string, Codes> kNoMemory = {
    {"Tavirex_SetCommInit", {5}},           {"Tavirex_SetSensMduInit_Pano", {5}},
    {"Tavirex_SetSensMduInit_Ceph", {5}},   {"Tavirex_SetParamforPictEx", {-98, 5}},
    {"Tavirex_SetParamforPictEx_Ceph", {-98, 5}}, {"Tavirex_GetImageDataEx", {5}},
    {"Tavirex_ImageProcessingEx", {5, -96}}, {"Tavirex_SetSensMdulInit_Tomo", {5}},
    {"Tavirex_GetImageDataEx_Tomo", {5}},   {"Tavirex_ImageProcessingEx_Tomo", {5}},
    {"Tavirex_SetWindowPosAuto", {-95}},    {"Tavirex_SaveBitmapWindow", {-95, -93, 5}},
    {"Tavirex_MarkingInBitmap", {-95}},     {"Tavirex_MarkingInBitmap_Tomo", {-95}}};

enum Kind { kPano, kCeph, kTomo };

class SweepTest : public tvxtest::LibraryTest, public ::testing::WithParamInterface<Kind> {
protected:
    using Files = std::map<std::string, std::string>;
    const std::string config = dir.file("cycle.ini"), raw = dir.file("out.raw"), bmp = dir.file("out.bmp");
    std::vector<Step> steps;
    std::vector<std::string> outputs;
    uint32_t w = 0, h = 0;

    void SetUp() override {
        LibraryTest::SetUp();
        const Kind kind = GetParam();
        const std::string data = TVX_SOURCE_DIR "/data/";
        outputs = {raw, bmp};
        auto add = [&](const std::string& name, std::function<std::int32_t()> call, char waits = 0, bool picture = false) {
            steps.push_back(Step{name, std::move(call), waits, picture || waits == 'C', picture});
        };
        add("Tavirex_Init", [this] { return Tavirex_Init(config.c_str(), 1); });
        add("Tavirex_SetCommInit", [] { return Tavirex_SetCommInit(); });
        if (kind != kTomo) {
            tvxtest::write_file(config, tvxtest::cycle_config(tvxtest::calibration(), kind == kCeph ? "ceph" : "pano"));
            if (kind == kPano) {
                add("Tavirex_SetSensMduInit_Pano", [this] { return Tavirex_SetSensMduInit_Pano(config.c_str(), 1); }, 'R');
                add("Tavirex_SetParamforPictEx", [=] { return Tavirex_SetParamforPictEx((data + "speed_pano.txt").c_str(), 2, 10, 100); }, 'C');
            } else {
                add("Tavirex_SetSensMduInit_Ceph", [this] { return Tavirex_SetSensMduInit_Ceph(config.c_str(), 1, 1); }, 'R');
                add("Tavirex_SetParamforPictEx_Ceph", [=] { return Tavirex_SetParamforPictEx_Ceph((data + "speed_ceph.txt").c_str(), 1, 10, 100); }, 'C');
            }
            add("Tavirex_SetWaitXExpose", [] { return Tavirex_SetWaitXExpose(); }, 'R');
            add("Tavirex_CheckPictStatus", [] { return poll(Tavirex_CheckPictStatus); }, 'R');
            add("Tavirex_GetImageDataEx", [kind] { return Tavirex_GetImageDataEx(kind == kPano ? 2 : 1); }, 'R');
            add("Tavirex_ResetAll", [] { return Tavirex_ResetAll(); });
            add("Tavirex_SetDeviceFree", [] { return Tavirex_SetDeviceFree(); });
            add("Tavirex_ImageProcessingEx", [this] { return Tavirex_ImageProcessingEx(raw.c_str(), &w, &h); });
        } else {
            tvxtest::write_file(config, tvxtest::tomo_cycle_config() + "[ExOption]\r\nPictLineNum=2\r\n");
            add("Tavirex_Init_Tomo", [this] { return Tavirex_Init_Tomo(config.c_str(), 1); });
            add("Tavirex_SetSensMdulInit_Tomo", [] { return Tavirex_SetSensMdulInit_Tomo(0, 0); }, 'R');
            add("Tavirex_SetParamforPictEx_Tomo", [] { return Tavirex_SetParamforPictEx_Tomo(); }, 'C');
            add("Tavirex_SetWaitXExpose_Tomo", [] { return Tavirex_SetWaitXExpose_Tomo(); });
            for (std::uint32_t p = 0; p < 3 * 18; ++p) {
                const std::uint32_t kind_of = p % 18 == 17 ? 4 : p % 18 == 16 ? 3 : 1 + p % 2;
                add("Tavirex_SetTIMERandMODREG_Tomo", [=] { return Tavirex_SetTIMERandMODREG_Tomo(kind_of); }, 0, true);
                add("Tavirex_PictStartbyCommand_Tomo", [] { return Tavirex_PictStartbyCommand_Tomo(); }, 0, true);
                add("Tavirex_CheckPictStatus_Tomo", [] { return poll(Tavirex_CheckPictStatus_Tomo); }, 'R', true);
                add("Tavirex_GetEXTIMEandECTIME_Tomo", [=] { return Tavirex_GetEXTIMEandECTIME_Tomo(kind_of); }, 'R', true);
            }
            add("Tavirex_GetImageDataEx_Tomo", [] { return Tavirex_GetImageDataEx_Tomo(); }, 'R');
            steps.back().repeats = true;
            add("Tavirex_ResetAll_Tomo", [] { return Tavirex_ResetAll_Tomo(); });
            add("Tavirex_SetDeviceFree_Tomo", [] { return Tavirex_SetDeviceFree_Tomo(); });
            add("Tavirex_ImageProcessingEx_Tomo", [this] {
                return Tavirex_ImageProcessingEx_Tomo(raw.c_str(), reinterpret_cast<std::int32_t*>(&w),
                                                      reinterpret_cast<std::int32_t*>(&h), 0);
            });
            for (int k = 0; k < 3; ++k) outputs.push_back(dir.file("SegTomo0" + std::to_string(k) + ".dat"));
        }
        add("Tavirex_SetWindowPosAuto", [this] { return Tavirex_SetWindowPosAuto(raw.c_str(), int32_t(w), int32_t(h)); });
        add("Tavirex_SaveBitmapWindow", [this] { return Tavirex_SaveBitmapWindow(raw.c_str(), int32_t(w), int32_t(h), 8, 60, bmp.c_str()); });
        if (kind == kTomo) add("Tavirex_MarkingInBitmap_Tomo", [this] { return Tavirex_MarkingInBitmap_Tomo(bmp.c_str(), 1); });
        else add("Tavirex_MarkingInBitmap", [this] { return Tavirex_MarkingInBitmap(bmp.c_str(), 1); });
    }

    // The host polls the picture status until the picture bit shows.
    template <typename Check>
    static std::int32_t poll(Check check) {
        for (int polls = 0; polls < 50; ++polls) {
            std::uint8_t done = 0;
            if (const std::int32_t rc = check(&done); rc != 0 || done != 0) return rc;
        }
        return kNoPicture;
    }

    // A powered-up module as the tests take pictures with it.
    void power_cycle() {
        TvxSim_Reset();
        TvxSim_SetMode(TVXSIM_MODE_FLAT, nullptr);  // the quickest picture to render
        tvx::platform::test_skip_sleeps(true);
        if (GetParam() == kTomo) TvxSim_SetExposureReads(0);
    }

    // The steps until one fails: its index (steps.size(): none) and its code.
    std::pair<std::size_t, std::int32_t> run(const std::function<void(std::size_t)>& before = {}) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (before) before(i);
            if (const std::int32_t rc = steps[i].call(); rc != 0) return {i, rc};
        }
        return {steps.size(), 0};
    }

    Files existing() {
        Files f;
        for (const auto& p : outputs)
            if (tvxtest::file_exists(p)) f[p] = tvxtest::read_file(p);
        return f;
    }
    void remove_outputs() {
        for (const auto& p : outputs) std::remove(p.c_str());
    }
};

TEST_P(SweepTest, EveryFaultStopsTheCycleCleanlyAndTheNextCycleIsTheSame) {
    const auto started = std::chrono::steady_clock::now();
    // The reference: outputs before each step and at the end, and where each step's
    // allocations, link calls and reads begin.
    power_cycle();
    std::vector<Files> before(steps.size() + 1);
    std::vector<std::uint64_t> allocs(steps.size() + 1), calls(steps.size() + 1), reads(steps.size() + 1), pictures(steps.size() + 1);
    const auto mark = [&](std::size_t i) {
        allocs[i] = tvx::core::test_allocation_count();
        calls[i] = tvxtest::sim_stats().link_calls;
        reads[i] = tvxtest::sim_stats().reads;
        pictures[i] = tvxtest::sim_stats().picture_reads;
        if (i >= steps.size() - 4) before[i] = existing();
    };
    ASSERT_EQ(run(mark), std::make_pair(steps.size(), 0));
    mark(steps.size());
    const Files reference = before.back();
    ASSERT_EQ(reference.size(), outputs.size());
    remove_outputs();

    // One faulted run: the failing step and code, the files, then an undisturbed cycle.
    std::map<std::string, int> cases, seen;
    const auto sweep = [&](const std::string& kind, std::uint64_t n, std::size_t step, const Codes& codes, const std::function<void()>& arm,
                           const std::function<void(std::size_t)>& hook = {}) {
        // Under the sanitizers (a build six times slower) every allocation case runs and every third of the others;
        // under an emulator (qemu-i386, some forty times slower in these cycles) the first and every tenth of each kind.
        const int every = std::getenv("TAVIREX_TEST_EMULATOR") ? 10 : TVX_SANITIZED && kind != "allocation" ? 3 : 1;
        if (seen[kind]++ % every != 0) return;
        ++cases[kind];
        const std::string what = kind + " " + std::to_string(n);
        tvxtest::reset_library();
        power_cycle();
        const std::int64_t held = tvx::core::test_blocks_held();
        if (arm) arm();
        const auto [failed, rc] = run(hook);
        tvx::core::test_fail_allocation(0);
        TvxSim_ClearFaults();
        const std::string at = what + ": " + (failed < steps.size() ? steps[failed].name : "none") + " " + std::to_string(rc);
        EXPECT_EQ(failed, step) << at;
        EXPECT_TRUE(std::find(codes.begin(), codes.end(), rc) != codes.end()) << at;
        for (const auto& [path, bytes] : existing()) {
            const Files& expected = before[std::min(failed, steps.size())];
            const bool side = path.find("SegTomo") != std::string::npos;  // a frame's dump is complete when it exists
            EXPECT_TRUE(expected.count(path) ? expected.at(path) == bytes : side && reference.at(path) == bytes) << at << " " << path;
        }
        for (const auto& [path, bytes] : before[std::min(failed, steps.size())])
            EXPECT_TRUE(tvxtest::file_exists(path)) << at << " removed " << path;
        remove_outputs();
        power_cycle();
        EXPECT_EQ(run(), std::make_pair(steps.size(), 0)) << at << ": the next cycle";
        EXPECT_TRUE(existing() == reference) << at << ": the next cycle's files";
        remove_outputs();
        tvx::platform::on_library_unload();
        EXPECT_EQ(tvx::core::test_blocks_held(), held) << at;
    };
    const auto step_of = [&](const std::vector<std::uint64_t>& at, std::uint64_t n) {
        return static_cast<std::size_t>(std::upper_bound(at.begin(), at.end(), n - 1) - at.begin() - 1);
    };
    // Of a repeating step its first four and last two calls (or reads) and every kStride-th one between;
    // of the pictures every kStride-th.
    const auto sampled = [&](const std::vector<std::uint64_t>& at, std::uint64_t n) {
        const std::size_t s = step_of(at, n);
        const std::uint64_t k = n - at[s], count = at[s + 1] - at[s];
        if (steps[s].picture) return n % kStride == 0;
        return !steps[s].repeats || k <= 4 || k + 2 > count || k % kStride == 0;
    };

    for (std::uint64_t n = 1; n <= allocs.back(); ++n) {
        const std::size_t s = step_of(allocs, n);
        sweep("allocation", n, s, kNoMemory.count(steps[s].name) ? kNoMemory.at(steps[s].name) : Codes{},
              [n] { tvx::core::test_fail_allocation(n); });
    }
    for (std::uint64_t n = 1; n <= calls.back(); ++n)
        if (sampled(calls, n))
            sweep("link call", n, step_of(calls, n), {kLinkError},
                  [n] { TvxSim_SetFault(TVXSIM_FAULT_FAIL_CALL, static_cast<std::int32_t>(n), kLinkError); });
    for (std::uint64_t n = 1; n <= reads.back(); ++n)
        if (n % 4 == 0 && sampled(reads, n))
            sweep("short read", n, step_of(reads, n), {TAVIREX_E_SHORT_READ},
                  [n] { TvxSim_SetFault(TVXSIM_FAULT_SHORT_READ, static_cast<std::int32_t>(n), -1); });
    for (std::size_t i = 0; i < steps.size(); ++i)  // the readouts read the picture memory first
        for (std::uint64_t k = 1; k <= pictures[i + 1] - pictures[i]; ++k)
            if (sampled(reads, reads[i] + k)) sweep("short picture read", k, i, {TAVIREX_E_SHORT_READ}, {}, [i, k](std::size_t j) {
                if (j == i) TvxSim_SetFault(TVXSIM_FAULT_SHORT_READ, static_cast<std::int32_t>(k), -1);
            });
    // A stuck converter or a module never ready from before step i on: the first step that waits for it fails.
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (calls[i + 1] == calls[i] || (steps[i].picture && i % kPictureSteps != 0)) continue;
        for (const auto& [fault, code, waits] : {std::make_tuple(TVXSIM_FAULT_CONVERTER_BUSY, 2, "C"),
                                                 std::make_tuple(TVXSIM_FAULT_NEVER_READY, 1, "RC")}) {
            std::size_t first = i;
            while (first < steps.size() && (steps[first].waits == 0 || !std::strchr(waits, steps[first].waits))) ++first;
            if (first < steps.size())
                sweep(fault == TVXSIM_FAULT_NEVER_READY ? "never ready from step" : "converter busy from step", i, first, {code}, {},
                      [i, f = fault](std::size_t j) { if (j == i) TvxSim_SetFault(f, 1, 0); });
        }
        // A module that stops answering at the step's first call and half way through it, set through the
        // module's settings file.
        const std::uint64_t count = calls[i + 1] - calls[i];
        for (std::uint64_t half = 0; half < (count >= 2 ? 2u : 1u); ++half) {
            const std::uint64_t n = calls[i] + 1 + half * (count / 2);
            sweep("dead from call", n, i, {kDeadError}, [&, n] {
                tvxtest::write_file(dir.file("dead.txt"), "dead = " + std::to_string(n) + ", " + std::to_string(kDeadError) + "\n");
                ASSERT_EQ(TvxSim_LoadSettings(dir.file("dead.txt").c_str()), 0);
            });
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%zu steps, %llu allocations, %llu link calls, %llu reads in the cycle; %.1f s for the cases:\n", steps.size(),
                static_cast<unsigned long long>(allocs.back()), static_cast<unsigned long long>(calls.back()),
                static_cast<unsigned long long>(reads.back()), seconds);
    for (const auto& [kind, count] : cases) std::printf("  %4d %s\n", count, kind.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cycles, SweepTest, ::testing::Values(kPano, kCeph, kTomo));

}  // namespace
