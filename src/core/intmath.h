// The library's integer conversions. Each name says what happens to a value
// out of the target's range, so that the intent of each narrowing is visible at
// the call site; results are the same in the 64-bit and the 32-bit build.
#pragma once

#include <cstdint>

#include "core/geometry.h"

namespace tvx::core {

// ---- Wrapping: the low bits are kept ----------------------------------------
constexpr std::uint8_t low8(std::uint64_t v) noexcept { return static_cast<std::uint8_t>(v & 0xFFu); }
constexpr std::uint16_t low16(std::uint64_t v) noexcept { return static_cast<std::uint16_t>(v & 0xFFFFu); }
// Reinterprets the low 16 bits as a two's-complement signed value.
constexpr std::int16_t as_s16(std::uint64_t v) noexcept {
    const std::uint16_t u = low16(v);
    return static_cast<std::int16_t>(u >= 0x8000u ? static_cast<std::int32_t>(u) - 0x10000 : u);
}
// Wraps an integer into 0..65535 as unsigned 16-bit arithmetic does.
constexpr std::uint16_t wrap16(std::int64_t v) noexcept { return static_cast<std::uint16_t>(v & 0xFFFF); }

// ---- Clamping: a value out of range becomes the nearer limit ----------------
template <typename T>
constexpr T clamp_to(T v, T lo, T hi) noexcept {
    return v < lo ? lo : (v > hi ? hi : v);
}

// Limits to the 12-bit sample range 0..4095 (also the index range of a table
// with one entry per sample value).
constexpr std::uint16_t clamp_to_12bit(std::int64_t v) noexcept {
    return static_cast<std::uint16_t>(clamp_to<std::int64_t>(v, 0, kSampleMax));
}

// ---- Truncation toward zero -------------------------------------------------
// Only for a value known to fit an int64: out of range (or NaN) is undefined.
constexpr std::int64_t trunc_to_i64_unchecked(double v) noexcept { return static_cast<std::int64_t>(v); }

// Saturates at the int64 limits; NaN gives 0. For values from the configuration,
// which no range check bounds.
constexpr std::int64_t trunc_to_i64_saturating(double v) noexcept {
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (v != v) return 0;
    if (v >= kLimit) return INT64_MAX;
    if (v <= -kLimit) return INT64_MIN;
    return static_cast<std::int64_t>(v);
}

// A value that does not fit an int32 (or NaN) gives INT32_MIN, the "integer
// indefinite" of the x86 conversion the unit's builds use, so that no
// out-of-range conversion is ever undefined.
constexpr std::int32_t trunc_to_i32_or_min(double v) noexcept {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}
constexpr std::int32_t trunc_to_i32_or_min(float v) noexcept { return trunc_to_i32_or_min(static_cast<double>(v)); }

// Clamped into 0..top: a value at or below 0, and NaN, gives 0; one at or above
// top gives top.
constexpr std::uint32_t trunc_clamped_to(double v, std::uint32_t top) noexcept {
    return !(v > 0.0) ? 0u : (v >= top ? top : static_cast<std::uint32_t>(v));
}

}  // namespace tvx::core
