// Panoramic and cephalometric acquisition exports: sensor initialisation,
// picture set-up, arming, status, readout and reset. Thin: the device layer
// does the work; each export that talks to the module returns 19 and calls
// nothing while no link library is loaded.
#include "state/context.h"
#include "device/picture.h"
#include "device/readout.h"
#include "device/sensor_init.h"
#include "tavirex.h"

using namespace tvx;

extern "C" {

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Pano(const char* configPath, uint32_t fpgaLoad) {
    return device::init_sensor_pano(Device, configPath, fpgaLoad);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetSensMduInit_Ceph(const char* configPath, uint32_t lateral,
                                                             uint32_t fpgaLoad) {
    return device::init_sensor_ceph(Device, configPath, lateral, fpgaLoad);
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
    const DeviceContext snapshot = Device;
    return device::arm(snapshot);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_CheckPictStatus(uint8_t* pictureStatus) {
    const DeviceContext snapshot = Device;
    return device::check_pict_status(snapshot, pictureStatus);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetImageDataEx(uint32_t segmentCount) {
    return device::read_image(Device, segmentCount);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_ResetAll(void) { return device::reset_module(); }

}  // extern "C"
