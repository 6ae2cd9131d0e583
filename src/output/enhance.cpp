#include "output/enhance.h"

#include <algorithm>
#include <cmath>

#include "core/alloc.h"
#include "core/intmath.h"

namespace tvx::output {
namespace {

using core::trunc_to_int;

// One pixel of variant A with neighbours at distance d (d columns, d rows).
inline std::uint16_t enhance_a_pixel(const std::uint16_t* p, std::size_t d, std::size_t dRow, const float* table,
                                     std::uint32_t maximum) noexcept {
    const std::uint32_t v = std::min<std::uint32_t>(*p, maximum);
    // At distance 0 the pixel is its own neighbour: plain inversion, also for values above the maximum.
    if (d == 0) return static_cast<std::uint16_t>(maximum - v);
    const std::uint32_t sum = static_cast<std::uint32_t>(p[-static_cast<std::ptrdiff_t>(dRow)]) + p[dRow] +
                              p[-static_cast<std::ptrdiff_t>(d)] + p[d];
    const std::int64_t mean = sum >> 2;
    std::int64_t r = trunc_to_int(static_cast<double>(static_cast<std::int64_t>(v) - mean) *
                                  static_cast<double>(table[v])) +
                     v;
    r = core::clamp_to<std::int64_t>(r, 0, maximum);
    return static_cast<std::uint16_t>(maximum - r);
}

}  // namespace

void build_gain_table_a(float* table, std::uint32_t maximum, std::uint16_t gainPercent) noexcept {
    const double g = static_cast<double>(gainPercent) * static_cast<double>(0.01f);
    const float pi = 3.14159265358979323846f;
    const float step = pi / static_cast<float>(maximum);
    for (std::uint32_t v = 0; v <= maximum; ++v) {
        const double c = std::cos(static_cast<double>(maximum - v) * static_cast<double>(step));
        table[v] = static_cast<float>(g + 0.8 * g * c * std::fabs(c));
    }
}

void build_gain_table_b(float* table, std::uint16_t gainPercent) noexcept {
    const double g = static_cast<double>(gainPercent) * static_cast<double>(0.01f);
    for (std::uint32_t v = 0; v <= 4095; ++v) {
        const double c = std::cos(static_cast<double>(4095 - v) * 0.00076717767);
        table[v] = static_cast<float>(g + 0.8 * g * c * std::fabs(c));
    }
}

bool enhance_a(const std::uint16_t* in, std::uint16_t* out, std::uint32_t width, std::uint32_t height,
               std::uint8_t distance, std::uint16_t gainPercent, std::uint32_t maximum) noexcept {
    core::Buffer<float> table(static_cast<std::size_t>(maximum) + 1);
    if (!table.ok()) return false;
    build_gain_table_a(table.data(), maximum, gainPercent);
    const std::size_t w = width;
    for (std::uint32_t y = 0; y < height; ++y) {
        // Distance used in this row: the filter distance, or less near the top and bottom.
        const std::uint32_t dr = std::min<std::uint32_t>(distance, std::min(y, height - 1 - y));
        const std::uint16_t* src = in + y * w;
        std::uint16_t* dst = out + y * w;
        const std::uint32_t midBegin = std::min(dr, width);
        const std::uint32_t midEnd = width >= 2 * dr ? width - dr : midBegin;
        // Pixels near the left and right edges: their distance is limited by the edge.
        auto edge = [&](std::uint32_t x) {
            const std::uint32_t d = std::min(dr, std::min(x, width - 1 - x));
            dst[x] = enhance_a_pixel(src + x, d, d * w, table.data(), maximum);
        };
        for (std::uint32_t x = 0; x < midBegin; ++x) edge(x);
        const std::size_t dRow = dr * w;
        for (std::uint32_t x = midBegin; x < midEnd; ++x)
            dst[x] = enhance_a_pixel(src + x, dr, dRow, table.data(), maximum);
        for (std::uint32_t x = std::max(midEnd, midBegin); x < width; ++x) edge(x);
    }
    return true;
}

bool enhance_b(const std::uint16_t* in, std::uint16_t* out, std::uint32_t width, std::uint32_t height,
               std::uint8_t distance, std::uint16_t gainPercent) noexcept {
    core::Buffer<float> table(4096);
    if (!table.ok()) return false;
    build_gain_table_b(table.data(), gainPercent);
    const std::size_t w = width;
    std::copy(in, in + w * height, out);
    const std::uint32_t k = distance;
    if (width < 2 * k + 1 || height < 2 * k + 1) return true;  // no interior pixel
    const std::size_t dRow = k * w;
    for (std::uint32_t y = k; y < height - k; ++y) {
        const std::uint16_t* src = in + y * w;
        std::uint16_t* dst = out + y * w;
        for (std::uint32_t x = k; x < width - k; ++x) {
            const std::uint16_t* p = src + x;
            const std::int32_t v = core::clamp_to<std::int32_t>(core::as_s16(*p), 0, 4095);
            const std::uint32_t sum = static_cast<std::uint32_t>(p[-static_cast<std::ptrdiff_t>(dRow)]) + p[dRow] +
                                      p[-static_cast<std::ptrdiff_t>(k)] + p[k];
            const std::int32_t mean = core::as_s16(sum) >> 2;
            std::int64_t r = core::trunc_to_int(static_cast<double>(v - mean) * static_cast<double>(table[v])) + v;
            dst[x] = static_cast<std::uint16_t>(core::clamp_to<std::int64_t>(r, 0, 4095));
        }
    }
    return true;
}

void invert(const std::uint16_t* in, std::uint16_t* out, std::size_t count, std::uint32_t maximum) noexcept {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint16_t>(maximum - std::min<std::uint32_t>(in[i], maximum));
}

}  // namespace tvx::output
