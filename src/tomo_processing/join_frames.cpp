#include "tomo_processing/join_frames.h"

#include <algorithm>
#include <cstring>

#include "core/alloc.h"
#include "output/raw_file.h"
#include "tavirex.h"

namespace tvx::tomo {

std::int32_t append_image_columns(const char* path, JoinedSize& joined, core::ImageView image) noexcept {
    if (image.width == 0 || image.height == 0) return TAVIREX_OK;
    if (image.width > UINT16_MAX || image.height > UINT16_MAX) return TAVIREX_E_RANGE;
    if (joined.width == 0 || joined.height == 0) {
        if (!output::write_raw_image(path, image.data, image.width, image.height)) return TAVIREX_E_DATA_FILE;
        joined = {static_cast<std::uint16_t>(image.width), static_cast<std::uint16_t>(image.height)};
        return TAVIREX_OK;
    }
    const std::uint32_t width = joined.width + image.width;
    if (width > UINT16_MAX) return TAVIREX_E_RANGE;
    const std::uint32_t height = std::min<std::uint32_t>(joined.height, image.height);
    // The taller image loses half the difference at its top (the odd row at its bottom).
    const std::uint32_t stored_skip = (joined.height - height) / 2;
    const std::uint32_t image_skip = (image.height - height) / 2;

    // A stored image that cannot be read back would silently drop the frames before;
    // that is a failure, not an empty start.
    if (!output::raw_file_holds(path, joined.width, joined.height)) return TAVIREX_E_DATA_FILE;
    core::Buffer<std::uint16_t> stored(static_cast<std::size_t>(joined.width) * joined.height);
    core::Buffer<std::uint16_t> result(static_cast<std::size_t>(width) * height);
    if (!stored.ok() || !result.ok()) return TAVIREX_E_NO_MEMORY;
    if (!output::read_raw_image(path, stored.data(), joined.width, joined.height)) return TAVIREX_E_DATA_FILE;
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint16_t* out = result.data() + static_cast<std::size_t>(y) * width;
        std::memcpy(out, stored.data() + static_cast<std::size_t>(y + stored_skip) * joined.width, joined.width * 2u);
        std::memcpy(out + joined.width, image.row(y + image_skip), image.width * 2u);
    }
    if (!output::write_raw_image(path, result.data(), width, height)) return TAVIREX_E_DATA_FILE;
    joined = {static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)};
    return TAVIREX_OK;
}

std::int32_t append_separator_band(const char* path, JoinedSize& joined, std::uint32_t band_width, std::uint16_t value,
                                 SeparatorLines& bands) noexcept {
    if (band_width > UINT16_MAX) return TAVIREX_E_RANGE;
    const std::size_t pixels = static_cast<std::size_t>(band_width) * joined.height;
    core::Buffer<std::uint16_t> band(pixels);
    if (!band.ok()) return TAVIREX_E_NO_MEMORY;
    std::fill(band.data(), band.data() + pixels, value);
    const std::uint32_t before = joined.width;
    const std::int32_t rc = append_image_columns(path, joined, core::ImageView{band.data(), band_width, joined.height});
    if (rc != 0) return rc;
    if (bands.Count < 10) bands.Position[bands.Count++] = before;
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
