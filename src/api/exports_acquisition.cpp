// Panoramic and cephalometric acquisition exports: sensor initialisation,
// picture set-up, arming, status, readout and reset. Thin: the device layer
// does the work; each export that talks to the module returns 19 and calls
// nothing while no link library is loaded.
#include "config/device_config.h"
#include "device/picture.h"
#include "device/readout.h"
#include "device/sensor_init.h"
#include "state/context.h"
#include "tavirex.h"

using namespace tvx;

extern "C" {

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Pano(const char* configPath, uint32_t fpgaLoad) {
    if (configPath == nullptr) return TAVIREX_E_RANGE;
    config::read_pano_keys(Device, configPath);
    return device::init_sensor_pano(Device, fpgaLoad);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Ceph(const char* configPath, uint32_t lateral,
                                                             uint32_t fpgaLoad) {
    if (configPath == nullptr) return TAVIREX_E_RANGE;
    config::read_ceph_keys(Device, configPath, lateral != 0);
    return device::init_sensor_ceph(Device, fpgaLoad);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx(const char* speedProfilePath, uint32_t passCount,
                                                           uint32_t sampleIntervalMs, uint32_t timeLagMs) {
    return device::set_param_for_pict(Device, speedProfilePath, passCount, sampleIntervalMs, timeLagMs, false);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetParamforPictEx_Ceph(const char* speedProfilePath, uint32_t passCount,
                                                                uint32_t sampleIntervalMs, uint32_t timeLagMs) {
    return device::set_param_for_pict(Device, speedProfilePath, passCount, sampleIntervalMs, timeLagMs, true);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetWaitXExpose(void) {
    return device::arm(Device);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus(uint8_t* pictureStatus) {
    return device::check_pict_status(Device, pictureStatus);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx(uint32_t segmentCount) {
    return device::read_image(Device, segmentCount);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll(void) { return device::reset_module(); }

}  // extern "C"
