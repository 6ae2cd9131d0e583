#include "output/markers.h"

#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "output/bitmap_file.h"
#include "platform/file.h"
#include "platform/system.h"
#include "tavirex.h"

namespace tvx::output {
namespace {

constexpr std::uint8_t kSet = 255;

void set_span(std::uint8_t* row, int first, int last) noexcept {
    for (int c = first; c <= last; ++c) row[c] = kSet;
}

// Opens the bitmap, checks it, reads the band of `band_rows` stored rows above the
// lowest 32, lets `draw` change it and writes it back. `place` receives the width
// and returns false when the band does not fit across the image.
template <typename Place, typename Draw>
std::int32_t stamp_band(const char* path, std::uint32_t band_rows, Place place, Draw draw) noexcept {
    platform::File f = platform::File::open(path, "r+b");
    if (!f) return TAVIREX_E_MARKER;
    auto run = [&]() -> std::int32_t {
        BitmapLayout l{};
        if (const std::int32_t rc = read_bitmap_layout(f.get(), &l); rc != 0) return rc;
        if (l.Height < kMarkerFirstRow + band_rows || !place(l.Width)) return TAVIREX_E_MARKER;
        const std::uint64_t bytes = band_rows * l.Stride;
        if (bytes > SIZE_MAX) return TAVIREX_E_OUTPUT_MEMORY;
        const std::uint64_t at = l.PixelOffset + kMarkerFirstRow * l.Stride;
        if (!platform::seek_to(f.get(), at)) return TAVIREX_E_MARKER;
        core::Buffer<std::uint8_t> band(static_cast<std::size_t>(bytes));
        if (!band.ok()) return TAVIREX_E_OUTPUT_MEMORY;
        if (std::fread(band.data(), 1, band.size(), f.get()) != band.size()) return TAVIREX_E_MARKER;
        draw(band.data(), l.Stride);
        if (!platform::seek_to(f.get(), at)) return TAVIREX_E_MARKER;
        if (std::fwrite(band.data(), 1, band.size(), f.get()) != band.size()) return TAVIREX_E_MARKER;
        return TAVIREX_OK;
    };
    std::int32_t rc = run();
    if (!f.close() && rc == TAVIREX_OK) rc = TAVIREX_E_MARKER;
    return rc;
}

}  // namespace

void build_letter_l(LetterLPattern& l) noexcept {
    std::memset(l, 0, sizeof l);
    for (int r = 6; r <= 27; ++r) set_span(l[r], 7, 9);    // stem
    for (int r = 25; r <= 27; ++r) set_span(l[r], 7, 21);  // foot
}

void build_tomo_mask(TomoPattern& m) noexcept {
    // Set columns at the left and right end of each row; rows 9..60 have none.
    static const std::uint8_t top_left[9] = {9, 5, 4, 3, 2, 2, 1, 1, 1};      // rows 0..8
    static const std::uint8_t top_right[9] = {9, 6, 4, 3, 2, 2, 1, 1, 1};
    static const std::uint8_t bottom[9] = {1, 1, 1, 2, 2, 3, 4, 6, 9};       // rows 61..69, both ends
    std::uint8_t left[kTomoGlyphSize] = {};
    std::uint8_t right[kTomoGlyphSize] = {};
    for (int i = 0; i < 9; ++i) {
        left[i] = top_left[i];
        right[i] = top_right[i];
        left[61 + i] = right[61 + i] = bottom[i];
    }
    std::memset(m, 0, sizeof m);
    for (int r = 0; r < kTomoGlyphSize; ++r) {
        if (left[r] != 0) set_span(m[r], 0, left[r] - 1);
        if (right[r] != 0) set_span(m[r], kTomoGlyphSize - right[r], kTomoGlyphSize - 1);
    }
}

void build_letter_a(TomoPattern& a) noexcept {
    std::memset(a, 0, sizeof a);
    for (int r = 1; r <= 68; ++r) {
        const int q = r <= 2 ? 0 : (r - 3) / 3 + 1;  // the span widens by one column each side every third row
        const bool full = r <= 14 || (r >= 42 && r <= 47);  // apex and crossbar
        if (full) {
            set_span(a[r], 32 - q, 37 + q);
        } else {
            set_span(a[r], 32 - q, 38 - q);  // left leg
            set_span(a[r], 31 + q, 37 + q);  // right leg
        }
    }
}

void build_letter_p(TomoPattern& p) noexcept {
    std::memset(p, 0, sizeof p);
    for (int r = 1; r <= 68; ++r) set_span(p[r], 13, 19);  // stem
    static const std::uint8_t top_end[8] = {45, 48, 50, 51, 52, 53, 54, 55};      // rows 1..8
    static const std::uint8_t bottom_end[8] = {55, 54, 53, 52, 51, 50, 48, 45};   // rows 34..41
    for (int i = 0; i < 8; ++i) {
        set_span(p[1 + i], 13, top_end[i]);
        set_span(p[34 + i], 13, bottom_end[i]);
    }
    // Right stroke of the bowl, rows 9..33: first and last column.
    static const std::uint8_t from[25] = {44, 46, 47, 48, 49, 50, 50, 51, 51, 51, 51, 51, 51,
                                          51, 51, 51, 51, 51, 50, 50, 49, 48, 47, 46, 44};
    static const std::uint8_t to[25] = {55, 56, 56, 56, 57, 57, 57, 57, 57, 57, 57, 57, 57,
                                        57, 57, 57, 57, 57, 57, 57, 57, 56, 56, 56, 55};
    for (int i = 0; i < 25; ++i) set_span(p[9 + i], from[i], to[i]);
}

void draw_letter_l(std::uint8_t* band, std::uint64_t stride, std::uint32_t x, const LetterLPattern& l) noexcept {
    constexpr int size = kLetterLSize * kLetterLScale;
    for (int i = 0; i < size; ++i) {
        // Band row 0 is the lowest stored row, shown at the bottom: take the pattern from its foot up.
        const std::uint8_t* pattern = l[(size - 1 - i) / kLetterLScale];
        std::uint8_t* row = band + static_cast<std::uint64_t>(i) * stride + x;
        for (int k = 0; k < size; ++k) row[k] = static_cast<std::uint8_t>(row[k] | pattern[k / kLetterLScale]);
    }
}

void draw_tomo_letters(std::uint8_t* band, std::uint64_t stride, std::uint32_t xP, std::uint32_t xA,
                       const TomoPattern& mask, const TomoPattern& p, const TomoPattern& a) noexcept {
    for (int i = 0; i < kTomoGlyphSize; ++i) {
        const int r = kTomoGlyphSize - 1 - i;
        std::uint8_t* row = band + static_cast<std::uint64_t>(i) * stride;
        for (int k = 0; k < kTomoGlyphSize; ++k) {
            row[xP + k] = static_cast<std::uint8_t>((row[xP + k] & mask[r][k]) | p[r][k]);
            row[xA + k] = static_cast<std::uint8_t>((row[xA + k] & mask[r][k]) | a[r][k]);
        }
    }
}

std::int32_t stamp_letter_l(const char* path, std::int32_t side) noexcept {
    LetterLPattern l;
    build_letter_l(l);
    constexpr std::uint32_t size = kLetterLSize * kLetterLScale;
    std::uint32_t x = 0;
    return stamp_band(
        path, size,
        [&](std::uint32_t width) {
            if (side != 0) {
                x = 112;
                return width >= x + size;
            }
            if (width < 112) return false;
            x = width - 112;
            return true;
        },
        [&](std::uint8_t* band, std::uint64_t stride) { draw_letter_l(band, stride, x, l); });
}

std::int32_t stamp_tomo_letters(const char* path, std::int32_t side) noexcept {
    TomoPattern mask, p, a;
    build_tomo_mask(mask);
    build_letter_p(p);
    build_letter_a(a);
    std::uint32_t xP = 0, xA = 0;
    return stamp_band(
        path, kTomoGlyphSize,
        [&](std::uint32_t width) {
            if (width < 100) return false;
            xP = side == 0 ? width - 100 : 30;
            xA = side == 0 ? 30 : width - 100;
            return true;
        },
        [&](std::uint8_t* band, std::uint64_t stride) { draw_tomo_letters(band, stride, xP, xA, mask, p, a); });
}

}  // namespace tvx::output
