// Register access to the tomographic sensor module: its own register window,
// every access logged with its operation letter while the OUTPUT switch is set.
#pragma once

#include <cstdint>

#include "state/records.h"

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

constexpr std::uint16_t kPictureStatusBit = 0x0100;

// Logs the write ("w") when DebugFlags.DebugOutput is set, then writes: 0, 19
// without a link, or the link's nonzero result.
std::int32_t write_register(const char* name, std::uint32_t address, std::uint16_t value) noexcept;

// Reads a register into *value, then logs the read ("r") whether or not it
// succeeded: 0, 18 for another byte count, 19 without a link, or a negative link error.
std::int32_t read_register(const char* name, std::uint32_t address, std::uint16_t* value) noexcept;

// The STATUS read in the shape the shared polling loops take.
std::int32_t read_status(std::uint16_t* status) noexcept;

// Reads STATUS at most `tries` times, without pause, until its low byte equals
// `init_value`: 0, 1 when the tries are used up, 18 or a negative link error.
std::int32_t ChkInitValue(std::uint16_t init_value, std::uint32_t tries) noexcept;

// Reads STATUS until the converter busy bit clears: 0, 2 after 4096 busy reads, 18 or a link error.
std::int32_t CheckADStatus() noexcept;

// Sends front-end word `index` (0..4) of converter `converter` (1..3), built from
// that converter's group: 0, 3 for a converter or index out of range, or the
// first failing step's result.
std::int32_t WriteFrontEndRegister(const AdSetGroup (&groups)[3], std::uint32_t converter, std::uint32_t index) noexcept;

}  // namespace tvx::tomo_device
