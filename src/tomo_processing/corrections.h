// Strip corrections of a tomographic frame and the joining of its strips: the
// steps that run from the dark-offset removal up to the joined image. Each is a
// free function over the frame and plain values; the driver reads the record,
// passes the values (the DEBUG switches as a diag::Trace) and copies the frame's
// geometry back afterwards. No step modifies the values it is given.
//
// Frame as captured: 2n + 2 blocks of 2304 rows; block 2t is X-ray strip t,
// block 2t + 1 its dark block, blocks 2n and 2n + 1 the calibration pair (X and
// dark). After the dark-offset step strip t is block t. Rows 0-767, 768-1535 and
// 1536-2303 are the three chips. M is frame.max_value.
//
// The hot loops have SSE2 versions beside the plain ones (core/simd.h); both
// give the same image.
//
// Results: 0, 3 (a value out of range for the step or a frame too small for it),
// 5 (no memory), 26, 28, 100, 101 as listed. A step that fails with 3 or 5 has
// not changed the image; the others may have started on it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/alloc.h"
#include "diag/diag.h"
#include "state/records.h"
#include "tomo_processing/frame.h"

namespace tvx::tomo {

// ---- Dark offset --------------------------------------------------------------
// DELDC on. Per chip, fits X = a x dark + b by least squares over the calibration
// pair (rows 1, 6, 11, ... of the chip, columns 12, 22, ... below width - 12) and
// subtracts from every X pixel the offset predicted from its dark pixel (limited to
// 0..M, rounded half up); the difference is limited to 0..M. A chip without samples
// (width 24 or less) gets offset 0. Strip t moves to block t.
// 0, 3 (height not 2304, buffer smaller than 2n + 2 blocks) or 5.
std::int32_t subtract_dark_offset(TomoFrame& frame) noexcept;

// DELDC off: strip t moves to block t unchanged. 0 or 3 (buffer smaller than 2n blocks).
std::int32_t drop_dark_blocks(TomoFrame& frame) noexcept;

// ---- Gain and offset ------------------------------------------------------------
// CORRSENS on. Reads the per-pixel gain table "<folder><sensor_id>a.tbl" and offset
// table "<folder><sensor_id>b.tbl" (the identifier text, a type letter, then one
// little-endian float per pixel of a strip) and sets every pixel of every strip to
// pixel x gain + offset in single precision, limited to 0..M and truncated.
// 0, 3 (folder above 512 or identifier above 10 characters, buffer smaller than n
// blocks), 5, 26 (table of another sensor), 100 (table missing, short or too long)
// or 101 (wrong type letter).
std::int32_t correct_sensitivity(TomoFrame& frame, const char* folder, const char* sensor_id) noexcept;

// ---- Binning ----------------------------------------------------------------------
// Always run. Replaces every `pixel` adjacent columns of each strip by their sum and
// packs the strips to the new width (leftover columns at the right dropped); the bit
// depth grows by log2(pixel) rounded up and M is multiplied by `pixel` (both sums
// and M held at 65535 at most). `pixel` 0 changes nothing.
// 0 or 3 (the sum could exceed 16 bits at the present bit depth, buffer smaller than n blocks).
std::int32_t bin_columns(TomoFrame& frame, std::uint16_t pixel) noexcept;

// ---- Noise rows ---------------------------------------------------------------------
// CORRINJLINE on. Interpolates the bands of defective rows listed in the table
// "<folder><sensor_id>.dat" (the line table of the panoramic injection-line
// correction, positions used as stored) in every strip. A band without a row above
// and below it inside the strip is skipped. Uses the buffer after the strips as
// scratch when it holds a copy of them, else takes its own.
// 0, 3 (path too long, buffer smaller than n blocks), 5 or 28 (table missing,
// short or too long). Messages under trace.process, the table under trace.param.
std::int32_t correct_noise_rows(TomoFrame& frame, const char* folder, const char* sensor_id,
                                const diag::Trace& trace = {}) noexcept;

// ---- Chip gaps ------------------------------------------------------------------------
struct ChipGapParams {
    std::uint16_t ccd_gap0 = 2;     // rows the first chip moves up
    std::uint16_t ccd_gap1 = 3;     // rows the third chip moves down
    std::uint16_t bottom_cut0 = 1;  // rows of the first chip given up above the first gap
    std::uint16_t top_cut1 = 1;     // rows of the second chip given up below the first gap
    std::uint16_t bottom_cut1 = 1;  // rows of the second chip given up above the second gap
    std::uint16_t top_cut2 = 1;     // rows of the third chip given up below the second gap
};

// FILLIN on. In every strip moves the first chip up and the third chip down by their
// gaps and fills the rows between the last good rows around each gap by linear
// interpolation (defaults: rows 765-768 and 1535-1539).
// 0 or 3 (a gap or its good rows outside the strip, buffer smaller than n blocks).
std::int32_t fill_chip_gaps(TomoFrame& frame, const ChipGapParams& p) noexcept;

// ---- Strip joining ----------------------------------------------------------------------
struct StripJoinParams {
    bool use_cuts = true;  // PUTIMAGES: false joins edge to edge (cuts, shifts and overlay taken as 0)
    std::uint16_t left_cut[kTomoListSize] = {};   // columns hidden at the left of strip s
    std::uint16_t right_cut[kTomoListSize] = {};  // columns hidden at the right of strip s
    std::uint16_t up_down[kTomoListSize] = {};    // signed 16-bit: rows strip s sits above strip s - 1
    std::uint16_t overlay = 4;                    // half-width of the overlap of neighbouring strips
    std::uint16_t average = 50;                   // half-height of the ratio average
    std::uint16_t top_offset = 0;                 // rows at the top kept out of the ratio average
    std::uint16_t bottom_offset = 0;              // rows at the bottom kept out of the ratio average
    bool write_profiles = false;                  // OUTPUT: "profile_<s-1>R<s>L.csv" per joint, current folder
};

// Always run. Shifts strip s up by the sum of up_down[0..s] (down when negative; the
// rows uncovered repeat the strip's edge row), then joins the strips left to right:
// each trimmed by its cuts, neighbours overlapping by 2 x overlay columns, each new
// strip scaled row by row to the brightness of the joined part and cross-faded into
// it. The joined width is rounded up to a multiple of 4 (the added columns are 0);
// the image ends up at the start of the buffer with strips 1.
// 0, 3 (no strips or more than the lists hold, a cut below overlay, cuts of a strip
// reaching its width, a shift sum reaching the height, joined image larger than the
// buffer or than 65535 columns) or 5. Parameters and joined size under trace.param.
std::int32_t join_strips(TomoFrame& frame, const StripJoinParams& p, const diag::Trace& trace = {}) noexcept;

// ---- Shared by the steps ------------------------------------------------------------------
// Pixels of `blocks` blocks of the present geometry.
inline std::size_t block_pixels(const TomoFrame& f, std::size_t blocks) noexcept {
    return blocks * f.width * f.height;
}

// True when the buffer holds `blocks` blocks of the present geometry.
inline bool holds_blocks(const TomoFrame& f, std::size_t blocks) noexcept {
    return f.data != nullptr && block_pixels(f, blocks) <= f.capacity;
}

// `pixels` words of scratch: the buffer after its first `used` pixels when that
// part is large enough, otherwise a block of `own`. nullptr without memory.
inline std::uint16_t* scratch_space(const TomoFrame& f, std::size_t used, std::size_t pixels,
                                    core::Buffer<std::uint16_t>& own) noexcept {
    if (used <= f.capacity && pixels <= f.capacity - used) return f.data + used;
    return own.reset(pixels) ? own.data() : nullptr;
}

}  // namespace tvx::tomo
