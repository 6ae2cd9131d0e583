#include "tomo_processing/pipeline.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "config/device_config.h"
#include "core/alloc.h"
#include "core/intmath.h"
#include "output/raw_file.h"
#include "platform/system.h"
#include "platform/workers.h"
#include "state/context.h"
#include "tavirex.h"
#include "tomo_processing/corrections.h"
#include "tomo_processing/finishing.h"
#include "tomo_processing/join_frames.h"

namespace tvx::tomo {
namespace {

// Magnification of frame k: the three projections are taken at slightly different distances.
constexpr double kMagnification[3] = {1.014, 1.0, 0.985};
constexpr std::uint32_t kMaxFrames = 3;

StripJoinParams join_params(const TomoContext& r) {
    StripJoinParams p;
    p.use_cuts = r.ProcessFlags[kTomoPutImages] != 0;
    std::memcpy(p.left_cut, r.LeftCut, sizeof p.left_cut);
    std::memcpy(p.right_cut, r.RightCut, sizeof p.right_cut);
    std::memcpy(p.up_down, r.UpDown, sizeof p.up_down);
    p.overlay = r.Overlay;
    p.average = r.Average;
    p.top_offset = r.TopOffset;
    p.bottom_offset = r.BottomOffset;
    p.write_profiles = r.DebugOutput != 0;
    return p;
}

// The strips as captured: the first steps, up to joining.
std::int32_t correct_strips(const TomoContext& r, TomoFrame& f, const diag::Trace& trace) {
    std::int32_t rc;
    if (r.ProcessFlags[kTomoDelDc]) {
        trace.banner("..1.DelDC_method2");
        rc = subtract_dark_offset(f);
    } else {
        trace.banner("..1.DeleteDCArea");
        rc = drop_dark_blocks(f);
    }
    if (rc != 0) return rc;
    if (r.ProcessFlags[kTomoCorrSens]) {
        trace.banner("..2.CorrSens4TomoC");
        if ((rc = correct_sensitivity(f, r.RefFolder, r.SensorId)) != 0) return rc;
    }
    if ((rc = bin_columns(f, r.Binning)) != 0) return rc;
    if (r.ProcessFlags[kTomoCorrInjLine]) {
        trace.banner("..3.CORRINJLINE");
        if ((rc = correct_noise_rows(f, r.RefFolder, r.SensorId, trace)) != 0) return rc;
    }
    if (r.ProcessFlags[kTomoFillIn]) {
        trace.banner("  5.FILLINOPENING");
        const ChipGapParams gaps{r.CcdGap0, r.CcdGap1, r.BottomCut0, r.TopCut1, r.BottomCut1, r.TopCut2};
        if ((rc = fill_chip_gaps(f, gaps)) != 0) return rc;
    }
    return TAVIREX_OK;
}

// The joined image: cropping, noise removal, brightness, the half turn.
std::int32_t finish_image(const TomoContext& r, TomoFrame& f, const diag::Trace& trace) {
    std::int32_t rc;
    if (r.ProcessFlags[kTomoCorrImgSize]) {
        trace.banner("  -.CORRIMGSIZE");
        if ((rc = crop_frame(f, CropMargins{r.TopOffset, r.BottomOffset, r.LeftOffset, r.RightOffset})) != 0) return rc;
    }
    if (r.ProcessFlags[kTomoDelNoise1]) {
        trace.banner("  3.DELNOISE1");
        if ((rc = clamp_to_neighbours(f)) != 0) return rc;
    }
    if (r.ProcessFlags[kTomoDelNoise2]) {
        trace.banner("  4.DELNOISE2");
        if ((rc = replace_by_nearest_to_mean(f)) != 0) return rc;
    }
    if (r.ProcessFlags[kTomoCorrBriScale]) {
        trace.banner("  5.CORRBRISCALE");
        const BrightnessParams b{r.SelectFlg1st, r.XManySidePercentage, r.XFewSidePercentage, r.Target, r.Percentage};
        if ((rc = correct_brightness(f, b, trace)) != 0) return rc;
    }
    return rotate_half_turn(f);
}

// The folder part of the output path (through its last separator), or the whole
// path when it has none: the dump files are named by appending to it.
void dump_prefix(const char* output_path, char* out, std::size_t size) {
    std::snprintf(out, size, "%s", output_path);
    char* cut = nullptr;
    for (char* p = out; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') cut = p;
    if (cut != nullptr) cut[1] = '\0';
}

// Every frame the capture counted must have been read out and not yet processed, in the
// layout the steps will walk: a strip count changed since the readout (Tavirex_Init_Tomo,
// an earlier processing run) no longer describes the buffers.
bool frames_ready(const TomoContext& r) {
    if (r.FrameCount > kMaxFrames) return false;
    if (r.FrameCount != 0 && r.FrameStrips != r.StripCount) return false;
    for (std::uint32_t k = 0; k < r.FrameCount; ++k)
        if (r.FrameList[k] == nullptr) return false;
    return true;
}

struct Saved {
    std::uint16_t strips, bit_depth, max_value;
};

// One frame through processing and scaling, ready to join. Owns the frame buffer
// until it is released: as soon as the scaled copy is made, or with the result.
struct FrameResult {
    std::int32_t rc = TAVIREX_OK;
    bool ran = false;
    std::uint16_t* frame = nullptr;
    core::Buffer<std::uint16_t> scaled;
    core::ImageView image;    // what joins: the processed frame or its scaled copy
    TomoFrame geometry;       // the frame's geometry after processing, for the record

    FrameResult() = default;
    FrameResult(const FrameResult&) = delete;
    FrameResult& operator=(const FrameResult&) = delete;
    ~FrameResult() { core::release(frame); }
};

// Processes frame k (its buffer held by `out`), dumps it and scales it by its
// magnification. Writes nothing but `out` and the dump file, so frames can run on
// workers at once. 0 or the failing code, also left in out.rc.
std::int32_t process_frame(const TomoContext& r, std::uint32_t k, const Saved& saved, const char* prefix,
                           FrameResult& out) noexcept {
    out.ran = true;
    TomoFrame f;
    f.data = out.frame;
    f.capacity = 2u * (saved.strips + 1u) * static_cast<std::size_t>(kStripWidth) * kStripHeight;
    f.width = kStripWidth;
    f.height = kStripHeight;
    f.strips = saved.strips;
    f.bit_depth = saved.bit_depth;
    f.max_value = saved.max_value;
    std::int32_t& rc = out.rc;
    rc = process_tomo_frame(r, f);
    out.geometry = f;
    if (rc != 0) return rc;
    const double m = r.FrameCount == 1 ? 1.0 : kMagnification[k];
    const auto sw = static_cast<std::uint16_t>(static_cast<std::int64_t>(f.width * m));
    const auto sh = static_cast<std::uint16_t>(static_cast<std::int64_t>(f.height * m));
    // A frame that would join as nothing (cropped away, or scaled below one row or column)
    // would be missing from the picture without a word: refuse the run instead.
    if (sw == 0 || sh == 0) return rc = TAVIREX_E_RANGE;

    char dump[kConfigPathSize + 32];
    std::snprintf(dump, sizeof dump, "%s%s%02d.dat", prefix, "SegTomo", static_cast<int>(k));
    if (!output::write_raw_image(dump, f.data, f.width, f.height)) return rc = TAVIREX_E_DATA_FILE;

    out.image = core::ImageView{f.data, f.width, f.height};
    if (m != 1.0) {
        if (!out.scaled.reset(static_cast<std::size_t>(sw) * sh)) return rc = TAVIREX_E_NO_MEMORY;
        if ((rc = resample_area_average(f.data, f.width, f.height, out.scaled.data(), sw, sh)) != 0) return rc;
        out.image = core::ImageView{out.scaled.data(), sw, sh};
        // The frame buffer is far larger than the scaled image: it goes now.
        core::release(out.frame);
        out.frame = nullptr;
    }
    return rc;
}

// True when the frames may run on workers at once: more than one of each, and no
// diagnostics, whose messages and profile files would interleave.
bool frames_in_parallel(const TomoContext& r, std::uint32_t frames) {
    const diag::Trace t = diag::trace_of(DebugFlags);
    return frames > 1 && platform::worker_count() > 1 && !t.process && !t.param && !t.check_state && r.DebugOutput == 0;
}

}  // namespace

std::int32_t process_tomo_frame(const TomoContext& r, TomoFrame& f) noexcept {
    const diag::Trace trace = diag::trace_of(DebugFlags);
    trace.banner("ImageProcessing4TomoC START");
    std::int32_t rc = correct_strips(r, f, trace);
    if (rc != 0) return rc;
    trace.banner("..4.PUTIMAGES");
    if ((rc = join_strips(f, join_params(r), trace)) != 0) return rc;
    if ((rc = finish_image(r, f, trace)) != 0) return rc;
    trace.banner("ImageProcessing4IntraO  END  ");
    return TAVIREX_OK;
}

std::int32_t process_tomo_export(const char* output_path, std::int32_t* width, std::int32_t* height,
                                 bool reverse_order) noexcept {
    TomoContext& r = Tomo;
    take_debug_flags(r);
    // The frames are consumed whatever happens: released on every way out.
    struct Release {
        ~Release() { release_tomo_frames(Tomo); }
    } release;
    if (output_path == nullptr || output_path[0] == '\0' || width == nullptr || height == nullptr) return TAVIREX_E_RANGE;
    if (std::strlen(output_path) >= kConfigPathSize) return TAVIREX_E_RANGE;
    if (!frames_ready(r)) return TAVIREX_E_RANGE;

    TomoImageActive = 1;
    config::read_separator_settings(SeparatorLineList, ConfigPath);
    SeparatorLineList.Count = 0;
    std::memset(SeparatorLineList.Position, 0, sizeof SeparatorLineList.Position);

    const Saved saved{r.StripCount, r.BitDepth, r.MaxPixelValue};
    char prefix[kConfigPathSize];
    dump_prefix(output_path, prefix, sizeof prefix);
    // A failed run must not leave an earlier run's image behind under the same name.
    if (!platform::remove_file(output_path)) return TAVIREX_E_DATA_FILE;

    // Frames in the order they join. Each result takes over its frame buffer, so the
    // record is not written while frames run.
    const std::uint32_t n = r.FrameCount;
    FrameResult results[kMaxFrames];
    std::uint32_t order[kMaxFrames];
    for (std::uint32_t i = 0; i < n; ++i) {
        order[i] = reverse_order ? n - 1 - i : i;
        results[i].frame = r.FrameList[order[i]];
        r.FrameList[order[i]] = nullptr;
    }
    r.Image = nullptr;
    if (frames_in_parallel(r, n)) {
        // A frame after one that failed is not started: the call returns the first failure in order.
        std::atomic<std::uint32_t> first_failed{n};
        platform::run_parallel(n, [&](std::uint32_t i) {
            if (i > first_failed.load()) return;
            if (process_frame(r, order[i], saved, prefix, results[i]) == 0) return;
            for (std::uint32_t seen = first_failed.load(); i < seen && !first_failed.compare_exchange_weak(seen, i);) {
            }
        });
    } else {
        for (std::uint32_t i = 0; i < n; ++i)
            if (process_frame(r, order[i], saved, prefix, results[i]) != 0) break;
    }

    JoinedImage joined;
    for (std::uint32_t i = 0; i < n; ++i) {
        FrameResult& res = results[i];
        if (!res.ran) break;
        const TomoFrame& f = res.geometry;
        r.Width = f.width;
        r.Height = f.height;
        r.StripCount = f.strips;
        r.BitDepth = f.bit_depth;
        r.MaxPixelValue = f.max_value;
        std::int32_t rc = res.rc;
        if (rc == 0) rc = add_image_columns(joined, res.image);
        if (rc == 0 && i < n - 1) {
            const std::uint16_t value = SeparatorLineList.Color == 1 ? f.max_value : 0;
            rc = add_separator_band(joined, SeparatorLineList.Width, value, SeparatorLineList);
        }
        // An image that lacks frames is no picture: no output goes with the failure.
        if (rc != 0) return rc;
    }
    if (n != 0) {
        if (const std::int32_t rc = write_joined_image(output_path, joined); rc != 0) return rc;
    }
    r.Width = joined.width;
    r.Height = joined.height;
    r.StripCount = 1;
    *width = joined.width;
    *height = joined.height;
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
