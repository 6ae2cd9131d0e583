// Sensor module initialisation: selects the panoramic or cephalometric mode,
// reads the mode's settings into the record and loads the mode's FPGA configuration.
#pragma once

#include <cstdint>

#include "state/context.h"

namespace tvx::device {

// Panoramic mode. The result is that of FPGA loading.
std::int32_t init_sensor_pano(DeviceContext& record, const char* config_path, std::uint32_t fpga_load) noexcept;

// Cephalometric mode; `lateral` selects the lateral-view settings.
std::int32_t init_sensor_ceph(DeviceContext& record, const char* config_path, std::uint32_t lateral,
                              std::uint32_t fpga_load) noexcept;

}  // namespace tvx::device
