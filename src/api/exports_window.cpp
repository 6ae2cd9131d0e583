// Display window exports.
#include "output/window.h"
#include "tavirex.h"

extern "C" {

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWindowPos(int32_t center, int32_t width) {
    tvx::output::set_window(center, width);
    return TAVIREX_OK;
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetWindowCenter(void) { return tvx::output::Window.Center; }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetWindowWidth(void) { return tvx::output::Window.Width; }

}  // extern "C"
