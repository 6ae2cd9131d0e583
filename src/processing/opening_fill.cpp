// Step 5: opening fill. The chips of the sensor sit with a physical opening
// between them. The outer chips are moved against the opening, the rows listed
// as cut are dropped, and the opening's rows are interpolated between the good
// rows on either side.
#include <cstring>

#include "core/intmath.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

void move_row(ImageView image, std::int64_t to, std::int64_t from) {
    std::memmove(image.row(static_cast<std::uint32_t>(to)), image.row(static_cast<std::uint32_t>(from)),
                 sizeof(std::uint16_t) * image.width);
}

// Rows first .. first + d - 2 get the straight line from row first - 1 (weight
// (d - j) / d) to row first + d - 1 (weight j / d).
void fill_rows(ImageView image, std::int64_t first, std::int64_t d) {
    const std::uint16_t* above = image.row(static_cast<std::uint32_t>(first - 1));
    const std::uint16_t* below = image.row(static_cast<std::uint32_t>(first + d - 1));
    const double dd = static_cast<double>(d);
    for (std::int64_t j = 1; j < d; ++j) {
        std::uint16_t* row = image.row(static_cast<std::uint32_t>(first + j - 1));
        const double wa = static_cast<double>(d - j);
        const double wb = static_cast<double>(j);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const double a = above[x];
            const double b = below[x];
            row[x] = static_cast<std::uint16_t>(core::trunc_to_i32_or_min(a * wa / dd + b * wb / dd));
        }
    }
}

}  // namespace

std::int32_t fill_opening_pano(ImageView image, const std::uint16_t (&xy)[kXyCorrCount]) {
    const std::int64_t h = image.height;
    const std::int64_t gap = xy[kCcdGap];
    const std::int64_t lower_cut = xy[kLowerCut01];
    const std::int64_t upper_cut = xy[kUpperCut01];
    const std::int64_t half = h / 2;
    const std::int64_t g_low = gap / 2;
    const std::int64_t g_high = gap - g_low;
    const std::int64_t t = half - lower_cut - g_high;
    const std::int64_t b = half + upper_cut + g_low;
    // The good rows on both sides of the opening must lie inside the image.
    if (t < 1 || b > h - 1) return TAVIREX_E_RANGE;

    for (std::int64_t i = 0; i < t; ++i) move_row(image, i, i + g_high);
    for (std::int64_t i = h - 1; i >= b; --i) move_row(image, i, i - g_low);
    fill_rows(image, t, lower_cut + upper_cut + gap + 1);
    return TAVIREX_OK;
}

std::int32_t fill_opening_ceph(ImageView image, const std::uint16_t (&xy)[kXyCorrCount]) {
    const std::int64_t h = image.height;
    const std::int64_t g1 = xy[kCcdGap], g2 = xy[kCcdGap2];
    const std::int64_t l1 = xy[kLowerCut01], l2 = xy[kLowerCut02];
    const std::int64_t u1 = xy[kUpperCut01], u2 = xy[kUpperCut02];
    const std::int64_t y1 = xy[kYPos];
    const std::int64_t e2 = core::wrap16(static_cast<std::int64_t>(xy[kYPos]) + xy[kYPos2] - xy[kUpperYPos]);
    const std::int64_t t1 = y1 - g1 - l1;
    const std::int64_t b2 = e2 + g2 + u2;
    // Both openings and the good rows around them must lie inside the image.
    if (t1 < 1 || y1 + u1 > h - 1 || e2 - l2 < 1 || b2 > h - 1) return TAVIREX_E_RANGE;

    for (std::int64_t i = 0; i < t1; ++i) move_row(image, i, i + g1);
    for (std::int64_t i = h - 1; i >= b2; --i) move_row(image, i, i - g2);
    fill_rows(image, t1, g1 + l1 + u1 + 1);
    fill_rows(image, e2 - l2, l2 + g2 + u2 + 1);
    return TAVIREX_OK;
}

}  // namespace tvx::processing
