#include "core/simd.h"

namespace tvx::core {
namespace {
bool PlainPaths = false;  // single-threaded by contract, like the allocation switch
}  // namespace

bool fast_paths() noexcept { return TVX_SSE2 != 0 && !PlainPaths; }

void test_use_plain_paths(bool plain) noexcept { PlainPaths = plain; }

}  // namespace tvx::core
