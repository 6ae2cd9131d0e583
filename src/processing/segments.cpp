// Pass blocks and segments: cutting a pass out of the image, keeping the passes
// that were read in display order, and separator bands between them.
#include <cstring>

#include "core/alloc.h"
#include "processing/pipeline.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint16_t kBandColour = 0x0F0F;

}  // namespace

void cut_block(core::ImageView image, std::uint64_t first_column, bool mirror, core::ImageView block) {
    const std::uint64_t total = image.pixels();
    const std::uint32_t bw = block.width;
    for (std::uint32_t y = 0; y < block.height; ++y) {
        std::uint16_t* out = block.row(y);
        const std::uint64_t start = static_cast<std::uint64_t>(y) * image.width + first_column;
        if (first_column + bw <= image.width) {
            const std::uint16_t* src = image.data + start;
            if (mirror)
                for (std::uint32_t x = 0; x < bw; ++x) out[bw - 1 - x] = src[x];
            else
                std::memcpy(out, src, sizeof(std::uint16_t) * bw);
            continue;
        }
        for (std::uint32_t x = 0; x < bw; ++x) {
            const std::uint64_t at = start + x;
            out[mirror ? bw - 1 - x : x] = at < total ? image.data[at] : 0;
        }
    }
}

const std::uint8_t kSegmentOrder[5][4] = {{0, 1, 2, 3}, {0, 1, 2, 3}, {1, 0, 2, 3}, {1, 0, 2, 3}, {3, 1, 0, 2}};

std::int32_t crop_and_order(core::ImageView image, std::uint32_t pass_count, std::uint32_t read_segments,
                            std::uint32_t* kept_width) {
    const std::uint32_t h = image.height;
    const std::uint32_t segment = image.width / pass_count;
    const std::uint32_t kept = read_segments * segment;
    core::Buffer<std::uint16_t> work(static_cast<std::size_t>(kept) * h);
    if (!work.ok()) return TAVIREX_E_PROCESS_OUTPUT;
    for (std::uint32_t y = 0; y < h; ++y)
        std::memcpy(work.data() + static_cast<std::size_t>(y) * kept, image.row(y), sizeof(std::uint16_t) * kept);
    *kept_width = kept;
    if (read_segments <= 1) {
        std::memcpy(image.data, work.data(), work.bytes());
        return TAVIREX_OK;
    }
    const std::uint8_t* order = kSegmentOrder[read_segments];
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint16_t* dst = image.data + static_cast<std::size_t>(y) * kept;
        const std::uint16_t* src = work.data() + static_cast<std::size_t>(y) * kept;
        for (std::uint32_t k = 0; k < read_segments; ++k)
            std::memcpy(dst + static_cast<std::size_t>(k) * segment, src + static_cast<std::size_t>(order[k]) * segment,
                        sizeof(std::uint16_t) * segment);
    }
    return TAVIREX_OK;
}

std::int32_t insert_separators(const std::uint16_t* pixels, std::uint32_t width, std::uint32_t height,
                               std::uint32_t count, std::uint32_t band, std::uint32_t colour,
                               core::Buffer<std::uint16_t>* out, std::uint32_t* out_width, SeparatorLines* list) {
    const bool bands = count >= 2 && band >= 1;
    const std::uint64_t segment = count == 0 ? 0 : width / count;
    const std::uint64_t wide = bands ? width + static_cast<std::uint64_t>(count - 1) * band : width;
    if (wide > UINT32_MAX || (wide != 0 && height > SIZE_MAX / 2 / wide)) return TAVIREX_E_PROCESS_OUTPUT;
    if (!out->reset(static_cast<std::size_t>(wide) * height)) return TAVIREX_E_PROCESS_OUTPUT;

    if (!bands) {
        std::memcpy(out->data(), pixels, out->bytes());
    } else {
        const std::uint16_t fill = colour == 1 ? kBandColour : 0;
        for (std::uint32_t y = 0; y < height; ++y) {
            const std::uint16_t* src = pixels + static_cast<std::size_t>(y) * width;
            std::uint16_t* dst = out->data() + static_cast<std::size_t>(y) * wide;
            for (std::uint32_t k = 0; k < count; ++k) {
                if (k > 0)
                    for (std::uint32_t i = 0; i < band; ++i) *dst++ = fill;
                std::memcpy(dst, src + k * segment, sizeof(std::uint16_t) * segment);
                dst += segment;
            }
            // Columns beyond an even split stay with the last segment.
            const std::uint64_t rest = width - count * segment;
            std::memcpy(dst, src + count * segment, sizeof(std::uint16_t) * rest);
        }
    }
    *out_width = static_cast<std::uint32_t>(wide);

    std::memset(list->Position, 0, sizeof list->Position);
    list->Count = count >= 2 ? (count - 1 > 10 ? 10 : count - 1) : 0;
    const std::uint32_t listed = count > 10 ? 10 : count;
    for (std::uint32_t i = 0; i < listed; ++i)
        list->Position[i] = static_cast<std::uint32_t>((i + 1) * segment + static_cast<std::uint64_t>(i) * band);
    return TAVIREX_OK;
}

}  // namespace tvx::processing
