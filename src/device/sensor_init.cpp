#include "device/sensor_init.h"

#include "config/device_config.h"
#include "device/fpga.h"
#include "tavirex.h"

namespace tvx::device {

std::int32_t init_sensor_pano(DeviceContext& record, const char* config_path, std::uint32_t fpga_load) noexcept {
    if (config_path == nullptr) return TAVIREX_E_RANGE;
    config::read_pano_keys(record, config_path);
    record.FpgaLoad = fpga_load != 0 ? TAVIREX_E_NOT_READY : TAVIREX_OK;
    record.CephMode = 0;
    record.ProcessFlags[kBriSmooth] = record.ProcessFlags[kBriSmoothPano];
    const DeviceContext snapshot = record;
    return load_fpga(snapshot);
}

std::int32_t init_sensor_ceph(DeviceContext& record, const char* config_path, std::uint32_t lateral,
                              std::uint32_t fpga_load) noexcept {
    if (config_path == nullptr) return TAVIREX_E_RANGE;
    config::read_ceph_keys(record, config_path, lateral != 0);
    record.FpgaLoad = fpga_load != 0 ? TAVIREX_E_NOT_READY : TAVIREX_OK;
    record.CephMode = 1;
    record.ProcessFlags[kBriSmooth] = record.ProcessFlags[kBriSmoothCeph];
    const DeviceContext snapshot = record;
    return load_fpga(snapshot);
}

}  // namespace tvx::device
