// Tomographic exports: argument checks, then the tomographic device layer or pipeline.
#include "config/tomo_config.h"
#include "state/context.h"
#include "tavirex.h"
#include "tomo_device/sequences.h"
#include "tomo_processing/pipeline.h"

using namespace tvx;

extern "C" {

TAVIREX_API int32_t TAVIREX_CALL Tavirex_Init_Tomo(const char* configPath, uint32_t serialMode) {
    if (!keep_config_path(configPath, TomoConfigPath)) return TAVIREX_E_RANGE;
    SerialPassThrough = serialMode;
    config::TomoWaits waits{};
    config::read_tomo_keys(Tomo, waits, TomoConfigPath);
    take_debug_flags(Tomo);
    ExposeToDarkWait = waits.expose_to_dark;
    DarkToExposeWait = waits.dark_to_expose;
    return TAVIREX_OK;
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMdulInit_Tomo(uint32_t, uint32_t) {
    // A new acquisition: the frames of the last one, if never processed, go now.
    Tomo.CountedPictures = 0;
    Tomo.ExposurePictures = 0;
    Tomo.FrameCount = 0;
    release_tomo_frames(Tomo);
    return tomo_device::initialise_module(Tomo);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx_Tomo(void) { return tomo_device::program_front_end(Tomo); }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll_Tomo(void) { return tomo_device::reset_module(); }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWaitXExpose_Tomo(void) { return tomo_device::arm(Tomo); }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetTIMERandMODREG_Tomo(uint32_t pictureKind) {
    return tomo_device::prepare_picture(Tomo, pictureKind, {ExposeToDarkWait, DarkToExposeWait});
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_PictStartbyCommand_Tomo(void) { return tomo_device::start_picture(); }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus_Tomo(uint8_t* pictureStatus) {
    return tomo_device::picture_status(Tomo, pictureStatus);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetEXTIMEandECTIME_Tomo(uint32_t pictureKind) {
    return tomo_device::read_exposure_times(Tomo, pictureKind);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx_Tomo(void) { return tomo_device::read_frames(Tomo); }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx_Tomo(const char* outputPath, int32_t* width, int32_t* height,
                                                                int32_t reverseOrder) {
    return tomo::process_tomo_export(outputPath, width, height, reverseOrder != 0);
}

}  // extern "C"
