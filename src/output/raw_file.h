// Headerless raw image files: width x height unsigned 16-bit little-endian
// words, row after row, first row first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/alloc.h"

namespace tvx::output {

// Deletes any file at the path, writes the pixels, and deletes the file again
// after a short write. 0, or -1 when the file could not be created or fully written
// (no file is left at the path then).
std::int32_t write_raw_image(const char* path, const std::uint16_t* pixels, std::size_t width,
                             std::size_t height) noexcept;

// Reads exactly width x height words into `into`, which must hold that many.
// 0; -1 when the file does not open; -2 when it is shorter. Extra bytes are ignored.
std::int32_t read_raw_image(const char* path, std::uint16_t* into, std::size_t width, std::size_t height) noexcept;

}  // namespace tvx::output
