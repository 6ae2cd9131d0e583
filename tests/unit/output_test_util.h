// Helpers for the image file output tests: raw files and 8-bit bitmaps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/bitmap.h"
#include "support/support.h"

namespace tvxtest {

using Raw = std::vector<std::uint16_t>;

// Raw files are little-endian 16-bit words without a header.
inline void write_raw(const std::string& path, const Raw& px) {
    std::string bytes;
    for (std::uint16_t v : px) bytes += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    write_file(path, bytes);
}

inline Raw read_raw(const std::string& path) {
    const std::string b = read_file(path);
    Raw px(b.size() / 2);
    for (std::size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[2 * i]) |
                                           static_cast<std::uint8_t>(b[2 * i + 1]) << 8);
    return px;
}

// Little-endian field of `bytes` bytes at `at`.
inline std::uint32_t le(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

inline std::size_t stride(std::int32_t width) { return (static_cast<std::size_t>(width) + 3) / 4 * 4; }

// An 8-bit bitmap file whose every pixel is `grey` and whose padding bytes are `pad`.
inline std::string make_bitmap(std::int32_t width, std::int32_t height, std::uint8_t grey, std::uint8_t pad = 0) {
    std::string file(tvx::output::kBitmapHeaderBytes, '\0');
    tvx::output::build_bitmap_header(reinterpret_cast<std::uint8_t*>(file.data()), width, height,
                                     tvx::output::kBitmapResolution);
    std::string row(stride(width), static_cast<char>(pad));
    row.replace(0, static_cast<std::size_t>(width), static_cast<std::size_t>(width), static_cast<char>(grey));
    for (std::int32_t y = 0; y < height; ++y) file += row;
    return file;
}

// Pixel byte at stored row `row` (0 = lowest) and column `col` of a bitmap `width` wide.
inline int pixel(const std::string& file, std::int32_t width, std::int32_t row, std::int32_t col) {
    return static_cast<std::uint8_t>(file[1078 + static_cast<std::size_t>(row) * stride(width) +
                                          static_cast<std::size_t>(col)]);
}

// All pixel bytes, lowest stored row first, padding left out.
inline std::vector<int> pixels(const std::string& file, std::int32_t width, std::int32_t height) {
    std::vector<int> out;
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) out.push_back(pixel(file, width, y, x));
    return out;
}

}  // namespace tvxtest
