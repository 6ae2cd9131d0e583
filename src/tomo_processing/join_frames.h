// Joining processed tomographic frames side by side into the raw output file.
// The pieces (frames and separator bands) are laid out in memory first, as
// views of images the caller keeps, and the file is written once at the end.
#pragma once

#include <cstdint>

#include "core/image.h"
#include "state/records.h"

namespace tvx::tomo {

// One piece of the joined image: the image's rows top .. top + joined height - 1,
// or, for a band (no data), `width` columns of `value`.
struct JoinedPiece {
    const std::uint16_t* data = nullptr;
    std::uint32_t width = 0;
    std::size_t stride = 0;  // words from one row of the image to the next
    std::uint32_t top = 0;
    std::uint16_t value = 0;
};

// The joined image so far: 0 x 0 before the first image.
struct JoinedImage {
    static constexpr std::uint32_t kMostPieces = 8;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t count = 0;
    JoinedPiece pieces[kMostPieces];
};

// Places `image` to the right of the joined image. Images are joined at the smaller
// height: the taller side loses (taller - shorter) / 2 rows at its top and the rest
// at its bottom, so pieces placed earlier lose rows at every join that makes the
// image shorter. An empty image changes nothing. The image must stay alive until the
// joined image is written. 0, or 3 when the joined width would not fit 16 bits or
// the pieces are used up.
std::int32_t add_image_columns(JoinedImage& joined, core::ImageView image) noexcept;

// Places a band of `band_width` columns, every pixel `value`, at the joined height,
// and records its first column in `bands` (at most 10 positions). A band of no
// columns adds nothing but is still recorded. 0 or 3 (as add_image_columns).
std::int32_t add_separator_band(JoinedImage& joined, std::uint32_t band_width, std::uint16_t value,
                                SeparatorLines& bands) noexcept;

// Writes the joined image to `path` in one pass, row after row, under the replace
// rule of output files: no file is left when it cannot be written whole.
// 0, 5 or 8 (the file cannot be created or written).
std::int32_t write_joined_image(const char* path, const JoinedImage& joined) noexcept;

}  // namespace tvx::tomo
