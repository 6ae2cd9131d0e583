#include "output/bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/simd.h"
#include "output/window.h"
#include "platform/file.h"

namespace tvx::output {
namespace {

void put16(std::uint8_t* p, std::uint32_t v) noexcept {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

void put32(std::uint8_t* p, std::uint32_t v) noexcept {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

// Limits to 0..255 (a value that is not a number counts as 0) and rounds half up.
std::uint8_t round_half_up_grey(double y) noexcept {
    if (!(y >= 0.0)) return 0;
    if (y > 255.0) return 255;
    const double f = std::floor(y);
    return static_cast<std::uint8_t>(y - f < 0.5 ? f : std::ceil(y));
}

double limit(double t, double maximum) noexcept {
    if (!(t >= 0.0)) return 0.0;  // also a value that is not a number
    return t > maximum ? maximum : t;
}

}  // namespace

bool raw_sizes_ok(std::int32_t width, std::int32_t height) noexcept {
    // An image without pixels is no picture: refused like a negative size.
    if (width <= 0 || height <= 0) return false;
    const std::uint64_t words = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return words <= SIZE_MAX / 2;
}

bool bitmap_sizes_ok(std::int32_t width, std::int32_t height) noexcept {
    if (!raw_sizes_ok(width, height)) return false;
    const std::uint64_t image = bitmap_stride(static_cast<std::uint64_t>(width)) * static_cast<std::uint64_t>(height);
    return image <= UINT32_MAX - kBitmapHeaderBytes;
}

bool build_bitmap_header(std::uint8_t* header, std::int32_t width, std::int32_t height,
                         std::uint32_t resolution) noexcept {
    if (!bitmap_sizes_ok(width, height)) return false;
    const std::uint32_t image =
        static_cast<std::uint32_t>(bitmap_stride(static_cast<std::uint32_t>(width)) * static_cast<std::uint32_t>(height));
    std::memset(header, 0, kBitmapHeaderBytes);
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, static_cast<std::uint32_t>(kBitmapHeaderBytes) + image);
    put32(header + 10, static_cast<std::uint32_t>(kBitmapHeaderBytes));
    put32(header + 14, 40);
    put32(header + 18, static_cast<std::uint32_t>(width));
    put32(header + 22, static_cast<std::uint32_t>(height));
    put16(header + 26, 1);
    put16(header + 28, 8);
    put32(header + 30, 0);
    put32(header + 34, image);
    put32(header + 38, resolution);
    put32(header + 42, resolution);
    put32(header + 46, 256);
    put32(header + 50, 0);
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint8_t* entry = header + 54 + 4 * i;
        entry[0] = entry[1] = entry[2] = static_cast<std::uint8_t>(i);
        entry[3] = 0;
    }
    return true;
}

bool write_bitmap(const char* path, const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                  std::uint32_t resolution) noexcept {
    platform::OutputFile f(path);
    if (!f) return false;
    std::uint8_t header[kBitmapHeaderBytes];
    bool ok = build_bitmap_header(header, width, height, resolution);
    ok = ok && std::fwrite(header, 1, sizeof header, f.get()) == sizeof header;
    if (ok && height > 0 && width > 0) {
        const std::size_t w = static_cast<std::size_t>(width);
        const std::size_t pad = static_cast<std::size_t>(bitmap_stride(w)) - w;
        static const std::uint8_t zeros[4] = {0, 0, 0, 0};
        for (std::int32_t y = 0; ok && y < height; ++y) {
            ok = std::fwrite(pixels + static_cast<std::size_t>(y) * w, 1, w, f.get()) == w;
            if (ok && pad != 0) ok = std::fwrite(zeros, 1, pad, f.get()) == pad;
        }
    }
    return f.finish(ok);
}

void build_shift_table(std::uint8_t* table, std::uint32_t maximum) noexcept {
    for (std::uint32_t v = 0; v <= maximum; ++v) table[v] = static_cast<std::uint8_t>(std::min<std::uint32_t>(v >> 4, 255));
}

void build_plain_table(std::uint8_t* table) noexcept {
    for (std::uint32_t v = 0; v <= kMaximum12Bit; ++v) table[v] = static_cast<std::uint8_t>((kMaximum12Bit - v) >> 4);
}

void build_gamma_table(std::uint8_t* table, std::uint32_t maximum, double gamma, double offset,
                       double slope) noexcept {
    const double m = static_cast<double>(maximum);
    for (std::uint32_t i = 0; i <= maximum; ++i) {
        const double t = limit(static_cast<double>(i) * slope + m * (1.0 / 255.0) * offset, m);
        table[i] = round_half_up_grey(std::pow(t / m, gamma) * 255.0);
    }
}

void build_gamma_table3(std::uint8_t* table, double gamma, double offset, double slope) noexcept {
    for (std::uint32_t i = 0; i <= kMaximum12Bit; ++i) {
        const double t = limit(static_cast<double>(i) * slope + 16.058823529411764 * offset, static_cast<double>(kMaximum12Bit));
        table[i] = round_half_up_grey(std::pow(t * (1.0 / static_cast<double>(kMaximum12Bit)), gamma) * 255.0);
    }
}

void build_window_table(std::uint8_t* table, std::uint32_t maximum, bool inverted) noexcept {
    for (std::uint32_t i = 0; i <= maximum; ++i) table[i] = window_map(inverted ? maximum - i : i);
}

void map_through_table(const std::uint16_t* in, std::uint8_t* out, std::size_t count, const std::uint8_t* table,
                       std::uint32_t maximum) noexcept {
    std::size_t i = 0;
#if TVX_SSE2
    // The limit eight at a time; the lookups then read their indices from one store.
    if (core::fast_paths() && maximum <= 0xFFFF) {
        const __m128i top = _mm_set1_epi16(static_cast<short>(maximum));
        alignas(16) std::uint16_t at[8];
        for (; i + 8 <= count; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_sub_epi16(v, _mm_subs_epu16(v, top)));
            for (std::size_t k = 0; k < 8; ++k) out[i + k] = table[at[k]];
        }
    }
#endif
    for (; i < count; ++i) out[i] = table[std::min<std::uint32_t>(in[i], maximum)];
}

void repaint_row(std::uint8_t* row, std::uint32_t width, const std::uint8_t* band, std::size_t band_size,
                 const std::uint32_t* positions, std::uint32_t count) noexcept {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t x = positions[i];
        if (x >= width) continue;
        std::memcpy(row + x, band, std::min<std::size_t>(band_size, width - x));
    }
}

bool repaint_separators(std::uint8_t* image, std::uint32_t width, std::uint32_t height, std::uint32_t band_width,
                        std::uint32_t color, const std::uint32_t* positions, std::uint32_t count) noexcept {
    core::Buffer<std::uint8_t> band(std::min(band_width, width));
    if (!band.ok()) return false;
    std::memset(band.data(), color == 1 ? 0 : 255, band.size());
    for (std::uint32_t y = 0; y < height; ++y)
        repaint_row(image + static_cast<std::size_t>(y) * width, width, band.data(), band.size(), positions, count);
    return true;
}

}  // namespace tvx::output
