// Opening the link and loading the module's boot program.
#pragma once

#include <cstdint>

#include "state/records.h"

namespace tvx::device {

// Loads the link library, opens the LAN link and loads the boot program into
// module `index` (skipped while a booted module still answers). Works on the live record.
std::int32_t comm_init(DeviceContext& record, std::uint32_t index) noexcept;

// The steps after loading: opens the link once per load (EtherReady) and boots
// module `index` on the link library that is loaded now.
std::int32_t open_and_boot(const DeviceContext& record, std::uint32_t index) noexcept;

}  // namespace tvx::device
