// The steps that finish a tomographic frame once its strips are joined into one
// image (strip count 1): cropping, the two noise filters, the brightness scaling
// and tone curve, the half turn, and the area-averaging resampler the driver uses
// to bring each frame to its magnification. Each step is a free function over the
// frame and plain values; the driver reads the record, passes the values (the
// DEBUG switches as a diag::Trace) and copies the frame's geometry back.
//
// The hot loops have SSE2 versions beside the plain ones (core/simd.h); both
// give the same image. M is frame.max_value, B frame.bit_depth. Results: 0, 3 (a
// value out of range, or a frame whose width x height does not lie inside its
// buffer), 5 (no memory). A step that fails leaves the image as it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "diag/diag.h"
#include "tomo_processing/frame.h"

namespace tvx::tomo {

// True when the frame's width x height pixels lie inside its buffer.
inline bool frame_fits(const TomoFrame& frame) noexcept {
    const std::size_t n = static_cast<std::size_t>(frame.width) * frame.height;
    return n <= frame.capacity && (frame.data != nullptr || n == 0);
}

// ---- Cropping (CORRIMGSIZE) -------------------------------------------------
struct CropMargins {
    std::uint16_t top = 0;     // rows dropped at the top
    std::uint16_t bottom = 0;  // rows dropped at the bottom
    std::uint16_t left = 0;    // columns dropped at the left
    std::uint16_t right = 0;   // columns dropped at the right
};

// Packs the rows and columns inside the margins to the start of the buffer and
// sets the frame's width and height to what remains; when no row or no column
// remains, the size becomes 0 x 0 and no pixel moves.
// 0, or 3 when top + bottom exceeds the height or left + right the width.
std::int32_t crop_frame(TomoFrame& frame, const CropMargins& margins) noexcept;

// ---- Noise filters (DELNOISE1, DELNOISE2) -----------------------------------
// Both read only the unfiltered image and replace it at the end. The nine-sample
// neighbourhoods need a width and height of at least 5; smaller images are left
// as they are (DELNOISE1 first treats images narrower than 3 columns as one run
// of values, which needs at least 9 of them).
constexpr std::uint32_t kNeighbourhood = 9;
constexpr std::uint32_t kCenter = 4;

// Positions (row x width + column) of the nine samples of pixel (x, y), in their
// fixed order, sample kCenter being the center: the 3 x 3 window inside; two
// columns (rows) by five on an edge, centered on the pixel moved to at least two
// from the corner; at a corner four along its column, the corner, the diagonal
// neighbour and three along its row. Needs w >= 5, h >= 5, x < w and y < h.
void neighbourhood(std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
                   std::size_t (&index)[kNeighbourhood]) noexcept;

// DELNOISE1: every pixel becomes its neighbourhood's center value limited to the
// range of the other eight samples, so isolated spikes and pits go and edges stay.
// An image narrower than 3 columns is taken as one run of values instead: each
// value is limited to the range of the eight around the nearest position at
// least four from either end. 0, 3 or 5.
std::int32_t clamp_to_neighbours(const TomoFrame& frame) noexcept;

// DELNOISE2: every pixel becomes the first of its nine samples nearest to their
// mean (sum / 9, integer division) that lies closer than M; with none, it keeps
// its value. 0, 3 or 5.
std::int32_t replace_by_nearest_to_mean(const TomoFrame& frame) noexcept;

// ---- Brightness (CORRBRISCALE) ----------------------------------------------
constexpr std::uint8_t kSelectScaling = 1;    // histogram clip and stretch
constexpr std::uint8_t kSelectToneCurve = 2;  // circular-arc tone curve

struct BrightnessParams {
    std::uint8_t select = kSelectScaling | kSelectToneCurve;
    double many_side = 0.001;   // percent of the pixels that may lie above the high clip level
    double few_side = 0.001;    // percent of the pixels that may lie below the low clip level
    std::uint16_t target = 128;  // 8-bit level the attention level is brought to, 0..255
    double percentage = 50.0;   // percent of the pixels below the attention level
};

// Runs the scaling when select bit 0 is set, then (unless it failed) the tone
// curve when bit 1 is set; with both set, in one pass over the image. 0, 3 or 5.
std::int32_t correct_brightness(const TomoFrame& frame, const BrightnessParams& params,
                                const diag::Trace& trace = {}) noexcept;

// Clips the pixels to the levels beyond which the sparse ends of the histogram
// lie (searched outward from the median: up to the median less one on the dark
// side, down to the median plus one on the bright side) and stretches the rest
// to 0..M. Prints both pixel-count thresholds under trace.check_state. 0, 3 or 5.
std::int32_t scale_brightness(const TomoFrame& frame, double many_side, double few_side,
                              const diag::Trace& trace = {}) noexcept;

// Maps the pixels through the circular arc from (0, 0) to (M, M) that carries the
// attention level (below which `percentage` percent of the pixels lie) to the
// target level 2^(B-8) x target, with the arc's center kept outside the square.
// Parameters under trace.param, levels under trace.check_state.
// 0, 3 (target above 255) or 5.
std::int32_t change_tone_curve(const TomoFrame& frame, std::uint16_t target, double percentage,
                               const diag::Trace& trace = {}) noexcept;

// Counts of every level 0..M (M + 1 entries); a pixel above M counts as M.
void level_histogram(const TomoFrame& frame, std::uint32_t* counts) noexcept;

// The pieces of the two brightness steps, so that correct_brightness can run both
// with one histogram and one pass over the image: the tone curve's histogram is
// the scaling's with every level's count moved to the level it is scaled to.
//
// Maps every pixel, limited to M, through table[0..M].
void map_levels(const TomoFrame& frame, const std::uint32_t* table) noexcept;
// The scaling's table from the histogram `counts` of n pixels and the two pixel-count
// thresholds; `table` may be `counts`.
void scale_table(const std::uint32_t* counts, std::uint32_t* table, std::size_t n, std::uint32_t top,
                 std::int64_t bright, std::int64_t dark) noexcept;
// Prints the tone curve's parameters; false when the target is out of range.
bool tone_target_ok(std::uint16_t target, double percentage, const diag::Trace& trace) noexcept;
// Turns the histogram `table` of n pixels of the frame into the tone curve's table
// and prints the levels; false, table untouched, when the attention level is the target.
bool tone_table(std::uint32_t* table, std::size_t n, const TomoFrame& frame, std::uint16_t target, double percentage,
                const diag::Trace& trace) noexcept;

// n x percent x 0.01 truncated, saturating (core::trunc_to_i64_saturating): a
// pixel count given in percent; no configured value makes it undefined.
std::int64_t percent_of_pixels(std::size_t n, double percent) noexcept;

// ---- Half turn --------------------------------------------------------------
// Turns the image by 180 degrees in place (rows in reverse order, each row
// reversed); the size stays. 0 or 3. Needs no memory.
std::int32_t rotate_half_turn(const TomoFrame& frame) noexcept;

// ---- Resampling -------------------------------------------------------------
// Fills the dest_width x dest_height buffer `dest` from the source image: each
// destination pixel is the area-weighted mean, truncated, of the source pixels its
// rectangle (x, y) x source size / destination size to (x + 1, y + 1) x ... covers,
// partly covered ones by their covered fraction. A destination with no pixels is
// left alone. 0, 3 (a source with no pixels for a destination with some) or 5.
std::int32_t resample_area_average(const std::uint16_t* source, std::uint16_t source_width,
                                   std::uint16_t source_height, std::uint16_t* dest, std::uint16_t dest_width,
                                   std::uint16_t dest_height) noexcept;

}  // namespace tvx::tomo
