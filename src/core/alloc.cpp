#include "core/alloc.h"

#include <cstdlib>

namespace tvx::core {
namespace {
// Plain globals: the library is single-threaded by contract.
std::uint64_t g_fail_at = 0;
bool g_fail_sticky = false;
std::uint64_t g_count = 0;
std::int64_t g_held = 0;
std::size_t g_largest = 0;
}  // namespace

void* allocate(std::size_t bytes) noexcept {
    ++g_count;
    if (bytes > g_largest) g_largest = bytes;
    if (g_fail_at != 0 && (g_count == g_fail_at || (g_fail_sticky && g_count > g_fail_at))) return nullptr;
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) ++g_held;
    return block;
}

void release(void* block) noexcept {
    if (block == nullptr) return;
    --g_held;
    std::free(block);
}

void test_fail_allocation(std::uint64_t nth, bool sticky) noexcept {
    g_fail_at = nth;
    g_fail_sticky = sticky;
    g_count = 0;
    g_largest = 0;
}

std::uint64_t test_allocation_count() noexcept { return g_count; }
std::int64_t test_blocks_held() noexcept { return g_held; }
std::size_t test_largest_request() noexcept { return g_largest; }

}  // namespace tvx::core
