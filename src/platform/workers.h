// Worker threads inside one call (fork-join). A call hands `count` independent
// tasks to run_parallel, which runs them on up to worker_count() threads, the
// calling thread included, and returns only when every task has finished and
// every thread it started has been joined. No thread is started at load or
// unload, none outlives the call. Tasks must write disjoint outputs and compute
// each value exactly as a single-threaded loop would, so results never depend on
// the thread count or on which thread ran which task.
//
// Tasks do not allocate: a step takes its per-worker work space before the fork
// (so the Nth-allocation failure tests stay deterministic and a failure returns
// the step's own code).
#pragma once

#include <cstdint>
#include <type_traits>

namespace tvx::platform {

// Most threads a call may use. TAVIREX_THREADS in the environment (1..64) sets
// it; otherwise the machine's processors, at most 8. 1 runs every task on the
// calling thread, in order.
unsigned worker_count() noexcept;

// Test-only switch: while n is not 0, worker_count() is n whatever the environment says.
void test_set_worker_count(unsigned n) noexcept;

using TaskFunction = void (*)(void* context, std::uint32_t index);

// Runs task(context, i) for every i in [0, count). Tasks are taken in index
// order by whichever thread is free. A thread that cannot be started costs only
// speed: the threads that did start (at least the calling one) run its share.
// Called from inside a task, it runs the tasks in order on that task's thread.
void run_parallel(std::uint32_t count, TaskFunction task, void* context) noexcept;

// The same with any callable taking the task index (it must not throw).
template <typename Fn>
void run_parallel(std::uint32_t count, Fn&& fn) noexcept {
    run_parallel(
        count, [](void* context, std::uint32_t index) { (*static_cast<std::remove_reference_t<Fn>*>(context))(index); },
        const_cast<void*>(static_cast<const void*>(&fn)));
}

// Band b of `parts` equal bands of [0, total): [total * b / parts, total * (b + 1) / parts).
inline std::uint32_t band_start(std::uint32_t total, std::uint32_t parts, std::uint32_t b) noexcept {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(total) * b / parts);
}

// Bands for `rows` rows: one per worker, but none smaller than `min_rows` (at least 1 band).
std::uint32_t band_count(std::uint32_t rows, std::uint32_t min_rows) noexcept;

}  // namespace tvx::platform
