#include "core/alloc.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace tvx::core {
namespace {
// Atomic: worker threads inside a call may allocate too. The test switches are
// set between calls, never while workers run.
std::uint64_t FailAt = 0;
bool FailSticky = false;
std::atomic<std::uint64_t> AllocationCount{0};
std::atomic<std::int64_t> BlocksHeld{0};
std::atomic<std::size_t> LargestRequest{0};
std::atomic<std::size_t> BytesHeld{0};
std::atomic<std::size_t> PeakBytes{0};
std::size_t PeakBase = 0;

// In the benchmark build each block carries its size in front of it (for the
// peak of the bytes held), in a header as large as malloc's alignment so the
// caller's part keeps that alignment. Elsewhere blocks are malloc's own, so the
// sanitizers see every byte before and after them.
#if defined(TAVIREX_MEMORY_PEAK)
constexpr std::size_t kHeader = alignof(std::max_align_t);
#else
constexpr std::size_t kHeader = 0;
#endif

void raise_to(std::atomic<std::size_t>& most, std::size_t value) noexcept {
    for (std::size_t seen = most.load(); value > seen && !most.compare_exchange_weak(seen, value);) {
    }
}
}  // namespace

void* allocate(std::size_t bytes) noexcept {
    const std::uint64_t nth = AllocationCount.fetch_add(1) + 1;
    raise_to(LargestRequest, bytes);
    if (FailAt != 0 && (nth == FailAt || (FailSticky && nth > FailAt))) return nullptr;
    if (bytes > SIZE_MAX - kHeader) return nullptr;
    auto* base = static_cast<unsigned char*>(std::malloc(kHeader + bytes));
    if (base == nullptr) return nullptr;
    ++BlocksHeld;
    if constexpr (kHeader != 0) {
        std::memcpy(base, &bytes, sizeof bytes);
        raise_to(PeakBytes, BytesHeld.fetch_add(bytes) + bytes);
    }
    return base + kHeader;
}

void release(void* block) noexcept {
    if (block == nullptr) return;
    unsigned char* base = static_cast<unsigned char*>(block) - kHeader;
    --BlocksHeld;
    if constexpr (kHeader != 0) {
        std::size_t bytes;
        std::memcpy(&bytes, base, sizeof bytes);
        BytesHeld.fetch_sub(bytes);
    }
    std::free(base);
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
void test_reset_peak_bytes() noexcept { PeakBytes = PeakBase = BytesHeld.load(); }
std::size_t test_peak_bytes() noexcept { return PeakBytes - PeakBase; }

}  // namespace tvx::core
