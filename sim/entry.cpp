// The five link-library entry points of the simulated sensor module.
#include <cstring>

#include "module.h"
#include "tavirex_link.h"

namespace tvxsim {

namespace {
constexpr std::uint32_t kStatus = 0x27F00002;
constexpr std::uint32_t kStsreg = 0x27F0000E;
constexpr std::int32_t kNotOpen = -1;
constexpr std::int32_t kBadRequest = -2;
}  // namespace

Module& module() {
    static Module m;
    return m;
}

std::uint16_t status_value() {
    const Module& m = module();
    // The low byte echoes STSREG once an FPGA configuration runs.
    return m.fpga_loaded ? static_cast<std::uint16_t>(m.stsreg & 0xFF) : 0;
}

}  // namespace tvxsim

using tvxsim::module;

extern "C" {

TAVIREX_LINK_EXPORT int32_t EtherInit(const char* ipAddress, uint32_t, uint32_t) {
    if (ipAddress == nullptr) return tvxsim::kBadRequest;
    module().link_open = true;
    return 0;
}

TAVIREX_LINK_EXPORT int32_t EtherComm(uint32_t command, uint32_t address, uint32_t count, void* buffer) {
    tvxsim::Module& m = module();
    if (!m.link_open) return tvxsim::kNotOpen;
    auto* bytes = static_cast<uint8_t*>(buffer);
    switch (command) {
        case TAVIREX_LINK_BOOT_PREPARE:
            m.boot_prepared = true;
            return 0;
        case TAVIREX_LINK_BOOT_PROGRAM:
            if (!m.boot_prepared || (count != 0 && bytes == nullptr)) return tvxsim::kBadRequest;
            m.booted = true;
            return 0;
        case TAVIREX_LINK_FPGA_PROGRAM:
            if (!m.booted || (count != 0 && bytes == nullptr)) return tvxsim::kBadRequest;
            m.fpga_loaded = true;
            return 0;
        case TAVIREX_LINK_WRITE: {
            if (bytes == nullptr || count != 2) return tvxsim::kBadRequest;
            const uint16_t value = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
            m.registers[address] = value;
            if (address == tvxsim::kStsreg) m.stsreg = value;
            return 0;
        }
        case TAVIREX_LINK_READ: {
            if (bytes == nullptr || count != 2) return tvxsim::kBadRequest;
            uint16_t value = address == tvxsim::kStatus ? tvxsim::status_value() : m.registers[address];
            bytes[0] = static_cast<uint8_t>(value & 0xFF);
            bytes[1] = static_cast<uint8_t>(value >> 8);
            return 2;
        }
        default:
            return tvxsim::kBadRequest;
    }
}

TAVIREX_LINK_EXPORT int32_t Ether232Send(const uint8_t* data, uint32_t length) {
    if (!module().link_open) return tvxsim::kNotOpen;
    if (data == nullptr && length != 0) return tvxsim::kBadRequest;
    return 0;
}

TAVIREX_LINK_EXPORT int32_t Ether232Recv(uint8_t* buffer) {
    if (!module().link_open) return tvxsim::kNotOpen;
    if (buffer == nullptr) return tvxsim::kBadRequest;
    return 0;
}

TAVIREX_LINK_EXPORT int32_t Ether232Check(void) { return module().link_open ? 0 : tvxsim::kNotOpen; }

}  // extern "C"
