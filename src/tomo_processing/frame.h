// A tomographic frame as the pipeline steps see it: the image at the start of
// the frame buffer and its present geometry. Steps that change the geometry
// (dropping the dark blocks, binning, joining, cropping) update the fields; the
// driver copies them back into the tomographic record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/geometry.h"
#include "core/image.h"

namespace tvx::tomo {

// Fixed geometry of the strip sensor as captured: 2(n+1) blocks of 2304 rows by
// 128 columns, three chips of 768 rows.
constexpr std::uint16_t kStripWidth = core::kTomoColumns;
constexpr std::uint16_t kStripHeight = core::kTomoRows;
constexpr std::uint16_t kStripCount = core::kTomoStrips;
constexpr std::uint32_t kChipRows = core::kChipRows;

struct TomoFrame {
    std::uint16_t* data = nullptr;  // the frame buffer; the image always starts here
    std::size_t capacity = 0;       // pixels the buffer holds
    std::uint16_t width = 0;        // columns of one block (of the whole image after joining)
    std::uint16_t height = 0;       // rows
    std::uint16_t strips = 0;       // strip count n: 8 as captured, 1 after joining
    std::uint16_t bit_depth = 0;    // significant bits per pixel (13 as captured)
    std::uint16_t max_value = 0;    // clamp limit of every step (8191 as captured)

    // Block b (0 .. 2n+1 before the dark blocks are dropped, 0 .. n-1 after) as a view.
    core::ImageView block(std::uint32_t b) const noexcept {
        const std::size_t size = static_cast<std::size_t>(width) * height;
        return core::ImageView{data + size * b, width, height};
    }
};

}  // namespace tvx::tomo
