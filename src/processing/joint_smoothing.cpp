// Step 8: brightness smoothing across CCD joints. The chips differ slightly in
// response, so the brightness steps where two chips meet. Near each joint the
// image is split into an ambient brightness (wide horizontal mean) and detail;
// the ambient brightness is smoothed vertically across the joint, the detail is
// added back, and the result is blended with the pixel by a raised-cosine weight
// that is 0 at the joint and nearly 1 at the band's edges.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "diag/diag.h"
#include "processing/arith.h"
#include "processing/steps.h"
#include "tavirex.h"

namespace tvx::processing {
namespace {

constexpr std::int32_t kHalfWindow = 30;  // ambient mean: 30 columns left, the pixel and 30 right
constexpr std::uint32_t kStrip = 256;      // columns summed at a time on the stack
// 2 pi as the weight formula has always written it; the weights depend on these digits.
constexpr double kTwoPiApprox = 6.28318;

// The three work images of the step, each one 16-bit value per pixel.
struct WorkImages {
    core::Buffer<std::int16_t> orgsum;   // ambient brightness
    core::Buffer<std::int16_t> chgsum;   // ambient brightness smoothed across the joint
    core::Buffer<std::int16_t> id_info;  // detail: pixel less ambient brightness
};


// Rows lo .. hi - 1 cut to the block.
void clip_rows(std::int64_t lo, std::int64_t hi, std::int64_t rows, std::int64_t* first, std::int64_t* end) {
    *first = lo < 0 ? 0 : lo;
    *end = hi > rows ? rows : hi;
}

// Ambient brightness and detail of one row: running sum of the horizontal window.
void ambient_row(const std::uint16_t* px, std::int16_t* org, std::int16_t* detail, std::int32_t width) {
    std::uint32_t sum = 0;
    std::int32_t right = 0;  // columns 0 .. right - 1 are in the sum
    std::int32_t left = 0;
    for (std::int32_t x = 0; x < width; ++x) {
        const std::int32_t want_right = x + kHalfWindow + 1 < width ? x + kHalfWindow + 1 : width;
        const std::int32_t want_left = x - kHalfWindow > 0 ? x - kHalfWindow : 0;
        while (right < want_right) sum += px[right++];
        while (left < want_left) sum -= px[left++];
        const std::uint32_t mean = sum / static_cast<std::uint32_t>(right - left);
        org[x] = core::as_s16(mean);
        detail[x] = core::as_s16(static_cast<std::uint32_t>(px[x] - static_cast<std::int32_t>(mean)));
    }
}

// Rows of the joints between chips: one for the panoramic sensor, two for the
// cephalometric one. 0 joints for a sensor flag that is neither.
std::uint32_t joint_rows(const JointSmoothingParams& p, std::int32_t* joints) {
    if (p.ceph_mode == 0) {
        joints[0] = p.ypos;
        return 1;
    }
    if (p.ceph_mode == 1) {
        joints[0] = core::wrap16(static_cast<std::int64_t>(p.ypos) - p.ccd_gap / 2);
        joints[1] = core::wrap16(static_cast<std::int64_t>(p.ypos2) + p.ccd_gap2 / 2 - p.upper_ypos + p.ypos);
        return 2;
    }
    return 0;
}

// The work images start cleared. Only the ambient rows, and the rows the
// vertical mean reads around the blended rows, are ever read, so only those
// are cleared; the other rows of the three images are never touched.
void clear_read_rows(ImageView block, const JointSmoothingParams& p, std::int32_t joint, WorkImages& w) {
    const std::int64_t lo = p.ave_range_low, hi = p.ave_range, range = p.chg_sum_range;
    std::int64_t first, end;
    clip_rows(joint - (2 * lo > lo + range ? 2 * lo : lo + range), joint + (2 * hi > hi + range ? 2 * hi : hi + range),
              block.height, &first, &end);
    if (first >= end) return;
    const std::size_t at = static_cast<std::size_t>(first) * block.width;
    const std::size_t count = static_cast<std::size_t>(end - first) * block.width;
    std::memset(w.orgsum.data() + at, 0, count * sizeof(std::int16_t));
    std::memset(w.chgsum.data() + at, 0, count * sizeof(std::int16_t));
    std::memset(w.id_info.data() + at, 0, count * sizeof(std::int16_t));
}

// Ambient brightness and detail of the rows within twice the band of a joint.
void split_ambient(ImageView block, const JointSmoothingParams& p, std::int32_t joint, WorkImages& w,
                   const diag::Trace& trace) {
    std::int64_t first, end;
    clip_rows(joint - 2 * static_cast<std::int64_t>(p.ave_range_low), joint + 2 * static_cast<std::int64_t>(p.ave_range),
              block.height, &first, &end);
    for (std::int64_t y = first; y < end; ++y) {
        trace.print(trace.check_state, "[h]=[%4d]\r", static_cast<int>(y));
        const std::size_t at = static_cast<std::size_t>(y) * block.width;
        ambient_row(block.data + at, w.orgsum.data() + at, w.id_info.data() + at, static_cast<std::int32_t>(block.width));
    }
    trace.print(trace.check_state, "\n");
}

// Smooths the ambient brightness vertically over the band of a joint, adds the
// detail back and blends the result with the pixel by the joint weight.
void blend_band(ImageView block, const JointSmoothingParams& p, std::int32_t joint, WorkImages& w,
                const diag::Trace& trace) {
    const std::int64_t rows = block.height;
    const std::int64_t range = p.chg_sum_range;
    std::int64_t first, end;
    clip_rows(joint - static_cast<std::int64_t>(p.ave_range_low), joint + static_cast<std::int64_t>(p.ave_range), rows,
              &first, &end);
    for (std::int64_t y = first; y < end; ++y) {
        trace.print(trace.check_state, "[h]=[%4d]\r", static_cast<int>(y));
        const double wgt = joint_weight(static_cast<std::int32_t>(y), joint, p.ave_range, p.ave_range_low);
        const double keep = 1.0 - wgt;
        const std::int64_t r0 = y - range < 0 ? 0 : y - range;
        const std::int64_t r1 = y + range >= rows ? rows - 1 : y + range;
        const std::int32_t count = static_cast<std::int32_t>(r1 - r0 + 1);
        const std::size_t at = static_cast<std::size_t>(y) * block.width;
        std::uint16_t* px = block.data + at;
        std::int16_t* chg = w.chgsum.data() + at;
        const std::int16_t* detail = w.id_info.data() + at;
        for (std::uint32_t x0 = 0; x0 < block.width; x0 += kStrip) {
            const std::uint32_t len = block.width - x0 < kStrip ? block.width - x0 : kStrip;
            std::int32_t acc[kStrip] = {};
            for (std::int64_t r = r0; r <= r1; ++r) {
                const std::int16_t* org = w.orgsum.data() + static_cast<std::size_t>(r) * block.width + x0;
                for (std::uint32_t i = 0; i < len; ++i) acc[i] += org[i];
            }
            for (std::uint32_t i = 0; i < len; ++i) {
                const std::uint32_t x = x0 + i;
                chg[x] = core::as_s16(static_cast<std::uint32_t>(acc[i] / count));
                const std::int32_t s = core::as_s16(static_cast<std::uint32_t>(chg[x] + detail[x]));
                px[x] = clamp12(trunc_to_i32(static_cast<double>(s) * keep + static_cast<double>(px[x]) * wgt));
            }
        }
    }
    trace.print(trace.check_state, "\n");
}

}  // namespace

double joint_weight(std::int32_t y, std::int32_t joint, std::uint16_t ave_range, std::uint16_t ave_range_low) {
    if (y == joint) return 0.0;
    std::int32_t d;
    std::int32_t r;
    if (y < joint) {
        d = std::abs(y - ave_range_low - joint);
        r = ave_range_low;
    } else {
        d = std::abs(y - ave_range - joint);
        r = ave_range;
    }
    const double t = (std::cos(static_cast<double>(d) / static_cast<double>(2 * r) * kTwoPiApprox) + 1.0) * 0.5;
    return t * t;
}

std::int32_t smooth_joint_brightness(ImageView block, const JointSmoothingParams& p, const diag::Trace& trace) {
    trace.banner("    8-2.Allocate");
    const std::size_t n = block.pixels();
    WorkImages w;
    if (!w.orgsum.reset(n)) {
        trace.failure("Cannot Allocate for orgsum\n");
        return TAVIREX_E_NO_MEMORY;
    }
    if (!w.chgsum.reset(n)) {
        trace.failure("Cannot Allocate for chgsum\n");
        return TAVIREX_E_NO_MEMORY;
    }
    if (!w.id_info.reset(n)) {
        trace.failure("Cannot Allocate for id_info\n");
        return TAVIREX_E_NO_MEMORY;
    }

    // Start of the ambient brightness and of the per-point values (code page 932)
    trace.banner("    8-3.\x8A\xC2\x8B\xAB\x8BP\x93x\x8Cv\x8EZ\x8AJ\x8En");
    trace.banner("with8-4.\x8A" "e\x93_\x93\xC1\x90\xAB\x97\xCA\x8Cv\x8EZ\x8AJ\x8En");

    std::int32_t joints[2];
    const std::uint32_t joint_count = joint_rows(p, joints);
    if (joint_count == 0) return TAVIREX_E_RANGE;
    for (std::uint32_t k = 0; k < joint_count; ++k) clear_read_rows(block, p, joints[k], w);
    for (std::uint32_t k = 0; k < joint_count; ++k) split_ambient(block, p, joints[k], w, trace);

    // Start of the smoothing and of the restoring (code page 932)
    trace.banner("    8-5.\x8A\xC2\x8B\xAB\x8BP\x93x\x95\xBD\x8A\x8A\x89\xBB\x8AJ\x8En");
    trace.banner("with8-6.\x93\xC1\x90\xAB\x92l\x96\xDF\x82\xB5\x8AJ\x8En");
    for (std::uint32_t k = 0; k < joint_count; ++k) blend_band(block, p, joints[k], w, trace);

    // End (code page 932)
    trace.banner("    8-7.\x8FI\x97\xB9");
    return TAVIREX_OK;
}

}  // namespace tvx::processing
