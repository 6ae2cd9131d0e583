#include "tomo_device/registers.h"

#include "device/registers.h"
#include "diag/diag.h"
#include "link/link.h"
#include "state/context.h"
#include "tavirex.h"

namespace tvx::tomo_device {

std::int32_t write_register(const char* name, std::uint32_t address, std::uint16_t value) noexcept {
    if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;
    if (DebugFlags.DebugOutput) diag::log_register_access("w", name, address, value, DebugFlags.DebugDebug4 != 0);
    std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
    return link::Link.EtherComm(TAVIREX_LINK_WRITE, address, 2, bytes);
}

std::int32_t read_register(const char* name, std::uint32_t address, std::uint16_t* value) noexcept {
    if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;
    std::uint8_t bytes[4] = {0, 0, 0, 0};
    const std::int32_t n = link::Link.EtherComm(TAVIREX_LINK_READ, address, 2, bytes);
    const auto read = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    if (DebugFlags.DebugOutput) diag::log_register_access("r", name, address, read, DebugFlags.DebugDebug4 != 0);
    if (n < 0) return n;
    if (n != 2) return TAVIREX_E_SHORT_READ;
    *value = read;
    return TAVIREX_OK;
}

std::int32_t read_status(std::uint16_t* status) noexcept { return read_register("STATUS", reg::STATUS, status); }

}  // namespace tvx::tomo_device
