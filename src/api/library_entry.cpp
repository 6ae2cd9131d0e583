// Load and unload notifications: unloading the library releases the picture blocks.
#include "api/context.h"
#include "link/link.h"

#if defined(_WIN32)
#include <windows.h>

#if defined(TAVIREX_SHARED_BUILD)
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) tvx::release_picture_blocks();
    return TRUE;
}
#endif

#else

namespace {
// Runs when the shared library is unloaded or the process exits.
__attribute__((destructor)) void release_at_unload() { tvx::release_picture_blocks(); }
}  // namespace

#endif
