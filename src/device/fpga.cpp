#include "device/fpga.h"

#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "core/intmath.h"
#include "device/registers.h"
#include "diag/diag.h"
#include "link/link.h"
#include "platform/file.h"
#include "platform/system.h"
#include "state/context.h"
#include "tavirex.h"

namespace tvx::device {
namespace {

// Lines are read at most 99 characters at a time; the rest of a longer line reads as the next line.
constexpr int kLineBuffer = 100;
constexpr std::uint32_t kSegmentRecordAddress = 0xFFF0;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses `digits` hexadecimal digits from `line` at `pos`; false for any other
// character, including the end of the line.
bool parse_hex(const char* line, std::size_t length, std::size_t pos, int digits, std::uint32_t* value) {
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        if (pos + i >= length) return false;
        const int d = hex_digit(line[pos + i]);
        if (d < 0) return false;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    *value = v;
    return true;
}

}  // namespace

std::int32_t read_fpga_hex(const char* path, std::uint8_t* out, std::size_t capacity, std::size_t* size) noexcept {
    *size = 0;
    const platform::File file = platform::File::open(path, "r");
    if (!file) return TAVIREX_E_FPGA_FILE;
    std::FILE* f = file.get();
    char line[kLineBuffer];
    std::int32_t rc = 0;
    std::size_t total = 0;
    if (std::fgets(line, sizeof line, f) != nullptr) {  // the first line is skipped
        while (std::fgets(line, sizeof line, f) != nullptr) {
            const std::size_t length = std::strlen(line);
            std::uint32_t count = 0;
            std::uint32_t address = 0;
            if (!parse_hex(line, length, 1, 2, &count) || !parse_hex(line, length, 3, 4, &address)) {
                rc = 20;
                break;
            }
            if (count == 0) break;
            if (out != nullptr) {
                for (std::uint32_t i = 0; i < count; ++i) {
                    std::uint32_t byte = 0;
                    if (!parse_hex(line, length, 9 + 2 * static_cast<std::size_t>(i), 2, &byte)) {
                        rc = 20;
                        break;
                    }
                    if (total + i < capacity) out[total + i] = static_cast<std::uint8_t>(byte);
                }
                if (rc != 0) break;
            }
            total += count;
            if (address >= kSegmentRecordAddress && std::fgets(line, sizeof line, f) == nullptr) break;
        }
    }
    *size = total;
    return rc;
}

std::int32_t download_fpga(const char* path, bool log_download) noexcept {
    std::size_t size = 0;
    std::int32_t rc = read_fpga_hex(path, nullptr, 0, &size);
    if (rc != 0) return rc;
    if (DebugFlags.DebugProcess) std::fprintf(stderr, "lulFpgaProgSize [%ld]\n", static_cast<long>(size));

    core::Buffer<std::uint8_t> program;
    if (size > UINT32_MAX || !program.reset(size)) {
        if (DebugFlags.DebugProcess) std::fputs("CANNOT ALLCATE MEMORY FOR lulFpgaProgData.\n", stderr);
        return TAVIREX_E_NO_MEMORY;
    }
    std::size_t again = 0;
    rc = read_fpga_hex(path, program.data(), size, &again);
    if (rc != 0) return rc;
    // The file changed between the two passes: what was counted is not what would be sent.
    if (again != size) return TAVIREX_E_FPGA_FILE;

    if (DebugFlags.DebugOutput) diag::dump_program_bytes(program.data(), size);
    if (DebugFlags.DebugProcess) diag::print_stamp("###CMD_FPGA START");
    const std::int32_t sent = link::Link.EtherComm(TAVIREX_LINK_FPGA_PROGRAM, 0, static_cast<std::uint32_t>(size), program.data());
    if (log_download && DebugFlags.DebugOutput) diag::log_register_access("f", "CMD_FPGA", 0, 0, DebugFlags.DebugDebug4 != 0);
    if (sent != 0) return sent;
    if (DebugFlags.DebugProcess) diag::print_stamp("###CMD_FPGA END");
    return TAVIREX_OK;
}

std::int32_t load_fpga(const DeviceContext& record) noexcept {
    take_debug_flags(record);
    if (record.FpgaLoad > 1) return TAVIREX_E_RANGE;
    if (record.InitValue < 1 || record.InitValue > 255) return TAVIREX_E_RANGE;
    if (CurrentModule > 1 || ModuleBooted[CurrentModule] == 0) return record.FpgaLoad == 1 ? TAVIREX_E_NOT_BOOTED : TAVIREX_OK;
    if (record.FpgaLoad == 0) return TAVIREX_OK;

    // A module whose FPGA already runs reports InitValue: nothing to load.
    const std::int32_t running = ready_check(record.InitValue, record.LanRetry);
    if (running == 0) return TAVIREX_OK;
    if (running != 1) return running;

    std::int32_t rc = download_fpga(record.FpgaPath, false);
    if (rc != 0) return rc;
    platform::sleep_ms(kFpgaResetWaitMs);

    rc = write_register("SYSRST", reg::SYSRST, 0);
    if (rc != 0) return rc;
    rc = write_register("STSREG", reg::STSREG, core::low8(record.InitValue));
    if (rc != 0) return rc;
    return ready_check(record.InitValue, record.LanRetry);
}

}  // namespace tvx::device
