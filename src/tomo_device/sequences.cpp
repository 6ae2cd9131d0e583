#include "tomo_device/sequences.h"

#include <cstdio>

#include "core/alloc.h"
#include "core/endian.h"
#include "core/geometry.h"
#include "core/intmath.h"
#include "device/fpga.h"
#include "device/front_end.h"
#include "device/readout.h"
#include "device/registers.h"
#include "diag/diag.h"
#include "link/link.h"
#include "platform/system.h"
#include "state/context.h"
#include "tavirex.h"
#include "tomo_device/registers.h"

namespace tvx::tomo_device {
namespace {

// " %%% " "before FPGA reset" in code page 932, padded with an ideographic space.
constexpr char kPromptBeforeReset[] = " %%% FPGA\x83\x8A\x83Z\x83" "b\x83g\x91O        \x81@>>>";
// " %%% " "before analogue power off" in code page 932.
constexpr char kPromptBeforePowerOff[] = " %%% \x83" "A\x83i\x83\x8D\x83O\x93" "d\x8C\xB9OFF\x91O        \x81@>>>";

constexpr std::uint32_t kArmWaitMs = 500;
constexpr std::uint32_t kStatusWaitMs = 10;
constexpr std::uint16_t kArmMode = 5;
constexpr std::uint16_t kPalsonOn = 3;
constexpr std::uint16_t kPatternBit = 16;

void prompt(const char* text) {
    if (DebugFlags.DebugDebug4) diag::step_prompt(text);
}

bool is_exposure(std::uint32_t kind) { return kind == kExposure || kind == kCalibration; }

// Index in the ECTIME list of the current frame's first exposure: the lists are
// frame-relative, so every frame is checked against its own pictures.
std::uint32_t frame_base(const TomoContext& r) {
    return r.ExposurePictures >= r.CountedPictures ? r.ExposurePictures - r.CountedPictures : 0u;
}

std::int32_t read_time(const char* name, std::uint32_t address, std::uint16_t* value) {
    const std::int32_t rc = read_register(name, address, value);
    if (rc == 0 && DebugFlags.DebugCheckState) std::fprintf(stderr, " %s %x : %5d\n", name, address, *value);
    return rc;
}

// Reads block `block` of the picture memory into `raw` in one transfer, then masks and
// transposes it into `out` (rows of `columns` samples).
std::int32_t read_block(std::uint32_t block, std::uint16_t* raw, std::uint16_t* out) {
    const std::uint32_t columns = core::kTomoColumns;
    const std::uint32_t rows = core::kTomoRows;
    const std::uint32_t bytes = columns * rows * 2;
    const std::uint32_t address = core::kTomoMemory + block * core::kTomoBlockBytes;
    const std::int32_t n = link::Link.EtherComm(TAVIREX_LINK_READ, address, bytes, raw);
    if (DebugFlags.DebugOutput) diag::log_register_access("r", "SDRAM", address, raw[0], DebugFlags.DebugDebug4 != 0);
    if (n < 0) return n;
    if (static_cast<std::uint32_t>(n) != bytes) return TAVIREX_E_SHORT_READ;
    core::swap_words_if_big_endian(raw, static_cast<std::size_t>(columns) * rows);
    // Memory row j holds sensor column j; position i along it is sensor row i.
    for (std::uint32_t j = 0; j < columns; ++j) {
        const std::uint16_t* from = raw + static_cast<std::size_t>(j) * rows;
        for (std::uint32_t i = 0; i < rows; ++i)
            out[static_cast<std::size_t>(i) * columns + j] = static_cast<std::uint16_t>(from[i] & core::kTomoSampleMask);
    }
    return TAVIREX_OK;
}

}  // namespace

std::int32_t initialise_module(const TomoContext& r) noexcept {
    if (r.FpgaLoad > 1 || r.InitValue < 1 || r.InitValue > 255) return TAVIREX_E_RANGE;
    if (ModuleBooted[0] == 0) return r.FpgaLoad == 1 ? TAVIREX_E_NOT_BOOTED : TAVIREX_OK;
    if (r.FpgaLoad == 0) return TAVIREX_OK;

    // A module that already echoes INITVALUE holds its configuration.
    std::int32_t rc = device::ready_check(r.InitValue, r.LanRetry, read_status);
    if (rc != TAVIREX_E_NOT_READY) return rc;

    rc = device::download_fpga(r.FpgaPath, true);
    if (rc != 0) return rc;
    platform::sleep_ms(device::kFpgaResetWaitMs);
    rc = write_register("SYSRST", reg::SYSRST, 0);
    if (rc != 0) return rc;
    prompt("### Start a InitValue Writing >>>");
    rc = write_register("STSREG", reg::STSREG, core::low8(r.InitValue));
    if (rc != 0) return rc;
    prompt("### Start FUNC:ChkInitValue >>>");
    return device::ready_check(r.InitValue, r.LanRetry, read_status);
}

std::int32_t program_front_end(const TomoContext& r) noexcept {
    constexpr device::ConverterPort port{read_status, write_register, reg::DASDAT, reg::ADGSET};
    for (std::uint32_t converter = 0; converter < 3; ++converter) {
        std::int32_t rc = device::check_ad_status(read_status);
        if (rc != 0) return rc;
        rc = write_register("ADGSEL", reg::ADGSEL, static_cast<std::uint16_t>(converter));
        if (rc != 0) return rc;
        std::uint16_t words[device::kConverterWordsPerGroup];
        device::converter_words(r.AdSet[converter], words);
        for (const std::uint16_t word : words) {
            // WriteFrontEndRegister
            rc = device::send_converter_word(word, port);
            if (rc != 0) return rc;
        }
    }
    return device::ready_check(r.InitValue, r.LanRetry, read_status);
}

std::int32_t reset_module() noexcept {
    prompt(kPromptBeforeReset);
    const std::int32_t rc = write_register("SYSRST", reg::SYSRST, 0);
    if (rc != 0) return rc;
    prompt(kPromptBeforePowerOff);
    return write_register("POWER", reg::POWER, 0);
}

std::int32_t arm(TomoContext& r) noexcept {
    if (r.PictPattern > 1) return TAVIREX_E_RANGE;
    std::int32_t rc = write_register("MODREG", reg::MODREG, kArmMode);
    if (rc != 0) return rc;
    rc = write_register("POWER", reg::POWER, 1);
    if (rc != 0) return rc;
    rc = write_register("PALSON", reg::PALSON, static_cast<std::uint16_t>(kPalsonOn + kPatternBit * r.PictPattern));
    if (rc != 0) return rc;
    r.CountedPictures = 0;
    r.ExposurePictures = 0;
    platform::sleep_ms(kArmWaitMs);
    return TAVIREX_OK;
}

std::int32_t prepare_picture(TomoContext& r, std::uint32_t kind, PictureWaits waits) noexcept {
    if (kind == kClosingDark) ++r.FrameCount;
    if (kind < kExposure || kind > kClosingDark) return TAVIREX_E_RANGE;
    // The exposure-time lists hold one frame-relative entry per exposure since arming.
    if (is_exposure(kind) && r.ExposurePictures >= kTomoListSize) return TAVIREX_E_RANGE;

    std::uint32_t wait = waits.dark_to_expose;
    if (kind == kDarkAfterExposure || kind == kClosingDark) wait = waits.expose_to_dark;
    if (kind == kExposure && r.CountedPictures == 0) wait = 0;
    if (wait != 0) platform::sleep_ms(wait);

    if (is_exposure(kind)) {
        ++r.CountedPictures;
        ++r.ExposurePictures;
    }
    if (kind == kClosingDark) {
        if (r.CountedPictures != r.StripCount + 1u) return TAVIREX_E_TOMO_FRAME_COUNT;
        r.CountedPictures = 0;
    }

    std::uint16_t timer = r.TimerSetDc;
    if (kind == kExposure) timer = r.TimerSetXray;
    if (kind == kCalibration) timer = r.EcTime[frame_base(r)];
    const std::uint8_t mode = kind == kExposure ? r.PictModeXray : r.PictModeDc;
    const std::int32_t rc = write_register("TIMER", reg::TIMER, timer);
    if (rc != 0) return rc;
    return write_register("MODREG", reg::MODREG, mode);
}

std::int32_t start_picture() noexcept { return write_register("START ", reg::START, 1); }

std::int32_t picture_status(const TomoContext& r, std::uint8_t* status) noexcept {
    if (status == nullptr) return TAVIREX_E_RANGE;
    platform::sleep_ms(kStatusWaitMs);
    std::uint16_t value = 0;
    const std::int32_t rc = read_status(&value);
    if (rc != 0) return rc;
    *status = device::picture_flag(value);
    return (value & 0xFF) == r.InitValue ? TAVIREX_OK : TAVIREX_E_NOT_READY;
}

std::int32_t read_exposure_times(TomoContext& r, std::uint32_t kind) noexcept {
    const bool exposure = is_exposure(kind);
    // An exposure is stored at its place in the lists; without a counted picture there is none.
    if (exposure && (r.CountedPictures == 0 || r.ExposurePictures == 0 || r.ExposurePictures > kTomoListSize))
        return TAVIREX_E_RANGE;
    const std::uint32_t p = exposure ? r.CountedPictures - 1u : 0u;

    std::uint16_t ectime = 0;
    std::int32_t rc = read_time("ECTIME", reg::ECTIME, &ectime);
    if (rc != 0) return rc;
    if (exposure) r.EcTime[r.ExposurePictures - 1] = ectime;
    else r.DarkEcTime = ectime;

    std::uint16_t extime = 0;
    rc = read_time("EXTIME", reg::EXTIME, &extime);
    if (rc != 0) return rc;
    if (exposure) r.ExTime[p] = extime;
    else r.DarkExTime = extime;

    rc = device::ready_check(r.InitValue, r.LanRetry, read_status);
    if (rc != 0) return rc;
    rc = write_register("ECTCLR", reg::ECTCLR, 0);
    if (rc != 0) return rc;
    rc = write_register("EXTCLR", reg::EXTCLR, 0);
    if (rc != 0) return rc;

    if (!exposure) return ectime == r.TimerSetDc ? TAVIREX_OK : TAVIREX_E_TOMO_DARK_ECTIME;
    const std::uint32_t base = frame_base(r);
    if (p == 0) {
        r.EcTimeMax = r.EcTimeMin = r.EcTime[base];
        return TAVIREX_OK;
    }
    const std::uint16_t e = r.EcTime[base + p];
    if (e > r.EcTimeMax) r.EcTimeMax = e;
    else if (e < r.EcTimeMin) r.EcTimeMin = e;
    return r.EcTimeMax - r.EcTimeMin > r.LimitDiffEcTime ? TAVIREX_E_TOMO_ECTIME_SPREAD : TAVIREX_OK;
}

std::int32_t read_frames(TomoContext& r) noexcept {
    r.Width = core::kTomoColumns;
    r.Height = core::kTomoRows;
    release_tomo_frames(r);
    const std::uint32_t blocks_per_frame = 2u * (r.StripCount + 1u);
    // Every block must lie in the memory the list describes; refuse before allocating anything.
    if (static_cast<std::uint32_t>(r.FrameCount) * blocks_per_frame > kTomoListSize) return TAVIREX_E_RANGE;
    if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;

    const std::size_t block_samples = static_cast<std::size_t>(r.Width) * r.Height;
    // The frames keep the layout they are read with, whatever the strip count is later.
    r.FrameStrips = r.StripCount;
    for (std::uint32_t s = 0; s < r.FrameCount; ++s) {
        r.FrameList[s] = static_cast<std::uint16_t*>(core::allocate(block_samples * 2 * blocks_per_frame));
        if (r.FrameList[s] == nullptr) {
            release_tomo_frames(r);
            return TAVIREX_E_NO_MEMORY;
        }
    }
    core::Buffer<std::uint16_t> raw;
    if (r.FrameCount != 0 && !raw.reset(block_samples)) {
        release_tomo_frames(r);
        return TAVIREX_E_NO_MEMORY;
    }
    if (DebugFlags.DebugProcess) diag::print_stamp(device::kStampReadStart);
    for (std::uint32_t s = 0; s < r.FrameCount; ++s) {
        for (std::uint32_t f = 0; f < blocks_per_frame; ++f) {
            const std::int32_t rc = read_block(s * blocks_per_frame + f, raw.data(), r.FrameList[s] + block_samples * f);
            if (rc != 0) {
                release_tomo_frames(r);
                return rc;
            }
        }
    }
    r.BitDepth = core::kTomoBitDepth;
    r.MaxPixelValue = static_cast<std::uint16_t>((1u << core::kTomoBitDepth) - 1u);
    if (DebugFlags.DebugProcess) diag::print_stamp(device::kStampReadEnd);
    const std::int32_t rc = device::ready_check(r.InitValue, r.LanRetry, read_status);
    // A readout that ends without the module's echo keeps nothing.
    if (rc != 0) release_tomo_frames(r);
    return rc;
}

}  // namespace tvx::tomo_device
