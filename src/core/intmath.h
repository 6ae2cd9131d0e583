// Named integer conversions, so that the intent of each narrowing is visible
// at the call site and can be tested on its own.
#pragma once

#include <cstdint>

namespace tvx::core {

constexpr std::uint8_t low8(std::uint64_t v) noexcept { return static_cast<std::uint8_t>(v & 0xFFu); }
constexpr std::uint16_t low16(std::uint64_t v) noexcept { return static_cast<std::uint16_t>(v & 0xFFFFu); }
// Reinterprets the low 16 bits as a two's-complement signed value.
constexpr std::int16_t as_s16(std::uint64_t v) noexcept {
    const std::uint16_t u = low16(v);
    return static_cast<std::int16_t>(u >= 0x8000u ? static_cast<std::int32_t>(u) - 0x10000 : u);
}
// Wraps an integer into 0..65535 as unsigned 16-bit arithmetic does.
constexpr std::uint16_t wrap16(std::int64_t v) noexcept { return static_cast<std::uint16_t>(v & 0xFFFF); }

template <typename T>
constexpr T clamp_to(T v, T lo, T hi) noexcept {
    return v < lo ? lo : (v > hi ? hi : v);
}

// Truncation toward zero of a double that is known to fit an int64.
constexpr std::int64_t trunc_to_int(double v) noexcept { return static_cast<std::int64_t>(v); }

}  // namespace tvx::core
