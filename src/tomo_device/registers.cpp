#include "tomo_device/registers.h"

#include "device/front_end.h"
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

std::int32_t ChkInitValue(std::uint16_t init_value, std::uint32_t tries) noexcept {
    return device::ready_check(init_value, tries, read_status);
}

std::int32_t CheckADStatus() noexcept { return device::check_ad_status(read_status); }

std::int32_t WriteFrontEndRegister(const AdSetGroup (&groups)[3], std::uint32_t converter, std::uint32_t index) noexcept {
    if (converter < 1 || converter > 3 || index >= static_cast<std::uint32_t>(device::kConverterWordsPerGroup)) return TAVIREX_E_RANGE;
    std::uint16_t words[device::kConverterWordsPerGroup];
    device::converter_words(groups[converter - 1], words);
    std::int32_t rc = CheckADStatus();
    if (rc != 0) return rc;
    rc = write_register("DASDAT", reg::DASDAT, words[index]);
    if (rc != 0) return rc;
    rc = CheckADStatus();
    if (rc != 0) return rc;
    return write_register("ADGSET", reg::ADGSET, 0);
}

}  // namespace tvx::tomo_device
