// The half turn that ends the pipeline. Pixel i changes place with pixel
// N - 1 - i, so the turn is done in place and needs no second image.
#include <algorithm>

#include "tavirex.h"
#include "tomo_processing/finishing.h"

namespace tvx::tomo {

std::int32_t rotate_half_turn(const TomoFrame& frame) noexcept {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    std::reverse(frame.data, frame.data + static_cast<std::size_t>(frame.width) * frame.height);
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
