#include "output/raw_exports.h"

#include <algorithm>

#include "core/alloc.h"
#include "core/intmath.h"
#include "output/bitmap.h"
#include "output/enhance.h"
#include "output/raw_file.h"
#include "tavirex.h"

namespace tvx::output {

void auto_window_of(const std::uint16_t* pixels, std::size_t count, std::uint32_t maximum, std::int32_t* center,
                    std::int32_t* width) noexcept {
    std::uint16_t lo = 65535, hi = 0;
    for (std::size_t i = 0; i < count; ++i) {
        lo = std::min(lo, pixels[i]);
        hi = std::max(hi, pixels[i]);
    }
    const std::int32_t m = static_cast<std::int32_t>(maximum);
    *center = std::clamp((static_cast<std::int32_t>(hi) + lo) / 2, 0, m);
    std::int32_t w = static_cast<std::int32_t>(hi) - lo;
    if (w < 0) w = 0;
    if (w > 2 * m + 1) w = m;
    *width = w;
}

std::int32_t auto_window_from_file(const char* path, std::int32_t width, std::int32_t height,
                                   std::uint32_t maximum, std::int32_t* center, std::int32_t* window_width) noexcept {
    if (!raw_sizes_ok(width, height)) return TAVIREX_E_OUTPUT_MEMORY;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (!raw_file_holds(path, static_cast<std::size_t>(width), static_cast<std::size_t>(height)))
        return TAVIREX_E_INPUT_FILE;
    core::Buffer<std::uint16_t> raw(pixels);
    if (!raw.ok()) return TAVIREX_E_OUTPUT_MEMORY;
    if (!read_raw_image(path, raw.data(), static_cast<std::size_t>(width), static_cast<std::size_t>(height)))
        return TAVIREX_E_INPUT_FILE;
    auto_window_of(raw.data(), pixels, maximum, center, window_width);
    return TAVIREX_OK;
}

namespace {

// The frame of both raw-file transforms: size check, the two buffers, the read,
// `transform(in, out, w, h)` (false: no memory for its own work) and the write.
template <typename Transform>
std::int32_t transform_raw_file(const char* input_path, std::int32_t width, std::int32_t height,
                                const char* output_path, Transform transform) noexcept {
    if (!raw_sizes_ok(width, height)) return TAVIREX_E_OUTPUT_MEMORY;
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    if (!raw_file_holds(input_path, w, h)) return TAVIREX_E_INPUT_FILE;
    core::Buffer<std::uint16_t> in(w * h);
    core::Buffer<std::uint16_t> out(w * h);
    if (!in.ok() || !out.ok()) return TAVIREX_E_OUTPUT_MEMORY;
    if (!read_raw_image(input_path, in.data(), w, h)) return TAVIREX_E_INPUT_FILE;
    if (!transform(in.data(), out.data(), w, h)) return TAVIREX_E_OUTPUT_MEMORY;
    return write_raw_image(output_path, out.data(), w, h) ? TAVIREX_OK : TAVIREX_E_OUTPUT_FILE;
}

}  // namespace

std::int32_t write_display_raw(const char* input_path, std::int32_t width, std::int32_t height,
                               std::int32_t filter_distance, std::int32_t filter_gain, const char* output_path,
                               std::uint32_t maximum) noexcept {
    return transform_raw_file(input_path, width, height, output_path,
                              [&](const std::uint16_t* in, std::uint16_t* out, std::size_t w, std::size_t h) {
                                  if (filter_distance != 0 && filter_gain != 0)
                                      return enhance_a(in, out, static_cast<std::uint32_t>(w),
                                                       static_cast<std::uint32_t>(h),
                                                       core::low8(static_cast<std::uint32_t>(filter_distance)),
                                                       core::low16(static_cast<std::uint32_t>(filter_gain)), maximum);
                                  invert(in, out, w * h, maximum);
                                  return true;
                              });
}

void mirror_rows(const std::uint16_t* in, std::uint16_t* out, std::size_t width, std::size_t height) noexcept {
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint16_t* src = in + y * width;
        std::uint16_t* dst = out + y * width;
        std::reverse_copy(src, src + width, dst);
    }
}

std::int32_t mirror_raw_file(const char* input_path, std::int32_t width, std::int32_t height,
                             const char* output_path) noexcept {
    return transform_raw_file(input_path, width, height, output_path,
                              [](const std::uint16_t* in, std::uint16_t* out, std::size_t w, std::size_t h) {
                                  mirror_rows(in, out, w, h);
                                  return true;
                              });
}

}  // namespace tvx::output
