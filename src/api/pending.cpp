// Exports whose subsystems are not part of this build yet. Each refuses with
// TAVIREX_E_NOT_AVAILABLE and does no work, so a host never mistakes one for success.
#include "tavirex.h"

extern "C" {

#define TVX_PENDING return TAVIREX_E_NOT_AVAILABLE

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Pano(const char*, uint32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Ceph(const char*, uint32_t, uint32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx(const char*, uint32_t, uint32_t, uint32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx_Ceph(const char*, uint32_t, uint32_t, uint32_t) {
    TVX_PENDING;
}
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWaitXExpose(void) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus(uint8_t*) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx(uint32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll(void) { TVX_PENDING; }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmap(const char*, int32_t, int32_t, int32_t, int32_t, const char*) {
    TVX_PENDING;
}
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmap2(const char*, int32_t, int32_t, int32_t, int32_t, double, double,
                                                     double, const char*) {
    TVX_PENDING;
}
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SaveBitmapWindow(const char*, int32_t, int32_t, int32_t, int32_t,
                                                          const char*) {
    TVX_PENDING;
}
TAVIREX_API int32_t TAVIREX_STDCALL Tavirex_SaveBitmap3(const char*, int32_t, int32_t, int32_t, int32_t, double,
                                                        double, double, const char*) {
    TVX_PENDING;
}
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWindowPosAuto(const char*, int32_t, int32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_RawDatafile(const char*, int32_t, int32_t, int32_t, int32_t, const char*) {
    TVX_PENDING;
}
TAVIREX_API int32_t TAVIREX_CALL Tavirex_RawFileHorizontalMirror(const char*, int32_t, int32_t, const char*) {
    TVX_PENDING;
}
TAVIREX_API int32_t TAVIREX_CALL Tavirex_BitmapChange(const char*, double, double, double) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_MarkingInBitmap(const char*, int32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_MarkingInBitmap_Tomo(const char*, int32_t) { TVX_PENDING; }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_Init_Tomo(const char*, uint32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMdulInit_Tomo(uint32_t, uint32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx_Tomo(void) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll_Tomo(void) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWaitXExpose_Tomo(void) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetTIMERandMODREG_Tomo(uint32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus_Tomo(uint8_t*) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetEXTIMEandECTIME_Tomo(uint32_t) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx_Tomo(void) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_PictStartbyCommand_Tomo(void) { TVX_PENDING; }
TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx_Tomo(const char*, int32_t*, int32_t*, int32_t) {
    TVX_PENDING;
}

#undef TVX_PENDING

}  // extern "C"
