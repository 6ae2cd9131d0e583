// A non-owning view of a 16-bit image: `height` rows of `width` pixels, row
// after row with no padding. Processing steps are free functions over views.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::core {

struct ImageView {
    std::uint16_t* data = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    std::size_t pixels() const noexcept { return static_cast<std::size_t>(width) * height; }
    std::uint16_t* row(std::uint32_t y) const noexcept { return data + static_cast<std::size_t>(y) * width; }
    std::uint16_t& at(std::uint32_t x, std::uint32_t y) const noexcept { return row(y)[x]; }
};

}  // namespace tvx::core
