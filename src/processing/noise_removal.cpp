// Step 7: noise removal. Every inner pixel takes the one value of its 3 x 3
// window that lies closest to the window's mean: isolated spikes go, and only
// values that occur in the image are kept.
#include <cstring>

#include "core/alloc.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {

std::int32_t remove_noise(ImageView block) {
    core::Buffer<std::uint16_t> work(block.pixels());
    if (!work.ok()) return TAVIREX_E_NO_MEMORY;
    const std::uint32_t w = block.width;
    const std::uint32_t h = block.height;
    if (w < 3 || h < 3) return TAVIREX_OK;
    std::memcpy(work.data(), block.data, work.bytes());

    for (std::uint32_t y = 1; y + 1 < h; ++y) {
        const std::uint16_t* r0 = block.row(y - 1);
        const std::uint16_t* r1 = block.row(y);
        const std::uint16_t* r2 = block.row(y + 1);
        std::uint16_t* out = work.data() + static_cast<std::size_t>(y) * w;
        for (std::uint32_t x = 1; x + 1 < w; ++x) {
            const std::uint16_t v[9] = {r0[x - 1], r0[x], r0[x + 1], r1[x - 1], r1[x],
                                        r1[x + 1], r2[x - 1], r2[x], r2[x + 1]};
            std::uint32_t sum = 0;
            for (int i = 0; i < 9; ++i) sum += v[i];
            // The window sum is kept in 16 bits, as the mean of 12-bit values needs no more.
            const std::int32_t mean = static_cast<std::uint16_t>(sum) / 9;
            std::int32_t best = 4095;
            std::uint16_t pick = out[x];
            for (int i = 0; i < 9; ++i) {
                const std::int32_t diff = mean > v[i] ? mean - v[i] : v[i] - mean;
                const bool closer = diff < best;
                best = closer ? diff : best;
                pick = closer ? v[i] : pick;
            }
            out[x] = pick;
        }
    }
    std::memcpy(block.data, work.data(), work.bytes());
    return TAVIREX_OK;
}

}  // namespace tvx::processing
