// Area-averaging resampler that brings each frame to its magnification before
// the frames are joined.
#include <cmath>

#include "core/alloc.h"
#include "core/intmath.h"
#include "platform/workers.h"
#include "tavirex.h"
#include "tomo_processing/finishing.h"

namespace tvx::tomo {
namespace {

// Fewest destination rows worth a worker of their own.
constexpr std::uint32_t kMinBandRows = 64;

// The source pixels one destination pixel covers along one axis: `count` pixels
// from `first`, the first and last covered by `head` and `tail` (1 inside), and
// the extent of the destination pixel in source pixels.
struct Span {
    std::uint32_t first;
    std::uint32_t count;
    double head;
    double tail;
    double extent;

    double weight(std::uint32_t k) const { return k == 0 ? head : (k + 1 == count ? tail : 1.0); }
};

// Destination pixel i of `dst` over `src` source pixels covers [i src / dst, (i + 1) src / dst).
// False when the span holds no source pixel, reaches past the source, or a covered
// fraction falls outside 0..1.
bool span_of(std::uint32_t i, std::uint32_t src, std::uint32_t dst, Span* s) {
    const double lo = static_cast<double>(i) * src / dst;
    const double hi = static_cast<double>(i + 1) * src / dst;
    const double first = std::floor(lo);
    const double end = std::ceil(hi);
    if (!(end > first) || end > src) return false;
    s->first = static_cast<std::uint32_t>(first);
    s->count = static_cast<std::uint32_t>(end - first);
    s->extent = hi - lo;
    s->head = (s->count == 1 ? hi : first + 1.0) - lo;
    s->tail = s->count == 1 ? s->head : hi - (end - 1.0);
    return s->head >= 0.0 && s->head <= 1.0 && s->tail >= 0.0 && s->tail <= 1.0;
}

}  // namespace

std::int32_t resample_area_average(const std::uint16_t* source, std::uint16_t source_width,
                                   std::uint16_t source_height, std::uint16_t* dest, std::uint16_t dest_width,
                                   std::uint16_t dest_height) noexcept {
    if (dest_width == 0 || dest_height == 0) return TAVIREX_OK;
    if (source == nullptr || dest == nullptr) return TAVIREX_E_RANGE;
    // The spans of every column, then of every row, all checked before any pixel is written.
    core::Buffer<Span> spans(static_cast<std::size_t>(dest_width) + dest_height);
    if (!spans.ok()) return TAVIREX_E_NO_MEMORY;
    Span* columns = spans.data();
    Span* rows = columns + dest_width;
    for (std::uint32_t x = 0; x < dest_width; ++x)
        if (!span_of(x, source_width, dest_width, &columns[x])) return TAVIREX_E_RANGE;
    for (std::uint32_t y = 0; y < dest_height; ++y)
        if (!span_of(y, source_height, dest_height, &rows[y])) return TAVIREX_E_RANGE;

    // Rows in bands on workers: each destination row depends only on the source.
    const std::uint32_t parts = platform::band_count(dest_height, kMinBandRows);
    platform::run_parallel(parts, [&](std::uint32_t b) {
        const std::uint32_t y0 = platform::band_start(dest_height, parts, b);
        const std::uint32_t y1 = platform::band_start(dest_height, parts, b + 1);
        std::uint16_t* out = dest + static_cast<std::size_t>(y0) * dest_width;
        for (std::uint32_t y = y0; y < y1; ++y) {
            const Span& sy = rows[y];
            for (std::uint32_t x = 0; x < dest_width; ++x) {
                const Span& sx = columns[x];
                double sum = 0.0;
                for (std::uint32_t j = 0; j < sy.count; ++j) {
                    const double covered_height = sy.weight(j);
                    const std::uint16_t* row = source + static_cast<std::size_t>(sy.first + j) * source_width + sx.first;
                    for (std::uint32_t i = 0; i < sx.count; ++i) sum += row[i] * sx.weight(i) * covered_height;
                }
                const double v = sum / (sx.extent * sy.extent);
                *out++ = static_cast<std::uint16_t>(core::trunc_clamped_to(v, UINT16_MAX));
            }
        }
    });
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
