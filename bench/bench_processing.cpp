// The panoramic processing export on a 4096 x 1536 two-pass picture with every
// default step, each step alone, and a memory copy of the same image as the floor.
// The export and the whole-image steps run with 1, 2 and all workers (argument 0).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "state/context.h"
#include "processing/pipeline.h"
#include "processing/steps.h"
#include "bench_support.h"
#include "tavirex.h"

namespace {

constexpr std::uint32_t kW = 4096, kH = 1536;

struct Scene {
    std::vector<std::uint16_t> raw, image, clock;
    std::string dir, calib, lines, config, out;

    Scene() {
        raw.resize(kW * kH);
        for (std::uint32_t y = 0; y < kH; ++y)
            for (std::uint32_t x = 0; x < kW; ++x)
                raw[y * kW + x] = static_cast<std::uint16_t>(
                    1500 + 800 * std::sin(x / 300.0) * std::cos(y / 200.0) + ((x * 7 + y * 13) % 31));
        image = raw;
        clock.resize(4096);
        for (std::uint32_t i = 0; i < 4096; ++i) clock[i] = static_cast<std::uint16_t>(40 + (i * 37) % 200);
        dir = "/tmp";
        calib = dir + "/tavirex-bench-calib.bin";
        lines = dir + "/tavirex-bench-lines.dat";
        config = dir + "/tavirex-bench.ini";
        out = dir + "/tavirex-bench-out.raw";
        std::vector<std::uint16_t> table(static_cast<std::size_t>(kH) * 4096);
        for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint16_t>(i % 4096 * 15 / 16);
        write(calib, table.data(), table.size() * 2);
        const std::uint16_t band[3] = {1, 900, 2};
        write(lines, band, sizeof band);
        const std::string ini = "[ExOption]\nPictLineNum=2\n";
        write(config, ini.data(), ini.size());
    }
    static void write(const std::string& path, const void* data, std::size_t n) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return;
        std::fwrite(data, 1, n, f);
        std::fclose(f);
    }
    // The record as the readout of a two-pass picture leaves it, with the default settings.
    void arm() {
        std::memcpy(image.data(), raw.data(), raw.size() * 2);
        tvx::DeviceContext& d = tvx::Device;
        d = tvx::DeviceContext{};
        d.ImageBuffer = image.data();
        d.ImageWidth = kW;
        d.ImageHeight = kH;
        d.ClockMode = 1;
        d.SegmentCount = 2;
        d.ClockTable = clock.data();
        d.ClockTableLength = 4096;
        for (std::size_t i = 0; i < tvx::kProcessFlagCount; ++i) d.ProcessFlags[i] = 1;
        d.ProcessFlags[tvx::kGammaCorrForCephalo] = 0;
        std::strcpy(d.CalibDataPath, calib.c_str());
        std::strcpy(d.CorrLineDataPath, lines.c_str());
        const std::uint16_t xy[tvx::kXyCorrCount] = {0, 0, 768, 767, 0, 0, 2, 3, 1, 0, 1, 1};
        std::memcpy(d.XyCorr, xy, sizeof xy);
        for (int k = 0; k < 2; ++k) d.SegmentStart[k] = 4, d.SegmentWidth[k] = 1900;
        d.AveRange = d.AveRangeLow = 80;
        d.ChgSumRange = 30;
        d.ManySideCutRatio = d.FewSideCutRatio = 0.001;
        d.SecondBriScaleSelect = 7;
        d.SimaRange = 1.5;
        d.SmoothRange = 200;
        std::strcpy(tvx::ConfigPath, config.c_str());
        tvx::PassCount = 2;
        tvx::ReadSegments = 2;
        tvx::PictureStage = tvx::kPictureReadOut;  // stands for the readout that filled the image
    }
};

Scene& scene() {
    static Scene s;
    return s;
}

void BM_MemoryCopy(benchmark::State& state) {
    Scene& s = scene();
    for (auto _ : state) {
        std::memcpy(s.image.data(), s.raw.data(), s.raw.size() * 2);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemoryCopy)->Unit(benchmark::kMillisecond);

// The output file alone: a file of the processed picture's size (two 1900-column
// blocks and one 8-column band) deleted, created and written in 256 KB blocks.
void BM_RawWriteFloor(benchmark::State& state) {
    Scene& s = scene();
    const std::size_t bytes = 2 * static_cast<std::size_t>(3808) * kH;
    for (auto _ : state) {
        std::remove(s.out.c_str());
        std::FILE* out = std::fopen(s.out.c_str(), "wb");
        for (std::size_t done = 0; out != nullptr && done < bytes; done += 256 * 1024)
            std::fwrite(s.raw.data(), 1, std::min<std::size_t>(256 * 1024, bytes - done), out);
        if (out == nullptr || std::fclose(out) != 0) state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_RawWriteFloor)->Unit(benchmark::kMillisecond);

using tvxbench::PeakMemory;
using tvxbench::Workers;

void BM_ImageProcessingEx(benchmark::State& state) {
    Scene& s = scene();
    const Workers workers(state);
    PeakMemory peak(state);
    for (auto _ : state) {
        state.PauseTiming();
        s.arm();
        peak.start();
        state.ResumeTiming();
        std::uint32_t w = 0, h = 0;
        if (Tavirex_ImageProcessingEx(s.out.c_str(), &w, &h) != 0) state.SkipWithError("processing failed");
        peak.stop();
    }
}
BENCHMARK(BM_ImageProcessingEx)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(2)->Arg(0);

// One step on the whole image (steps 1 to 5) or on one 2048-column block (steps 7 to 11).
template <typename Fn>
void run_step(benchmark::State& state, bool block, Fn&& fn) {
    Scene& s = scene();
    const Workers workers(state);
    for (auto _ : state) {
        state.PauseTiming();
        s.arm();
        tvx::core::ImageView v{s.image.data(), block ? 2048u : kW, kH};
        state.ResumeTiming();
        fn(v);
    }
}

void BM_Step1_DarkOffset(benchmark::State& state) {
    run_step(state, false, [](tvx::core::ImageView v) {
        tvx::processing::remove_dark_offset(v, tvx::processing::dark_offset_params(tvx::Device));
    });
}
void BM_Step2_Shading(benchmark::State& state) {
    run_step(state, false, [](tvx::core::ImageView v) { tvx::processing::correct_shading(v, scene().calib.c_str()); });
}
void BM_Step3_InjectionLines(benchmark::State& state) {
    run_step(state, false,
             [](tvx::core::ImageView v) { tvx::processing::correct_injection_lines(v, scene().lines.c_str(), true); });
}
void BM_Step4_5_JoinAndFill(benchmark::State& state) {
    run_step(state, false, [](tvx::core::ImageView v) {
        std::uint32_t w, h;
        tvx::processing::join_ccd_chips(v, 0, 767, 0, &w, &h);
        tvx::processing::fill_opening_pano(v, tvx::Device.XyCorr);
    });
}
void BM_Step7_Noise(benchmark::State& state) {
    run_step(state, true, [](tvx::core::ImageView v) { tvx::processing::remove_noise(v); });
}
void BM_Step8_JointSmoothing(benchmark::State& state) {
    run_step(state, true, [](tvx::core::ImageView v) {
        tvx::processing::smooth_joint_brightness(v, tvx::processing::JointSmoothingParams{});
    });
}
void BM_Step9_BrightnessScale(benchmark::State& state) {
    run_step(state, true, [](tvx::core::ImageView v) { tvx::processing::correct_brightness_scale(7, v, 0.001, 0.001); });
}
void BM_Step10_ContrastEmphasis(benchmark::State& state) {
    run_step(state, true, [](tvx::core::ImageView v) { tvx::processing::emphasise_contrast(v, 1.5, 200); });
}
BENCHMARK(BM_Step1_DarkOffset)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(2)->Arg(0);
BENCHMARK(BM_Step2_Shading)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(2)->Arg(0);
BENCHMARK(BM_Step3_InjectionLines)->Unit(benchmark::kMillisecond)->Arg(1);
BENCHMARK(BM_Step4_5_JoinAndFill)->Unit(benchmark::kMillisecond)->Arg(1);
BENCHMARK(BM_Step7_Noise)->Unit(benchmark::kMillisecond)->Arg(1);
BENCHMARK(BM_Step8_JointSmoothing)->Unit(benchmark::kMillisecond)->Arg(1);
BENCHMARK(BM_Step9_BrightnessScale)->Unit(benchmark::kMillisecond)->Arg(1);
BENCHMARK(BM_Step10_ContrastEmphasis)->Unit(benchmark::kMillisecond)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
