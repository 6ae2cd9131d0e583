#include "output/save_bitmap.h"

#include <algorithm>

#include "core/alloc.h"
#include "core/intmath.h"
#include "output/bitmap.h"
#include "output/enhance.h"
#include "output/raw_file.h"
#include "tavirex.h"

namespace tvx::output {

std::int32_t save_bitmap(const BitmapRequest& rq) noexcept {
    if (!bitmap_sizes_ok(rq.width, rq.height)) return TAVIREX_E_OUTPUT_MEMORY;
    const std::uint32_t width = static_cast<std::uint32_t>(rq.width);
    const std::uint32_t height = static_cast<std::uint32_t>(rq.height);
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    if (!raw_file_holds(rq.rawPath, width, height)) return TAVIREX_E_INPUT_FILE;
    const bool gamma3 = rq.mapping == BitmapMapping::Gamma3;
    // Tavirex_SaveBitmap3 always filters; the others when distance and gain are both set.
    const bool filter = gamma3 || (rq.filterDistance != 0 && rq.filterGain != 0);
    // The filter sees only the low 8 bits of the distance and the low 16 bits of the gain.
    const std::uint8_t distance = core::low8(static_cast<std::uint32_t>(rq.filterDistance));
    const std::uint16_t gain = core::low16(static_cast<std::uint32_t>(rq.filterGain));
    const std::uint32_t maximum = gamma3 ? kMaximum12Bit : rq.maximum;

    core::Buffer<std::uint16_t> raw(pixels);
    core::Buffer<std::uint16_t> enhanced;
    if (filter && rq.mapping != BitmapMapping::Window && !enhanced.reset(pixels)) return TAVIREX_E_OUTPUT_MEMORY;
    core::Buffer<std::uint8_t> image(pixels);
    const bool plain = rq.mapping == BitmapMapping::Shift && !filter;
    core::Buffer<std::uint8_t> table(static_cast<std::size_t>(plain ? kMaximum12Bit : maximum) + 1);
    if (!raw.ok() || !image.ok() || !table.ok()) return TAVIREX_E_OUTPUT_MEMORY;
    if (!read_raw_image(rq.rawPath, raw.data(), width, height)) return TAVIREX_E_INPUT_FILE;

    const std::uint16_t* source = raw.data();
    std::uint32_t sourceMaximum = maximum;
    switch (rq.mapping) {
        case BitmapMapping::Shift:
            if (filter) {
                if (!enhance_a(raw.data(), enhanced.data(), width, height, distance, gain, maximum))
                    return TAVIREX_E_OUTPUT_MEMORY;
                source = enhanced.data();
                build_shift_table(table.data(), maximum);
            } else {
                // 12-bit data; a raw value above 4095 counts as 4095.
                build_plain_table(table.data());
                sourceMaximum = kMaximum12Bit;
            }
            break;
        case BitmapMapping::Gamma:
            if (filter) {
                if (!enhance_a(raw.data(), enhanced.data(), width, height, distance, gain, maximum))
                    return TAVIREX_E_OUTPUT_MEMORY;
                source = enhanced.data();
            }
            build_gamma_table(table.data(), maximum, rq.gamma, rq.offset, rq.slope);
            break;
        case BitmapMapping::Gamma3:
            for (std::size_t i = 0; i < pixels; ++i)
                raw[i] = static_cast<std::uint16_t>(std::min<std::uint32_t>(raw[i] + 1024u, kMaximum12Bit));
            if (!enhance_b(raw.data(), enhanced.data(), width, height, distance, gain)) return TAVIREX_E_OUTPUT_MEMORY;
            source = enhanced.data();
            build_gamma_table3(table.data(), rq.gamma, rq.offset, rq.slope);
            break;
        case BitmapMapping::Window:
            if (filter) {
                // This export reports a missing enhanced image as a bitmap not written.
                if (!enhanced.reset(pixels)) return TAVIREX_E_OUTPUT_FILE;
                if (!enhance_a(raw.data(), enhanced.data(), width, height, distance, gain, maximum))
                    return TAVIREX_E_OUTPUT_FILE;
                source = enhanced.data();
                build_window_table(table.data(), maximum, false);
            } else {
                build_window_table(table.data(), maximum, true);
            }
            break;
    }
    map_through_table(source, image.data(), pixels, table.data(), sourceMaximum);

    if (rq.mapping != BitmapMapping::Shift && rq.separators.count >= 1) {
        if (!repaint_separators(image.data(), width, height, rq.separators.width, rq.separators.color,
                                rq.separators.positions, rq.separators.count))
            return TAVIREX_E_NO_MEMORY;
    }
    const std::uint32_t resolution = gamma3 ? kBitmapResolution3 : kBitmapResolution;
    return write_bitmap(rq.bitmapPath, image.data(), rq.width, rq.height, resolution) ? TAVIREX_OK
                                                                                       : TAVIREX_E_OUTPUT_FILE;
}

}  // namespace tvx::output
