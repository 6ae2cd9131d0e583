// What the benchmarks share: the worker count of a run and the peak memory of
// the measured call.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>

#include "core/alloc.h"
#include "platform/workers.h"

namespace tvxbench {

// The worker count of a run (its argument; 0: the machine's), restored when the run ends.
struct Workers {
    explicit Workers(const benchmark::State& state) {
        tvx::platform::test_set_worker_count(static_cast<unsigned>(state.range(0)));
    }
    ~Workers() { tvx::platform::test_set_worker_count(0); }
};

// The most heap the library held at once during a measured call, beyond what it
// held before (`start` just before the call, `stop` after); the run prints the
// largest as the counter peak_MB.
class PeakMemory {
public:
    explicit PeakMemory(benchmark::State& state) : state_(state) {}
    ~PeakMemory() { state_.counters["peak_MB"] = static_cast<double>(most_) / 1e6; }
    PeakMemory(const PeakMemory&) = delete;
    PeakMemory& operator=(const PeakMemory&) = delete;
    void start() { tvx::core::test_reset_peak_bytes(); }
    void stop() { most_ = std::max(most_, tvx::core::test_peak_bytes()); }

private:
    benchmark::State& state_;
    std::size_t most_ = 0;
};

}  // namespace tvxbench
