// Step 7: noise removal. Every inner pixel takes the one value of its 3 x 3
// window that lies closest to the window's mean: isolated spikes go, and only
// values that occur in the image are kept.
#include <cstring>

#include "core/alloc.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kStrip = 1024;  // columns handled at a time, with scratch on the stack

// One strip of one row: output columns x0 .. x0 + len - 1 (all inner columns).
// The window values are visited in the fixed order top-left .. bottom-right and
// a later value replaces the pick only when strictly closer, so ties go to the
// earlier value. Written as plain loops over the strip so that they vectorise.
void strip(const std::uint16_t* r0, const std::uint16_t* r1, const std::uint16_t* r2, std::uint16_t* out,
           std::uint32_t x0, std::uint32_t len) {
    std::uint16_t mean[kStrip];
    std::uint16_t best[kStrip];
    std::uint16_t pick[kStrip];
    const std::uint16_t* a = r0 + x0;
    const std::uint16_t* b = r1 + x0;
    const std::uint16_t* c = r2 + x0;
    for (std::size_t i = 0; i < len; ++i) {
        // The window sum is kept in 16 bits, as the mean of 12-bit values needs no more.
        const std::uint16_t sum = static_cast<std::uint16_t>(a[i - 1] + a[i] + a[i + 1] + b[i - 1] + b[i] + b[i + 1] +
                                                             c[i - 1] + c[i] + c[i + 1]);
        mean[i] = static_cast<std::uint16_t>(sum / 9);
        best[i] = 4095;
        pick[i] = b[i];
    }
    const std::uint16_t* rows[3] = {r0, r1, r2};
    for (int dy = 0; dy < 3; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const std::uint16_t* src = rows[dy] + x0 + dx;
            for (std::size_t i = 0; i < len; ++i) {
                const std::uint16_t v = src[i];
                const std::uint16_t m = mean[i];
                const std::uint16_t diff = static_cast<std::uint16_t>(m > v ? m - v : v - m);
                const bool closer = diff < best[i];
                best[i] = closer ? diff : best[i];
                pick[i] = closer ? v : pick[i];
            }
        }
    std::memcpy(out + x0, pick, sizeof(std::uint16_t) * len);
}

}  // namespace

std::int32_t remove_noise(ImageView block) {
    core::Buffer<std::uint16_t> work(block.pixels());
    if (!work.ok()) return TAVIREX_E_NO_MEMORY;
    const std::uint32_t w = block.width;
    const std::uint32_t h = block.height;
    if (w < 3 || h < 3) return TAVIREX_OK;
    std::memcpy(work.data(), block.data, work.bytes());

    for (std::uint32_t y = 1; y + 1 < h; ++y) {
        std::uint16_t* out = work.data() + static_cast<std::size_t>(y) * w;
        for (std::uint32_t x0 = 1; x0 + 1 < w; x0 += kStrip) {
            const std::uint32_t len = (w - 1 - x0) < kStrip ? (w - 1 - x0) : kStrip;
            strip(block.row(y - 1), block.row(y), block.row(y + 1), out, x0, len);
        }
    }
    std::memcpy(block.data, work.data(), work.bytes());
    return TAVIREX_OK;
}

}  // namespace tvx::processing
