#include "core/alloc.h"

#include <atomic>
#include <cstdlib>

namespace tvx::core {
namespace {
// Atomic: worker threads inside a call may allocate too. The test switches are
// set between calls, never while workers run.
std::uint64_t FailAt = 0;
bool FailSticky = false;
std::atomic<std::uint64_t> AllocationCount{0};
std::atomic<std::int64_t> BlocksHeld{0};
std::atomic<std::size_t> LargestRequest{0};
}  // namespace

void* allocate(std::size_t bytes) noexcept {
    const std::uint64_t nth = AllocationCount.fetch_add(1) + 1;
    for (std::size_t largest = LargestRequest.load(); bytes > largest && !LargestRequest.compare_exchange_weak(largest, bytes);) {
    }
    if (FailAt != 0 && (nth == FailAt || (FailSticky && nth > FailAt))) return nullptr;
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) ++BlocksHeld;
    return block;
}

void release(void* block) noexcept {
    if (block == nullptr) return;
    --BlocksHeld;
    std::free(block);
}

void test_fail_allocation(std::uint64_t nth, bool sticky) noexcept {
    FailAt = nth;
    FailSticky = sticky;
    AllocationCount = 0;
    LargestRequest = 0;
}

std::uint64_t test_allocation_count() noexcept { return AllocationCount; }
std::int64_t test_blocks_held() noexcept { return BlocksHeld; }
std::size_t test_largest_request() noexcept { return LargestRequest; }

}  // namespace tvx::core
