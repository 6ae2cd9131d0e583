// Register access to the panoramic/cephalometric sensor module through the
// link library: 16-bit registers moved as two bytes, low byte first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::device {

namespace reg {
constexpr std::uint32_t STATUS = 0x27F00002;
constexpr std::uint32_t SYSRST = 0x27F00004;
constexpr std::uint32_t MODREG = 0x27F00006;
constexpr std::uint32_t PALSON = 0x27F00008;
constexpr std::uint32_t STSREG = 0x27F0000E;
constexpr std::uint32_t POWSET = 0x27F00010;
constexpr std::uint32_t SETLIN = 0x27F00012;
constexpr std::uint32_t DASDAT = 0x27F00020;
constexpr std::uint32_t ADGSEL = 0x27F00028;
constexpr std::uint32_t ADGSET = 0x27F0002A;
constexpr std::uint32_t RAMRDM = 0x27F00032;
constexpr std::uint32_t RAMRST = 0x27F00034;
constexpr std::uint32_t CCD_CONTROL_DATA = 0x27F02000;
}  // namespace reg

// STATUS bits, the same in the tomographic module's window.
constexpr std::uint16_t kPictureStatusBit = 0x0100;
constexpr std::uint16_t kConverterBusyBit = 0x0200;
constexpr std::uint32_t kConverterBusyReads = 4096;
constexpr std::size_t kCcdReadBackBytes = 8192;

// The picture status byte the status exports of both modules write: the
// picture bit of STATUS as a flag, 1 when set, 0 when clear.
constexpr std::uint8_t picture_flag(std::uint16_t status) noexcept { return (status & kPictureStatusBit) != 0 ? 1 : 0; }

// Logs the write when DebugFlags.DebugOutput is set, then writes; 0 or the link's nonzero result.
std::int32_t write_register(const char* name, std::uint32_t address, std::uint16_t value) noexcept;

// Reads the status register into *status: 0, 18 for another byte count, or a negative link error.
std::int32_t read_status(std::uint16_t* status) noexcept;

// A module's status read and register write; the tomographic module has its own
// (other addresses, logged with the operation letter).
using StatusReader = std::int32_t (*)(std::uint16_t* status) noexcept;
using RegisterWriter = std::int32_t (*)(const char* name, std::uint32_t address, std::uint16_t value) noexcept;

// Waits without pause for the status low byte to equal `expected`, at most `tries` reads:
// 0 ready, 1 not ready, 18 or a negative link error.
std::int32_t ready_check(std::uint16_t expected, std::uint32_t tries, StatusReader read = read_status) noexcept;

// Waits until the converter busy bit is clear: 0, 2 after 4096 busy reads, 18 or a negative link error.
std::int32_t check_ad_status(StatusReader read = read_status) noexcept;

// Writes the CCD control data and verifies it by reading it back, at most `tries` attempts:
// 0, 4 when never verified (or tries is 0), 18, a nonzero write result or a negative read result.
// `trace` prints the attempts (code page 932 messages) and logs each upload as "WaitRAM".
std::int32_t write_ccd_control_data(bool trace, const std::uint16_t* table, std::uint32_t bytes,
                                    std::uint32_t tries) noexcept;

}  // namespace tvx::device
