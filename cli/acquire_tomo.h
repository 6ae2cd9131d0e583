// One tomographic acquisition in the host's call order, shared by
// `tavirex acquire tomo`, `tavirex calibrate tomo` and `tavirex demo`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common.h"

namespace cli {

struct TomoAcquireOptions {
    std::string config;          // read by Tavirex_Init (link, boot) and Tavirex_Init_Tomo (the rest)
    std::uint32_t frames = 1;    // 1..3
    std::string output_prefix;   // "<prefix><k>.raw" per frame; empty: none written
    std::string sim;             // the simulated module's path for its controls ("": the configuration's link library)
    std::string sim_mode;        // image mode of the simulated module ("" keeps it)
    std::vector<std::uint16_t> replay;  // recorded frames the simulated module delivers instead of new pictures
    long poll_limit = 20000;     // status polls per picture before giving up
    bool keep_frames = false;    // copy the frames into the result
    bool progress = true;        // progress line, only when standard output is a terminal
    bool process = false;        // run Tavirex_ImageProcessingEx_Tomo after the readout
    bool reverse = false;        // ... joining the frames in reverse order
    std::string processed;       // its output file
};

struct TomoAcquireResult {
    Failure failure;  // the first failing step (code 0 when every call succeeded)
    // Frame k as the library received it: the 18 blocks of 2304 rows by 128
    // columns side by side, 2304 x 2304 samples.
    std::vector<std::vector<std::uint16_t>> frames;
    std::int32_t processed_width = 0, processed_height = 0;
};

// Width of a frame laid out for inspection (its blocks side by side) and its height.
constexpr int kTomoFrameWidth = 18 * 128;
constexpr int kTomoFrameHeight = 2304;

std::int32_t acquire_tomo(const TomoAcquireOptions& options, TomoAcquireResult* result);

// The bitmap of the processed image `raw` (w x h) with the display window from its data, the
// detail filter and the P and A markers. Only the process that processed the image knows its
// depth (13 or 14 bits): elsewhere the library takes it as 12-bit data. 0 or the failing code.
std::int32_t tomo_bitmap(const std::string& raw, std::int32_t w, std::int32_t h, const std::string& bmp);

}  // namespace cli
