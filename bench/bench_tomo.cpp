// The tomographic pipeline: one frame through process_tomo_frame with every
// default step, the three-frame export, each with 1, 2 and all workers (the
// argument; 0: all), and two floors: a memory copy of one frame (10,616,832
// bytes) and writing the export's output file once (replacing it).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/alloc.h"
#include "output/raw_file.h"
#include "state/context.h"
#include "bench_support.h"
#include "tavirex.h"
#include "tomo_processing/pipeline.h"

namespace {

constexpr std::size_t kBlock = 128u * 2304u, kFrame = 18 * kBlock;

struct Scene {
    std::vector<std::uint16_t> raw, work;
    std::string config = "/tmp/tavirex-bench-tomo.ini", out = "/tmp/tavirex-bench-tomo.raw";

    Scene() : raw(kFrame), work(kFrame) {
        // Strips of a smooth scene over a dark level; dark blocks and the calibration pair at the dark level.
        for (std::size_t b = 0; b < 18; ++b)
            for (std::size_t r = 0; r < 2304; ++r)
                for (std::size_t c = 0; c < 128; ++c) {
                    const double dark = 300 + 0.05 * r + (r * 7 + c * 13) % 9;
                    const double x = (b / 2) * 112.0 + c;
                    const double signal = b % 2 == 0 && b < 16 ? 3000 + 1500 * std::sin(x / 90.0) * std::cos(r / 170.0) : 0;
                    raw[b * kBlock + r * 128 + c] = static_cast<std::uint16_t>(dark + signal);
                }
        // Unit gain and zero offset tables, one noise row, the strip cuts of the simulated sensor.
        std::string gain = "B1a", offset = "B1b";
        const float one = 1.0f, zero = 0.0f;
        for (std::size_t i = 0; i < kBlock; ++i) {
            gain.append(reinterpret_cast<const char*>(&one), 4);
            offset.append(reinterpret_cast<const char*>(&zero), 4);
        }
        write("/tmp/B1a.tbl", gain);
        write("/tmp/B1b.tbl", offset);
        write("/tmp/B1.dat", std::string("\x01\x00\x9D\x01\x01\x00", 6));
        std::string ini = "[REFFILE]\nFOLDER=/tmp/\n[SENSOR_ID]\nSENSOR_ID=B1\n[ExOption]\nPictLineNum=2\n[PUTIMAGES]\n";
        for (int s = 0; s < 8; ++s) ini += "LEFTCUT" + std::to_string(s) + "=4\nRIGHTCUT" + std::to_string(s) + "=4\n";
        write(config, ini);
    }
    static void write(const std::string& path, const std::string& bytes) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return;
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    // The record as a readout of `frames` frames leaves it.
    void arm(std::uint16_t frames) {
        Tavirex_Init(config.c_str(), 1);
        Tavirex_Init_Tomo(config.c_str(), 1);
        tvx::Tomo.FrameCount = frames;
        tvx::Tomo.FrameStrips = 8;
        tvx::Tomo.BitDepth = 13;
        tvx::Tomo.MaxPixelValue = 8191;
        for (std::uint16_t k = 0; k < frames; ++k) {
            tvx::Tomo.FrameList[k] = static_cast<std::uint16_t*>(tvx::core::allocate(kFrame * 2));
            std::memcpy(tvx::Tomo.FrameList[k], raw.data(), kFrame * 2);
        }
    }
};

using tvxbench::PeakMemory;
using tvxbench::Workers;

Scene& scene() {
    static Scene s;
    return s;
}

void BM_MemoryCopyFrame(benchmark::State& state) {
    Scene& s = scene();
    for (auto _ : state) {
        std::memcpy(s.work.data(), s.raw.data(), kFrame * 2);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemoryCopyFrame)->Unit(benchmark::kMillisecond);

void BM_ImageProcessing4TomoC(benchmark::State& state) {
    Scene& s = scene();
    const Workers workers(state);
    PeakMemory peak(state);
    Tavirex_Init_Tomo(s.config.c_str(), 1);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(s.work.data(), s.raw.data(), kFrame * 2);
        tvx::tomo::TomoFrame f{s.work.data(), kFrame, 128, 2304, 8, 13, 8191};
        peak.start();
        state.ResumeTiming();
        if (tvx::tomo::process_tomo_frame(tvx::Tomo, f) != 0) state.SkipWithError("processing failed");
        peak.stop();
    }
}
BENCHMARK(BM_ImageProcessing4TomoC)->Arg(1)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ImageProcessingEx_Tomo_3Frames(benchmark::State& state) {
    Scene& s = scene();
    const Workers workers(state);
    PeakMemory peak(state);
    for (auto _ : state) {
        state.PauseTiming();
        s.arm(3);
        peak.start();
        state.ResumeTiming();
        std::int32_t w = 0, h = 0;
        if (Tavirex_ImageProcessingEx_Tomo(s.out.c_str(), &w, &h, 0) != 0) state.SkipWithError("processing failed");
        peak.stop();
    }
}
BENCHMARK(BM_ImageProcessingEx_Tomo_3Frames)->Arg(1)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond);

// The file floor of the export: its output (the size one run gives) written once.
void BM_WriteOutputFile(benchmark::State& state) {
    Scene& s = scene();
    s.arm(3);
    std::int32_t w = 0, h = 0;
    if (Tavirex_ImageProcessingEx_Tomo(s.out.c_str(), &w, &h, 0) != 0) state.SkipWithError("processing failed");
    const std::vector<std::uint16_t> image(static_cast<std::size_t>(w) * h, 1000);
    for (auto _ : state)
        if (!tvx::output::write_raw_image(s.out.c_str(), image.data(), w, h)) state.SkipWithError("write failed");
    state.counters["bytes"] = static_cast<double>(image.size() * 2);
}
BENCHMARK(BM_WriteOutputFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
