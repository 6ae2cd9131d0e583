// Pass blocks and segments: cutting a pass out of the image, keeping the passes
// that were read in display order, and separator bands between them.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/endian.h"
#include "platform/file.h"
#include "processing/pipeline.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint16_t kBandColor = 0x0F0F;

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
    // In place: a packed row never reaches past the start of the next source row,
    // and a row whose segments change order is put together in a row buffer first.
    core::Buffer<std::uint16_t> row(kept);
    if (!row.ok()) return TAVIREX_E_PROCESS_OUTPUT;
    *kept_width = kept;
    const std::uint8_t* order = kSegmentOrder[read_segments <= 1 ? 0 : read_segments];
    bool reordered = false;
    for (std::uint32_t k = 0; k < read_segments; ++k) reordered |= order[k] != k;
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint16_t* dst = image.data + static_cast<std::size_t>(y) * kept;
        const std::uint16_t* src = image.row(y);
        if (!reordered) {
            if (dst != src) std::memmove(dst, src, sizeof(std::uint16_t) * kept);
            continue;
        }
        for (std::uint32_t k = 0; k < read_segments; ++k)
            std::memcpy(row.data() + static_cast<std::size_t>(k) * segment,
                        src + static_cast<std::size_t>(order[k]) * segment, sizeof(std::uint16_t) * segment);
        std::memcpy(dst, row.data(), sizeof(std::uint16_t) * kept);
    }
    return TAVIREX_OK;
}

namespace {

// Width of the image with bands; false when it or the image's size does not fit.
bool banded_width(std::uint32_t width, std::uint32_t height, std::uint32_t count, std::uint32_t band,
                  std::uint64_t* wide) {
    const bool bands = count >= 2 && band >= 1;
    *wide = bands ? width + static_cast<std::uint64_t>(count - 1) * band : width;
    return *wide <= UINT32_MAX && (*wide == 0 || height <= SIZE_MAX / 2 / *wide);
}

// One row with `band` columns of `fill` between its `count` segments.
void banded_row(const std::uint16_t* src, std::uint16_t* dst, std::uint32_t width, std::uint32_t count,
                std::uint32_t band, std::uint16_t fill) {
    const std::uint64_t segment = width / count;
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

void list_separators(std::uint32_t width, std::uint32_t count, std::uint32_t band, SeparatorLines* list) {
    const std::uint64_t segment = count == 0 ? 0 : width / count;
    std::memset(list->Position, 0, sizeof list->Position);
    list->Count = count >= 2 ? (count - 1 > 10 ? 10 : count - 1) : 0;
    const std::uint32_t listed = count > 10 ? 10 : count;
    for (std::uint32_t i = 0; i < listed; ++i)
        list->Position[i] = static_cast<std::uint32_t>((i + 1) * segment + static_cast<std::uint64_t>(i) * band);
}

}  // namespace

std::int32_t write_with_separators(const char* path, const std::uint16_t* pixels, std::uint32_t width,
                                   std::uint32_t height, std::uint32_t count, std::uint32_t band,
                                   std::uint32_t color, SeparatorLines* list, std::uint32_t* width_out,
                                   std::uint32_t* height_out) {
    constexpr std::size_t kBlockBytes = 256 * 1024;  // written at a time
    std::uint64_t wide = 0;
    if (!banded_width(width, height, count, band, &wide)) return TAVIREX_E_PROCESS_OUTPUT;
    const std::size_t row_bytes = sizeof(std::uint16_t) * static_cast<std::size_t>(wide);
    const std::uint32_t rows = static_cast<std::uint32_t>(
        std::min<std::size_t>(height, row_bytes == 0 ? height : std::max<std::size_t>(1, kBlockBytes / row_bytes)));
    core::Buffer<std::uint16_t> block(static_cast<std::size_t>(rows) * wide);
    if (!block.ok()) return TAVIREX_E_PROCESS_OUTPUT;
    list_separators(width, count, band, list);
    if (width_out != nullptr) *width_out = static_cast<std::uint32_t>(wide);
    if (height_out != nullptr) *height_out = height;

    platform::OutputFile f(path);
    if (!f) return TAVIREX_E_PROCESS_OUTPUT;
    const std::uint16_t fill = color == 1 ? kBandColor : 0;
    bool ok = true;
    for (std::uint32_t y0 = 0; ok && y0 < height; y0 += rows) {
        const std::uint32_t n = std::min(rows, height - y0);
        const std::size_t words = static_cast<std::size_t>(n) * wide;
        const std::uint16_t* src = pixels + static_cast<std::size_t>(y0) * width;
        if (wide == width) {
            std::memcpy(block.data(), src, sizeof(std::uint16_t) * words);
        } else {
            for (std::uint32_t r = 0; r < n; ++r)
                banded_row(src + static_cast<std::size_t>(r) * width, block.data() + static_cast<std::size_t>(r) * wide,
                           width, count, band, fill);
        }
        core::swap_words_if_big_endian(block.data(), words);  // the file holds little-endian words
        ok = std::fwrite(block.data(), 2, words, f.get()) == words;
    }
    return f.finish(ok) ? TAVIREX_OK : TAVIREX_E_PROCESS_OUTPUT;
}

}  // namespace tvx::processing
