// The line clock table: one module clock count (25 per ms) per CCD line shift,
// computed from the mechanical speed profile of the scan. Plain functions over
// plain buffers, so each stage can be checked on its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/geometry.h"

namespace tvx::device {

constexpr std::uint16_t kClockMin = 12;
constexpr std::uint16_t kClockMax = 1023;
using core::kClockCodeCeph;
constexpr std::size_t kMaxSpeedSamples = 3000;

// Lines of one pass (L) and the limit of picture and lag entries (M) of a clock code 0..4.
struct PassLayout {
    std::uint32_t lines;
    std::uint32_t limit;
};
// False for a code outside 0..4.
bool pass_layout(std::uint32_t code, PassLayout* layout) noexcept;

// Reads one speed sample per line (a decimal number from the start of the line,
// lines cut at 63 characters), at most `capacity` samples, into single precision.
// 0, or -99 when the file does not open or yields no sample.
std::int32_t read_speed_profile(const char* path, float* speeds, std::size_t capacity, std::size_t* count) noexcept;

// Picture entries of one pass: the clock count of each 0.048-unit line step over
// the speed samples (one per `interval_ms`), stopping when a step would end
// after the last sample. An odd count is padded with a copy of the last entry.
// `out` holds at least `limit` entries. 0, 10 for an interval outside 12..1023
// counts, 11 for more than `limit` entries.
std::int32_t line_clock_entries(const float* speeds, std::size_t n, std::uint16_t interval_ms, std::uint32_t limit,
                                std::uint16_t* out, std::uint32_t* count) noexcept;

// Puts the lag entries (the time lag in counts, in pieces of at most 1023) in
// front of the k picture entries at the start of `fine`. 0 or 12 when lag and
// picture entries exceed `limit`; *lag_entries receives the number inserted (even).
std::int32_t insert_time_lag(std::uint16_t* fine, std::uint32_t k, std::uint16_t timelag_ms, std::uint32_t limit,
                             std::uint32_t* lag_entries) noexcept;

// Fills the fine entries after lag and picture up to `fine_count` with a ramp
// between the low and high marks of the picture entries.
void apply_ramp(std::uint16_t* fine, std::uint32_t lag_entries, std::uint32_t k, std::uint32_t fine_count) noexcept;

// Merges 2 x `lines` fine entries pairwise into `lines` entries, alternating
// between the smaller and the larger of each unequal pair.
void merge_pairs(const std::uint16_t* fine, std::uint32_t lines, std::uint16_t* out) noexcept;

// One pass of clock code `code` into `out` (L entries). *segment_start is half the
// lag entries, *segment_width half the picture entries. 0, 3, 5, 10, 11 or 12.
std::int32_t build_pass(std::uint32_t code, const float* speeds, std::size_t n, std::uint16_t interval_ms,
                        std::uint16_t timelag_ms, std::uint16_t* out, std::uint16_t* segment_start,
                        std::uint16_t* segment_width) noexcept;

// The whole table: `table_length` entries filled with 12, then `passes` passes of
// clock code `code` (1 to 4 passes, each of L lines, at p x L), built in
// `pass_table` (L entries); the speed samples are reversed in place after each
// pass, so odd passes scan the profile backwards.
std::int32_t build_clock_table(std::uint32_t code, std::uint32_t passes, float* speeds, std::size_t n,
                               std::uint16_t interval_ms, std::uint16_t timelag_ms, std::uint16_t* table,
                               std::uint32_t table_length, std::uint16_t* pass_table, std::uint16_t segment_start[4],
                               std::uint16_t segment_width[4]) noexcept;

}  // namespace tvx::device
