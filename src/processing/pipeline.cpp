#include "processing/pipeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/device_config.h"
#include "core/intmath.h"
#include "diag/diag.h"
#include "output/raw_file.h"
#include "platform/file.h"
#include "processing/fast_steps.h"
#include "processing/steps.h"
#include "state/context.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

core::ImageView image_of(DeviceContext& d) { return core::ImageView{d.ImageBuffer, d.ImageWidth, d.ImageHeight}; }

// The image must exist and the pass bookkeeping must describe it.
bool image_ready() {
    const DeviceContext& d = Device;
    if (PictureStage != kPictureReadOut) return false;
    if (d.ImageBuffer == nullptr || d.ImageWidth == 0 || d.ImageHeight == 0) return false;
    if (PassCount < 1 || PassCount > core::kMaxPasses) return false;
    return ReadSegments >= 1 && ReadSegments <= PassCount;
}

std::int32_t write_separated(const char* path, const std::uint16_t* pixels, std::uint32_t width,
                             std::uint32_t height, std::uint32_t* width_out, std::uint32_t* height_out) {
#if TVX_SSE2
    if (core::fast_paths())
        return write_with_separators(path, pixels, width, height, ReadSegments, SeparatorLineList.Width,
                                     SeparatorLineList.Color, &SeparatorLineList, width_out, height_out);
#endif
    core::Buffer<std::uint16_t> separated;
    std::uint32_t out_width = 0;
    const std::int32_t rc = insert_separators(pixels, width, height, ReadSegments, SeparatorLineList.Width,
                                              SeparatorLineList.Color, &separated, &out_width, &SeparatorLineList);
    if (rc != TAVIREX_OK) return rc;
    if (width_out != nullptr) *width_out = out_width;
    if (height_out != nullptr) *height_out = height;
    if (!output::write_raw_image(path, separated.data(), out_width, height)) return TAVIREX_E_PROCESS_OUTPUT;
    return TAVIREX_OK;
}


std::int32_t validate(const DeviceContext& d) {
    if (d.ClockMode > core::kClockCodeCeph) return TAVIREX_E_RANGE;
    if (d.CephMode == 0) {
        if (d.ClockMode > core::kClockCodePanoLast) return TAVIREX_E_RANGE;
    } else if (d.CephMode == 1) {
        if (d.ClockMode != core::kClockCodeCeph) return TAVIREX_E_RANGE;
    } else {
        return TAVIREX_E_RANGE;
    }
    if (d.SegmentCount < 1 || d.SegmentCount > core::kMaxPasses) return TAVIREX_E_RANGE;
    if (d.SegmentCount > core::passes_of(d.ClockMode)) return TAVIREX_E_RANGE;
    return TAVIREX_OK;
}

std::int32_t join_and_fill(DeviceContext& d, const diag::Trace& trace) {
    std::uint32_t w = 0, h = 0;
    std::int32_t rc = join_ccd_chips(image_of(d), d.XyCorr[kXPos2], d.XyCorr[kYPos2], d.XyCorr[kUpperYPos2], &w, &h, trace);
    if (rc != TAVIREX_OK) return rc;
    d.ImageWidth = static_cast<std::uint16_t>(w);
    d.ImageHeight = static_cast<std::uint16_t>(h);
    if (!d.ProcessFlags[kFillOpening]) return TAVIREX_OK;
    trace.banner("  5.FILLINOPENING");
    if (d.CephMode == 0) return fill_opening_pano(image_of(d), d.XyCorr);
    if (d.CephMode == 1) return fill_opening_ceph(image_of(d), d.XyCorr);
    return TAVIREX_E_RANGE;
}

// Segment width trimmed by the side cuts, rounded up to a multiple of 4.
std::int64_t trimmed_width(std::uint16_t segment_width, std::uint16_t side_cut) {
    const std::int64_t w = static_cast<std::int64_t>(segment_width) - 2 * static_cast<std::int64_t>(side_cut);
    return ((w + 3) >> 2) << 2;
}

JointSmoothingParams joint_params(const DeviceContext& d) {
    JointSmoothingParams p;
    p.ave_range = d.AveRange;
    p.ave_range_low = d.AveRangeLow;
    p.chg_sum_range = d.ChgSumRange;
    p.ypos = d.XyCorr[kYPos];
    p.ypos2 = d.XyCorr[kYPos2];
    p.upper_ypos = d.XyCorr[kUpperYPos];
    p.ccd_gap = d.XyCorr[kCcdGap];
    p.ccd_gap2 = d.XyCorr[kCcdGap2];
    p.ceph_mode = d.CephMode;
    return p;
}

// The second brightness scale's operations; false for a sensor flag that is neither 0 nor 1.
bool second_selector(const DeviceContext& d, std::uint8_t* selector) {
    if (d.CephMode > 1) return false;
    *selector = d.CephMode == 0 ? kScaleAll : d.SecondBriScaleSelect;
    return true;
}

std::int32_t run_block_steps(const DeviceContext& d, core::ImageView block, const diag::Trace& trace) {
    std::int32_t rc;
    if (d.ProcessFlags[kDelNoise]) {
        trace.banner("  7.DELNOISE");
        if ((rc = remove_noise(block)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kBriSmooth]) {
        trace.banner("  8.BRISMOOTH");
        if ((rc = smooth_joint_brightness(block, joint_params(d), trace)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kCorrBriScale]) {
        trace.banner("  9.CORRBRISCALE");
        correct_brightness_scale(kScaleAll, block, d.ManySideCutRatio, d.FewSideCutRatio, trace);
    }
    if (d.ProcessFlags[kEmphasisContrast]) {
        trace.banner(" 10.EMPHASISCONTRAST");
        if ((rc = emphasise_contrast(block, d.SimaRange, d.SmoothRange, trace)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kSecondCorrBriScale]) {
        trace.banner(" 11.2ndCORRBRISCALE");
        std::uint8_t selector;
        if (!second_selector(d, &selector)) return TAVIREX_E_RANGE;
        correct_brightness_scale(selector, block, d.ManySideCutRatio, d.FewSideCutRatio, trace);
    }
    return TAVIREX_OK;
}

#if TVX_SSE2
// The block steps of run_block_steps on a block inside the image, with the work
// memory taken for the run.
std::int32_t run_block_steps_fast(const DeviceContext& d, fast::BlockView block, const diag::Trace& trace, void* work) {
    if (d.ProcessFlags[kDelNoise]) {
        trace.banner("  7.DELNOISE");
        fast::remove_noise(block, work, true);
    }
    if (d.ProcessFlags[kBriSmooth]) {
        trace.banner("  8.BRISMOOTH");
        const std::int32_t rc = fast::smooth_joint_brightness(block, joint_params(d), trace, work);
        if (rc != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kCorrBriScale]) {
        trace.banner("  9.CORRBRISCALE");
        fast::correct_brightness_scale(kScaleAll, block, d.ManySideCutRatio, d.FewSideCutRatio, trace);
    }
    if (d.ProcessFlags[kEmphasisContrast]) {
        trace.banner(" 10.EMPHASISCONTRAST");
        fast::emphasise_contrast(block, d.SimaRange, d.SmoothRange, trace, work);
    }
    if (d.ProcessFlags[kSecondCorrBriScale]) {
        trace.banner(" 11.2ndCORRBRISCALE");
        std::uint8_t selector;
        if (!second_selector(d, &selector)) return TAVIREX_E_RANGE;
        fast::correct_brightness_scale(selector, block, d.ManySideCutRatio, d.FewSideCutRatio, trace);
    }
    return TAVIREX_OK;
}

// The block stage in the image itself, when every block lies inside its rows, the
// blocks follow one another without overlap, each holds 12-bit values only (the
// steps keep them so) and the joint smoothing can read as it goes. The blocks are
// then packed side by side at the start of the image: each row moves towards the
// start and never onto a part not yet moved. False when it does not apply. The
// work memory is taken before any block changes, and the steps cannot fail after
// that (the sensor flag was checked by validate), so a failure leaves the image as it was.
bool run_block_stage_in_place(DeviceContext& d, const std::uint64_t* first, std::uint32_t n, std::uint32_t bw,
                              bool mirror, const diag::Trace& trace, std::int32_t* rc) {
    const core::ImageView image = image_of(d);
    const std::uint32_t h = image.height;
    std::uint64_t end = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
        if (first[k] < end || first[k] + bw > image.width) return false;
        end = first[k] + bw;
    }
    const auto view = [&](std::uint32_t k) { return fast::BlockView{image.data + first[k], bw, h, image.width}; };
    for (std::uint32_t k = 0; k < n; ++k)
        if (!fast::twelve_bit(view(k))) return false;
    if (d.ProcessFlags[kBriSmooth] && !fast::joint_smoothing_applies(joint_params(d), h, trace)) return false;

    std::size_t bytes = 0;
    if (d.ProcessFlags[kDelNoise]) bytes = std::max(bytes, fast::noise_work(bw));
    if (d.ProcessFlags[kBriSmooth]) bytes = std::max(bytes, fast::joint_work(bw, h, joint_params(d)));
    if (d.ProcessFlags[kEmphasisContrast]) bytes = std::max(bytes, fast::contrast_work(bw, h));
    core::Buffer<std::uint8_t> work(bytes);
    *rc = work.ok() ? TAVIREX_OK : TAVIREX_E_NO_MEMORY;
    for (std::uint32_t k = 0; *rc == TAVIREX_OK && k < n; ++k) {
        const fast::BlockView block = view(k);
        if (mirror)
            for (std::uint32_t y = 0; y < h; ++y) std::reverse(block.row(y), block.row(y) + bw);
        *rc = run_block_steps_fast(d, block, trace, work.data());
    }
    if (*rc != TAVIREX_OK) return true;
    const std::uint32_t joined_width = n * bw;
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t k = 0; k < n; ++k)
            std::memmove(image.data + static_cast<std::size_t>(y) * joined_width + static_cast<std::size_t>(k) * bw,
                         image.row(y) + first[k], sizeof(std::uint16_t) * bw);
    d.ImageWidth = static_cast<std::uint16_t>(joined_width);
    return true;
}
#endif

}  // namespace

std::int32_t run_block_stage(DeviceContext& d, const diag::Trace& trace) {
    const bool corr = d.ProcessFlags[kCorrImgSize] != 0;
    if (corr) trace.banner("  6.CORRIMGSIZE");
    const std::uint32_t n = core::passes_of(d.ClockMode);
    const std::uint32_t nominal = core::kLinesPerPass[d.ClockMode];
    std::int64_t b = nominal & ~3u;
    if (corr) {
        const std::uint32_t segs = core::clamp_to<std::uint32_t>(d.SegmentCount, 1, 4);
        b = trimmed_width(d.SegmentWidth[0], d.SideCutWidth);
        for (std::uint32_t k = 1; k < segs; ++k) {
            const std::int64_t w = trimmed_width(d.SegmentWidth[k], d.SideCutWidth);
            if (w > b) b = w;
        }
    }
    // The joined blocks replace the image in its own buffer, so they may not be wider.
    if (b < 1 || static_cast<std::int64_t>(n) * b > d.ImageWidth) return TAVIREX_E_RANGE;
    const std::uint32_t bw = static_cast<std::uint32_t>(b);
    const std::uint32_t h = d.ImageHeight;
    const std::uint32_t joined_width = n * bw;
    std::uint64_t first[core::kMaxPasses];
    for (std::uint32_t k = 0; k < n; ++k) {
        first[k] = static_cast<std::uint64_t>(k) * nominal;
        if (corr) first[k] += static_cast<std::uint64_t>(d.SegmentStart[k]) + d.SideCutWidth + d.DefaultOffset;
    }
#if TVX_SSE2
    std::int32_t rc = TAVIREX_OK;
    if (core::fast_paths() && run_block_stage_in_place(d, first, n, bw, corr, trace, &rc)) return rc;
#endif

    core::Buffer<std::uint16_t> block(static_cast<std::size_t>(bw) * h);
    if (!block.ok()) return TAVIREX_E_NO_MEMORY;
    core::Buffer<std::uint16_t> joined(static_cast<std::size_t>(joined_width) * h);
    if (!joined.ok()) return TAVIREX_E_NO_MEMORY;

    const core::ImageView image = image_of(d);
    const core::ImageView view{block.data(), bw, h};
    for (std::uint32_t k = 0; k < n; ++k) {
        cut_block(image, first[k], corr, view);
        const std::int32_t rc = run_block_steps(d, view, trace);
        if (rc != TAVIREX_OK) return rc;
        for (std::uint32_t y = 0; y < h; ++y)
            std::memcpy(joined.data() + static_cast<std::size_t>(y) * joined_width + static_cast<std::size_t>(k) * bw,
                        view.row(y), sizeof(std::uint16_t) * bw);
    }
    std::memcpy(d.ImageBuffer, joined.data(), joined.bytes());
    d.ImageWidth = static_cast<std::uint16_t>(joined_width);
    return TAVIREX_OK;
}

DarkOffsetParams dark_offset_params(const DeviceContext& d) {
    DarkOffsetParams p;
    p.clock_table = d.ClockTable;
    p.clock_table_length = d.ClockTableLength;
    p.clock_mode = d.ClockMode;
    p.segment_count = d.SegmentCount;
    p.segment_start = d.SegmentStart;
    p.segment_width = d.SegmentWidth;
    return p;
}

std::int32_t run_pipeline(DeviceContext& d) {
    std::int32_t rc = validate(d);
    if (rc != TAVIREX_OK) return rc;
    take_debug_flags(d);
    const diag::Trace trace = diag::trace_of(DebugFlags);
    trace.banner("ImageProcessing  START");
    if (d.ProcessFlags[kDelDc]) {
        trace.banner("  1.DELDC");
        if ((rc = remove_dark_offset(image_of(d), dark_offset_params(d))) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kDelShadw]) {
        trace.banner("  2.DELSHADW");
        if ((rc = correct_shading(image_of(d), d.CalibDataPath)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kCorrInjLine]) {
        trace.banner("  3.CORRINJLINE");
        if ((rc = correct_injection_lines(image_of(d), d.CorrLineDataPath, d.CephMode == 0, trace)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kPxImg]) {
        trace.banner("  4.PXIMG");
        if ((rc = join_and_fill(d, trace)) != TAVIREX_OK) return rc;
    }
    if ((rc = run_block_stage(d, trace)) != TAVIREX_OK) return rc;
    trace.banner("ImageProcessing  END  ");
    return TAVIREX_OK;
}

std::int32_t process_export(const char* output_path, std::uint32_t* width, std::uint32_t* height, bool ex2) {
    if (output_path == nullptr || width == nullptr || height == nullptr) return TAVIREX_E_RANGE;
    if (!image_ready()) return TAVIREX_E_RANGE;
    // The picture is processed in place, so only once: a second run would take the
    // result of the first (or of a run that failed half way) for a picture. A readout
    // gives the picture again.
    PictureStage = kPictureSetUp;
    DeviceContext& d = Device;
    std::int32_t rc;
    if (ex2) {
        const std::uint8_t scale = d.ProcessFlags[kCorrBriScale];
        const std::uint8_t emphasis = d.ProcessFlags[kEmphasisContrast];
        d.ProcessFlags[kCorrBriScale] = 0;
        d.ProcessFlags[kEmphasisContrast] = 0;
        rc = run_pipeline(d);
        d.ProcessFlags[kCorrBriScale] = scale;
        d.ProcessFlags[kEmphasisContrast] = emphasis;
    } else {
        config::read_separator_settings(SeparatorLineList, ConfigPath);
        std::memset(SeparatorLineList.Position, 0, sizeof SeparatorLineList.Position);
        SeparatorLineList.Count = 0;
        rc = run_pipeline(d);
    }
    if (rc != TAVIREX_OK) return rc;
    *width = d.ImageWidth;
    *height = d.ImageHeight;
    std::uint32_t kept = 0;
    if ((rc = crop_and_order(image_of(d), PassCount, ReadSegments, &kept)) != TAVIREX_OK) return rc;
    d.ImageWidth = static_cast<std::uint16_t>(kept);
    *width = d.ImageWidth;
    return write_separated(output_path, d.ImageBuffer, d.ImageWidth, d.ImageHeight, width, height);
}

std::int32_t dummy_export(const char* input_path, const char* output_path, const std::uint32_t* width,
                          const std::uint32_t* height) {
    if (input_path == nullptr || output_path == nullptr || width == nullptr || height == nullptr)
        return TAVIREX_E_RANGE;
    const std::uint32_t w = *width;
    const std::uint32_t h = *height;
    // An image without pixels, or split into more passes than the unit makes, is not a picture.
    if (w == 0 || h == 0 || ReadSegments > core::kMaxPasses) return TAVIREX_E_RANGE;
    TomoImageActive = 0;

    if (!platform::File::open(input_path, "rb")) return TAVIREX_E_DATA_FILE;
    const std::uint64_t count = static_cast<std::uint64_t>(w) * h;
    if (count > SIZE_MAX / 2) return TAVIREX_E_NO_MEMORY;
    // A size the file cannot back is refused before its buffer is asked for.
    if (!output::raw_file_holds(input_path, w, h)) return TAVIREX_E_DATA_FILE;
    core::Buffer<std::uint16_t> image;
    if (!image.reset(static_cast<std::size_t>(count))) return TAVIREX_E_NO_MEMORY;
    if (!output::read_raw_image(input_path, image.data(), w, h)) return TAVIREX_E_DATA_FILE;
    std::uint32_t out_width = 0, out_height = 0;
    return write_separated(output_path, image.data(), w, h, &out_width, &out_height);
}

}  // namespace tvx::processing
