// Cropping of the joined image by its four configured margins.
#include <cstring>

#include "tavirex.h"
#include "tomo_processing/finishing.h"

namespace tvx::tomo {

std::int32_t crop_frame(TomoFrame& frame, const CropMargins& margins) noexcept {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    const std::uint32_t w = frame.width;
    const std::uint32_t h = frame.height;
    // Summed in 32 bits: two 16-bit margins must not wrap past the check.
    const std::uint32_t rows_cut = std::uint32_t{margins.top} + margins.bottom;
    const std::uint32_t cols_cut = std::uint32_t{margins.left} + margins.right;
    if (rows_cut > h || cols_cut > w) return TAVIREX_E_RANGE;
    const std::uint32_t nw = w - cols_cut;
    const std::uint32_t nh = h - rows_cut;
    if (nw == 0 || nh == 0) {
        frame.width = frame.height = 0;
        return TAVIREX_OK;
    }
    // Every row moves towards the start, never past a row still to be read.
    for (std::uint32_t y = 0; y < nh; ++y)
        std::memmove(frame.data + static_cast<std::size_t>(y) * nw,
                     frame.data + static_cast<std::size_t>(y + margins.top) * w + margins.left,
                     sizeof(std::uint16_t) * nw);
    frame.width = static_cast<std::uint16_t>(nw);
    frame.height = static_cast<std::uint16_t>(nh);
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
