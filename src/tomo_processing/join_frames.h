// Joining processed tomographic frames side by side in the raw output file.
#pragma once

#include <cstdint>

#include "core/image.h"
#include "state/records.h"

namespace tvx::tomo {

// Size of the image the output file holds so far; 0 x 0 before the first frame.
struct JoinedSize {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
};

// Appends `image` to the right of the image in the file at `path`. The first image
// creates the file. Later ones are joined at the smaller height: the taller image
// loses (taller - shorter) / 2 rows at its top and the rest at its bottom.
// An empty image changes nothing. Results: 0; 3 when the joined width would not
// fit 16 bits; 5; 8 when the file cannot be read (a stored image that is
// missing or short) or written (no file is left then).
std::int32_t append_image_columns(const char* path, JoinedSize& joined, core::ImageView image) noexcept;

// Appends a band of `band_width` columns, every pixel `value`, at the joined
// height, and records its first column in `bands` (at most 10 positions).
// A band of no columns appends nothing but is still recorded.
std::int32_t append_separator_band(const char* path, JoinedSize& joined, std::uint32_t band_width, std::uint16_t value,
                                 SeparatorLines& bands) noexcept;

}  // namespace tvx::tomo
