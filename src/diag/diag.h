// Diagnostics for service engineers: time stamps and messages on standard
// error, the register write log and the program dumps in the current
// directory. Callers test the DebugFlags copies before calling; no diagnostic
// failure ever changes a result.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx::diag {

// Writes "<label>[YYYY/MM/DD hh:mm:ss]\n" with the local time to standard error.
void print_stamp(const char* label) noexcept;

// Appends " <name>,0x,<address>,0x,<low 16 bits of value>\n" (lower-case hex) to
// "logCMD_WRITE.txt". When the log cannot be opened, shows the access on standard
// error and waits for one character from standard input.
void log_register_write(const char* name, std::uint32_t address, std::uint32_t value) noexcept;

// Replaces "fpgaprog.csv" with the bytes as "%d," values, 16 per line, no final line end.
void dump_program_bytes(const std::uint8_t* data, std::size_t size) noexcept;

// Replaces "readdata.bin" with the boot program bytes.
void dump_boot_program(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace tvx::diag
