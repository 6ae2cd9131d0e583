// Picture geometry as the library's code uses it: the module's constants of
// tavirex_link.h, and the lines per pass by line clock code (0..3: panoramic
// with 1..4 passes, 4: cephalometric).
#pragma once

#include <cstdint>

#include "tavirex_link.h"

namespace tvx::core {

constexpr std::uint32_t kPanoLines = TAVIREX_PANO_LINES;
constexpr std::uint32_t kPanoRows = TAVIREX_PANO_ROWS;
constexpr std::uint32_t kCephLines = TAVIREX_CEPH_LINES;
constexpr std::uint32_t kCephRows = TAVIREX_CEPH_ROWS;
constexpr std::uint32_t kChipRows = TAVIREX_CHIP_ROWS;
constexpr std::uint32_t kMaxPasses = TAVIREX_MAX_PASSES;
constexpr std::uint32_t kModuleRowSamples = TAVIREX_MODULE_ROW_SAMPLES;
constexpr std::uint32_t kModuleRowBytes = TAVIREX_MODULE_ROW_BYTES;
constexpr std::uint16_t kSampleMask = TAVIREX_SAMPLE_MASK;
constexpr std::uint16_t kSampleMax = TAVIREX_SAMPLE_MAX;
constexpr std::uint32_t kSampleLevels = kSampleMax + 1u;  // entries of a table indexed by sample value

// Line clock codes: 0..3 panoramic with 1..4 passes, 4 cephalometric with one.
constexpr std::uint8_t kClockCodeCeph = 4;
constexpr std::uint8_t kClockCodePanoLast = kClockCodeCeph - 1;
static_assert(kClockCodeCeph == kMaxPasses, "one panoramic code per pass count");

// Passes of a picture taken with clock code `code` (0..4).
constexpr std::uint32_t passes_of(std::uint32_t code) noexcept { return code % kClockCodeCeph + 1u; }
// Clock code of a panoramic picture of `passes` passes (1..4).
constexpr std::uint32_t pano_clock_code(std::uint32_t passes) noexcept { return passes - 1u; }

constexpr std::uint16_t kTomoColumns = TAVIREX_TOMO_COLUMNS;
constexpr std::uint16_t kTomoRows = TAVIREX_TOMO_ROWS;
constexpr std::uint16_t kTomoStrips = TAVIREX_TOMO_STRIPS;
constexpr std::uint32_t kTomoBlockBytes = TAVIREX_TOMO_BLOCK_BYTES;
constexpr std::uint32_t kTomoMemory = TAVIREX_TOMO_MEMORY;
constexpr std::uint16_t kTomoSampleMask = TAVIREX_TOMO_SAMPLE_MASK;
constexpr std::uint16_t kTomoBitDepth = 13;

// Lines per pass (the nominal block width of the processing) by line clock code.
constexpr std::uint32_t kLinesPerPass[5] = {TAVIREX_PANO_PASS_LINES(1), TAVIREX_PANO_PASS_LINES(2),
                                            TAVIREX_PANO_PASS_LINES(3), TAVIREX_PANO_PASS_LINES(4), kCephLines};

}  // namespace tvx::core
