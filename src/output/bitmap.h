// 8-bit greyscale bitmap files: header, writer, the per-value mapping tables
// that turn 16-bit data into grey levels, and the separator band repaint.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/geometry.h"

namespace tvx::output {

constexpr std::size_t kBitmapHeaderBytes = 1078;  // file header, info header, 256-entry palette
constexpr std::uint32_t kBitmapResolution = 10416;  // pixels per metre
constexpr std::uint32_t kBitmapResolution3 = 10000;  // pixels per metre, Tavirex_SaveBitmap3
constexpr std::uint32_t kMaximum12Bit = core::kSampleMax;

// Row length in the file: width rounded up to a multiple of 4.
constexpr std::uint64_t bitmap_stride(std::uint64_t width) noexcept { return width + ((4 - width % 4) % 4); }

// True when a width x height image of 16-bit words and its bitmap can be held
// and described: no negative size, the word count fits in memory sizes, and
// the file size fits the header's 32-bit fields.
bool raw_sizes_ok(std::int32_t width, std::int32_t height) noexcept;
bool bitmap_sizes_ok(std::int32_t width, std::int32_t height) noexcept;

// Builds the 1078-byte header for a bottom-up 8-bit bitmap with a grey palette.
// False when the sizes cannot be described (negative, or the file size does not fit 32 bits).
bool build_bitmap_header(std::uint8_t* header, std::int32_t width, std::int32_t height,
                         std::uint32_t resolution) noexcept;

// Deletes any file at the path and writes the bitmap: header, then each row of
// `pixels` (width bytes, first row first) padded with zero bytes to the stride.
// After a failed or short write the file is deleted again. True on success.
bool write_bitmap(const char* path, const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                  std::uint32_t resolution) noexcept;

// Mapping tables from data values 0..maximum (table of maximum + 1 bytes).

// Tavirex_SaveBitmap, inverted data already in 0..maximum: grey = value >> 4, at most 255.
void build_shift_table(std::uint8_t* table, std::uint32_t maximum) noexcept;
// Tavirex_SaveBitmap without filter, raw 12-bit data: grey = (4095 - value) >> 4 (4096 entries).
void build_plain_table(std::uint8_t* table) noexcept;
// Gamma, offset (grey levels) and slope: t = i x slope + M x (1/255) x offset limited to 0..M,
// grey = (t / M)^gamma x 255 limited to 0..255, rounded half up.
void build_gamma_table(std::uint8_t* table, std::uint32_t maximum, double gamma, double offset,
                       double slope) noexcept;
// The same for Tavirex_SaveBitmap3 on 12-bit data, with its constants 4095/255 and 1/4095.
void build_gamma_table3(std::uint8_t* table, double gamma, double offset, double slope) noexcept;
// Display window: table[i] = window(i), or window(maximum - i) when `inverted`.
void build_window_table(std::uint8_t* table, std::uint32_t maximum, bool inverted) noexcept;

// out[i] = table[min(in[i], maximum)].
void map_through_table(const std::uint16_t* in, std::uint8_t* out, std::size_t count, const std::uint8_t* table,
                       std::uint32_t maximum) noexcept;

// Copies the band (its grey, `band_size` bytes) to each listed column of one row, clipped to the row.
void repaint_row(std::uint8_t* row, std::uint32_t width, const std::uint8_t* band, std::size_t band_size,
                 const std::uint32_t* positions, std::uint32_t count) noexcept;

// Paints `count` separator bands of `band_width` columns into every row of an
// 8-bit image: 0 when color is 1, else 255. Bands are clipped to the row.
// False when the band cannot be allocated (the image is then unchanged).
bool repaint_separators(std::uint8_t* image, std::uint32_t width, std::uint32_t height, std::uint32_t band_width,
                        std::uint32_t color, const std::uint32_t* positions, std::uint32_t count) noexcept;

}  // namespace tvx::output
