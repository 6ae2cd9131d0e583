// Line clock table build from a speed profile (acceleration, cruise,
// deceleration at 10 ms per sample), against a memory-copy floor of the table.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "device/line_clock.h"

namespace {

// Symmetric, so the in-place reversal after each pass leaves it as it was.
std::vector<float> profile(int ramp, int cruise) {
    std::vector<float> v;
    for (int i = 0; i < ramp; ++i) v.push_back(5.0f + 35.0f * static_cast<float>(i) / static_cast<float>(ramp));
    v.insert(v.end(), cruise, 40.0f);
    for (int i = ramp - 1; i >= 0; --i) v.push_back(5.0f + 35.0f * static_cast<float>(i) / static_cast<float>(ramp));
    return v;
}

void run_table(benchmark::State& state, std::uint32_t passes, std::vector<float> speeds) {
    std::vector<std::uint16_t> table(4096), pass(4096);
    std::uint16_t start[4], width[4];
    for (auto _ : state) {
        const auto rc = tvx::device::build_clock_table(passes - 1, passes, speeds.data(), speeds.size(), 10, 100,
                                                       table.data(), 4096, pass.data(), start, width);
        if (rc != 0) state.SkipWithError("table build failed");
        benchmark::DoNotOptimize(table.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8192);
}

void BM_ClockTable1Pass(benchmark::State& state) { run_table(state, 1, profile(50, 400)); }
void BM_ClockTable4Passes(benchmark::State& state) { run_table(state, 4, profile(20, 110)); }

void BM_TableMemcpyFloor(benchmark::State& state) {
    std::vector<std::uint16_t> from(4096, 30), to(4096);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), 8192);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8192);
}

}  // namespace

BENCHMARK(BM_ClockTable1Pass)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_ClockTable4Passes)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_TableMemcpyFloor)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
