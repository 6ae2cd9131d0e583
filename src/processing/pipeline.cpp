#include "processing/pipeline.h"

#include <cstring>

#include "core/intmath.h"
#include "diag/diag.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

void banner(const char* text) {
    if (DebugFlags.DebugProcess) diag::print_stamp(text);
}

core::ImageView image_of(DeviceContext& d) { return core::ImageView{d.ImageBuffer, d.ImageWidth, d.ImageHeight}; }

std::int32_t validate(const DeviceContext& d) {
    if (d.ClockMode > 4) return TAVIREX_E_RANGE;
    if (d.CephMode == 0) {
        if (d.ClockMode > 3) return TAVIREX_E_RANGE;
    } else if (d.CephMode == 1) {
        if (d.ClockMode != 4) return TAVIREX_E_RANGE;
    } else {
        return TAVIREX_E_RANGE;
    }
    if (d.SegmentCount < 1 || d.SegmentCount > 4) return TAVIREX_E_RANGE;
    if (d.SegmentCount > d.ClockMode % 4 + 1) return TAVIREX_E_RANGE;
    return TAVIREX_OK;
}

std::int32_t join_and_fill(DeviceContext& d) {
    std::uint32_t w = 0, h = 0;
    std::int32_t rc = join_ccd_chips(image_of(d), d.XyCorr[kXPos2], d.XyCorr[kYPos2], d.XyCorr[kUpperYPos2], &w, &h);
    if (rc != TAVIREX_OK) return rc;
    d.ImageWidth = static_cast<std::uint16_t>(w);
    d.ImageHeight = static_cast<std::uint16_t>(h);
    if (!d.ProcessFlags[kFillOpening]) return TAVIREX_OK;
    banner("  5.FILLINOPENING");
    if (d.CephMode == 0) return fill_opening_pano(image_of(d), d.XyCorr);
    if (d.CephMode == 1) return fill_opening_ceph(image_of(d), d.XyCorr);
    return TAVIREX_E_RANGE;
}

// Segment width trimmed by the side cuts, rounded up to a multiple of 4.
std::int64_t trimmed_width(std::uint16_t segment_width, std::uint16_t side_cut) {
    const std::int64_t w = static_cast<std::int64_t>(segment_width) - 2 * static_cast<std::int64_t>(side_cut);
    return ((w + 3) >> 2) << 2;
}

std::int32_t run_block_steps(DeviceContext& d, core::ImageView block) {
    std::int32_t rc;
    if (d.ProcessFlags[kDelNoise]) {
        banner("  7.DELNOISE");
        if ((rc = remove_noise(block)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kBriSmooth]) {
        banner("  8.BRISMOOTH");
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
        if ((rc = smooth_joint_brightness(block, p)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kCorrBriScale]) {
        banner("  9.CORRBRISCALE");
        correct_brightness_scale(7, block, d.ManySideCutRatio, d.FewSideCutRatio);
    }
    if (d.ProcessFlags[kEmphasisContrast]) {
        banner(" 10.EMPHASISCONTRAST");
        if ((rc = emphasise_contrast(block, d.SimaRange, d.SmoothRange)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kSecondCorrBriScale]) {
        banner(" 11.2ndCORRBRISCALE");
        std::uint8_t selector;
        if (d.CephMode == 0)
            selector = 7;
        else if (d.CephMode == 1)
            selector = d.SecondBriScaleSelect;
        else
            return TAVIREX_E_RANGE;
        correct_brightness_scale(selector, block, d.ManySideCutRatio, d.FewSideCutRatio);
    }
    return TAVIREX_OK;
}

}  // namespace

void cut_block(core::ImageView image, std::uint64_t first_column, bool mirror, core::ImageView block) {
    const std::uint64_t total = image.pixels();
    const std::uint32_t bw = block.width;
    for (std::uint32_t y = 0; y < block.height; ++y) {
        std::uint16_t* out = block.row(y);
        const std::uint64_t start = static_cast<std::uint64_t>(y) * image.width + first_column;
        if (first_column + bw <= image.width) {
            const std::uint16_t* src = image.data + start;
            if (mirror)
                for (std::uint32_t x = 0; x < bw; ++x) out[bw - 1 - x] = src[x];
            else
                std::memcpy(out, src, sizeof(std::uint16_t) * bw);
            continue;
        }
        for (std::uint32_t x = 0; x < bw; ++x) {
            const std::uint64_t at = start + x;
            out[mirror ? bw - 1 - x : x] = at < total ? image.data[at] : 0;
        }
    }
}

std::int32_t run_block_stage(DeviceContext& d) {
    const bool corr = d.ProcessFlags[kCorrImgSize] != 0;
    if (corr) banner("  6.CORRIMGSIZE");
    const std::uint32_t n = d.ClockMode % 4u + 1u;
    const std::uint32_t nominal = kNominalBlockWidth[d.ClockMode];
    std::int64_t b = nominal & ~3u;
    if (corr) {
        const std::uint32_t segs = d.SegmentCount < 2 ? 1u : (d.SegmentCount > 4 ? 4u : d.SegmentCount);
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

    core::Buffer<std::uint16_t> block(static_cast<std::size_t>(bw) * h);
    if (!block.ok()) return TAVIREX_E_NO_MEMORY;
    core::Buffer<std::uint16_t> joined(static_cast<std::size_t>(joined_width) * h);
    if (!joined.ok()) return TAVIREX_E_NO_MEMORY;

    const core::ImageView image = image_of(d);
    const core::ImageView view{block.data(), bw, h};
    for (std::uint32_t k = 0; k < n; ++k) {
        std::uint64_t first = static_cast<std::uint64_t>(k) * nominal;
        if (corr) first += static_cast<std::uint64_t>(d.SegmentStart[k]) + d.SideCutWidth + d.DefaultOffset;
        cut_block(image, first, corr, view);
        const std::int32_t rc = run_block_steps(d, view);
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
    banner("ImageProcessing  START");
    if (d.ProcessFlags[kDelDc]) {
        banner("  1.DELDC");
        if ((rc = remove_dark_offset(image_of(d), dark_offset_params(d))) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kDelShadw]) {
        banner("  2.DELSHADW");
        if ((rc = correct_shading(image_of(d), d.CalibDataPath)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kCorrInjLine]) {
        banner("  3.CORRINJLINE");
        if ((rc = correct_injection_lines(image_of(d), d.CorrLineDataPath, d.CephMode == 0)) != TAVIREX_OK) return rc;
    }
    if (d.ProcessFlags[kPxImg]) {
        banner("  4.PXIMG");
        if ((rc = join_and_fill(d)) != TAVIREX_OK) return rc;
    }
    if ((rc = run_block_stage(d)) != TAVIREX_OK) return rc;
    banner("ImageProcessing  END  ");
    return TAVIREX_OK;
}

}  // namespace tvx::processing
