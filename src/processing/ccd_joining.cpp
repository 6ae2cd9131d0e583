// Step 4: CCD joining. The sensor is a column of 768-row chips read bottom
// first; the image is turned upside down and the chips after the second are
// placed with the row and column offsets of their mounting.
#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::uint32_t kChipRows = core::kChipRows;

// "Joined image size" (code page 932)
const char kJoinedSize[] = "\x8D\x87\x90\xAC\x89\xE6\x91\x9C\x83T\x83" "C\x83Y[%4d x %4d]\n";

// Walks the chip placement without writing, so that offsets that would put a
// row or a pixel outside the image are refused before anything changes.
bool placement_fits(std::uint32_t chips, std::int64_t width4, std::int64_t capacity_rows, std::int32_t xshift,
                    std::int32_t row_advance, std::uint32_t top_skip, std::int64_t* out_rows) {
    std::int64_t shift = 0, o = 0;
    std::uint32_t u = 0;
    for (std::uint32_t k = 0; k < chips; ++k) {
        const std::int64_t rows = u < kChipRows ? kChipRows - u : 0;
        if (rows > 0) {
            if (o < 0 || o + rows > capacity_rows) return false;
            if (shift > width4 || -shift > width4) return false;
        }
        o += rows;
        if (k > 0 && k + 1 < chips) {
            shift += xshift;
            o += row_advance;
            u = top_skip;
        }
    }
    if (o < 0 || o > capacity_rows || o > 0xFFFF) return false;
    *out_rows = o;
    return true;
}

// True when no joined row lands below the turned row it comes from, so the
// placement can run forward in the image itself (rows are never longer than
// before, so an earlier joined row never reaches a later source row).
bool placement_runs_forward(std::uint32_t chips, std::int32_t row_advance, std::uint32_t top_skip) {
    std::int64_t o = 0;
    std::uint32_t u = 0;
    for (std::uint32_t k = 0; k < chips; ++k) {
        if (o > static_cast<std::int64_t>(k * kChipRows + u)) return false;  // o - s is constant within a chip
        o += u < kChipRows ? kChipRows - u : 0;
        if (k > 0 && k + 1 < chips) {
            o += row_advance;
            u = top_skip;
        }
    }
    return true;
}

// Moves each chip row of the upside-down image `rows` (stride `w`) to its joined
// place in `out` (stride `w4`), shifted by the chip's column offset with the
// uncovered columns cleared; returns the joined row count. The move comes before
// the clearing, so `out` may be `rows` itself when the placement runs forward.
std::int64_t place_chip_rows(const std::uint16_t* rows, std::uint16_t* out, std::uint32_t w, std::uint32_t w4,
                             std::uint32_t chips, std::int32_t xshift, std::int32_t row_advance, std::uint32_t top_skip) {
    std::int64_t shift = 0, o = 0;
    std::uint32_t u = 0;
    for (std::uint32_t k = 0; k < chips; ++k) {
        for (std::uint32_t s = k * kChipRows + u; s < (k + 1) * kChipRows; ++s, ++o) {
            const std::uint16_t* src = rows + static_cast<std::size_t>(s) * w;
            std::uint16_t* dst = out + static_cast<std::size_t>(o) * w4;
            if (shift == 0) {
                if (dst != src) std::memmove(dst, src, sizeof(std::uint16_t) * w4);
            } else if (shift > 0) {
                const std::size_t z = static_cast<std::size_t>(shift);
                std::memmove(dst + z, src, sizeof(std::uint16_t) * (w4 - z));
                std::memset(dst, 0, sizeof(std::uint16_t) * z);
            } else {
                const std::size_t z = static_cast<std::size_t>(-shift);
                std::memmove(dst, src + z, sizeof(std::uint16_t) * (w4 - z));
                std::memset(dst + (w4 - z), 0, sizeof(std::uint16_t) * z);
            }
        }
        if (k > 0 && k + 1 < chips) {
            shift += xshift;
            o += row_advance;
            u = top_skip;
        }
    }
    return o;
}

// In place: the image is turned upside down by swapping rows, then each chip row
// is moved to its joined place.
void join_in_place(ImageView image, std::uint32_t chips, std::uint32_t w4, std::int32_t xshift,
                   std::int32_t row_advance, std::uint32_t top_skip, std::uint16_t* spare) {
    const std::uint32_t w = image.width, h = image.height;
    const std::size_t bytes = sizeof(std::uint16_t) * w;
    for (std::uint32_t i = 0; i < h / 2; ++i) {
        std::memcpy(spare, image.row(i), bytes);
        std::memcpy(image.row(i), image.row(h - 1 - i), bytes);
        std::memcpy(image.row(h - 1 - i), spare, bytes);
    }
    place_chip_rows(image.data, image.data, w, w4, chips, xshift, row_advance, top_skip);
}

}  // namespace

std::int32_t join_ccd_chips(ImageView image, std::uint16_t xpos2, std::uint16_t ypos2, std::uint16_t upper_ypos2,
                            std::uint32_t* width_out, std::uint32_t* height_out, const diag::Trace& trace) {
    const std::uint32_t w = image.width;
    const std::uint32_t h = image.height;
    // A whole-image work copy only where the placement cannot run forward in place.
    const bool in_place = h % kChipRows == 0 &&
                          placement_runs_forward(h / kChipRows, static_cast<std::int32_t>(ypos2) - static_cast<std::int32_t>(kChipRows), upper_ypos2);
    if (in_place) {
        core::Buffer<std::uint16_t> spare(w);
        if (!spare.ok()) return TAVIREX_E_NO_MEMORY;
        const std::uint32_t w4 = w & ~3u;
        const std::uint32_t chips = h / kChipRows;
        const std::int32_t xshift = core::as_s16(xpos2);
        const std::int32_t row_advance = static_cast<std::int32_t>(ypos2) - static_cast<std::int32_t>(kChipRows);
        const std::int64_t capacity_rows = w4 == 0 ? h : static_cast<std::int64_t>(image.pixels() / w4);
        std::int64_t out_rows = 0;
        if (!placement_fits(chips, w4, capacity_rows, xshift, row_advance, upper_ypos2, &out_rows)) return TAVIREX_E_RANGE;
        join_in_place(image, chips, w4, xshift, row_advance, upper_ypos2, spare.data());
        trace.print(trace.param, kJoinedSize, static_cast<int>(w4), static_cast<int>(out_rows));
        *width_out = w4;
        *height_out = static_cast<std::uint32_t>(out_rows);
        return TAVIREX_OK;
    }
    core::Buffer<std::uint16_t> work(image.pixels());
    if (!work.ok()) return TAVIREX_E_NO_MEMORY;
    const std::uint32_t w4 = w & ~3u;
    const std::uint32_t chips = h / kChipRows;
    if (h != chips * kChipRows) return TAVIREX_E_RANGE;

    // A column offset configured as a negative number arrives as its 16-bit pattern.
    const std::int32_t xshift = core::as_s16(xpos2);
    const std::int32_t row_advance = static_cast<std::int32_t>(ypos2) - static_cast<std::int32_t>(kChipRows);
    const std::int64_t capacity_rows = w4 == 0 ? h : static_cast<std::int64_t>(image.pixels() / w4);
    std::int64_t out_rows = 0;
    if (!placement_fits(chips, w4, capacity_rows, xshift, row_advance, upper_ypos2, &out_rows)) return TAVIREX_E_RANGE;

    for (std::uint32_t i = 0; i < h; ++i)
        std::memcpy(work.data() + static_cast<std::size_t>(i) * w, image.row(h - 1 - i), sizeof(std::uint16_t) * w);

    const std::int64_t o = place_chip_rows(work.data(), image.data, w, w4, chips, xshift, row_advance, upper_ypos2);
    trace.print(trace.param, kJoinedSize, static_cast<int>(w4), static_cast<int>(o));
    *width_out = w4;
    *height_out = static_cast<std::uint32_t>(o);
    return TAVIREX_OK;
}

}  // namespace tvx::processing
