#include "diag/diag.h"

#include "platform/file.h"
#include "platform/system.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace tvx::diag {

void print_stamp(const char* label, std::FILE* stream) noexcept {
    char when[256] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (platform::local_time(now, &local)) std::strftime(when, sizeof when, "%Y/%m/%d %H:%M:%S", &local);
    std::fprintf(stream, "%s[%s]\n", label, when);
}

void Trace::print(bool when, const char* format, ...) const noexcept {
    if (!when) return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
}

void log_register_write(const char* name, std::uint32_t address, std::uint32_t value) noexcept {
    const unsigned addr = address;
    const unsigned low = value & 0xFFFFu;
    if (const platform::File f = platform::File::open("logCMD_WRITE.txt", "a")) {
        std::fprintf(f.get(), " %s,0x,%x,0x,%x\n", name, addr, low);
        return;
    }
    std::fprintf(stderr, " ***%s [0x%x] (0x%x) >>>", name, addr, low);
    (void)std::getchar();
}

void log_register_access(const char* op, const char* name, std::uint32_t address, std::uint32_t value,
                         bool prompt) noexcept {
    const unsigned addr = address;
    const unsigned low = value & 0xFFFFu;
    if (const platform::File f = platform::File::open("logCMD_WRITE.txt", "a")) {
        std::fprintf(f.get(), " %s,%s,0x,%x,0x,%x\n", op, name, addr, low);
    } else {
        std::fputs(" ***miss write*** \n", stderr);
    }
    if (prompt) {
        char text[160];
        std::snprintf(text, sizeof text, " ***%s,%s [0x%x] (0x%x) >>>", op, name, addr, low);
        step_prompt(text);
    }
}

void step_prompt(const char* text) noexcept {
    std::fputs(text, stderr);
    std::fflush(stderr);
    (void)std::getchar();
}

void dump_program_bytes(const std::uint8_t* data, std::size_t size) noexcept {
    const platform::File f = platform::File::open("fpgaprog.csv", "w");
    if (!f) return;
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0 && i % 16 == 0) std::fputc('\n', f.get());
        std::fprintf(f.get(), "%d,", static_cast<int>(data[i]));
    }
}

void dump_boot_program(const std::uint8_t* data, std::size_t size) noexcept {
    const platform::File f = platform::File::open("readdata.bin", "wb");
    if (f && size != 0) (void)std::fwrite(data, 1, size, f.get());
}

Trace trace_of(const DebugFlagSet& flags) noexcept {
    Trace t;
    t.process = flags.DebugProcess != 0;
    t.param = flags.DebugParam != 0;
    t.check_state = flags.DebugCheckState != 0;
    return t;
}

}  // namespace tvx::diag
