// Picture set-up of the panoramic and cephalometric modes: the picture blocks,
// the line clock table and the module programming before arming.
#pragma once

#include <cstdint>

#include "state/records.h"

namespace tvx::device {

// Checks the record's settings and table, then writes MODREG, loads the CCD
// control RAM with read-back verification, programs the front end and waits
// for the module to report ready. Changes nothing in the record.
std::int32_t picture_setup(const DeviceContext& record) noexcept;

// The whole set-up of Tavirex_SetParamforPictEx (ceph false) and its
// cephalometric twin on the live record: pass count check, new picture blocks,
// speed profile, table, record fields, picture set-up.
std::int32_t set_param_for_pict(DeviceContext& record, const char* speed_profile_path, std::uint32_t passes,
                                std::uint32_t interval_ms, std::uint32_t timelag_ms, bool ceph) noexcept;

}  // namespace tvx::device
