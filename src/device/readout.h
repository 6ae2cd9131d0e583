// Arming, picture status, readout of the picture memory and module reset.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/geometry.h"
#include "state/records.h"

namespace tvx::device {

constexpr std::uint32_t kPictureWindow1 = 0x26000000;
constexpr std::uint32_t kPictureWindow2 = 0x27000000;
constexpr std::size_t kPictureWindowBytes = 16777216;  // also the most one read moves
// "Data read start" and "Data read end" in code page 932: the stamps around every readout.
constexpr char kStampReadStart[] = "\x83\x66\x81\x5B\x83\x5E\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8A\x4A\x8E\x6E";
constexpr char kStampReadEnd[] = "\x83\x66\x81\x5B\x83\x5E\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8F\x49\x97\xB9";
using core::kModuleRowBytes;
using core::kModuleRowSamples;
using core::kSampleMask;

// Arms the module for the exposure. 0, 3, 1, 18, 19 or a link result.
std::int32_t arm(const DeviceContext& record) noexcept;

// Writes the picture status bit (0 or 1) into *picture_status, then checks that
// the module reports ready. 0, 1, 3 (null pointer), 18, 19 or a link result.
std::int32_t check_pict_status(const DeviceContext& record, std::uint8_t* picture_status) noexcept;

// Copies `rows` module rows of `raw` (8192 bytes each, samples low byte first)
// into `out`: the first `samples` samples of each row, packed row after row,
// each masked to its low 12 bits. `samples` is at most 4096.
void copy_readout(const std::uint8_t* raw, std::size_t rows, std::size_t samples, std::uint16_t* out) noexcept;

// Reads the picture memory into the record's ImageBuffer (live record). Refuses
// with 3 before any module traffic when no picture set-up provides a buffer that
// the image fits. 0, 3, 5, 1, 18, 19 or a link result.
std::int32_t read_image(DeviceContext& record, std::uint32_t segments) noexcept;

// SYSRST = 0, then POWSET = 0.
std::int32_t reset_module() noexcept;

}  // namespace tvx::device
