// Unloading the library (or the end of the process) releases the picture blocks
// and the tomographic frames.
#include "platform/system.h"
#include "state/context.h"

namespace tvx::platform {

void on_library_unload() noexcept {
    release_picture_blocks();
    release_tomo_frames(Tomo);
}

}  // namespace tvx::platform
