#include "processing/pipeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/device_config.h"
#include "core/intmath.h"
#include "core/simd.h"
#include "diag/diag.h"
#include "output/raw_file.h"
#include "platform/file.h"
#include "platform/workers.h"
#include "processing/steps.h"
#include "state/context.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

core::ImageView image_of(const DeviceContext& d) { return core::ImageView{d.ImageBuffer, d.ImageWidth, d.ImageHeight}; }

// The image must exist and the pass bookkeeping must describe it.
bool image_ready() {
    const DeviceContext& d = Device;
    if (PictureStage != kPictureReadOut) return false;
    if (d.ImageBuffer == nullptr || d.ImageWidth == 0 || d.ImageHeight == 0) return false;
    if (PassCount < 1 || PassCount > core::kMaxPasses) return false;
    return ReadSegments >= 1 && ReadSegments <= PassCount;
}

// The banded image is written a block of rows at a time, with no banded copy of
// the image; the bytes are those of the whole banded image.
std::int32_t write_separated(const char* path, const std::uint16_t* pixels, std::uint32_t width,
                             std::uint32_t height, std::uint32_t* width_out, std::uint32_t* height_out) {
    return write_with_separators(path, pixels, width, height, ReadSegments, SeparatorLineList.Width,
                                 SeparatorLineList.Color, &SeparatorLineList, width_out, height_out);
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

// One block step: its switch, its banner, how it runs on a block, and what it
// needs to run in place (see steps.h). `run` gets the work memory of the in-place
// stage, or null when the step is to take its own.
struct BlockStep {
    std::size_t flag;
    const char* banner;
    std::int32_t (*run)(const DeviceContext& d, ImageView block, const diag::Trace& trace, void* work);
    std::size_t (*work)(const DeviceContext& d, std::uint32_t width, std::uint32_t height);  // null: none
    bool (*in_place)(const DeviceContext& d, std::uint32_t rows, const diag::Trace& trace);  // null: always
};

std::int32_t scale_block(std::uint8_t selector, const DeviceContext& d, ImageView block, const diag::Trace& trace) {
    correct_brightness_scale(selector, block, d.ManySideCutRatio, d.FewSideCutRatio, trace);
    return TAVIREX_OK;
}

// The block steps in the order they run.
const BlockStep kBlockSteps[] = {
    {kDelNoise, "  7.DELNOISE",
     [](const DeviceContext&, ImageView b, const diag::Trace&, void* work) { return remove_noise(b, work); },
     [](const DeviceContext&, std::uint32_t w, std::uint32_t) { return noise_work(w); }, nullptr},
    {kBriSmooth, "  8.BRISMOOTH",
     [](const DeviceContext& d, ImageView b, const diag::Trace& t, void* work) {
         return smooth_joint_brightness(b, joint_params(d), t, work);
     },
     [](const DeviceContext& d, std::uint32_t w, std::uint32_t h) { return joint_work(w, h, joint_params(d)); },
     [](const DeviceContext& d, std::uint32_t rows, const diag::Trace& t) {
         return joint_smoothing_in_place(joint_params(d), rows, t);
     }},
    {kCorrBriScale, "  9.CORRBRISCALE",
     [](const DeviceContext& d, ImageView b, const diag::Trace& t, void*) { return scale_block(kScaleAll, d, b, t); },
     nullptr, nullptr},
    {kEmphasisContrast, " 10.EMPHASISCONTRAST",
     [](const DeviceContext& d, ImageView b, const diag::Trace& t, void* work) {
         return emphasise_contrast(b, d.SimaRange, d.SmoothRange, t, work);
     },
     [](const DeviceContext&, std::uint32_t w, std::uint32_t h) { return contrast_work(w, h); }, nullptr},
    {kSecondCorrBriScale, " 11.2ndCORRBRISCALE",
     [](const DeviceContext& d, ImageView b, const diag::Trace& t, void*) -> std::int32_t {
         std::uint8_t selector;
         if (!second_selector(d, &selector)) return TAVIREX_E_RANGE;
         return scale_block(selector, d, b, t);
     },
     nullptr, nullptr},
};

std::int32_t run_block_steps(const DeviceContext& d, ImageView block, const diag::Trace& trace, void* work) {
    for (const BlockStep& step : kBlockSteps) {
        if (!d.ProcessFlags[step.flag]) continue;
        trace.banner(step.banner);
        const std::int32_t rc = step.run(d, block, trace, work);
        if (rc != TAVIREX_OK) return rc;
    }
    return TAVIREX_OK;
}

// True when the block stage may run in the image itself: on the fast paths, when
// every block lies inside its rows, the blocks follow one another without
// overlap, each holds 12-bit values only (the steps keep them so) and every step
// switched on can run in place. The blocks are then packed side by side at the
// start of the image: each row moves towards the start and never onto a part not
// yet moved. The work memory the steps need is stored through `bytes`; it is
// taken before any block changes, and the steps cannot fail after that (the
// sensor flag was checked by validate), so a failure leaves the image as it was.
bool blocks_in_place(const DeviceContext& d, const std::uint64_t* first, std::uint32_t n, std::uint32_t bw,
                     const diag::Trace& trace, std::size_t* bytes) {
    if (!core::fast_paths()) return false;
    const core::ImageView image = image_of(d);
    const std::uint32_t h = image.height;
    std::uint64_t end = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
        if (first[k] < end || first[k] + bw > image.width) return false;
        end = first[k] + bw;
    }
    for (std::uint32_t k = 0; k < n; ++k)
        if (!core::twelve_bit(ImageView{image.data + first[k], bw, h, image.width})) return false;
    *bytes = 0;
    for (const BlockStep& step : kBlockSteps) {
        if (!d.ProcessFlags[step.flag]) continue;
        if (step.in_place != nullptr && !step.in_place(d, h, trace)) return false;
        if (step.work != nullptr) *bytes = std::max(*bytes, step.work(d, bw, h));
    }
    return true;
}

// The in-place block stage. The blocks share no pixel and the steps keep their
// reads and writes inside their block, so the blocks run on workers, one slice of
// work memory per task, all taken before the fork. Tasks take blocks k, k + tasks,
// ... With any trace switch on the blocks run in order on this thread, so the
// trace reads as one sequence. The steps cannot fail here (see blocks_in_place);
// were one to, the first failing block's code is returned, as in order.
std::int32_t run_blocks_in_place(DeviceContext& d, const std::uint64_t* first, std::uint32_t n, std::uint32_t bw,
                                 bool corr, const diag::Trace& trace, std::size_t work_bytes) {
    const bool traced = trace.process || trace.param || trace.check_state;
    const std::uint32_t tasks = traced ? 1 : std::min<std::uint32_t>(n, platform::worker_count());
    const std::size_t slice = (work_bytes + 63) & ~std::size_t{63};
    core::Buffer<std::uint8_t> work;
    if (!work.reset(slice * tasks)) return TAVIREX_E_NO_MEMORY;
    const core::ImageView image = image_of(d);
    const std::uint32_t h = image.height;
    std::int32_t codes[core::kMaxPasses] = {};
    const auto run = [&](std::uint32_t t) {
        for (std::uint32_t k = t; k < n; k += tasks) {
            const core::ImageView view{image.data + first[k], bw, h, image.width};
            if (corr)
                for (std::uint32_t y = 0; y < h; ++y) std::reverse(view.row(y), view.row(y) + bw);
            codes[k] = run_block_steps(d, view, trace, work.data() + slice * t);
        }
    };
    if (tasks == 1)
        run(0);
    else
        platform::run_parallel(tasks, [&run](std::uint32_t t) { run(t); });
    for (std::uint32_t k = 0; k < n; ++k)
        if (codes[k] != TAVIREX_OK) return codes[k];
    const std::uint32_t joined_width = n * bw;
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t k = 0; k < n; ++k)
            std::memmove(image.data + static_cast<std::size_t>(y) * joined_width + static_cast<std::size_t>(k) * bw,
                         image.row(y) + first[k], sizeof(std::uint16_t) * bw);
    d.ImageWidth = static_cast<std::uint16_t>(joined_width);
    return TAVIREX_OK;
}

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
    // In place, the work memory of the steps; otherwise a block cut out and the joined image.
    std::size_t work_bytes = 0;
    const bool in_place = blocks_in_place(d, first, n, bw, trace, &work_bytes);
    const core::ImageView image = image_of(d);
    if (in_place) return run_blocks_in_place(d, first, n, bw, corr, trace, work_bytes);
    core::Buffer<std::uint16_t> block, joined;
    if (!block.reset(static_cast<std::size_t>(bw) * h) || !joined.reset(static_cast<std::size_t>(joined_width) * h))
        return TAVIREX_E_NO_MEMORY;

    for (std::uint32_t k = 0; k < n; ++k) {
        const core::ImageView view{block.data(), bw, h};
        cut_block(image, first[k], corr, view);
        const std::int32_t rc = run_block_steps(d, view, trace, nullptr);
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
