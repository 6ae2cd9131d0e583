// A non-owning view of a 16-bit image: `height` rows of `width` pixels, each row
// `stride` words after the one before. The stride defaults to the width (rows with
// no padding); a block inside a wider image is a view with the image's row length
// as its stride. Processing steps are free functions over views.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::core {

struct ImageView {
    std::uint16_t* data = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::size_t stride = width;

    // Pixels of a view without padding (stride == width).
    std::size_t pixels() const noexcept { return static_cast<std::size_t>(width) * height; }
    std::uint16_t* row(std::uint32_t y) const noexcept { return data + static_cast<std::size_t>(y) * stride; }
    std::uint16_t& at(std::uint32_t x, std::uint32_t y) const noexcept { return row(y)[x]; }
};

// True when no pixel of the view exceeds 4095.
bool twelve_bit(ImageView view) noexcept;

}  // namespace tvx::core
