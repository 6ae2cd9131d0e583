// Diagnostics for service engineers: time stamps and messages on standard
// error, the register write log and the program dumps in the current
// directory. Drivers test the DEBUG switches before calling, or hand a step a
// Trace built from them; no diagnostic failure ever changes a result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "state/records.h"

namespace tvx::diag {

// Writes "<label>[YYYY/MM/DD hh:mm:ss]\n" with the local time to `stream`.
void print_stamp(const char* label, std::FILE* stream = stderr) noexcept;

// What a processing step may tell a service engineer. The driver builds it from
// the DEBUG switches, so a step never reads a global; the default says nothing.
struct Trace {
    bool process = false;      // stage banners and failure messages
    bool param = false;        // parameter values
    bool check_state = false;  // row progress
    std::FILE* stream = stderr;

    void banner(const char* label) const noexcept {
        if (process) print_stamp(label, stream);
    }
    void failure(const char* text) const noexcept {
        if (process) std::fputs(text, stream);
    }
    // printf-style lines under the given switch.
    void print(bool when, const char* format, ...) const noexcept __attribute__((format(printf, 3, 4)));
};

// The diagnostic switches a step sees, from the DEBUG switches of the record in use.
Trace trace_of(const DebugFlagSet& flags) noexcept;

// Appends " <name>,0x,<address>,0x,<low 16 bits of value>\n" (lower-case hex) to
// "logCMD_WRITE.txt". When the log cannot be opened, shows the access on standard
// error and waits for one character from standard input.
void log_register_write(const char* name, std::uint32_t address, std::uint32_t value) noexcept;

// Tomographic register log: appends " <op>,<name>,0x,<address>,0x,<low 16 bits>\n"
// to "logCMD_WRITE.txt" (op "w" write, "r" read, "f" FPGA download), or shows
// " ***miss write*** " when the log cannot be opened; then, with `prompt` set (the
// DEBUG4 switch), shows the access and waits for one character.
void log_register_access(const char* op, const char* name, std::uint32_t address, std::uint32_t value,
                         bool prompt) noexcept;

// Writes `text` to standard error without a line end and waits for one character
// from standard input (the service engineer's step through the sequence).
void step_prompt(const char* text) noexcept;

// Replaces "fpgaprog.csv" with the bytes as "%d," values, 16 per line, no final line end.
void dump_program_bytes(const std::uint8_t* data, std::size_t size) noexcept;

// Replaces "readdata.bin" with the boot program bytes.
void dump_boot_program(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace tvx::diag
