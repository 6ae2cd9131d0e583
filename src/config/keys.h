// Typed reads of configuration keys, cut to the width of the field they fill,
// shared by the readers of both records.
#pragma once

#include <cstdint>

#include "core/intmath.h"
#include "platform/profile.h"

namespace tvx::config {

inline std::uint8_t u8_key(const char* section, const char* key, std::int32_t fallback, const char* path) {
    return core::low8(platform::profile_int(section, key, fallback, path));
}
inline std::uint16_t u16_key(const char* section, const char* key, std::int32_t fallback, const char* path) {
    return core::low16(platform::profile_int(section, key, fallback, path));
}
// Ratio keys hold thousandths (or tenths); the value is signed like the Windows reader's result.
inline double scaled_key(const char* section, const char* key, std::int32_t fallback, double scale, const char* path) {
    return static_cast<double>(static_cast<std::int32_t>(platform::profile_int(section, key, fallback, path))) * scale;
}

}  // namespace tvx::config
