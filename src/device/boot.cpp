#include "device/boot.h"

#include <cstdio>
#include <cstring>

#include "core/alloc.h"
#include "device/registers.h"
#include "diag/diag.h"
#include "link/link.h"
#include "platform/file.h"
#include "platform/system.h"
#include "state/context.h"
#include "tavirex.h"

namespace tvx::device {
namespace {

std::int32_t send_boot_program(const DeviceContext& record) noexcept {
    const std::int32_t prepared = link::Link.EtherComm(TAVIREX_LINK_BOOT_PREPARE, 0, 0, nullptr);
    if (prepared != 0) return prepared;

    platform::File f = platform::File::open(record.BootPath, "rb");
    if (!f) return TAVIREX_E_BOOT_FILE;
    // The size comes from the file's status information.
    std::uint64_t size = 0;
    if (!platform::file_status_size(f.get(), &size) || size > UINT32_MAX || size > SIZE_MAX / 2)
        return TAVIREX_E_BOOT_FILE;
    if (DebugFlags.DebugProcess) std::fprintf(stderr, " lulBootProgSize [%ld]\n", static_cast<long>(size));

    core::Buffer<std::uint8_t> program(size);
    if (!program.ok()) {
        if (DebugFlags.DebugProcess) std::fputs("CANNOT ALLCATE MEMORY FOR lulBootProgData.\n", stderr);
        return TAVIREX_E_NO_MEMORY;
    }
    const std::size_t got = size == 0 ? 0 : std::fread(program.data(), 1, size, f.get());
    f.close();
    if (got < size) return TAVIREX_E_BOOT_FILE;

    if (DebugFlags.DebugOutput) diag::dump_boot_program(program.data(), size);
    if (DebugFlags.DebugProcess) diag::print_stamp("###CMD_PRG_LOAD START");
    const std::int32_t sent = link::Link.EtherComm(TAVIREX_LINK_BOOT_PROGRAM, 0, static_cast<std::uint32_t>(size), program.data());
    if (sent != 0) return sent;
    if (DebugFlags.DebugProcess) diag::print_stamp("###CMD_PRG_LOAD END");
    return TAVIREX_OK;
}

}  // namespace

std::int32_t comm_init(DeviceContext& record, std::uint32_t index) noexcept {
    // Only two module slots exist; any other index is refused before anything changes.
    if (index > 1) return TAVIREX_E_RANGE;
    std::memset(SerialReplyBuffer, 0, sizeof SerialReplyBuffer);
    CurrentModule = index;
    take_debug_flags(record);
    if (record.BootLoad > 1) return TAVIREX_E_RANGE;

    const std::int32_t loaded = link::load(record.LinkLibraryPath, DebugFlags.DebugProcess != 0);
    if (loaded != 0) return loaded;
    return open_and_boot(record, index);
}

std::int32_t open_and_boot(const DeviceContext& record, std::uint32_t index) noexcept {
    if (index > 1) return TAVIREX_E_RANGE;
    if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;
    if (!link::Link.EtherReady) {
        const std::int32_t opened = link::Link.EtherInit(record.IpAddress, record.LanTimeout, record.LanRetry);
        if (opened != 0) return opened;
        link::Link.EtherReady = 1;
    }

    if (ModuleBooted[index]) {
        std::uint16_t status = 0;
        if (read_status(&status) == 0) return TAVIREX_OK;  // still running its program
        ModuleBooted[index] = 0;
    }
    if (record.BootLoad == 0) return TAVIREX_OK;

    const std::int32_t rc = send_boot_program(record);
    if (rc != 0) return rc;
    ModuleBooted[index] = 1;
    return TAVIREX_OK;
}

}  // namespace tvx::device
