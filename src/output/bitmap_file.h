// In-place edits of 8-bit bitmap files written by write_bitmap: the header
// check that every edit runs first, and the grey-level adjustment.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tvx::output {

struct BitmapLayout {
    std::uint64_t FileSize;
    std::uint32_t PixelOffset;
    std::uint32_t Width;
    std::uint32_t Height;     // stored rows, bottom row first
    std::uint64_t Stride;     // bytes per stored row
    std::uint32_t ImageSize;  // bytes of pixel data (padding included)
};

// Reads the file and information headers of an open file and checks that it is
// an uncompressed 8-bit bitmap with positive width and height, stored bottom row
// first, whose rows all lie inside the file. 0, or -93 for anything else
// (nothing is written).
std::int32_t read_bitmap_layout(std::FILE* file, BitmapLayout* layout) noexcept;

// Adjustment table: y = (i / 255)^gamma x contrast x 255 + brightness, limited to 0..255, truncated.
void build_adjust_table(std::uint8_t* table, double gamma, double contrast, double brightness) noexcept;

// Applies the adjustment to every pixel byte (row padding included) in place.
// -97 parameter out of range (file not opened); -93 not an 8-bit bitmap, or not
// read or rewritten; -95 no memory; 0 done.
std::int32_t adjust_bitmap(const char* path, double gamma, double contrast, double brightness) noexcept;


}  // namespace tvx::output
