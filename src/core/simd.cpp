#include "core/simd.h"

namespace tvx::core {
namespace {
bool g_plain = false;  // single-threaded by contract, like the allocation switch
}  // namespace

bool fast_paths() noexcept { return TVX_SSE2 != 0 && !g_plain; }

void test_use_plain_paths(bool plain) noexcept { g_plain = plain; }

}  // namespace tvx::core
