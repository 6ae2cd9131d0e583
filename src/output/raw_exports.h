// Raw image file transforms and the display window taken from a raw file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::output {

// Window center and width that span the data of a raw image: center = (max + min) / 2
// limited to 0..maximum; width = max - min, 0 when negative (no pixels), and
// `maximum` when above 2 x maximum + 1.
void auto_window_of(const std::uint16_t* pixels, std::size_t count, std::uint32_t maximum, std::int32_t* center,
                    std::int32_t* width) noexcept;

// Reads the raw file and computes its window. 0, -94 file missing or short, -95 no memory or bad sizes.
std::int32_t auto_window_from_file(const char* path, std::int32_t width, std::int32_t height,
                                   std::uint32_t maximum, std::int32_t* center, std::int32_t* window_width) noexcept;

// Display-ready raw copy: enhancement variant A when distance and gain are both
// non-zero, else plain inversion (maximum - min(v, maximum)).
// 0, -93 output not written, -94 input missing or short, -95 no memory or bad sizes.
std::int32_t write_display_raw(const char* input_path, std::int32_t width, std::int32_t height,
                               std::int32_t filter_distance, std::int32_t filter_gain, const char* output_path,
                               std::uint32_t maximum) noexcept;

// Left-right mirror of every row.
void mirror_rows(const std::uint16_t* in, std::uint16_t* out, std::size_t width, std::size_t height) noexcept;

// Mirrors a raw file into another. Codes as write_display_raw.
std::int32_t mirror_raw_file(const char* input_path, std::int32_t width, std::int32_t height,
                             const char* output_path) noexcept;

}  // namespace tvx::output
