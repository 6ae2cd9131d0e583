// Bitmap export of a 4096 x 1536 panoramic image, measured beside a memory copy
// of the same image (the floor). The raw file stays in the page cache. The
// exports and the filter run with 1, 2 and all workers (argument 0).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "output/bitmap.h"
#include "output/enhance.h"
#include "bench_support.h"
#include "tavirex.h"

namespace {

constexpr int kWidth = 4096;
constexpr int kHeight = 1536;

struct Files {
    std::string raw, bmp;
    std::vector<std::uint16_t> pixels;
    Files() {
        const char* tmp = std::getenv("TMPDIR");
        const std::string dir = tmp != nullptr ? tmp : "/tmp";
        raw = dir + "/tavirex-bench-bitmap.raw";
        bmp = dir + "/tavirex-bench-bitmap.bmp";
        pixels.resize(static_cast<std::size_t>(kWidth) * kHeight);
        std::uint32_t seed = 1;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int v = 600 + (x * 2500) / kWidth + (y * 600) / kHeight + static_cast<int>(seed >> 28);
                pixels[static_cast<std::size_t>(y) * kWidth + x] = static_cast<std::uint16_t>(v);
            }
        std::FILE* f = std::fopen(raw.c_str(), "wb");
        if (f == nullptr || std::fwrite(pixels.data(), 2, pixels.size(), f) != pixels.size()) std::abort();
        std::fclose(f);
        Tavirex_SetWindowPos(2048, 4096);
    }
    ~Files() {
        std::remove(raw.c_str());
        std::remove(bmp.c_str());
    }
};

Files& files() {
    static Files f;
    return f;
}

void BM_MemcpyFloor(benchmark::State& state) {
    const auto& src = files().pixels;
    std::vector<std::uint16_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * 2);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

// The file side alone, as the exports do it: the bitmap-sized file deleted,
// created and written in 256 KB blocks; the raw file read in 256 KB blocks.
void BM_FileWriteFloor(benchmark::State& state) {
    Files& f = files();
    const std::vector<std::uint8_t> block(256 * 1024, 7);
    const std::size_t bytes = 1078 + static_cast<std::size_t>(kWidth) * kHeight;
    for (auto _ : state) {
        std::remove(f.bmp.c_str());
        std::FILE* out = std::fopen(f.bmp.c_str(), "wb");
        for (std::size_t done = 0; out != nullptr && done < bytes; done += block.size())
            std::fwrite(block.data(), 1, std::min(block.size(), bytes - done), out);
        if (out == nullptr || std::fclose(out) != 0) state.SkipWithError("write failed");
    }
}

void BM_FileReadFloor(benchmark::State& state) {
    Files& f = files();
    std::vector<std::uint8_t> block(256 * 1024);
    for (auto _ : state) {
        std::FILE* in = std::fopen(f.raw.c_str(), "rb");
        while (in != nullptr && std::fread(block.data(), 1, block.size(), in) == block.size()) {
        }
        if (in == nullptr) state.SkipWithError("read failed");
        else std::fclose(in);
        benchmark::DoNotOptimize(block.data());
    }
}

using tvxbench::PeakMemory;
using tvxbench::Workers;

void BM_SaveBitmapWindowFiltered(benchmark::State& state) {
    Files& f = files();
    const Workers workers(state);
    PeakMemory peak(state);
    for (auto _ : state) {
        peak.start();
        if (Tavirex_SaveBitmapWindow(f.raw.c_str(), kWidth, kHeight, 3, 80, f.bmp.c_str()) != 0) state.SkipWithError("failed");
        peak.stop();
    }
}

void BM_SaveBitmapWindowPlain(benchmark::State& state) {
    Files& f = files();
    const Workers workers(state);
    PeakMemory peak(state);
    for (auto _ : state) {
        peak.start();
        if (Tavirex_SaveBitmapWindow(f.raw.c_str(), kWidth, kHeight, 0, 0, f.bmp.c_str()) != 0) state.SkipWithError("failed");
        peak.stop();
    }
}

void BM_SaveBitmap2Filtered(benchmark::State& state) {
    Files& f = files();
    const Workers workers(state);
    PeakMemory peak(state);
    for (auto _ : state) {
        peak.start();
        if (Tavirex_SaveBitmap2(f.raw.c_str(), kWidth, kHeight, 3, 80, 0.8, 0.0, 1.0, f.bmp.c_str()) != 0)
            state.SkipWithError("failed");
        peak.stop();
    }
}

void BM_EnhanceA(benchmark::State& state) {
    const auto& src = files().pixels;
    const Workers workers(state);
    std::vector<std::uint16_t> dst(src.size());
    for (auto _ : state) {
        tvx::output::enhance_a(src.data(), dst.data(), kWidth, kHeight, 3, 80, 4095);
        benchmark::DoNotOptimize(dst.data());
    }
}

void BM_MapThroughTable(benchmark::State& state) {
    const auto& src = files().pixels;
    std::vector<std::uint8_t> dst(src.size());
    std::uint8_t table[4096];
    tvx::output::build_window_table(table, 4095, false);
    for (auto _ : state) {
        tvx::output::map_through_table(src.data(), dst.data(), src.size(), table, 4095);
        benchmark::DoNotOptimize(dst.data());
    }
}

#define TVX_BENCH(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true)
#define TVX_BENCH_WORKERS(fn) TVX_BENCH(fn)->Arg(1)->Arg(2)->Arg(0)
TVX_BENCH(BM_MemcpyFloor);
TVX_BENCH(BM_FileWriteFloor);
TVX_BENCH(BM_FileReadFloor);
TVX_BENCH_WORKERS(BM_SaveBitmapWindowFiltered);
TVX_BENCH_WORKERS(BM_SaveBitmapWindowPlain);
TVX_BENCH_WORKERS(BM_SaveBitmap2Filtered);
TVX_BENCH_WORKERS(BM_EnhanceA);
TVX_BENCH(BM_MapThroughTable);

}  // namespace

BENCHMARK_MAIN();
