// The two noise filters of the joined image. Both take each pixel's nine-sample
// neighbourhood from the unfiltered image and write into a copy that replaces
// the image at the end, so the order of visiting pixels does not matter. Border
// pixels get neighbourhoods that reach inward instead of outside the image.
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "tavirex.h"
#include "tomo_processing/finishing.h"

namespace tvx::tomo {
namespace {

// Corners reach four pixels inward, and an edge window two either side of a
// centre kept two from the corner.
constexpr std::uint32_t kMinSide = 5;
// The run form looks four values either side of its centre.
constexpr std::size_t kMinRun = 2 * 4 + 1;

using Samples = std::uint16_t[kNeighbourhood];

// Applies `pick(samples, own value)` to every pixel of a w x h image (w, h >= 5).
template <typename Pick>
void filter_image(const std::uint16_t* in, std::uint16_t* out, std::uint32_t w, std::uint32_t h, Pick pick) {
    const std::size_t sw = w;
    for (std::uint32_t y = 1; y + 1 < h; ++y) {
        const std::uint16_t* a = in + (y - 1) * sw;
        const std::uint16_t* b = a + sw;
        const std::uint16_t* c = b + sw;
        std::uint16_t* o = out + y * sw;
        for (std::uint32_t x = 1; x + 1 < w; ++x) {
            const Samples s = {a[x - 1], a[x], a[x + 1], b[x - 1], b[x], b[x + 1], c[x - 1], c[x], c[x + 1]};
            o[x] = pick(s, b[x]);
        }
    }
    const auto border = [&](std::uint32_t x, std::uint32_t y) {
        std::size_t at[kNeighbourhood];
        neighbourhood(x, y, w, h, at);
        Samples s;
        for (std::uint32_t k = 0; k < kNeighbourhood; ++k) s[k] = in[at[k]];
        // The result goes to the pixel's own place even where the centre sample is another pixel.
        out[y * sw + x] = pick(s, in[y * sw + x]);
    };
    for (std::uint32_t x = 0; x < w; ++x) border(x, 0), border(x, h - 1);
    for (std::uint32_t y = 1; y + 1 < h; ++y) border(0, y), border(w - 1, y);
}

// Centre value limited to the range of the other eight samples.
constexpr auto clamp_centre = [](const Samples& s, std::uint16_t) {
    std::uint16_t lo = s[0], hi = s[0];
    for (std::uint32_t k = 1; k < kNeighbourhood; ++k) {
        if (k == kCentre) continue;
        lo = s[k] < lo ? s[k] : lo;
        hi = s[k] > hi ? s[k] : hi;
    }
    return core::clamp_to(s[kCentre], lo, hi);
};

}  // namespace

void neighbourhood(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
                   std::size_t (&index)[kNeighbourhood]) noexcept {
    const auto at = [w](std::int64_t cx, std::int64_t cy) { return static_cast<std::size_t>(cy * w + cx); };
    const std::int64_t r = w - 1, b = h - 1, px = x, py = y;
    const bool left = x == 0, right = px == r, top = y == 0, bottom = py == b;
    if ((left || right) && (top || bottom)) {
        // Four along the column (farthest first), the corner, the diagonal, three along the row.
        const std::int64_t dx = left ? 1 : -1, dy = top ? 1 : -1;
        const std::size_t v[] = {at(px, py + 4 * dy), at(px, py + 3 * dy), at(px, py + 2 * dy),
                                 at(px, py + dy),     at(px, py),          at(px + dx, py + dy),
                                 at(px + dx, py),     at(px + 2 * dx, py), at(px + 3 * dx, py)};
        std::memcpy(index, v, sizeof v);
    } else if (left || right) {
        // Two columns by five rows, centred at least two rows from the corners.
        const std::int64_t c = core::clamp_to<std::int64_t>(py, 2, b - 2);
        const std::size_t l[] = {at(0, c - 2), at(1, c - 2), at(0, c - 1), at(1, c - 1), at(0, c),
                                 at(1, c),     at(0, c + 1), at(1, c + 1), at(0, c + 2)};
        const std::size_t rr[] = {at(r, c - 2),     at(r - 1, c - 1), at(r, c - 1), at(r - 1, c), at(r, c),
                                  at(r - 1, c + 1), at(r, c + 1),     at(r - 1, c + 2), at(r, c + 2)};
        std::memcpy(index, left ? l : rr, sizeof l);
    } else if (top || bottom) {
        // The same along the top and bottom rows, with rows and columns swapped.
        const std::int64_t c = core::clamp_to<std::int64_t>(px, 2, r - 2);
        const std::size_t t[] = {at(c - 2, 0), at(c - 2, 1), at(c - 1, 0), at(c - 1, 1), at(c, 0),
                                 at(c, 1),     at(c + 1, 0), at(c + 1, 1), at(c + 2, 0)};
        const std::size_t bb[] = {at(c - 2, b),     at(c - 1, b - 1), at(c - 1, b), at(c, b - 1), at(c, b),
                                  at(c + 1, b - 1), at(c + 1, b),     at(c + 2, b - 1), at(c + 2, b)};
        std::memcpy(index, top ? t : bb, sizeof t);
    } else {
        const std::size_t v[] = {at(px - 1, py - 1), at(px, py - 1), at(px + 1, py - 1), at(px - 1, py), at(px, py),
                                 at(px + 1, py),     at(px - 1, py + 1), at(px, py + 1), at(px + 1, py + 1)};
        std::memcpy(index, v, sizeof v);
    }
}

std::int32_t clamp_to_neighbours(const TomoFrame& frame) noexcept {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    core::Buffer<std::uint16_t> out(n);
    if (!out.ok()) return TAVIREX_E_NO_MEMORY;
    const std::uint16_t* in = frame.data;
    if (frame.width < 3) {
        // One run of values: each is limited to the range of the eight around the
        // nearest centre four or more from either end (itself excluded from that range).
        if (n < kMinRun) return TAVIREX_OK;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t j = core::clamp_to<std::size_t>(i, 4, n - 5);
            std::uint16_t lo = in[j - 4], hi = in[j - 4];
            for (std::size_t k = j - 3; k <= j + 4; ++k) {
                if (k == j) continue;
                lo = in[k] < lo ? in[k] : lo;
                hi = in[k] > hi ? in[k] : hi;
            }
            out[i] = core::clamp_to(in[i], lo, hi);
        }
    } else {
        if (frame.width < kMinSide || frame.height < kMinSide) return TAVIREX_OK;
        filter_image(in, out.data(), frame.width, frame.height, clamp_centre);
    }
    std::memcpy(frame.data, out.data(), out.bytes());
    return TAVIREX_OK;
}

std::int32_t replace_by_nearest_to_mean(const TomoFrame& frame) noexcept {
    if (!frame_fits(frame)) return TAVIREX_E_RANGE;
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    core::Buffer<std::uint16_t> out(n);
    if (!out.ok()) return TAVIREX_E_NO_MEMORY;
    if (frame.width < kMinSide || frame.height < kMinSide) return TAVIREX_OK;
    const std::int32_t top = frame.max_value;
    // The first sample strictly nearer the mean than any before it, and nearer than M.
    const auto nearest = [top](const Samples& s, std::uint16_t own) {
        std::uint32_t sum = 0;
        for (std::uint16_t v : s) sum += v;
        const std::int32_t mean = static_cast<std::int32_t>(sum / kNeighbourhood);
        std::int32_t best = top;
        std::uint16_t pick = own;
        for (std::uint16_t v : s) {
            const std::int32_t d = mean > v ? mean - v : v - mean;
            pick = d < best ? v : pick;
            best = d < best ? d : best;
        }
        return pick;
    };
    filter_image(frame.data, out.data(), frame.width, frame.height, nearest);
    std::memcpy(frame.data, out.data(), out.bytes());
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
