// Orientation markers stamped in place into 8-bit bitmap files: a white L on
// panoramic and cephalometric images, white P and A on black rounded squares
// on tomographic images. Only the band of stored rows under the marker is read
// and written.
#pragma once

#include <cstdint>

namespace tvx::output {

constexpr int kLetterLSize = 32;     // pattern size; drawn three times enlarged
constexpr int kLetterLScale = 3;
constexpr int kTomoGlyphSize = 70;
constexpr std::uint32_t kMarkerFirstRow = 32;  // stored rows below the band

// Pattern bytes are 255 (set) or 0 (clear); row 0 is the top row of the glyph.
using LetterLPattern = std::uint8_t[kLetterLSize][kLetterLSize];
using TomoPattern = std::uint8_t[kTomoGlyphSize][kTomoGlyphSize];

void build_letter_l(LetterLPattern& pattern) noexcept;
// Set only in the four rounded corners of the black square.
void build_tomo_mask(TomoPattern& pattern) noexcept;
void build_letter_a(TomoPattern& pattern) noexcept;
void build_letter_p(TomoPattern& pattern) noexcept;

// Draws the L into a band of 96 stored rows (band row 0 is the lowest) with its
// left edge at column x: pixels under set pattern pixels become white.
void draw_letter_l(std::uint8_t* band, std::uint64_t stride, std::uint32_t x, const LetterLPattern& l) noexcept;

// Draws P at column xP and A at column xA into a band of 70 stored rows: inside
// the rounded square the image becomes black with the white letter; in the
// corners it shows through.
void draw_tomo_letters(std::uint8_t* band, std::uint64_t stride, std::uint32_t xP, std::uint32_t xA,
                       const TomoPattern& mask, const TomoPattern& p, const TomoPattern& a) noexcept;

// Stamps the L: side not 0 puts its band's left edge at column 112, side 0 at width - 112.
// 0; -93 file not opened, not an 8-bit bitmap, too small for the band, or not
// read or rewritten; -95 no memory. The file is unchanged unless the final write began.
std::int32_t stamp_letter_l(const char* path, std::int32_t side) noexcept;

// Stamps P and A: side 0 puts P at width - 100 and A at 30, otherwise P at 30
// and A at width - 100. Codes as stamp_letter_l.
std::int32_t stamp_tomo_letters(const char* path, std::int32_t side) noexcept;

}  // namespace tvx::output
