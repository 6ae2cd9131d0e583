// Loading the FPGA configuration of the panoramic/cephalometric sensor module.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state/records.h"

namespace tvx::device {

// Pause between the end of an FPGA download and the module reset.
constexpr std::uint32_t kFpgaResetWaitMs = 50;

// Reads the data bytes of an FPGA configuration in Intel HEX text. The first
// line is skipped; each further line gives its byte count in characters 1-2 and
// its load address in 3-6; a byte count of 0 ends the file; a load address of
// 0xFFF0 or more skips the line after it (the segment record). Only upper-case
// hexadecimal digits are accepted.
// With `out` null only the size is counted; otherwise at most `capacity` bytes
// are stored. *size receives the number of data bytes the file holds.
// Results: 0, 7 when the file does not open, 20 for a character that is not a
// hexadecimal digit in a parsed position (also a position beyond the line end).
std::int32_t read_fpga_hex(const char* path, std::uint8_t* out, std::size_t capacity, std::size_t* size) noexcept;

// Reads the FPGA configuration at `path` (sized first, then filled) and sends it
// with the download command, between the "###CMD_FPGA" stamps. `log_download`
// adds the "f" line of the tomographic register log after the transfer.
// Results: 0, 5, 7, 20, or the link's nonzero result.
std::int32_t download_fpga(const char* path, bool log_download) noexcept;

// Loads the FPGA configuration named by the record into the current module,
// unless the module already reports InitValue, then resets the module and
// checks that it reports ready. Results: 0, 3, 5, 7, 9, 20, the link's results,
// or those of the ready check.
std::int32_t load_fpga(const DeviceContext& record) noexcept;

}  // namespace tvx::device
