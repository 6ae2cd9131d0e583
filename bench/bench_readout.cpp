// Readout copy (12-bit masking, cephalometric row packing) of a synthetic raw
// block, against a memory-copy floor of the same image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "device/readout.h"

namespace {

std::vector<std::uint8_t> raw_block(std::size_t rows) {
    std::vector<std::uint8_t> raw(rows * tvx::device::kModuleRowBytes);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i * 131 + 7);
    return raw;
}

void run_copy(benchmark::State& state, std::size_t rows, std::size_t samples) {
    const auto raw = raw_block(rows);
    std::vector<std::uint16_t> image(rows * samples);
    for (auto _ : state) {
        tvx::device::copy_readout(raw.data(), rows, samples, image.data());
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size() * 2));
}

void run_floor(benchmark::State& state, std::size_t bytes) {
    std::vector<std::uint8_t> from(bytes, 0x5A), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_ReadoutCopyPano(benchmark::State& state) { run_copy(state, 1536, 4096); }
void BM_MemcpyFloorPano(benchmark::State& state) { run_floor(state, 1536u * 4096u * 2u); }
void BM_ReadoutCopyCeph(benchmark::State& state) { run_copy(state, 2304, 3500); }
void BM_MemcpyFloorCeph(benchmark::State& state) { run_floor(state, 2304u * 3500u * 2u); }

}  // namespace

BENCHMARK(BM_ReadoutCopyPano)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyFloorPano)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadoutCopyCeph)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyFloorCeph)->Repetitions(9)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
