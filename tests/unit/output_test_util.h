// Helpers for the image file output tests: raw files, bitmaps and byte access.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "output/bitmap.h"
#include "support/support.h"

namespace tvxtest {

inline void write_raw(const std::string& path, const std::vector<std::uint16_t>& px) {
    std::string bytes;
    for (std::uint16_t v : px) {
        bytes.push_back(static_cast<char>(v & 0xFF));
        bytes.push_back(static_cast<char>(v >> 8));
    }
    write_file(path, bytes);
}

inline std::vector<std::uint16_t> read_raw(const std::string& path) {
    const std::string bytes = read_file(path);
    std::vector<std::uint16_t> px(bytes.size() / 2);
    for (std::size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                           (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    return px;
}

inline std::uint32_t le32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 3])) << 24;
}

inline std::uint32_t le16(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[at + 1])) << 8;
}

// An 8-bit bitmap file whose every pixel is `grey` and whose padding bytes are `pad`.
inline std::string make_bitmap(std::int32_t width, std::int32_t height, std::uint8_t grey, std::uint8_t pad = 0) {
    std::string file(tvx::output::kBitmapHeaderBytes, '\0');
    tvx::output::build_bitmap_header(reinterpret_cast<std::uint8_t*>(file.data()), width, height,
                                     tvx::output::kBitmapResolution);
    const std::size_t stride = static_cast<std::size_t>(tvx::output::bitmap_stride(static_cast<std::uint64_t>(width)));
    std::string row(stride, static_cast<char>(pad));
    std::memset(row.data(), grey, static_cast<std::size_t>(width));
    for (std::int32_t y = 0; y < height; ++y) file += row;
    return file;
}

// Pixel byte at stored row `row` (0 = lowest) and column `col` of a bitmap file from make_bitmap.
inline std::uint8_t pixel(const std::string& file, std::int32_t width, std::int32_t row, std::int32_t col) {
    const std::size_t stride = static_cast<std::size_t>(tvx::output::bitmap_stride(static_cast<std::uint64_t>(width)));
    return static_cast<std::uint8_t>(file[tvx::output::kBitmapHeaderBytes + static_cast<std::size_t>(row) * stride +
                                          static_cast<std::size_t>(col)]);
}

}  // namespace tvxtest
