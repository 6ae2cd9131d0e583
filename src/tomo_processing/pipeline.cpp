#include "tomo_processing/pipeline.h"

#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "output/raw_file.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "processing/pipeline.h"
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

// Processes frame k and appends it (scaled) to the output. 0 or the failing code.
std::int32_t process_frame(TomoContext& r, std::uint32_t k, const Saved& saved, const char* output, const char* prefix,
                           JoinedSize& joined) {
    TomoFrame f;
    f.data = r.FrameList[k];
    f.capacity = 2u * (saved.strips + 1u) * static_cast<std::size_t>(kStripWidth) * kStripHeight;
    f.width = kStripWidth;
    f.height = kStripHeight;
    f.strips = saved.strips;
    f.bit_depth = saved.bit_depth;
    f.max_value = saved.max_value;
    r.Image = f.data;
    std::int32_t rc = ImageProcessing4TomoC(r, f);
    r.Width = f.width;
    r.Height = f.height;
    r.StripCount = f.strips;
    r.BitDepth = f.bit_depth;
    r.MaxPixelValue = f.max_value;
    if (rc != 0) return rc;
    const double m = r.FrameCount == 1 ? 1.0 : kMagnification[k];
    const auto sw = static_cast<std::uint16_t>(static_cast<std::int64_t>(f.width * m));
    const auto sh = static_cast<std::uint16_t>(static_cast<std::int64_t>(f.height * m));
    // A frame that would join as nothing (cropped away, or scaled below one row or column)
    // would be missing from the picture without a word: refuse the run instead.
    if (sw == 0 || sh == 0) return TAVIREX_E_RANGE;

    char dump[kConfigPathSize + 32];
    std::snprintf(dump, sizeof dump, "%s%s%02d.dat", prefix, "SegTomo", static_cast<int>(k));
    if (!output::write_raw_image(dump, f.data, f.width, f.height)) return TAVIREX_E_DATA_FILE;

    core::ImageView image{f.data, f.width, f.height};
    core::Buffer<std::uint16_t> scaled;
    if (m != 1.0) {
        if (!scaled.reset(static_cast<std::size_t>(sw) * sh)) return TAVIREX_E_NO_MEMORY;
        rc = resample_area_average(f.data, f.width, f.height, scaled.data(), sw, sh);
        if (rc != 0) return rc;
        image = core::ImageView{scaled.data(), sw, sh};
    }
    return AppendImageColumns(output, joined, image);
}

}  // namespace

std::int32_t ImageProcessing4TomoC(const TomoContext& r, TomoFrame& f) noexcept {
    const diag::Trace trace = processing::trace_of(DebugFlags);
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
    const auto lines = static_cast<std::int32_t>(platform::profile_int("ExOption", "PictLineNum", 0, ConfigPath));
    const std::int64_t band = 4 * static_cast<std::int64_t>(lines);
    SeparatorLineList.Width = static_cast<std::uint32_t>(core::clamp_to<std::int64_t>(band, 0, INT32_MAX));
    SeparatorLineList.Color = core::low16(platform::profile_int("ExOption", "PictLineColor", 0, ConfigPath)) == 1 ? 1u : 0u;
    SeparatorLineList.Count = 0;
    std::memset(SeparatorLineList.Position, 0, sizeof SeparatorLineList.Position);

    const Saved saved{r.StripCount, r.BitDepth, r.MaxPixelValue};
    char prefix[kConfigPathSize];
    dump_prefix(output_path, prefix, sizeof prefix);
    // A failed run must not leave an earlier run's image behind under the same name.
    if (!platform::remove_file(output_path)) return TAVIREX_E_DATA_FILE;

    JoinedSize joined;
    const std::uint32_t n = r.FrameCount;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t k = reverse_order ? n - 1 - i : i;
        std::int32_t rc = process_frame(r, k, saved, output_path, prefix, joined);
        if (rc == 0 && n > 1 && i < n - 1) {
            const std::uint16_t value = SeparatorLineList.Color == 1 ? r.MaxPixelValue : 0;
            rc = AppendSeparatorBand(output_path, joined, SeparatorLineList.Width, value, SeparatorLineList);
        }
        core::release(r.FrameList[k]);
        r.FrameList[k] = nullptr;
        r.Image = nullptr;
        if (rc != 0) {
            // An image that lacks frames is no picture: the output goes with the failure.
            platform::remove_file(output_path);
            return rc;
        }
    }
    r.Width = joined.width;
    r.Height = joined.height;
    r.StripCount = 1;
    *width = joined.width;
    *height = joined.height;
    return TAVIREX_OK;
}

}  // namespace tvx::tomo
