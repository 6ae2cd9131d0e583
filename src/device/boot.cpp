#include "device/boot.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "core/alloc.h"
#include "device/registers.h"
#include "diag/diag.h"
#include "link/link.h"

namespace tvx::device {
namespace {

// Size of the boot program from the file's status information; false when unavailable.
bool file_size(std::FILE* f, std::size_t* size) {
#if defined(_WIN32)
    struct _stat64 st;
    if (_fstat64(_fileno(f), &st) != 0) return false;
#else
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return false;
#endif
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > SIZE_MAX / 2) return false;
    *size = static_cast<std::size_t>(st.st_size);
    return true;
}

std::int32_t send_boot_program(const DeviceContext& record) noexcept {
    const std::int32_t prepared = link::Link.EtherComm(259, 0, 0, nullptr);
    if (prepared != 0) return prepared;

    std::FILE* f = std::fopen(record.BootPath, "rb");
    if (f == nullptr) return 6;
    std::size_t size = 0;
    if (!file_size(f, &size) || size > UINT32_MAX) {
        std::fclose(f);
        return 6;
    }
    if (DebugFlags.DebugProcess) std::fprintf(stderr, " lulBootProgSize [%ld]\n", static_cast<long>(size));

    core::Buffer<std::uint8_t> program(size);
    if (!program.ok()) {
        std::fclose(f);
        if (DebugFlags.DebugProcess) std::fputs("CANNOT ALLCATE MEMORY FOR lulBootProgData.\n", stderr);
        return 5;
    }
    const std::size_t got = size == 0 ? 0 : std::fread(program.data(), 1, size, f);
    std::fclose(f);
    if (got < size) return 6;

    if (DebugFlags.DebugOutput) diag::dump_boot_program(program.data(), size);
    if (DebugFlags.DebugProcess) diag::print_stamp("###CMD_PRG_LOAD START");
    const std::int32_t sent = link::Link.EtherComm(1, 0, static_cast<std::uint32_t>(size), program.data());
    if (sent != 0) return sent;
    if (DebugFlags.DebugProcess) diag::print_stamp("###CMD_PRG_LOAD END");
    return 0;
}

}  // namespace

std::int32_t comm_init(DeviceContext& record, std::uint32_t index) noexcept {
    // Only two module slots exist; any other index is refused before anything changes.
    if (index > 1) return 3;
    std::memset(SerialReplyBuffer, 0, sizeof SerialReplyBuffer);
    CurrentModule = index;
    take_debug_flags(record);
    if (record.BootLoad > 1) return 3;

    const std::int32_t loaded = link::load(record.LinkLibraryPath, DebugFlags.DebugProcess != 0);
    if (loaded != 0) return loaded;
    return open_and_boot(record, index);
}

std::int32_t open_and_boot(const DeviceContext& record, std::uint32_t index) noexcept {
    if (index > 1) return 3;
    if (!link::loaded()) return 19;
    if (!link::Link.EtherReady) {
        const std::int32_t opened = link::Link.EtherInit(record.IpAddress, record.LanTimeout, record.LanRetry);
        if (opened != 0) return opened;
        link::Link.EtherReady = 1;
    }

    if (ModuleBooted[index]) {
        std::uint16_t status = 0;
        if (read_status(&status) == 0) return 0;  // still running its program
        ModuleBooted[index] = 0;
    }
    if (record.BootLoad == 0) return 0;

    const std::int32_t rc = send_boot_program(record);
    if (rc != 0) return rc;
    ModuleBooted[index] = 1;
    return 0;
}

}  // namespace tvx::device
