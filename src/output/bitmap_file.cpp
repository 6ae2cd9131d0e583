#include "output/bitmap_file.h"

#include <cmath>

#include "core/alloc.h"
#include "core/intmath.h"
#include "output/bitmap.h"
#include "platform/file.h"
#include "platform/system.h"
#include "tavirex.h"

namespace tvx::output {
namespace {

std::uint32_t get16(const std::uint8_t* p) noexcept { return static_cast<std::uint32_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p) noexcept { return get16(p) | (get16(p + 2) << 16); }

}  // namespace

std::int32_t read_bitmap_layout(std::FILE* f, BitmapLayout* layout) noexcept {
    std::uint8_t file_header[14];
    std::uint8_t info_header[40];
    std::uint64_t size = 0;
    if (!platform::file_end_size(f, &size) || !platform::seek_to(f, 0)) return TAVIREX_E_OUTPUT_FILE;
    if (std::fread(file_header, 1, sizeof file_header, f) != sizeof file_header) return TAVIREX_E_OUTPUT_FILE;
    if (std::fread(info_header, 1, sizeof info_header, f) != sizeof info_header) return TAVIREX_E_OUTPUT_FILE;
    if (file_header[0] != 'B' || file_header[1] != 'M') return TAVIREX_E_OUTPUT_FILE;
    const std::uint32_t info_size = get32(info_header);
    const std::int32_t width = static_cast<std::int32_t>(get32(info_header + 4));
    const std::int32_t height = static_cast<std::int32_t>(get32(info_header + 8));
    const std::uint32_t bits = get16(info_header + 14);
    const std::uint32_t compression = get32(info_header + 16);
    // Positive height: rows stored bottom row first, as write_bitmap stores them.
    if (info_size < 40 || width <= 0 || height <= 0 || bits != 8 || compression != 0) return TAVIREX_E_OUTPUT_FILE;
    BitmapLayout l{};
    l.FileSize = size;
    l.PixelOffset = get32(file_header + 10);
    l.Width = static_cast<std::uint32_t>(width);
    l.Height = static_cast<std::uint32_t>(height);
    l.Stride = bitmap_stride(l.Width);
    l.ImageSize = get32(info_header + 20);
    if (static_cast<std::uint64_t>(l.PixelOffset) < 14u + static_cast<std::uint64_t>(info_size)) return TAVIREX_E_OUTPUT_FILE;
    if (l.Stride * l.Height > l.ImageSize) return TAVIREX_E_OUTPUT_FILE;
    if (static_cast<std::uint64_t>(l.PixelOffset) + l.ImageSize > l.FileSize) return TAVIREX_E_OUTPUT_FILE;
    *layout = l;
    return TAVIREX_OK;
}

void build_adjust_table(std::uint8_t* table, double gamma, double contrast, double brightness) noexcept {
    for (int i = 0; i < 256; ++i) {
        const double y = std::pow(static_cast<double>(i) / 255.0, gamma) * contrast * 255.0 + brightness;
        table[i] = static_cast<std::uint8_t>(core::trunc_clamped_to(y, UINT8_MAX));
    }
}

std::int32_t adjust_bitmap(const char* path, double gamma, double contrast, double brightness) noexcept {
    // Checked in this order; the negated forms also refuse values that are not numbers.
    if (!(0.01 <= gamma) || !(gamma <= 5.0) || !(0.0 <= contrast) || !(contrast <= 2.0) || !(-100.0 <= brightness) ||
        !(brightness <= 100.0))
        return TAVIREX_E_ADJUST_RANGE;
    platform::File f = platform::File::open(path, "r+b");
    if (!f) return TAVIREX_E_OUTPUT_FILE;
    auto run = [&]() -> std::int32_t {
        BitmapLayout l{};
        if (const std::int32_t rc = read_bitmap_layout(f.get(), &l); rc != 0) return rc;
        core::Buffer<std::uint8_t> pixels(l.ImageSize);
        if (!pixels.ok()) return TAVIREX_E_OUTPUT_MEMORY;
        if (!platform::seek_to(f.get(), l.PixelOffset)) return TAVIREX_E_OUTPUT_FILE;
        if (std::fread(pixels.data(), 1, pixels.size(), f.get()) != pixels.size()) return TAVIREX_E_OUTPUT_FILE;
        std::uint8_t table[256];
        build_adjust_table(table, gamma, contrast, brightness);
        for (std::uint8_t& b : pixels) b = table[b];
        if (!platform::seek_to(f.get(), l.PixelOffset)) return TAVIREX_E_OUTPUT_FILE;
        if (std::fwrite(pixels.data(), 1, pixels.size(), f.get()) != pixels.size()) return TAVIREX_E_OUTPUT_FILE;
        return TAVIREX_OK;
    };
    std::int32_t rc = run();
    if (!f.close() && rc == TAVIREX_OK) rc = TAVIREX_E_OUTPUT_FILE;
    return rc;
}

}  // namespace tvx::output
