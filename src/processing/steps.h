// The numbered steps of the panoramic and cephalometric processing pipeline.
// Each is a free function over an image view and plain parameters; the driver
// (pipeline.h) reads the device record and passes the values, the DEBUG switches
// included (as a diag::Trace). Every step keeps
// its reads and writes inside the view and leaves the image unchanged when it
// fails. Pixels are 12-bit values in 16-bit words.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state/records.h"
#include "core/alloc.h"
#include "core/geometry.h"
#include "core/image.h"
#include "diag/diag.h"

namespace tvx::processing {

using core::ImageView;

// ---- Step 1: dark offset removal -----------------------------------------
struct DarkOffsetParams {
    const std::uint16_t* clock_table = nullptr;  // line-clock period of every column
    std::uint32_t clock_table_length = 0;
    std::uint8_t clock_mode = 0;                  // 0..4
    std::uint8_t segment_count = 0;               // captured passes, 1..4
    const std::uint16_t* segment_start = nullptr;  // 4 entries: time-lag lines before each pass
    const std::uint16_t* segment_width = nullptr;  // 4 entries: picture lines of each pass
};

// Running sum of the 64 line-clock periods before every column, block by block
// (periods before a block's start count as 12). Entries past the last block are 0.
// `profile` holds `columns` entries; the caller guarantees columns and the table
// length cover every block.
void dark_profile(const DarkOffsetParams& p, std::uint32_t* profile, std::uint32_t columns);

// Least-squares line x = a + b y over m pairs. False when m is 0.
bool fit_line(const std::uint16_t* x, const std::uint32_t* y, std::uint32_t m, double* a, double* b);

// Fits each row's dark level against the profile over the columns after each
// pass's picture and subtracts it. 0, 3 (clock table or image narrower than the
// blocks, bad clock code) or 5.
std::int32_t remove_dark_offset(ImageView image, const DarkOffsetParams& p);

// ---- Step 2: shading removal ----------------------------------------------
// Replaces every pixel by its row's entry of the calibration file (height tables
// of 4096 little-endian words). 0, 5, 8 (cannot open) or 13 (wrong size).
std::int32_t correct_shading(ImageView image, const char* calibration_path);

// ---- Step 3: injection line correction -------------------------------------
// Interpolates the bands of defective rows listed in the line table. Panoramic
// positions count from the sensor's first row and are moved up by half the image
// height. 0, 5, 8 (cannot open) or 14 (table invalid).
std::int32_t correct_injection_lines(ImageView image, const char* table_path, bool panoramic,
                                     const diag::Trace& trace = {});

// ---- Steps 4 and 5: CCD joining and opening fill ---------------------------
// Turns the image upside down, joins the 768-row chips and trims the width to a
// multiple of 4. The joined size is stored through the two pointers (the pixels
// then have that row length). 0, 3 (height not a multiple of 768, or offsets
// that would put rows outside the image) or 5.
std::int32_t join_ccd_chips(ImageView image, std::uint16_t xpos2, std::uint16_t ypos2, std::uint16_t upper_ypos2,
                            std::uint32_t* width, std::uint32_t* height, const diag::Trace& trace = {});

// Closes the opening between the two panoramic chips. 0, or 3 (image unchanged)
// when the opening or the rows around it would lie outside the image.
std::int32_t fill_opening_pano(ImageView image, const std::uint16_t (&xy)[kXyCorrCount]);

// Closes the two openings between the three cephalometric chips. 0 or 3 as above.
std::int32_t fill_opening_ceph(ImageView image, const std::uint16_t (&xy)[kXyCorrCount]);

// ---- Steps 7 to 11: the block steps -----------------------------------------
// The block steps also run on a block inside the image (a view with the image's
// stride) with their work memory given: the driver's in-place block stage, on the
// fast paths, for a block of 12-bit values (the steps keep it so). It takes the
// largest `*_work` of the steps it runs before any block changes, so the steps
// then cannot fail for memory. Without work memory a step takes its own.

// ---- Step 7: noise removal -------------------------------------------------
// Replaces every inner pixel by the value of its 3 x 3 window closest to the
// window's mean. 0 or 5.
std::int32_t remove_noise(ImageView block, void* work = nullptr);
std::size_t noise_work(std::uint32_t width) noexcept;

// ---- Step 8: brightness smoothing across CCD joints ------------------------
struct JointSmoothingParams {
    std::uint16_t ave_range = 80;      // rows after a joint
    std::uint16_t ave_range_low = 80;  // rows before a joint
    std::uint16_t chg_sum_range = 30;  // vertical half window
    std::uint16_t ypos = 768;
    std::uint16_t ypos2 = 767;
    std::uint16_t upper_ypos = 0;
    std::uint16_t ccd_gap = 2;
    std::uint16_t ccd_gap2 = 3;
    std::uint8_t ceph_mode = 0;
};

// 0, 3 (sensor flag neither 0 nor 1) or 5.
std::int32_t smooth_joint_brightness(ImageView block, const JointSmoothingParams& p, const diag::Trace& trace = {},
                                     void* work = nullptr);
std::size_t joint_work(std::uint32_t width, std::uint32_t height, const JointSmoothingParams& p) noexcept;
// True when the step may run in place: its fast kernel reads the ambient
// brightness of each joint as it goes, which needs the rows one joint reads to lie
// outside the band the other joint changes; and row progress (check_state) is
// printed by the plain step only.
bool joint_smoothing_in_place(const JointSmoothingParams& p, std::uint32_t rows, const diag::Trace& trace) noexcept;

// Blend weight of a row y in the band of the joint at row j: 0 at the joint,
// rising to nearly 1 at the band's edges.
double joint_weight(std::int32_t y, std::int32_t joint, std::uint16_t ave_range, std::uint16_t ave_range_low);

// ---- Steps 9 and 11: brightness scale correction ---------------------------
constexpr std::uint8_t kScaleClip = 4;
constexpr std::uint8_t kScaleStretch = 2;
constexpr std::uint8_t kScaleToneCurve = 1;
constexpr std::uint8_t kScaleAll = kScaleClip | kScaleStretch | kScaleToneCurve;

// Runs the operations chosen by the selector bits: histogram clip, linear
// stretch, circular-arc tone curve, in that order. Cannot fail.
void correct_brightness_scale(std::uint8_t selector, ImageView block, double many_side, double few_side,
                              const diag::Trace& trace = {});

void clip_histogram(ImageView block, double many_side, double few_side);
void stretch_linear(ImageView block);
void apply_tone_curve(ImageView block);

// Smallest value whose cumulative count reaches total / 2; -1 if none does.
std::int32_t histogram_median(const std::uint32_t* histogram, std::uint64_t total);

// ---- Step 10: contrast emphasis ---------------------------------------------
// Subtracts half the smoothed row and column backgrounds and re-centers on 2048. 0 or 5.
std::int32_t emphasise_contrast(ImageView block, double sigma_factor, std::uint16_t smooth_range,
                                const diag::Trace& trace = {}, void* work = nullptr);
std::size_t contrast_work(std::uint32_t width, std::uint32_t height) noexcept;

// Moving average of `length` values over range / 2 on either side. 0 or 5.
std::int32_t smooth_average(double* values, std::int16_t length, std::uint16_t range, const diag::Trace& trace = {});

// Outlier-resistant mean of `count` pixels read with the given stride; the
// variance is stored through `variance`.
double clipped_mean(const std::uint16_t* first, std::uint32_t count, std::size_t stride, double sigma_factor,
                    double* variance);

// ---- Pass blocks and segments ----------------------------------------------
// Copies B columns of the image starting at `first_column` into the block
// (mirrored left to right when asked). Columns past a row's end continue into the
// following row, as the image is one run of memory; nothing past the image is read
// (those pixels are 0).
void cut_block(ImageView image, std::uint64_t first_column, bool mirror, ImageView block);

// Keeps the first `read_segments` of `pass_count` equal segments of every row,
// puts them into display order and packs the rows to the kept width, stored
// through `kept_width`. 0, or -96 without memory (image unchanged).
std::int32_t crop_and_order(ImageView image, std::uint32_t pass_count, std::uint32_t read_segments,
                            std::uint32_t* kept_width);

// Display order: output segment k is taken from segment kSegmentOrder[count][k].
extern const std::uint8_t kSegmentOrder[5][4];

// Writes the image with `band` columns of separator color between the `count`
// segments of every row straight to a raw file, a block of rows at a time, with no
// banded copy of the image: `list` and the sizes are set, then the file is deleted
// and written (and deleted again after a short write). 0 or -96.
std::int32_t write_with_separators(const char* path, const std::uint16_t* pixels, std::uint32_t width,
                                   std::uint32_t height, std::uint32_t count, std::uint32_t band,
                                   std::uint32_t color, SeparatorLines* list, std::uint32_t* width_out,
                                   std::uint32_t* height_out);

}  // namespace tvx::processing
