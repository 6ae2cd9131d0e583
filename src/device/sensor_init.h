// Sensor module initialisation: selects the panoramic or cephalometric mode in a
// record the export has filled from the mode's configuration keys, and loads the
// mode's FPGA configuration.
#pragma once

#include <cstdint>

#include "state/records.h"

namespace tvx::device {

// Panoramic mode; `fpga_load` nonzero asks for the FPGA configuration to be
// loaded (the record's load flag becomes 1). The result is that of FPGA loading.
std::int32_t init_sensor_pano(DeviceContext& record, std::uint32_t fpga_load) noexcept;

// Cephalometric mode, likewise.
std::int32_t init_sensor_ceph(DeviceContext& record, std::uint32_t fpga_load) noexcept;

}  // namespace tvx::device
