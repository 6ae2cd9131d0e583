#include "device/readout.h"

#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "device/registers.h"
#include "diag/diag.h"
#include "link/link.h"
#include "state/context.h"
#include "tavirex.h"

namespace tvx::device {
namespace {


// Samples per row that the copy takes: whole rows in panoramic mode, the first
// ImageWidth samples in cephalometric mode.
std::size_t samples_per_row(const DeviceContext& r) noexcept {
    return r.CephMode == 0 ? kModuleRowSamples : r.ImageWidth;
}

// True when the record names the picture block of a set-up, the mode has a row
// layout, and the image that the readout would copy fits the block.
bool image_fits(const DeviceContext& r) noexcept {
    if (r.ImageBuffer == nullptr || r.ImageBuffer != ImageBufferStorage) return false;
    if (r.CephMode > 1) return false;
    if (r.CephMode == 1 && r.ImageWidth > kModuleRowSamples) return false;
    return static_cast<std::size_t>(r.ImageHeight) * samples_per_row(r) * 2 <= ImageBufferStorageBytes;
}

// Processing rewrites the picture size in the record; a readout brings back the
// whole picture of the set-up, whose size follows from its line count.
void restore_picture_size(DeviceContext& r) noexcept {
    if (r.ClockTableLength == core::kPanoLines) {
        r.ImageWidth = static_cast<std::uint16_t>(core::kPanoLines);
        r.ImageHeight = static_cast<std::uint16_t>(core::kPanoRows);
    } else if (r.ClockTableLength == core::kCephLines) {
        r.ImageWidth = static_cast<std::uint16_t>(core::kCephLines);
        r.ImageHeight = static_cast<std::uint16_t>(core::kCephRows);
    }
}

}  // namespace

std::int32_t arm(const DeviceContext& r) noexcept {
    if (r.PictPattern > 1) return TAVIREX_E_RANGE;
    const std::uint16_t pattern = static_cast<std::uint16_t>(16u * r.PictPattern);
    std::int32_t rc = write_register("RAMRST", reg::RAMRST, 0);
    if (rc != 0) return rc;
    rc = write_register("PALSON", reg::PALSON, static_cast<std::uint16_t>(0x02 + pattern));
    if (rc != 0) return rc;
    rc = write_register("POWSET", reg::POWSET, 1);
    if (rc != 0) return rc;
    std::uint16_t lines;
    if (r.ClockTableLength == core::kCephLines)
        lines = 0;
    else if (r.ClockTableLength == core::kPanoLines)
        lines = 1;
    else
        return TAVIREX_E_RANGE;
    rc = write_register("SETLIN", reg::SETLIN, lines);
    if (rc != 0) return rc;
    rc = write_register("PALSON", reg::PALSON, static_cast<std::uint16_t>(0x01 + pattern));
    if (rc != 0) return rc;
    return ready_check(r.InitValue, r.LanRetry);
}

std::int32_t check_pict_status(const DeviceContext& r, std::uint8_t* picture_status) noexcept {
    if (picture_status == nullptr) return TAVIREX_E_RANGE;
    std::uint16_t status = 0;
    const std::int32_t rc = read_status(&status);
    if (rc != 0) return rc;
    *picture_status = picture_flag(status);
    return ready_check(r.InitValue, r.LanRetry);
}

void copy_readout(const std::uint8_t* raw, std::size_t rows, std::size_t samples, std::uint16_t* out) noexcept {
    for (std::size_t y = 0; y < rows; ++y) {
        const std::uint8_t* row = raw + y * kModuleRowBytes;
        std::uint16_t* dst = out + y * samples;
        for (std::size_t x = 0; x < samples; ++x)
            dst[x] = static_cast<std::uint16_t>((row[2 * x] | (row[2 * x + 1] << 8)) & kSampleMask);
    }
}

std::int32_t read_image(DeviceContext& r, std::uint32_t segments) noexcept {
    r.SegmentCount = core::low8(segments);
    ReadSegments = segments;
    restore_picture_size(r);
    // After a failed or missing set-up, or when the image would overrun the block,
    // nothing is read: the module is left as it is and no memory is touched. A set-up
    // that failed after taking its blocks leaves the record naming them.
    if (PictureStage == kPictureNone || !image_fits(r)) return TAVIREX_E_RANGE;
    const std::size_t raw_bytes = static_cast<std::size_t>(r.ImageHeight) * kModuleRowBytes;
    if (raw_bytes > 2 * kPictureWindowBytes) return TAVIREX_E_RANGE;

    std::int32_t rc = write_register("POWSET", reg::POWSET, 0);
    if (rc != 0) return rc;

    core::Buffer<std::uint8_t> raw(raw_bytes);
    if (!raw.ok()) return TAVIREX_E_NO_MEMORY;
    core::Buffer<std::uint8_t> transfer(kPictureWindowBytes);
    if (!transfer.ok()) return TAVIREX_E_NO_MEMORY;

    if (DebugFlags.DebugProcess) diag::print_stamp(kStampReadStart);
    const std::uint32_t windows[2] = {kPictureWindow1, kPictureWindow2};
    std::size_t done = 0;
    for (int chunk = 0; done < raw_bytes; ++chunk) {
        const std::size_t left = raw_bytes - done;
        const auto bytes = static_cast<std::uint32_t>(left < kPictureWindowBytes ? left : kPictureWindowBytes);
        const std::int32_t n = link::Link.EtherComm(TAVIREX_LINK_READ, windows[chunk], bytes, transfer.data());
        if (n < 0) return n;
        if (static_cast<std::uint32_t>(n) != bytes) return TAVIREX_E_SHORT_READ;
        std::memcpy(raw.data() + done, transfer.data(), bytes);
        done += bytes;
    }
    if (DebugFlags.DebugProcess) diag::print_stamp(kStampReadEnd);

    copy_readout(raw.data(), r.ImageHeight, samples_per_row(r), r.ImageBuffer);
    rc = ready_check(r.InitValue, r.LanRetry);
    if (rc == TAVIREX_OK && PictureStage == kPictureSetUp) PictureStage = kPictureReadOut;
    return rc;
}

std::int32_t reset_module() noexcept {
    const std::int32_t rc = write_register("SYSRST", reg::SYSRST, 0);
    if (rc != 0) return rc;
    return write_register("POWSET", reg::POWSET, 0);
}

}  // namespace tvx::device
