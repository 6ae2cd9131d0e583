#include "device/sensor_init.h"

#include "device/fpga.h"

namespace tvx::device {

std::int32_t init_sensor_pano(DeviceContext& record, std::uint32_t fpga_load) noexcept {
    record.FpgaLoad = fpga_load != 0 ? 1 : 0;
    record.CephMode = 0;
    record.ProcessFlags[kBriSmooth] = record.ProcessFlags[kBriSmoothPano];
    return load_fpga(record);
}

std::int32_t init_sensor_ceph(DeviceContext& record, std::uint32_t fpga_load) noexcept {
    record.FpgaLoad = fpga_load != 0 ? 1 : 0;
    record.CephMode = 1;
    record.ProcessFlags[kBriSmooth] = record.ProcessFlags[kBriSmoothCeph];
    return load_fpga(record);
}

}  // namespace tvx::device
