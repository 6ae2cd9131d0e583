// Reader that fills TomoContext from the tomographic configuration file.
#pragma once

#include <cstdint>

#include "state/records.h"

namespace tvx::config {

// The waits between pictures, in milliseconds (section WAITTIME).
struct TomoWaits {
    std::uint16_t expose_to_dark;
    std::uint16_t dark_to_expose;
};

// Reads every configuration key of the tomographic record in table order and
// sets width 128, height 2304 and strip count 8. The acquisition state (frames,
// counters, exposure-time lists) is left as it is. Never fails: a missing file,
// section or key gives the key's default.
void read_tomo_keys(TomoContext& record, TomoWaits& waits, const char* path) noexcept;

}  // namespace tvx::config
