// Detail enhancement filters applied to 16-bit image data before it is mapped
// to grey levels. Each pixel is pushed away from the mean of its four
// neighbours at a given distance, with a gain that depends on its own value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::output {

// Gain per data value 0..maximum for variant A: c = cos((M - v) x (pi / M)) with
// pi and the quotient in single precision, gain[v] = g + 0.8 g c |c|, where
// g = gain_percent x 0.01 (single-precision 0.01). `table` holds maximum + 1 values.
// The gain is a single-precision value; the double tables the filters use hold it widened.
void build_gain_table_a(float* table, std::uint32_t maximum, std::uint16_t gain_percent) noexcept;
void build_gain_table_a(double* table, std::uint32_t maximum, std::uint16_t gain_percent) noexcept;

// Gain per data value 0..4095 for variant B: c = cos((4095 - v) x 0.00076717767).
void build_gain_table_b(float* table, std::uint16_t gain_percent) noexcept;
void build_gain_table_b(double* table, std::uint16_t gain_percent) noexcept;

// One row of variant A at row distance `dr` (the filter distance limited by the
// top and bottom edges): `src` is the row, whose neighbours lie `stride` words
// apart above and below it. `gains` is a widened table of variant A.
void enhance_a_row(const std::uint16_t* src, std::size_t stride, std::uint16_t* dst, std::uint32_t width,
                   std::uint32_t dr, const double* gains, std::uint32_t maximum) noexcept;

// One row of variant B: a copy of the row, with its inner pixels filtered when
// `inner` (the row is at least `distance` from the top and bottom).
void enhance_b_row(const std::uint16_t* src, std::size_t stride, std::uint16_t* dst, std::uint32_t width,
                   std::uint8_t distance, bool inner, const double* gains) noexcept;

// Variant A: enhanced and inverted output in 0..maximum. Interior pixels use
// neighbours at `distance`; a pixel closer to an edge than that uses its own
// distance to the nearest edge, so no pixel outside the image is ever read
// (for images at least 2 x distance + 1 wide and high this is exactly the
// usual interior plus border rings). Input values above maximum count as
// maximum for the pixel itself; neighbours enter the mean unclamped. A pixel
// filtered at distance 0 (the outermost ring, or every pixel when the distance
// is 0) is plainly inverted: maximum - min(v, maximum).
// False when the gain table cannot be allocated (out is then untouched).
bool enhance_a(const std::uint16_t* in, std::uint16_t* out, std::uint32_t width, std::uint32_t height,
               std::uint8_t distance, std::uint16_t gain_percent, std::uint32_t maximum) noexcept;

// Variant B: out starts as a copy of in; only pixels at least `distance` from
// every edge change; values are read as signed 16-bit and limited to 0..4095;
// the neighbour sum is formed in 16-bit arithmetic; not inverted.
// False when the gain table cannot be allocated (out is then untouched).
bool enhance_b(const std::uint16_t* in, std::uint16_t* out, std::uint32_t width, std::uint32_t height,
               std::uint8_t distance, std::uint16_t gain_percent) noexcept;

// Inverts without enhancement: out = maximum - min(in, maximum).
void invert(const std::uint16_t* in, std::uint16_t* out, std::size_t count, std::uint32_t maximum) noexcept;

}  // namespace tvx::output
