// Headerless raw image files: width x height unsigned 16-bit little-endian
// words, row after row, first row first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::output {

// Deletes any file at the path, writes the pixels, and deletes the file again
// after a short write. False when the file could not be created or fully written
// (no file is left at the path then).
bool write_raw_image(const char* path, const std::uint16_t* pixels, std::size_t width, std::size_t height) noexcept;

// True when the file opens and holds at least width x height words: checked
// before the buffers for a read are taken, so a short or missing file costs no
// allocation of the size it claims.
bool raw_file_holds(const char* path, std::size_t width, std::size_t height) noexcept;

// Reads exactly width x height words into `into`, which must hold that many.
// False when the file does not open or is shorter. Extra bytes are ignored.
bool read_raw_image(const char* path, std::uint16_t* into, std::size_t width, std::size_t height) noexcept;

}  // namespace tvx::output
