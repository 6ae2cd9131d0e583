#include "device/picture.h"

#include "core/alloc.h"
#include "core/geometry.h"
#include "core/intmath.h"
#include "device/front_end.h"
#include "device/line_clock.h"
#include "device/registers.h"
#include "state/context.h"
#include "tavirex.h"

namespace tvx::device {
namespace {

constexpr std::uint8_t kMaxCut = 3;

// Allocates the four picture blocks in their fixed order; false at the first
// failure (the blocks already taken stay until the next set-up or unload).
bool allocate_picture_blocks(bool ceph) noexcept {
    const std::size_t table_bytes = ceph ? kClockTableBytesCeph : kClockTableBytesPano;
    const std::size_t image_bytes = ceph ? kImageBufferBytesCeph : kImageBufferBytesPano;
    ClockTableStorage = static_cast<std::uint16_t*>(core::allocate(table_bytes));
    if (ClockTableStorage == nullptr) return false;
    PassTable = static_cast<std::uint16_t*>(core::allocate(table_bytes));
    if (PassTable == nullptr) return false;
    SpeedProfile = static_cast<float*>(core::allocate(kSpeedProfileBytes));
    if (SpeedProfile == nullptr) return false;
    ImageBufferStorage = static_cast<std::uint16_t*>(core::allocate(image_bytes));
    if (ImageBufferStorage == nullptr) return false;
    ImageBufferStorageBytes = image_bytes;
    return true;
}

std::int32_t check_picture_settings(const DeviceContext& r) noexcept {
    if (r.ClockMode > kClockCodeCeph) return TAVIREX_E_RANGE;
    if (r.StartSignal < 1 || r.StartSignal > 3) return TAVIREX_E_RANGE;
    if (r.CephMode == 0) {
        if (r.ClockMode > core::kClockCodePanoLast) return TAVIREX_E_RANGE;
    } else if (r.CephMode == 1) {
        if (r.ClockMode != kClockCodeCeph) return TAVIREX_E_RANGE;
    } else {
        return TAVIREX_E_RANGE;
    }
    for (const XyCorrIndex cut : {kLowerCut01, kLowerCut02, kUpperCut01, kUpperCut02})
        if (r.XyCorr[cut] > kMaxCut) return TAVIREX_E_RANGE;
    if (r.ClockTable == nullptr) return TAVIREX_E_RANGE;
    for (std::uint32_t i = 0; i < r.ClockTableLength; ++i)
        if (r.ClockTable[i] < kClockMin || r.ClockTable[i] > kClockMax) return TAVIREX_E_RANGE;
    return TAVIREX_OK;
}

}  // namespace

std::int32_t picture_setup(const DeviceContext& r) noexcept {
    std::int32_t rc = check_picture_settings(r);
    if (rc != 0) return rc;
    const std::uint32_t clock_field = r.CephMode == 0 ? r.ClockMode : 0;
    rc = write_register("MODREG", reg::MODREG, core::low8(16u * (4u * r.StartSignal + clock_field)));
    if (rc != 0) return rc;
    rc = write_register("RAMRDM", reg::RAMRDM, 1);
    if (rc != 0) return rc;
    rc = write_ccd_control_data(r.DebugProcess != 0, r.ClockTable, 2u * r.ClockTableLength, r.LanRetry);
    if (rc != 0) return rc;
    rc = write_register("RAMRDM", reg::RAMRDM, 0);
    if (rc != 0) return rc;
    rc = program_front_end(r);
    if (rc != 0) return rc;
    return ready_check(r.InitValue, r.LanRetry);
}

std::int32_t set_param_for_pict(DeviceContext& record, const char* speed_profile_path, std::uint32_t passes,
                                std::uint32_t interval_ms, std::uint32_t timelag_ms, bool ceph) noexcept {
    if (ceph ? passes != 1 : (passes < 1 || passes > core::kMaxPasses)) return TAVIREX_E_PASS_COUNT;

    // Releasing the blocks also clears ClockTable and ImageBuffer in the record, so
    // nothing can reach the old blocks if this set-up stops half way; only a
    // readout after this set-up succeeds makes a picture to process.
    PictureStage = kPictureNone;
    release_picture_blocks();
    if (!allocate_picture_blocks(ceph)) return TAVIREX_E_PICTURE_BUFFER;

    if (speed_profile_path == nullptr) return TAVIREX_E_SPEED_PROFILE;
    std::size_t samples = 0;
    std::int32_t rc = read_speed_profile(speed_profile_path, SpeedProfile, kMaxSpeedSamples, &samples);
    if (rc != 0) return rc;

    const std::uint32_t code = ceph ? kClockCodeCeph : core::pano_clock_code(passes);
    const auto lines = static_cast<std::uint16_t>(ceph ? core::kCephLines : core::kPanoLines);
    rc = build_clock_table(code, passes, SpeedProfile, samples, core::low16(interval_ms), core::low16(timelag_ms),
                           ClockTableStorage, lines, PassTable, record.SegmentStart, record.SegmentWidth);
    if (rc != 0) return rc;

    record.ClockMode = static_cast<std::uint8_t>(code);
    record.ClockTable = ClockTableStorage;
    record.ImageBuffer = ImageBufferStorage;
    record.ImageWidth = lines;
    record.ImageHeight = static_cast<std::uint16_t>(ceph ? core::kCephRows : core::kPanoRows);
    record.SegmentCount = static_cast<std::uint8_t>(passes);
    record.ClockTableLength = lines;
    PassCount = passes;

    rc = picture_setup(record);
    if (rc == TAVIREX_OK) PictureStage = kPictureSetUp;
    return rc;
}

}  // namespace tvx::device
