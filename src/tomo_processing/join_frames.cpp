#include "tomo_processing/join_frames.h"

#include <algorithm>
#include <cstring>

#include "core/alloc.h"
#include "core/endian.h"
#include "platform/file.h"
#include "tavirex.h"

namespace tvx::tomo {
namespace {

// Rows composed per write: about 128 KiB, at least one row.
constexpr std::size_t kChunkWords = 64 * 1024;

std::int32_t add_piece(JoinedImage& joined, const JoinedPiece& piece, std::uint32_t piece_height) noexcept {
    if (joined.count == JoinedImage::kMostPieces) return TAVIREX_E_RANGE;
    const std::uint32_t width = joined.width + piece.width;
    if (width > UINT16_MAX) return TAVIREX_E_RANGE;
    JoinedPiece placed = piece;
    if (joined.count == 0) {
        joined.height = static_cast<std::uint16_t>(piece_height);
    } else {
        const std::uint32_t height = std::min<std::uint32_t>(joined.height, piece_height);
        // The taller side loses half the difference at its top (the odd row at its bottom).
        const std::uint32_t stored_skip = (joined.height - height) / 2;
        for (std::uint32_t i = 0; i < joined.count; ++i) joined.pieces[i].top += stored_skip;
        placed.top = (piece_height - height) / 2;
        joined.height = static_cast<std::uint16_t>(height);
    }
    joined.pieces[joined.count++] = placed;
    joined.width = static_cast<std::uint16_t>(width);
    return TAVIREX_OK;
}

}  // namespace

std::int32_t add_image_columns(JoinedImage& joined, core::ImageView image) noexcept {
    if (image.width == 0 || image.height == 0) return TAVIREX_OK;
    if (image.width > UINT16_MAX || image.height > UINT16_MAX) return TAVIREX_E_RANGE;
    return add_piece(joined, JoinedPiece{image.data, image.width, image.stride, 0, 0}, image.height);
}

std::int32_t add_separator_band(JoinedImage& joined, std::uint32_t band_width, std::uint16_t value,
                                SeparatorLines& bands) noexcept {
    if (band_width > UINT16_MAX) return TAVIREX_E_RANGE;
    const std::uint32_t before = joined.width;
    if (band_width != 0 && joined.height != 0) {
        const std::int32_t rc = add_piece(joined, JoinedPiece{nullptr, band_width, 0, 0, value}, joined.height);
        if (rc != 0) return rc;
    }
    if (bands.Count < 10) bands.Position[bands.Count++] = before;
    return TAVIREX_OK;
}

std::int32_t write_joined_image(const char* path, const JoinedImage& joined) noexcept {
    const std::size_t width = joined.width, height = joined.height;
    const std::size_t rows = std::max<std::size_t>(1, width == 0 ? 1 : kChunkWords / width);
    core::Buffer<std::uint16_t> chunk(std::max<std::size_t>(1, std::min(rows, height) * width));
    if (!chunk.ok()) return TAVIREX_E_NO_MEMORY;
    platform::OutputFile f(path);
    if (!f) return TAVIREX_E_DATA_FILE;
    bool written = true;
    for (std::size_t y0 = 0; y0 < height && written; y0 += rows) {
        const std::size_t n = std::min(rows, height - y0);
        for (std::size_t y = y0; y < y0 + n; ++y) {
            std::uint16_t* out = chunk.data() + (y - y0) * width;
            for (std::uint32_t i = 0; i < joined.count; ++i) {
                const JoinedPiece& p = joined.pieces[i];
                if (p.data == nullptr) std::fill(out, out + p.width, p.value);
                else std::memcpy(out, p.data + (p.top + y) * p.stride, p.width * sizeof(std::uint16_t));
                out += p.width;
            }
        }
        core::swap_words_if_big_endian(chunk.data(), n * width);
        written = std::fwrite(chunk.data(), sizeof(std::uint16_t), n * width, f.get()) == n * width;
    }
    return f.finish(written) ? TAVIREX_OK : TAVIREX_E_DATA_FILE;
}

}  // namespace tvx::tomo
