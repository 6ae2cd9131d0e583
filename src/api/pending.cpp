// Exports whose subsystems are not part of this build yet. Each refuses with
// TAVIREX_E_NOT_AVAILABLE and does no work, so a host never mistakes one for success.
#include "tavirex.h"

extern "C" {

#define TVX_PENDING return TAVIREX_E_NOT_AVAILABLE


TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx_Tomo(const char*, int32_t*, int32_t*, int32_t) {
    TVX_PENDING;
}

#undef TVX_PENDING

}  // extern "C"
