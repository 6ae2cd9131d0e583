// The display window: a center and a width in data units, mapped onto the 256
// grey levels of a bitmap. One window for the whole library.
#pragma once

#include <cstdint>

namespace tvx::output {

struct DisplayWindow {
    std::int32_t Center;
    std::int32_t Width;
    double Slope;
    double Offset;
};

// The module-wide window; all zero before the first set.
extern DisplayWindow Window;

// Stores center and width and derives slope and offset.
void set_window(std::int32_t center, std::int32_t width) noexcept;

// Grey level 0..255 of a data value under the current window.
std::uint8_t window_map(std::uint32_t value) noexcept;

}  // namespace tvx::output
