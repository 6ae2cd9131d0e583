// Arithmetic helpers shared by the processing steps.
#pragma once

#include <cstdint>

#include "core/geometry.h"

namespace tvx::processing {

// Double to 32-bit integer, truncating toward zero. A value that does not fit
// (or NaN) gives INT32_MIN, the "integer indefinite" of the x86 conversion the
// unit's builds use, so that no out-of-range conversion is ever undefined.
inline std::int32_t trunc_to_i32(double v) noexcept {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

inline std::int32_t trunc_to_i32(float v) noexcept { return trunc_to_i32(static_cast<double>(v)); }

// Limits to the 12-bit data range.
constexpr std::uint16_t clamp12(std::int64_t v) noexcept {
    return static_cast<std::uint16_t>(v < 0 ? 0 : (v > core::kSampleMax ? core::kSampleMax : v));
}

// Limits a value to the index range of a table with one entry per sample value.
constexpr std::uint32_t table_index(std::int64_t v) noexcept {
    return static_cast<std::uint32_t>(v < 0 ? 0 : (v > core::kSampleMax ? core::kSampleMax : v));
}

}  // namespace tvx::processing
