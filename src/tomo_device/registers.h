// Register access to the tomographic sensor module: its own register window,
// every access logged with its operation letter while the OUTPUT switch is set.
#pragma once

#include <cstdint>


namespace tvx::tomo_device {

namespace reg {
constexpr std::uint32_t STATUS = 0x27FF0002;
constexpr std::uint32_t SYSRST = 0x27FF0004;
constexpr std::uint32_t MODREG = 0x27FF0006;
constexpr std::uint32_t PALSON = 0x27FF0008;
constexpr std::uint32_t START = 0x27FF000A;
constexpr std::uint32_t TIMER = 0x27FF000C;
constexpr std::uint32_t STSREG = 0x27FF000E;
constexpr std::uint32_t POWER = 0x27FF0010;
constexpr std::uint32_t EXTCLR = 0x27FF0014;
constexpr std::uint32_t ECTCLR = 0x27FF0016;
constexpr std::uint32_t EXTIME = 0x27FF0018;
constexpr std::uint32_t ECTIME = 0x27FF001A;
constexpr std::uint32_t DASDAT = 0x27FF0020;
constexpr std::uint32_t ADGSEL = 0x27FF0028;
constexpr std::uint32_t ADGSET = 0x27FF002A;
}  // namespace reg

// Logs the write ("w") when DebugFlags.DebugOutput is set, then writes: 0, 19
// without a link, or the link's nonzero result.
std::int32_t write_register(const char* name, std::uint32_t address, std::uint16_t value) noexcept;

// Reads a register into *value, then logs the read ("r") whether or not it
// succeeded: 0, 18 for another byte count, 19 without a link, or a negative link error.
std::int32_t read_register(const char* name, std::uint32_t address, std::uint16_t* value) noexcept;

// The STATUS read in the shape the shared polling loops take: the tomographic
// module waits with device::ready_check and device::check_ad_status over it.
std::int32_t read_status(std::uint16_t* status) noexcept;

}  // namespace tvx::tomo_device
